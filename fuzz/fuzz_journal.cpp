// libFuzzer target for the replacement journal: a journal that decodes is
// encoded again and must give the same list of renames and removals.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "Journal.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  std::vector<engine::FileSwap> swaps;
  if (!engine::DecodeJournal(text, &swaps)) return 0;
  std::vector<engine::FileSwap> again;
  if (!engine::DecodeJournal(engine::EncodeJournal(swaps), &again) || again.size() != swaps.size())
    std::abort();
  for (std::size_t i = 0; i < swaps.size(); ++i) {
    if (again[i].staged != swaps[i].staged || again[i].target != swaps[i].target) std::abort();
  }
  return 0;
}
