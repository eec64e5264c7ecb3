#include "FieldCodec.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "ByteOrder.h"
#include "FieldText.h"

namespace engine {

namespace {

// How a type is stored; the rest of this file works on storage encodings.
enum class Storage { Text, Int16, Int32, Double, Logical, Decimal, Bytes, Blob };

Storage EncodingOf(FieldType type) {
  if (!IsKnownType(static_cast<std::uint8_t>(type))) return Storage::Bytes;
  if (type == FieldType::Short) return Storage::Int16;
  // By FieldKind, in its order.
  static constexpr Storage kByKind[] = {
      Storage::Int32,   Storage::Double, Storage::Decimal, Storage::Text,
      Storage::Logical, Storage::Int32,  Storage::Int32,   Storage::Double,
      Storage::Blob,    Storage::Blob,   Storage::Bytes,
  };
  static_assert(std::size(kByKind) == static_cast<std::size_t>(FieldKind::Bytes) + 1);
  return kByKind[static_cast<int>(KindOf(type))];
}

// Asked for every value read: looked up in a table made once.
Storage Encoding(FieldType type) {
  static const auto kTable = [] {
    std::array<Storage, 256> table{};
    for (int code = 0; code < 256; ++code) table[code] = EncodingOf(static_cast<FieldType>(code));
    return table;
  }();
  return kTable[static_cast<std::uint8_t>(type)];
}

bool AllZero(const std::uint8_t* p, int n) {
  for (int i = 0; i < n; ++i) {
    if (p[i] != 0) return false;
  }
  return true;
}

// Integers are stored big-endian with the sign bit flipped, so that all
// zero bytes mean blank.
std::int64_t GetFlippedInt(const std::uint8_t* p, int n) {
  std::uint64_t u = 0;
  for (int i = 0; i < n; ++i) u = (u << 8) | p[i];
  u ^= std::uint64_t{1} << (8 * n - 1);
  const int shift = 64 - 8 * n;
  return static_cast<std::int64_t>(u << shift) >> shift;
}

void PutFlippedInt(std::uint8_t* p, int n, std::int64_t v) {
  std::uint64_t u = static_cast<std::uint64_t>(v) ^ (std::uint64_t{1} << (8 * n - 1));
  for (int i = n - 1; i >= 0; --i, u >>= 8) p[i] = static_cast<std::uint8_t>(u);
}

void PutFlippedDouble(std::uint8_t* p, double d) {
  std::uint64_t u;
  std::memcpy(&u, &d, 8);
  for (int i = 7; i >= 0; --i, u >>= 8) p[i] = static_cast<std::uint8_t>(u);
  if (std::signbit(d)) {
    for (int i = 0; i < 8; ++i) p[i] = static_cast<std::uint8_t>(~p[i]);
  } else {
    p[0] |= 0x80;
  }
}

}  // namespace

double StoredDouble(std::uint64_t u) {
  u = (u >> 63) ? u & ~(std::uint64_t{1} << 63) : ~u;
  double d;
  std::memcpy(&d, &u, 8);
  return d;
}

// Packed decimal: byte 0 holds the sign (0x80 = positive) and the number of
// decimals in its low six bits; then 32 digits, one per nibble, from nibble 2
// on (the high nibble of byte 1). A negative value stores every digit as its
// complement (digit ^ 0xF). The engine keeps about 20 significant digits and
// may leave junk nibbles after them; digits end at the first nibble that is
// not a digit and the rest of the scale reads as zeros.
std::size_t DecimalText(const std::uint8_t* p, char* out) {
  const bool negative = !(p[0] & 0x80);
  const int decimals = p[0] & 0x3F;
  const std::uint8_t flip = negative ? 0x0F : 0x00;
  // The nibble where the decimals begin (a scale above 32 takes them all).
  const int frac_from = decimals > 0 ? std::max(2, 34 - decimals) : 34;
  std::size_t n = 0;
  if (negative) out[n++] = '-';
  const std::size_t int_start = n;
  bool junk = false;
  // Leading zeros of the integer part are skipped a byte (two digits) at a
  // time: most values are short.
  const std::uint8_t zeros = negative ? 0xFF : 0x00;
  int k = 2;
  while (k + 1 < frac_from && p[k / 2] == zeros) k += 2;
  for (; k < 34; ++k) {
    std::uint8_t nibble = (k % 2) ? (p[k / 2] & 0x0F) : (p[k / 2] >> 4);
    nibble ^= flip;
    junk = junk || nibble > 9;
    const char c = junk ? '0' : static_cast<char>('0' + nibble);
    if (k == frac_from) {
      if (n == int_start) out[n++] = '0';
      out[n++] = '.';
    }
    if (k >= frac_from || n > int_start || c != '0') out[n++] = c;
  }
  if (n == int_start) out[n++] = '0';
  return n;
}

namespace {

std::string DecodeDecimal(const std::uint8_t* p) {
  char text[kDecimalTextMax];
  return std::string(text, DecimalText(p, text));
}

Status EncodeDecimal(const FieldDesc& f, const std::string& text, std::uint8_t* p) {
  std::string digits_int, digits_frac;
  bool negative = false, dot = false;
  std::size_t i = 0;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  for (; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '.' && !dot) {
      dot = true;
    } else if (c >= '0' && c <= '9') {
      (dot ? digits_frac : digits_int).push_back(c);
    } else {
      return Status(DBIERR_INVALIDFIELDVALUE, "not a decimal number: " + text).WithContext(f.name);
    }
  }
  if (digits_int.empty() && digits_frac.empty()) {
    return Status(DBIERR_INVALIDFIELDVALUE, "not a decimal number: " + text).WithContext(f.name);
  }
  while (digits_int.size() > 1 && digits_int[0] == '0') digits_int.erase(0, 1);
  if (digits_frac.size() > static_cast<std::size_t>(f.decimals)) {
    return Status(DBIERR_INVALIDFIELDVALUE, "too many decimals: " + text).WithContext(f.name);
  }
  digits_frac.resize(static_cast<std::size_t>(f.decimals), '0');
  if (digits_int.size() > static_cast<std::size_t>(32 - f.decimals)) {
    return Status(DBIERR_FIELDTOOLONG, "decimal value too large: " + text).WithContext(f.name);
  }
  const std::string all =
      std::string(32 - f.decimals - digits_int.size(), '0') + digits_int + digits_frac;
  const std::uint8_t flip = negative ? 0x0F : 0x00;
  std::memset(p, 0, 17);
  p[0] = static_cast<std::uint8_t>((negative ? 0x40 : 0xC0) | f.decimals);
  for (int k = 2; k < 34; ++k) {
    const auto nibble = static_cast<std::uint8_t>((all[k - 2] - '0') ^ flip);
    if (k % 2) {
      p[k / 2] = static_cast<std::uint8_t>((p[k / 2] & 0xF0) | nibble);
    } else {
      p[k / 2] = static_cast<std::uint8_t>((p[k / 2] & 0x0F) | (nibble << 4));
    }
  }
  return Status::OK();
}

FieldValue DecodeBlob(const FieldDesc& f, const std::uint8_t* p) {
  FieldValue v;
  const int leader = f.size - 10;
  v.blob.offset_index = GetU32(p + leader);
  v.blob.length = GetU32(p + leader + 4);
  v.blob.mod = GetU16(p + leader + 8);
  v.null = v.blob.length == 0;
  if (!v.null) {
    const std::size_t in_leader =
        std::min<std::size_t>(static_cast<std::size_t>(leader), v.blob.length);
    v.blob.leader.assign(reinterpret_cast<const char*>(p), in_leader);
  }
  return v;
}

}  // namespace

