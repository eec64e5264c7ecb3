// The records a restructure or pack set aside: the engine writes them to
// KEYVIOL.DB and PROBLEMS.DB beside the table; vdx moves each such table,
// companions and all, into the folder of that name there, named after the
// table and the moment (ORDERS_20240131_142501.DB, then _2, _3 ... when that
// name is taken), as the program's tools keep them, and says so.
#pragma once

#include <ctime>
#include <iosfwd>
#include <string>

#include "Restructure.h"

namespace vdx {

// Moves the table whose data file is `path` into `folder` beside it, named
// after `table` (a file name) and the moment. Returns the new data file's
// path, or "" with *error set.
std::string KeepSetAside(const std::string& path, const std::string& folder,
                         const std::string& table, std::time_t moment, std::string* error);

// Prints what a restructure or pack of `path` did, keeps the records it set
// aside and warns about them (table, count, folder) on err. Returns the exit
// code: 0, or 1 when a set could not be moved (it stays where it was written).
int ReportRestructure(const std::string& path, const engine::RestructureReport& r,
                      std::ostream& out, std::ostream& err);

}  // namespace vdx
