// Field values as they are stored inside Paradox records: the encodings of
// every field type and their blank values. Which encoding a type has follows
// from its kind (FieldText.h, KindOf, the one switch over field types).
#pragma once

#ifndef VARDEX_ENGINE_INTERNAL
#error "engine/format is the engine's own; use the engine's public headers"
#endif

#include <cstdint>
#include <string>

#include "FieldTypes.h"
#include "FieldValue.h"
#include "Status.h"

namespace engine {

// Decodes one field of a record (rec points at the record's first byte).
FieldValue DecodeField(const FieldDesc& field, const std::uint8_t* rec);
// The text of a stored decimal (17 bytes at p) as DecodeField gives it,
// written to out (room for kDecimalTextMax); returns its length.
constexpr std::size_t kDecimalTextMax = 40;  // sign, "0.", 32 digits
std::size_t DecimalText(const std::uint8_t* p, char* out);
// A stored double's eight bytes, read as one big-endian number (GetBe64),
// as the double they hold: positive values have the sign bit set, negative
// ones every bit inverted.
double StoredDouble(std::uint64_t u);
// Encodes one field into a record. For blob fields the caller has filled
// value.blob (leader and reference) already. Fails for values the field
// cannot hold (text too long, number out of range, malformed decimal).
Status EncodeField(const FieldDesc& field, const FieldValue& value, std::uint8_t* rec);

}  // namespace engine
