// Inside a restructure: what the new table will be, worked out from the
// source's structure and the request before a byte is written. Only the
// Restructure units include this.
#pragma once

#ifndef VARDEX_ENGINE_INTERNAL
#error "engine/internal is the engine's own; use the engine's public headers"
#endif

#include <memory>
#include <string>
#include <vector>

#include "DataFileHeader.h"
#include "DbiStructure.h"
#include "ExternalSort.h"
#include "PrimaryIndex.h"
#include "SecondaryIndex.h"
#include "StoredStructure.h"
#include "TableWriter.h"
#include "ValFile.h"

namespace engine {

struct SecondaryPlan {
  std::string name;  // as IDXDesc names it (the field name for a one-field index)
  SecondaryIndexDef def;
  SecondaryFileParams params;  // fileName is the new .Xnn name
  std::string ext;             // "X06", "XG0" in the case the files take
  std::string xTemplate, yTemplate;
  std::vector<int> offsets;  // record offsets of def.fields then def.keyFields
  std::vector<std::size_t> sizes;  // and their key bytes
  // The index records, gathered in bounded memory and sorted.
  std::unique_ptr<ExternalSorter> records;
  // Read back from the written table after the copy, so that several large
  // indexes are never held in memory together.
  bool deferred = false;
};

// A .VAL file of another table (a master) that changes with this one.
struct OtherValFile {
  std::string path;
  std::string bytes;  // empty: remove the file
};

struct RestructurePlan {
  std::string sourcePath;  // the data file read
  std::string targetPath;  // the data file written
  std::string targetStem;  // its name without extension
  DataFileHeader sourceHeader;
  TableDefinition def;
  std::vector<int> sourceOf;   // per new field: the source field (from 0) or -1
  std::vector<bool> renumber;  // per new field: number a + field anew
  bool fieldsChanged = false;

  bool Keyed() const { return def.key_fields > 0; }
  std::string pxTemplate;
  std::uint16_t pxUpdateCount = 1;
  std::uint8_t pxBlockCode = 0;  // 0: chosen from the data block size
  std::vector<SecondaryPlan> secondaries;

  bool writeVal = false;  // false: the result has no .VAL
  std::string valBytes;
  std::vector<OtherValFile> otherVals;
};

// Works out the new fields, key and indexes.
Status PlanFields(const ParadoxTable& source, const CRTblDesc& request, RestructurePlan* plan);
Status PlanIndexes(const TableStructure& source, const CRTblDesc& request, RestructurePlan* plan);
// Works out the new .VAL and the masters' .VAL files.
Status PlanVal(Env* env, const ParadoxTable& source, const TableStructure& structure,
               const CRTblDesc& request, RestructurePlan* plan);

// The key field descriptions of a field list for the index files.
KeyField KeyFieldOf(const FieldDesc& field);

}  // namespace engine
