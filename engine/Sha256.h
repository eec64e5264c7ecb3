// SHA-256 of a byte string, used by `vdx dump` to identify blob contents
// without printing them.
#pragma once

#include <string>

namespace engine {

// Lower-case hex digest.
std::string Sha256Hex(const std::string& data);

}  // namespace engine
