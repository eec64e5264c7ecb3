#include "IndexKey.h"

#include <cctype>
#include <cstring>

namespace engine {

namespace {

constexpr std::uint8_t kAlpha = 0x01;

// The letter an alpha byte sorts under in a national order: plain ASCII
// letters fold to upper case; other bytes keep their code, which leaves
// accented letters after Z (the order's exact place for them is unknown).
unsigned char Letter(unsigned char c) { return c < 0x80 ? std::toupper(c) : c; }

int Sign(int v) { return (v > 0) - (v < 0); }

}  // namespace

KeyOrder::KeyOrder(std::vector<KeyField> fields, std::uint8_t sortOrder, bool caseInsensitive,
                   bool descending)
    : fields_(std::move(fields)),
      byteOrder_(sortOrder == 0),
      caseInsensitive_(caseInsensitive),
      descending_(descending) {
  for (const KeyField& f : fields_) length_ += f.size;
}

int KeyOrder::CompareField(const KeyField& f, const unsigned char* a, const unsigned char* b,
                           bool letterOnly) const {
  if (f.type != kAlpha) return Sign(std::memcmp(a, b, f.size));
  bool fold = letterOnly || caseInsensitive_ || !byteOrder_;
  if (fold) {
    for (std::size_t i = 0; i < f.size; ++i) {
      int d = Letter(a[i]) - Letter(b[i]);
      if (d != 0) return Sign(d);
    }
    if (letterOnly || caseInsensitive_) return 0;
  }
  // National orders put the lower-case letter first when the letters tie.
  for (std::size_t i = 0; i < f.size; ++i) {
    if (a[i] == b[i]) continue;
    bool lowerFirst = !byteOrder_ && Letter(a[i]) == Letter(b[i]);
    return lowerFirst ? (a[i] > b[i] ? -1 : 1) : (a[i] < b[i] ? -1 : 1);
  }
  return 0;
}

int KeyOrder::Compare(std::string_view a, std::string_view b) const {
  const auto* pa = reinterpret_cast<const unsigned char*>(a.data());
  const auto* pb = reinterpret_cast<const unsigned char*>(b.data());
  for (const KeyField& f : fields_) {
    int c = CompareField(f, pa, pb, false);
    if (c != 0) return descending_ ? -c : c;
    pa += f.size;
    pb += f.size;
  }
  return 0;
}

bool KeyOrder::InOrder(std::string_view a, std::string_view b) const {
  const auto* pa = reinterpret_cast<const unsigned char*>(a.data());
  const auto* pb = reinterpret_cast<const unsigned char*>(b.data());
  for (const KeyField& f : fields_) {
    int c = CompareField(f, pa, pb, !byteOrder_ || caseInsensitive_);
    if (c != 0) return descending_ ? c > 0 : c < 0;
    pa += f.size;
    pb += f.size;
  }
  return true;
}

std::uint16_t GetIndexShort(const char* p) {
  auto v = static_cast<std::uint16_t>(static_cast<unsigned char>(p[0]) << 8 |
                                      static_cast<unsigned char>(p[1]));
  return v == 0 ? 0 : static_cast<std::uint16_t>(v ^ 0x8000);
}

void PutIndexShort(char* p, std::uint16_t value) {
  std::uint16_t v = static_cast<std::uint16_t>(value ^ 0x8000);
  p[0] = static_cast<char>(v >> 8);
  p[1] = static_cast<char>(v & 0xFF);
}

std::uint16_t GetLe16(std::string_view b, std::size_t at) {
  return static_cast<std::uint16_t>(static_cast<unsigned char>(b[at]) |
                                    static_cast<unsigned char>(b[at + 1]) << 8);
}
std::uint32_t GetLe32(std::string_view b, std::size_t at) {
  return GetLe16(b, at) | static_cast<std::uint32_t>(GetLe16(b, at + 2)) << 16;
}
void PutLe16(std::string& b, std::size_t at, std::uint16_t v) {
  b[at] = static_cast<char>(v & 0xFF);
  b[at + 1] = static_cast<char>(v >> 8);
}
void PutLe32(std::string& b, std::size_t at, std::uint32_t v) {
  PutLe16(b, at, static_cast<std::uint16_t>(v & 0xFFFF));
  PutLe16(b, at + 2, static_cast<std::uint16_t>(v >> 16));
}

}  // namespace engine