FieldValue DecodeField(const FieldDesc& f, const std::uint8_t* rec) {
  const std::uint8_t* p = rec + f.offset;
  FieldValue v;  // blank; filled in place
  switch (Encoding(f.type)) {
    case Storage::Text: {
      const void* nul = std::memchr(p, 0, static_cast<std::size_t>(f.size));
      const std::size_t n = nul ? static_cast<const std::uint8_t*>(nul) - p : f.size;
      v.null = n == 0;
      if (n) v.s.assign(reinterpret_cast<const char*>(p), n);
      return v;
    }
    case Storage::Int16:
    case Storage::Int32:
      v.null = AllZero(p, f.size);
      if (!v.null) v.i = GetFlippedInt(p, f.size);
      return v;
    case Storage::Double:
      v.null = AllZero(p, 8);
      if (!v.null) v.d = StoredDouble(GetBe64(p));
      return v;
    case Storage::Logical:
      v.null = p[0] == 0;
      if (!v.null) v.i = (p[0] & 0x7F) != 0 ? 1 : 0;
      return v;
    case Storage::Decimal:
      v.null = p[0] == 0;
      if (!v.null) v.s = DecodeDecimal(p);
      return v;
    case Storage::Bytes:
      v.null = AllZero(p, f.size);
      if (!v.null) v.s.assign(reinterpret_cast<const char*>(p), static_cast<std::size_t>(f.size));
      return v;
    case Storage::Blob:
      v = DecodeBlob(f, p);
      return v;
  }
  return v;
}

Status EncodeField(const FieldDesc& f, const FieldValue& v, std::uint8_t* rec) {
  std::uint8_t* p = rec + f.offset;
  std::memset(p, 0, static_cast<std::size_t>(f.size));
  if (v.null) return Status::OK();
  switch (Encoding(f.type)) {
    case Storage::Text:
    case Storage::Bytes:
      if (v.s.size() > static_cast<std::size_t>(f.size)) {
        return Status(DBIERR_FIELDTOOLONG, "value longer than " + std::to_string(f.size) + " bytes")
            .WithContext(f.name);
      }
      std::memcpy(p, v.s.data(), v.s.size());
      return Status::OK();
    case Storage::Int16:
    case Storage::Int32: {
      const std::int64_t limit = std::int64_t{1} << (8 * f.size - 1);
      // The lowest value would encode as all zeros, which means blank.
      if (v.i <= -limit || v.i >= limit) {
        return Status(DBIERR_INVALIDFIELDVALUE, "value " + std::to_string(v.i) + " is out of range")
            .WithContext(f.name);
      }
      PutFlippedInt(p, f.size, v.i);
      return Status::OK();
    }
    case Storage::Double:
      if (!std::isfinite(v.d))
        return Status(DBIERR_INVALIDFIELDVALUE, "not a finite number").WithContext(f.name);
      PutFlippedDouble(p, v.d);
      return Status::OK();
    case Storage::Logical:
      p[0] = v.i ? 0x81 : 0x80;
      return Status::OK();
    case Storage::Decimal:
      return EncodeDecimal(f, v.s, p);
    case Storage::Blob: {
      const int leader = f.size - 10;
      std::memcpy(p, v.blob.leader.data(), std::min<std::size_t>(v.blob.leader.size(), leader));
      PutU32(p + leader, v.blob.offset_index);
      PutU32(p + leader + 4, v.blob.length);
      PutU16(p + leader + 8, v.blob.mod);
      return Status::OK();
    }
  }
  return Status::OK();
}

}  // namespace engine
