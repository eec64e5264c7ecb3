// Converting a stored value from one field type to another, as a
// restructure does when a field keeps its place but changes type or size.
// The conversions are listed in docs/restructure.md; a value that has no
// form in the new type becomes blank, and the caller counts every value cut,
// rounded or blanked.
#pragma once

#ifndef VARDEX_ENGINE_INTERNAL
#error "engine/internal is the engine's own; use the engine's public headers"
#endif

#include "FieldTypes.h"
#include "FieldValue.h"

namespace engine {

// What a conversion did to a value that it could not keep as it was.
enum class ConvertLoss {
  None,
  Cut,      // text longer than the new alpha width, cut to it
  Rounded,  // a number given fewer decimals (1.5 into a short is 2)
  Blanked,  // no form in the new type, or out of its range: blank
  Dropped,  // a part the new type has no room for: a timestamp's time made a
            // date, its date made a time, digits beyond the new precision
};

// Converts in (a value of `from`; blob fields carry their data in s) into
// out (a value of `to`, blob data in s). Text (alpha or memo) too long for
// a new alpha field is cut to its width; any other value that cannot be
// kept makes out blank and the call returns false. *loss (when given) tells
// what was lost: a value that does not come back unchanged when converted
// to its former type again has lost something. A blank value converts to
// blank.
bool ConvertValue(const FieldDesc& from, const FieldDesc& to, const FieldValue& in,
                  FieldValue* out, ConvertLoss* loss = nullptr);

// Whether a field of type `from` may become one of type `to` at all (some
// values may still fail to convert). Used to reject a request up front.
bool CanConvert(FieldType from, FieldType to);

// A decimal text rounded half away from zero to `decimals` digits.
std::string RoundDecimalText(const std::string& text, int decimals);

}  // namespace engine
