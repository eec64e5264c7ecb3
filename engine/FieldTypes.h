// The Paradox field types and the descriptor of one field of a table, as the
// data file header stores them. Descriptors keep the Paradox type itself, so
// nothing is lost in translation between the file and the engine's callers.
#pragma once

#include <cstdint>
#include <string>

namespace engine {

enum class FieldType : std::uint8_t {
  Alpha = 0x01,      // A: fixed-width text, NUL padded
  Date = 0x02,       // D: days since 0001-01-01 (day 1)
  Short = 0x03,      // S: 16-bit integer
  Long = 0x04,       // I: 32-bit integer
  Currency = 0x05,   // $: double
  Number = 0x06,     // N: double
  Logical = 0x09,    // L: one byte
  Memo = 0x0C,       // M: blob with a text leader
  Blob = 0x0D,       // B: binary blob
  FmtMemo = 0x0E,    // F: formatted memo blob
  Ole = 0x0F,        // O: OLE blob
  Graphic = 0x10,    // G: graphic blob
  Time = 0x14,       // T: milliseconds since midnight
  Timestamp = 0x15,  // @: milliseconds since 0001-01-01 00:00, as a double
  AutoInc = 0x16,    // +: 32-bit integer numbered by the table
  Bcd = 0x17,        // #: 17-byte packed decimal; the header holds the decimals
  Bytes = 0x18,      // Y: fixed-width raw bytes
};

struct FieldDesc {
  std::string name;
  FieldType type = FieldType::Alpha;
  int size = 0;      // bytes in the record (17 for #, leader + 10 for blobs)
  int decimals = 0;  // # only: digits after the decimal point
  int offset = 0;    // byte offset of the field inside a record
};

// 'A', 'D', ... for a known type, '?' otherwise.
char TypeLetter(FieldType type);
// Parses a type letter; false for an unknown letter.
bool TypeFromLetter(char letter, FieldType* type);
// True for a type code this engine knows.
bool IsKnownType(std::uint8_t code);
bool IsBlobType(FieldType type);
// Record bytes of a fixed-size type, 0 for types whose size is declared
// (A, Y and the blob types).
int FixedSize(FieldType type);
// The size byte as the header stores it (decimals for #, size otherwise).
int HeaderSizeByte(const FieldDesc& field);
// Checks a declared size against what the format allows for the type.
bool IsValidFieldSize(FieldType type, int size);

}  // namespace engine
