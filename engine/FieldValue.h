// One field value as the engine hands it out and takes it in, and the date
// arithmetic that goes with the stored forms of dates and times. How values
// are encoded inside a record is the format's business (format/FieldCodec).
#pragma once

#include <cstdint>
#include <string>

#include "FieldTypes.h"

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

// Date-times of the dataset layer: days since 1899-12-30 with a fraction.
double ToDateTime(const FieldDesc& field, const FieldValue& value);
FieldValue FromDateTime(const FieldDesc& field, double date_time);

// Calendar helpers on Paradox day numbers (0001-01-01 = 1).
std::int64_t DayNumber(int year, int month, int day);
void CivilFromDay(std::int64_t day, int* year, int* month, int* dd);

}  // namespace engine
