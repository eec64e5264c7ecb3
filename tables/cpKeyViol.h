// Keeping the records a restructure set aside: the engine writes the
// records that broke the new key, and those whose values the new structure
// cut, rounded or blanked, to tables beside the table it rewrote; each such
// table is moved, companions and all, into a folder there (KEYVIOL,
// PROBLEMS), so the database's own set of tables stays as it was and no
// record is lost.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>

inline constexpr const char* kKeyViolFolder = "KEYVIOL";
inline constexpr const char* kProblemsFolder = "PROBLEMS";

// Moves the table whose data file is `path` into the folder `folder` beside
// it, named after the table written (`table`, a file name) and the moment:
// ORDERS_20240131_142501.DB, with _2, _3 ... when that name is taken.
// Returns the new data file's path; raises ETableTools when the folder
// cannot be made or a file cannot be moved.
std::string KeepSetAside(const std::string& path, const std::string& table,
                         const std::string& folder, std::time_t moment = std::time(nullptr));
inline std::string KeepKeyViolations(const std::string& path, const std::string& table,
                                     std::time_t moment = std::time(nullptr)) {
  return KeepSetAside(path, table, kKeyViolFolder, moment);
}

// The number of records of a table set aside (0 when it cannot be read).
std::uint32_t SetAsideCount(const std::string& path);
