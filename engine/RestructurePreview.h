// What an Update would do to a table, before it is done: the structure
// changes between a live table and its reference (as the one merge of
// RestructureLike takes them) and a dry run of the restructure that counts
// the records bound for KEYVIOL and PROBLEMS. Nothing of either folder is
// written. Callers: `vdx plan`, the window's "Preview Update…".
#pragma once

#include <string>
#include <vector>

#include "DbiStructure.h"
#include "Restructure.h"
#include "Status.h"

namespace engine {

struct PlanChange {
  enum Kind {
    FieldAdded,     // name: the new field; to: its type
    FieldRemoved,   // name: the live field that disappears
    FieldRetyped,   // name; from, to: types ("A20", "N", "#12.2")
    FieldNarrowed,  // name; from, to: types of the same kind, the new one smaller
    FieldMoved,     // name: a live field whose name the reference has at another place; from, to: places
    FieldRenamed,   // name: the live field; to: the reference's name at the same place
    KeyChanged,     // from, to: key fields ("Id, Name"), empty for no key
    IndexAdded,
    IndexDropped,
    IndexChanged,   // name: the index
    CheckAdded,
    CheckDropped,
    CheckChanged,   // name: the field checked
    LinkAdded,
    LinkDropped,
    LinkChanged,    // name: the link; from, to: its master table
  };
  Kind kind;
  std::string name;
  std::string from;
  std::string to;
};

// "field added", "key changed", ...: the stable names of the kinds.
const char* PlanChangeName(PlanChange::Kind kind);

struct TablePlan {
  std::string table;    // the live table's file name
  std::string livePath;
  std::string refPath;
  Status status;        // not OK: a table could not be read; nothing else is set
  std::vector<PlanChange> changes;
  RestructureReport report;  // the dry run: counts and examples
};

// The changes that the merge of `live` with `ref` makes, in the order
// fields, key, indexes, checks, links.
std::vector<PlanChange> DiffStructures(const TableStructure& live, const TableStructure& ref);

// One table against a reference. `password`, when given, opens protected
// tables and is the one the result would carry.
TablePlan PlanLike(const std::string& live_path, const std::string& ref_path,
                   const std::string& password = "", std::size_t examples = 3);

// Every table of a database folder against its twin in folder/METADATA, in
// file-name order; a table on one side only is a plan with an error.
std::vector<TablePlan> PlanDatabase(const std::string& folder, const std::string& password = "",
                                    std::size_t examples = 3);

}  // namespace engine
