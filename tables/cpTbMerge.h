// The list merges of a table restructure, as the table tools use them. They
// are the engine's (RestructureLike.h), shared with `vdx restructure --like`,
// so that both bring a table in line with its reference the same way.
#pragma once

#include "RestructureLike.h"

namespace tbmerge {

using engine::MergeChecks;
using engine::MergeFields;
using engine::MergeIndexes;
using engine::MergeLinks;
using engine::PointInto;
using engine::StripIndexes;
using engine::StripLinks;
using engine::TOpList;

}  // namespace tbmerge
