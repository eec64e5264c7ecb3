// The index and link checks of `vdx verify`: every index beside a table
// holds every record in key order and names the table's own blocks, and
// every referential link names a table that exists.
#pragma once

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

// Checks that the other table of every link in the .VAL exists.
Status VerifyLinks(Env* env, const ParadoxTable& table);

}  // namespace engine
