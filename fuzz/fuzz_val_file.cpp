// libFuzzer target for the .VAL reader: checks, lookups, links to masters
// and dependents are decoded and described; a file that decodes in full is
// encoded again, and that must decode to the same bytes once more.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "ValFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  engine::ValFile val;
  if (!val.DecodeFrom(std::string_view(reinterpret_cast<const char*>(data), size)).ok()) return 0;
  (void)val.tableName();
  (void)val.empty();
  for (const engine::ValCheck& check : val.checks()) (void)val.CheckDesc(check);
  (void)val.LinkDescs("/fuzz");
  const std::string encoded = val.Encode();
  engine::ValFile again;
  if (!again.DecodeFrom(encoded).ok() || again.Encode() != encoded) std::abort();
  return 0;
}
