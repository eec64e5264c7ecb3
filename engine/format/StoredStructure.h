// The index and .VAL files of one table as ReadTableStructure decodes them
// (DbiStructure.h): what a restructure carries forward exactly.
#pragma once

#ifndef VARDEX_ENGINE_INTERNAL
#error "engine/format is the engine's own; use the engine's public headers"
#endif

#include <string>
#include <vector>

#include "PrimaryIndex.h"
#include "SecondaryIndex.h"
#include "ValFile.h"

namespace engine {

// A secondary index as found on disk.
struct SecondaryIndexFile {
  std::string xPath, yPath;
  SecondaryIndex index;
  std::string yHeader;  // the .Ynn/.YGn header, a template for the rebuilt file
};

struct StoredStructure {
  PrimaryIndex primary;                         // when TableStructure::hasPrimaryFile
  std::vector<SecondaryIndexFile> secondaries;  // parallel to indexes after the primary
  ValFile val;                                  // when TableStructure::hasVal
};

}  // namespace engine
