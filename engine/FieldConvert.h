// Converting a stored value from one field type to another, as a
// restructure does when a field keeps its place but changes type or size.
// The conversions are listed in docs/restructure.md; a value that has no
// form in the new type becomes blank and the caller counts it.
#pragma once

#include "FieldCodec.h"
#include "FieldTypes.h"

namespace engine {

// Converts in (a value of `from`; blob fields carry their data in s) into
// out (a value of `to`, blob data in s). Returns false when the value cannot
// be kept: out is then blank. A blank value converts to blank.
bool ConvertValue(const FieldDesc& from, const FieldDesc& to, const FieldValue& in,
                  FieldValue* out);

// Whether a field of type `from` may become one of type `to` at all (some
// values may still fail to convert). Used to reject a request up front.
bool CanConvert(FieldType from, FieldType to);

// A decimal text rounded half away from zero to `decimals` digits.
std::string RoundDecimalText(const std::string& text, int decimals);

}  // namespace engine
