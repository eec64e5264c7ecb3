// Keys of the index files: a key is the concatenation of its fields in
// their record encoding, so most types already order by their bytes; alpha
// fields order by the table's sort order. Also the small-number encoding the
// index records use for block numbers and counts.
#pragma once

#ifndef VARDEX_ENGINE_INTERNAL
#error "engine/format is the engine's own; use the engine's public headers"
#endif

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "ByteOrder.h"  // GetLe16 and friends, used with index headers

namespace engine {

// One key field: its data-file type code and its bytes in a record.
struct KeyField {
  std::uint8_t type = 0;
  std::uint16_t size = 0;
  std::uint8_t decimals = 0;  // BCD fields, whose header size byte holds them
};

class KeyOrder {
 public:
  KeyOrder() = default;
  KeyOrder(std::vector<KeyField> fields, std::uint8_t sortOrder, bool caseInsensitive = false,
           bool descending = false);

  std::size_t length() const { return length_; }
  const std::vector<KeyField>& Fields() const { return fields_; }
  bool descending() const { return descending_; }
  // Whether two keys that first differ inside this field order by that
  // byte's value (every field but alpha ones of a national order or
  // without regard to case).
  bool OrdersByValue(const KeyField& f) const;

  // The order records are written in: negative, zero or positive.
  int Compare(std::string_view a, std::string_view b) const;
  // A byte string whose plain byte order is the order of Compare, for
  // sorting many keys quickly; all sort keys of one order have one length.
  void AppendSortKey(std::string_view key, std::string* out) const;
  // The same, into SortKeyLength() bytes at out.
  void WriteSortKey(const char* key, char* out) const;
  // Its first n bytes only (n <= SortKeyLength()).
  void WriteSortKeyPrefix(const char* key, char* out, std::size_t n) const;
  std::size_t SortKeyLength() const;

  // Whether b may follow a in a file the engine wrote. Alpha fields of a
  // national sort order are compared by letter only, since the exact
  // collation tables of those orders are not known here.
  bool InOrder(std::string_view a, std::string_view b) const;

 private:
  bool DoubledField(const KeyField& f) const;
  int CompareField(const KeyField& f, const unsigned char* a, const unsigned char* b,
                   bool letterOnly) const;

  std::vector<KeyField> fields_;
  std::size_t length_ = 0;
  bool byteOrder_ = true;  // the 'ascii' sort order: alpha by code
  bool caseInsensitive_ = false;
  bool descending_ = false;
  bool plain_ = false;  // every field orders by its bytes: keys compare as bytes
};

// Counts and block numbers inside index records: 16 bits, big-endian, with
// the top bit flipped (the encoding of a short field). Block 32768 is stored
// as 00 00, which in a short field would be blank: here it is a number.
std::uint16_t GetIndexShort(const char* p);
void PutIndexShort(char* p, std::uint16_t value);

}  // namespace engine
