// The structure of one table as the direct calls describe it: field, index,
// validity-check and link descriptors, read from the data file header and
// the index and .VAL files beside it. Restructure reads its source through
// this unit too, keeping the decoded files so unchanged parts are carried
// forward exactly.
#pragma once

#include <string>
#include <vector>

#include "DbiTypes.h"
#include "Env.h"
#include "FieldTypes.h"
#include "ParadoxTable.h"
#include "PrimaryIndex.h"
#include "SecondaryIndex.h"
#include "Status.h"
#include "ValFile.h"

namespace engine {

// A secondary index as found on disk.
struct SecondaryIndexFile {
  std::string xPath, yPath;
  SecondaryIndex index;
  std::string yHeader;  // the .Ynn/.YGn header, a template for the rebuilt file
};

struct TableStructure {
  std::vector<FLDDesc> fields;
  // The primary index first (when the table is keyed, whether or not its
  // .PX exists), then the secondary indexes in file-name order.
  std::vector<IDXDesc> indexes;
  std::vector<VCHKDesc> checks;
  std::vector<RINTDesc> links;  // the dependent's links first, then its dependents

  bool hasPrimaryFile = false;  // the .PX was found and read
  PrimaryIndex primary;
  std::vector<SecondaryIndexFile> secondaries;  // parallel to indexes after the primary
  bool hasVal = false;
  std::string valPath;
  std::string valBytes;
  ValFile val;
  std::vector<std::string> notes;  // files that could not be read, and why
};

// Reads the structure of an open table. A missing index or .VAL file is no
// error; a damaged one is.
Status ReadTableStructure(Env* env, const ParadoxTable& table, TableStructure* out);

// The header of a secondary index's .Xnn / .XGn file, with its record and
// block counts cleared: enough to decode the index's definition.
Status ReadIndexHeader(Env* env, const std::string& path, std::string* out);

// Descriptor and engine forms of a field.
FLDDesc ToFldDesc(const FieldDesc& field, int number);
Status FromFldDesc(const FLDDesc& desc, FieldDesc* field);

// The files beside a data file whose names put them in its family
// (".PX", ".X0A", ".XG1" ...), matched without regard to case.
std::vector<std::string> CompanionFiles(const std::string& db_path);
// The upper-cased extension of a path ("X0A"), empty when there is none.
std::string UpperExtension(const std::string& path);

// The IDXDesc of a secondary index file.
IDXDesc SecondaryDesc(const SecondaryIndex& index, const std::string& x_path,
                      const std::vector<FieldDesc>& fields);

}  // namespace engine
