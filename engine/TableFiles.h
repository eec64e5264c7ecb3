// The files that make up one table and how their names are found: names
// match without regard to case, as on the platform the tables come from, so
// `orders` finds ORDERS.DB and its blob file may be orders.mb.
#pragma once

#include <string>
#include <vector>

namespace engine {

// The existing entry of dir whose name equals name ignoring case, or
// dir/name when there is none.
std::string FindNoCase(const std::string& dir, const std::string& name);
// The path of a table's data file from a folder and a table name given with
// or without the .DB extension.
std::string DataFilePath(const std::string& dir, const std::string& table);
// The companion of a data file with another extension (".MB", ".PX" ...):
// the existing file when there is one, else the name in the data file's case.
std::string CompanionPath(const std::string& db_path, const std::string& ext);
// A table named on a command line: a path to the data file with or without
// its .DB extension, matched without regard to case.
std::string ResolveTablePath(const std::string& arg);
// Every existing companion of a data file that a new definition makes stale:
// blob file, primary and secondary indexes, validity checks.
std::vector<std::string> StaleCompanions(const std::string& db_path);

}  // namespace engine
