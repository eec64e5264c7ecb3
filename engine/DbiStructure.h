// The structure of one table as the direct calls describe it: field, index,
// validity-check and link descriptors, read from the data file header and
// the index and .VAL files beside it. Restructure reads its source through
// this unit too, keeping the decoded files so unchanged parts are carried
// forward exactly.
#pragma once

#include <string>
#include <vector>

#include <memory>

#include "DbiTypes.h"
#include "Env.h"
#include "FieldTypes.h"
#include "FieldValue.h"
#include "ParadoxTable.h"
#include "Status.h"
#include "TableFiles.h"

namespace engine {

// The decoded files themselves (format/StoredStructure.h), for the engine's
// own units.
struct StoredStructure;
class SecondaryIndex;
class ValFile;
struct ValCheck;

struct TableStructure {
  std::vector<FLDDesc> fields;
  // The primary index first (when the table is keyed, whether or not its
  // .PX exists), then the secondary indexes in file-name order.
  std::vector<IDXDesc> indexes;
  std::vector<VCHKDesc> checks;
  std::vector<RINTDesc> links;  // the dependent's links first, then its dependents

  bool hasPrimaryFile = false;  // the .PX was found and read
  bool hasVal = false;
  std::string valPath;
  std::string valBytes;
  // A .VAL of level 4 and later is read in full; one of level 3.x is kept as
  // stored and only the number of its checks is known.
  bool valDecoded = false;
  int legacyCheckCount = 0;
  std::vector<std::string> notes;  // files that could not be read, and why
  // The .PX, the secondary indexes and the .VAL as decoded.
  std::shared_ptr<StoredStructure> stored;
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


// A validity check's minimum, maximum or default (stored in the field's own
// encoding) as a value of the field.
FieldValue CheckValue(const FieldDesc& field, const std::uint8_t* stored);

// Descriptor views of a .VAL file. `directory` is put before the other
// table's file name.
VCHKDesc CheckDescOf(const ValFile& val, const ValCheck& check);
std::vector<RINTDesc> LinkDescsOf(const ValFile& val, const std::string& directory);
// Changes to a .VAL file, as a restructure request makes them. A check
// replaces the one on the same field. On the dependent's side a link
// replaces the one of the same name; on the master's side the one of the
// same name from the same table (several dependents may use one link name).
// fieldName is the dependent's field, or the link name when the link has
// several fields. A .VAL of level 3.x takes no changes.
Status PutCheck(ValFile* val, const VCHKDesc& desc);
Status PutMasterLink(ValFile* val, const RINTDesc& desc, const std::string& fieldName);
Status PutDependent(ValFile* val, const RINTDesc& desc, const std::string& fieldName);

// The IDXDesc of a secondary index file.
IDXDesc SecondaryDesc(const SecondaryIndex& index, const std::string& x_path,
                      const std::vector<FieldDesc>& fields);

}  // namespace engine
