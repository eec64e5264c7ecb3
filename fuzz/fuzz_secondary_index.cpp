// libFuzzer target for the secondary index reader: the input is a .Xnn or
// .XGn file, optionally followed (see FuzzInput.h) by its .Ynn / .YGn. The
// definition and records are decoded and checked against themselves, and
// the tree file is walked.
#include <cstdint>
#include <string_view>

#include "FuzzInput.h"
#include "SecondaryIndex.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::vector<fuzz::Part> parts = fuzz::SplitParts(data, size);
  engine::SecondaryIndex index;
  if (index.DecodeFrom(parts[0].bytes).ok()) {
    for (const std::string& record : index.Records()) (void)index.BlockOf(record);
    (void)index.CheckRecords(index.Records());
    (void)index.Order();
  }
  for (std::size_t i = 1; i < parts.size(); ++i) {
    engine::PrimaryIndex tree;
    std::vector<engine::IndexEntry> leaves;
    if (tree.DecodeFrom(parts[i].bytes).ok()) (void)tree.Leaves(&leaves);
  }
  return 0;
}
