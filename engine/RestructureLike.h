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

  // The reference table's data file, as the optional parameter
  // szCRREFERENCE (empty: none).
  std::string reference;
  std::vector<FLDDesc> optParams;  // heap storage, so a move keeps desc valid
  std::vector<char> optData;

  // Points desc's lists (and the optional parameter) at the members, after
  // they are filled or moved.
  void Bind();
};

// target_dir: the folder of the table written (links are pointed there).
// ref_path: the reference's data file, passed on as szCRREFERENCE.
RestructureRequest BuildLikeRequest(const TableStructure& live, const TableStructure& ref,
                                    const std::string& table_name, const std::string& target_dir,
                                    const std::string& ref_path = "");

// The value of a request's optional parameter, "" when it has none.
std::string OptionalParam(const CRTblDesc& desc, const char* name);

}  // namespace engine
