// A restructure request that brings a table in line with a reference table
// of the same structure family: fields by position from the reference,
// checks by field, indexes by name, the reference's dependent links pointed
// at masters beside the table written. This is the merge the table tools
// make; `vdx restructure --like` and tests build it here.
#pragma once

#include <string>
#include <vector>

#include "DbiStructure.h"
#include "DbiTypes.h"

namespace engine {

// A CRTblDesc with the storage its lists point into.
struct RestructureRequest {
  CRTblDesc desc{};
  std::vector<CROpType> fldOps, idxOps, chkOps, rintOps;
  std::vector<FLDDesc> flds;
  std::vector<IDXDesc> idxs;
  std::vector<VCHKDesc> chks;
  std::vector<RINTDesc> rints;

  // Points desc's lists at the vectors (after they are filled or moved).
  void Bind();
};

// target_dir: the folder of the table written (links are pointed there).
RestructureRequest BuildLikeRequest(const TableStructure& live, const TableStructure& ref,
                                    const std::string& table_name, const std::string& target_dir);

}  // namespace engine
