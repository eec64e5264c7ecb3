// Field values as they are stored inside Paradox records: the encodings of
// every field type, blank values, and the date and time arithmetic that goes
// with them. The one switch over field types lives in FieldCodec.cpp.
#pragma once

#include <cstdint>
#include <string>

#include "FieldTypes.h"
#include "Status.h"

namespace engine {

// Where a blob's data lives: the leader copy inside the record and the
// reference into the blob file (offset with the suballocation index in the
// low byte, length, modification number).
struct BlobRef {
  std::uint32_t offset_index = 0;
  std::uint32_t length = 0;
  std::uint16_t mod = 0;
  std::string leader;

  std::uint32_t BlockOffset() const { return offset_index & 0xFFFFFF00u; }
  std::uint8_t Index() const { return static_cast<std::uint8_t>(offset_index & 0xFF); }
};

// One decoded value. Which member holds it depends on the field type:
//   i: S I + (value), D (day number, 0001-01-01 = 1), T (ms since midnight),
//      L (0 or 1)
//   d: N $ (value), @ (ms since 0001-01-01 00:00 counted from day 1)
//   s: A (code-page bytes up to the first NUL), Y (raw bytes), # (decimal
//      text such as "-12.50")
//   blob: M B F O G
struct FieldValue {
  bool null = true;
  std::int64_t i = 0;
  double d = 0;
  std::string s;
  BlobRef blob;

  static FieldValue Int(std::int64_t v);
  static FieldValue Float(double v);
  static FieldValue Str(std::string v);
};

// Decodes one field of a record (rec points at the record's first byte).
FieldValue DecodeField(const FieldDesc& field, const std::uint8_t* rec);
// Encodes one field into a record. For blob fields the caller has filled
// value.blob (leader and reference) already. Fails for values the field
// cannot hold (text too long, number out of range, malformed decimal).
Status EncodeField(const FieldDesc& field, const FieldValue& value, std::uint8_t* rec);

// Parses user text into a value for the field type (the dataset layer's
// "set as text"): numbers, dates "YYYY-MM-DD", times "HH:MM[:SS[.mmm]]",
// timestamps "YYYY-MM-DD[ T]HH:MM[:SS[.mmm]]", logicals true/false, decimals.
// Text for A fields must already be in the table's code page.
Status ParseFieldText(const FieldDesc& field, const std::string& text, FieldValue* out);

// Date-times of the dataset layer: days since 1899-12-30 with a fraction.
double ToDateTime(const FieldDesc& field, const FieldValue& value);
FieldValue FromDateTime(const FieldDesc& field, double date_time);

// Calendar helpers on Paradox day numbers (0001-01-01 = 1).
std::int64_t DayNumber(int year, int month, int day);
void CivilFromDay(std::int64_t day, int* year, int* month, int* dd);

// Display forms used by `vdx dump`: "YYYY-MM-DD", "HH:MM:SS.mmm",
// "YYYY-MM-DDTHH:MM:SS.mmm".
std::string FormatDate(std::int64_t day);
std::string FormatTime(std::int64_t ms);
std::string FormatTimestamp(double ms);

}  // namespace engine
