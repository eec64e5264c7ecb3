// libFuzzer target for the index tree reader: the input is a .PX (or a
// .Ynn / .YGn, which has the same form). The header is decoded and the tree
// walked to its level-1 entries and its pages checked; a tree that reads is
// built again from those entries and must read back to the same entries
// (and whole, where the input was).
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "PrimaryIndex.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  engine::PrimaryIndex index;
  if (!index.DecodeFrom(std::string_view(reinterpret_cast<const char*>(data), size)).ok()) return 0;
  std::vector<engine::IndexEntry> leaves;
  if (!index.Leaves(&leaves).ok()) return 0;
  const bool pages = index.CheckPages().ok();
  if (!engine::PrimaryIndex::CheckParams(index.Params()).ok()) return 0;
  const std::string rebuilt = engine::PrimaryIndex::Build(index.Params(), leaves, index.Header());
  engine::PrimaryIndex again;
  std::vector<engine::IndexEntry> again_leaves;
  if (!again.DecodeFrom(rebuilt).ok() || !again.Leaves(&again_leaves).ok() ||
      again_leaves != leaves || (pages && !again.CheckPages().ok())) {
    std::abort();  // what was written does not read back, or is not whole
  }
  return 0;
}
