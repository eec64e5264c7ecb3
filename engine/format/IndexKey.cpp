#include "IndexKey.h"

#include <algorithm>
#include <cstring>

namespace engine {

namespace {

constexpr std::uint8_t kAlpha = 0x01;

// The letter an alpha byte sorts under in a national order: plain ASCII
// letters fold to upper case; other bytes keep their code, which leaves
// accented letters after Z (the order's exact place for them is unknown).
struct LetterTable {
  unsigned char of[256];
  LetterTable() {
    for (int c = 0; c < 256; ++c)
      of[c] = static_cast<unsigned char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
  }
};
const LetterTable kLetters;
inline unsigned char Letter(unsigned char c) { return kLetters.of[c]; }

int Sign(int v) { return (v > 0) - (v < 0); }

}  // namespace

KeyOrder::KeyOrder(std::vector<KeyField> fields, std::uint8_t sortOrder, bool caseInsensitive,
                   bool descending)
    : fields_(std::move(fields)),
      byteOrder_(sortOrder == 0),
      caseInsensitive_(caseInsensitive),
      descending_(descending) {
  plain_ = true;
  for (const KeyField& f : fields_) {
    length_ += f.size;
    if (f.type == kAlpha && (!byteOrder_ || caseInsensitive_)) plain_ = false;
  }
}

int KeyOrder::CompareField(const KeyField& f, const unsigned char* a, const unsigned char* b,
                           bool letterOnly) const {
  int raw = std::memcmp(a, b, f.size);
  if (f.type != kAlpha || raw == 0) return Sign(raw);
  bool fold = letterOnly || caseInsensitive_ || !byteOrder_;
  if (fold) {
    for (std::size_t i = 0; i < f.size; ++i) {
      int d = Letter(a[i]) - Letter(b[i]);
      if (d != 0) return Sign(d);
    }
    if (letterOnly || caseInsensitive_) return 0;
  }
  if (byteOrder_) return Sign(raw);
  // The letters tie: national orders put the lower-case letter first.
  return -Sign(raw);
}

namespace {

// Byte order of n bytes, eight at a time as big-endian words: the copy checks
// the order of every record's key, mostly a few bytes long, where a call to
// memcmp costs more than the comparison.
int CompareBytes(const unsigned char* a, const unsigned char* b, std::size_t n) {
  for (; n >= 8; a += 8, b += 8, n -= 8) {
    const std::uint64_t x = GetBe64(a), y = GetBe64(b);
    if (x != y) return x < y ? -1 : 1;
  }
  for (; n > 0; ++a, ++b, --n)
    if (*a != *b) return *a < *b ? -1 : 1;
  return 0;
}

}  // namespace

int KeyOrder::Compare(std::string_view a, std::string_view b) const {
  if (plain_) {
    const int c = CompareBytes(reinterpret_cast<const unsigned char*>(a.data()),
                               reinterpret_cast<const unsigned char*>(b.data()), length_);
    return descending_ ? -c : c;
  }
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

bool KeyOrder::OrdersByValue(const KeyField& f) const {
  return f.type != kAlpha || (byteOrder_ && !caseInsensitive_);
}

// Alpha fields of a national order sort by letter first and then by the
// reversed code, so their sort key carries the field twice.
bool KeyOrder::DoubledField(const KeyField& f) const {
  return f.type == kAlpha && !byteOrder_ && !caseInsensitive_;
}

std::size_t KeyOrder::SortKeyLength() const {
  std::size_t n = 0;
  for (const KeyField& f : fields_) n += DoubledField(f) ? 2 * f.size : f.size;
  return n;
}

void KeyOrder::AppendSortKey(std::string_view key, std::string* out) const {
  const std::size_t start = out->size();
  out->resize(start + SortKeyLength());
  WriteSortKey(key.data(), out->data() + start);
}

namespace {

// These run for every record of an index being sorted: eight bytes at a
// time, each byte of a word on its own (no carry crosses between bytes).
constexpr std::uint64_t kOnes = 0x0101010101010101ULL;
constexpr std::uint64_t kHigh = 0x8080808080808080ULL;

void FoldLetters(const unsigned char* in, unsigned char* out, std::size_t n) {
  std::size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    std::uint64_t x;
    std::memcpy(&x, in + i, 8);
    const std::uint64_t low = x & ~kHigh;
    const std::uint64_t fromA = low + (0x80 - 'a') * kOnes;     // top bit: at least 'a'
    const std::uint64_t pastZ = low + (0x80 - 'z' - 1) * kOnes;  // top bit: past 'z'
    const std::uint64_t lower = fromA & ~pastZ & ~x & kHigh;    // and below 128
    x -= lower >> 2;                                             // 0x80 >> 2 == 'a' - 'A'
    std::memcpy(out + i, &x, 8);
  }
  // The tail of a field of eight bytes or more: its last eight bytes once
  // more (each output byte depends on its input byte only).
  if (i < n && n >= 8) return FoldLetters(in + n - 8, out + n - 8, 8);
  for (; i < n; ++i) out[i] = Letter(in[i]);
}

void Complement(const unsigned char* in, unsigned char* out, std::size_t n) {
  std::size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    std::uint64_t x;
    std::memcpy(&x, in + i, 8);
    x = ~x;
    std::memcpy(out + i, &x, 8);
  }
  // As in FoldLetters, unless the bytes are complemented in place.
  if (i < n && n >= 8 && in != out) return Complement(in + n - 8, out + n - 8, 8);
  for (; i < n; ++i) out[i] = static_cast<unsigned char>(255 - in[i]);
}

}  // namespace

void KeyOrder::WriteSortKey(const char* key, char* out) const {
  auto* o = reinterpret_cast<unsigned char*>(out);
  const auto* p = reinterpret_cast<const unsigned char*>(key);
  for (const KeyField& f : fields_) {
    if (f.type == kAlpha && (caseInsensitive_ || !byteOrder_)) {
      FoldLetters(p, o, f.size);
    } else {
      std::memcpy(o, p, f.size);
    }
    o += f.size;
    if (DoubledField(f)) {
      Complement(p, o, f.size);
      o += f.size;
    }
    p += f.size;
  }
  if (descending_) {
    auto* start = reinterpret_cast<unsigned char*>(out);
    Complement(start, start, static_cast<std::size_t>(o - start));
  }
}

void KeyOrder::WriteSortKeyPrefix(const char* key, char* out, std::size_t n) const {
  auto* o = reinterpret_cast<unsigned char*>(out);
  const auto* p = reinterpret_cast<const unsigned char*>(key);
  std::size_t left = n;
  for (const KeyField& f : fields_) {
    if (left == 0) break;
    std::size_t take = std::min<std::size_t>(f.size, left);
    if (f.type == kAlpha && (caseInsensitive_ || !byteOrder_)) {
      FoldLetters(p, o, take);
    } else {
      std::memcpy(o, p, take);
    }
    o += take;
    left -= take;
    if (DoubledField(f) && left > 0) {
      take = std::min<std::size_t>(f.size, left);
      Complement(p, o, take);
      o += take;
      left -= take;
    }
    p += f.size;
  }
  if (descending_) {
    auto* start = reinterpret_cast<unsigned char*>(out);
    Complement(start, start, n - left);
  }
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
  return static_cast<std::uint16_t>(v ^ 0x8000);
}

void PutIndexShort(char* p, std::uint16_t value) {
  std::uint16_t v = static_cast<std::uint16_t>(value ^ 0x8000);
  p[0] = static_cast<char>(v >> 8);
  p[1] = static_cast<char>(v & 0xFF);
}

}  // namespace engine
