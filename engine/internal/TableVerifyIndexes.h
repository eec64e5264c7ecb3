// The index, check and link checks of `vdx verify`: every page of every
// index beside a table decodes, each index holds every record in key order
// and names the table's own blocks, the .VAL decodes whole and fits the
// table, and every referential link names a table that exists.
#pragma once

#ifndef VARDEX_ENGINE_INTERNAL
#error "engine/internal is the engine's own; use the engine's public headers"
#endif

#include "DataFileHeader.h"
#include "Env.h"
#include "IndexKey.h"
#include "ParadoxTable.h"
#include "Status.h"

namespace engine {

// Checks the .PX (keyed tables) and every maintained .Xnn/.XGn against the
// data file. Index files of protected tables are left alone: their keys
// cannot be compared without decrypting them.
Status VerifyIndexes(Env* env, const ParadoxTable& table);

// The order of a keyed table's records by its primary key, and a record's
// key (the bytes of its key fields).
KeyOrder PrimaryKeyOrder(const DataFileHeader& h);
std::string PrimaryKeyOf(const DataFileHeader& h, const void* record);

// Whether the field's stored value in rec decodes to something the field
// can hold: it comes back byte for byte when encoded again, and dates and
// times lie in the engine's range (dates before year 1 included). Text and
// raw bytes always decode.
bool ValueDecodes(const FieldDesc& f, const std::uint8_t* rec);

// Checks the .VAL as a whole: it decodes to the end, was written for this
// state of the table (its change count), lists fields of the table's types
// and sizes, and the values of its checks decode in their fields' types. A
// level 3.x file is walked check by check with the table's field sizes.
Status VerifyVal(Env* env, const ParadoxTable& table);

// Checks that the other table of every link in the .VAL exists.
Status VerifyLinks(Env* env, const ParadoxTable& table);

}  // namespace engine
