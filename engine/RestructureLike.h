// A restructure request that brings a table in line with a reference table
// of the same structure family: fields by position from the reference,
// checks by field, indexes by name, the reference's dependent links pointed
// at masters beside the table written. The list merges are the one merge of
// the program: the table tools (the window's tool runs) and
// `vdx restructure --like` both build their requests from them. They are
// pure functions over descriptor copies, so the rules can be checked without
// tables on disk.
#pragma once

#include <string>
#include <vector>

#include "DbiStructure.h"
#include "DbiTypes.h"

namespace engine {

// One list of a restructure request: an operation per descriptor.
template <typename Desc>
struct TOpList {
  std::vector<CROpType> Ops;
  std::vector<Desc> Descs;

  void Add(CROpType op, const Desc& desc) {
    Ops.push_back(op);
    Descs.push_back(desc);
  }
  int Count() const { return static_cast<int>(Descs.size()); }
};

// Fields by position: the k-th reference field takes the data of the live
// table's k-th field; reference fields beyond the live count are added, live
// fields beyond the reference count are not listed (and so disappear). A
// modified field's number is the place (from 1) of its source in the live
// list, which is what the rewrite reads its data from. Autoincrement
// subtypes are cleared so the engine keeps stored values.
TOpList<FLDDesc> MergeFields(const std::vector<FLDDesc>& ref, const std::vector<FLDDesc>& live);

// Validity checks by field number: the reference's checks are modified or
// added, a live check on a field no listed check covers is dropped.
TOpList<VCHKDesc> MergeChecks(const std::vector<VCHKDesc>& ref, const std::vector<VCHKDesc>& live);

// Indexes by exact name (letter case counts): the reference's are modified
// or added, live indexes the reference lacks are dropped.
TOpList<IDXDesc> MergeIndexes(const std::vector<IDXDesc>& ref, const std::vector<IDXDesc>& live);

// Strip mode: the live table's first index is kept, every other dropped.
TOpList<IDXDesc> StripIndexes(const std::vector<IDXDesc>& live);

// Links by exact name. Only the reference's dependent links are sent,
// wherever the engine lists them among the master-side ones. A link the live
// table has too is dropped and, after the other elements, added again from
// the reference's definition; a live dependent link the reference lacks is
// dropped. Every link listed points at its master in targetDir, the folder of
// the table written: the engine brings the master named there in line, and
// the masters of a table that is only read (the source of a save-as) must
// stay as they are.
TOpList<RINTDesc> MergeLinks(const std::vector<RINTDesc>& ref, const std::vector<RINTDesc>& live,
                             const std::string& targetDir);

// Strip mode: every dependent link of the live table is dropped, pointed at
// its master in targetDir as above.
TOpList<RINTDesc> StripLinks(const std::vector<RINTDesc>& live, const std::string& targetDir);

// `dir` + "/" + the file-name part of `path`, in a descriptor's path field.
void PointInto(RINTDesc& link, const std::string& dir);

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
