// libFuzzer target for the .VAL reader: checks, lookups, links to masters
// and dependents are decoded and described (a level 3.x file walked with
// fields of the sizes its first bytes give); a file that decodes in full is
// encoded again, and that must decode to the same bytes once more.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "DbiStructure.h"
#include "ValFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  engine::ValFile val;
  if (!val.DecodeFrom(std::string_view(reinterpret_cast<const char*>(data), size)).ok()) return 0;
  (void)val.TableName();
  (void)val.empty();
  for (const engine::ValCheck& check : val.Checks()) (void)engine::CheckDescOf(val, check);
  (void)engine::LinkDescsOf(val, "/fuzz");
  std::vector<engine::ValCheck> legacy;
  (void)val.DecodeLegacyChecks(std::vector<std::uint8_t>(data, data + std::min<std::size_t>(size, 8)),
                               &legacy);
  const std::string encoded = val.EncodeTo();
  engine::ValFile again;
  if (!again.DecodeFrom(encoded).ok() || again.EncodeTo() != encoded) std::abort();
  return 0;
}
