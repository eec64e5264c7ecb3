// The SQLite form of one Paradox table's structure: typed columns, the key
// as PRIMARY KEY, secondary indexes, validity checks as DEFAULT and CHECK
// clauses where SQLite can state them, referential links as FOREIGN KEYs.
// Checks SQLite cannot state (pictures, lookups, bounds on text, which
// Paradox compares in its own sort order) are listed for `_vardex_checks`.
// Internal to the export library.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "DbiStructure.h"
#include "ParadoxTable.h"

namespace tableexport {

struct LooseCheck {
  std::string field, kind, value, detail;
};

struct TableSchema {
  std::string name;                  // the table's name in SQLite
  std::string create;                // CREATE TABLE ...
  std::vector<std::string> indexes;  // CREATE INDEX ..., run after the data
  std::vector<LooseCheck> loose;
  std::vector<std::string> notes;
};

// The field names of a link's master table, given its path; empty when it
// cannot be read (the link then names the master's key implicitly).
using MasterFields = std::function<std::vector<std::string>(const std::string& master_path)>;

TableSchema BuildSchema(const engine::ParadoxTable& table, const engine::TableStructure& st,
                        const MasterFields& master_fields);

// The declared SQLite type of a field.
const char* SqlType(engine::FieldType type);
// "name" and 'text' with their quotes doubled.
std::string SqlName(const std::string& name);
std::string SqlText(const std::string& text);

}  // namespace tableexport
