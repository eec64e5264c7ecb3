// Field values as text: the kind of value each field type holds, the one
// rendering of a value as text, and the parsing of user text into a value.
// KindOf is the one switch over field types; the record encodings
// (format/FieldCodec), conversions between types (FieldConvert) and the
// renderings (TTable, TableDump) all classify types through it.
#pragma once

#include <cstdint>
#include <string>

#include "FieldTypes.h"
#include "FieldValue.h"
#include "Status.h"

namespace engine {

// What a field holds, whatever its width or storage.
enum class FieldKind {
  Integer,  // S I +
  Float,    // N $
  Decimal,  // #
  Text,     // A
  Logical,  // L
  Date,     // D
  Time,     // T
  Stamp,    // @
  Memo,     // M F
  Binary,   // B O G
  Bytes,    // Y
};
FieldKind KindOf(FieldType type);

// A value as text: numbers shortest, dates "YYYY-MM-DD", times
// "HH:MM:SS.mmm", timestamps "YYYY-MM-DDTHH:MM:SS.mmm", logicals "True" and
// "False"; text, decimals, bytes and blob data as stored (code-page bytes
// for text).
std::string ValueText(FieldType type, const FieldValue& value);

// Shortest text that reads back as the same double ("null" for one that is
// not finite).
std::string ShortestNumber(double d);

// Parses user text into a value for the field type (the dataset layer's
// "set as text"): numbers, dates "YYYY-MM-DD", times "HH:MM[:SS[.mmm]]",
// timestamps "YYYY-MM-DD[ T]HH:MM[:SS[.mmm]]", logicals true/false, decimals.
// Text for A fields must already be in the table's code page.
Status ParseFieldText(const FieldDesc& field, const std::string& text, FieldValue* out);

// Display forms used by `vdx dump`: "YYYY-MM-DD", "HH:MM:SS.mmm",
// "YYYY-MM-DDTHH:MM:SS.mmm".
std::string FormatDate(std::int64_t day);
std::string FormatTime(std::int64_t ms);
std::string FormatTimestamp(double ms);

}  // namespace engine
