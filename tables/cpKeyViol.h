// Keeping the records a restructure rejected: the engine writes them to a
// key-violation table beside the table it rewrote; that table is moved,
// companions and all, into the folder KEYVIOL there, so the database's own
// set of tables stays as it was and no record is lost.
#pragma once

#include <ctime>
#include <string>

// Moves the key-violation table whose data file is `path` into the folder
// KEYVIOL beside it, named after the table written (`table`, a file name)
// and the moment: ORDERS_20240131_142501.DB, with _2, _3 ... when that name
// is taken. Returns the new data file's path; raises ETableTools when the
// folder cannot be made or a file cannot be moved.
std::string KeepKeyViolations(const std::string& path, const std::string& table,
                              std::time_t moment = std::time(nullptr));
