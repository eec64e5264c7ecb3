// Inputs that stand for several files: the first file's bytes, then for each
// further file a marker 0xFF 0xFE, its extension (up to four characters)
// and 0xFF, then its bytes. scripts/fuzz.sh builds seeds of this form from
// the sample tables.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace fuzz {

struct Part {
  std::string ext;  // "" for the first file
  std::string bytes;
};

inline std::vector<Part> SplitParts(const std::uint8_t* data, std::size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  std::vector<Part> parts(1);
  std::size_t pos = 0;
  while (true) {
    const std::size_t mark = input.find("\xFF\xFE", pos);
    const std::size_t end = mark == std::string::npos ? std::string::npos : input.find('\xFF', mark + 2);
    if (mark == std::string::npos || end == std::string::npos || end - mark - 2 > 4) {
      parts.back().bytes += input.substr(pos);
      return parts;
    }
    parts.back().bytes += input.substr(pos, mark - pos);
    parts.push_back({input.substr(mark + 2, end - mark - 2), ""});
    pos = end + 1;
  }
}

}  // namespace fuzz
