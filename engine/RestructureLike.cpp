#include "RestructureLike.h"

#include <cstdio>
#include <cstring>

#include "TableFiles.h"

namespace engine {

namespace {

void MergeFields(const TableStructure& live, const TableStructure& ref, RestructureRequest* r) {
  for (FLDDesc f : ref.fields) {
    bool found = false;
    for (const FLDDesc& l : live.fields) found = found || l.iFldNum == f.iFldNum;
    r->fldOps.push_back(found ? crMODIFY : crADD);
    if (!found) f.iFldNum = 0;
    if (f.iSubType == fldstAUTOINC) f.iSubType = 0;  // keep the stored numbers
    r->flds.push_back(f);
  }
}

void MergeChecks(const TableStructure& live, const TableStructure& ref, RestructureRequest* r) {
  for (const VCHKDesc& c : ref.checks) {
    bool found = false;
    for (const VCHKDesc& l : live.checks) found = found || l.iFldNum == c.iFldNum;
    r->chkOps.push_back(found ? crMODIFY : crADD);
    r->chks.push_back(c);
  }
  for (const VCHKDesc& l : live.checks) {
    bool listed = false;
    for (const VCHKDesc& c : r->chks) listed = listed || c.iFldNum == l.iFldNum;
    if (listed) continue;
    r->chkOps.push_back(crDROP);
    r->chks.push_back(l);
  }
}

void MergeIndexes(const TableStructure& live, const TableStructure& ref, RestructureRequest* r) {
  for (const IDXDesc& x : ref.indexes) {
    bool found = false;
    for (const IDXDesc& l : live.indexes) found = found || std::strcmp(l.szName, x.szName) == 0;
    r->idxOps.push_back(found ? crMODIFY : crADD);
    r->idxs.push_back(x);
  }
  for (const IDXDesc& l : live.indexes) {
    bool listed = false;
    for (const IDXDesc& x : r->idxs) listed = listed || std::strcmp(l.szName, x.szName) == 0;
    if (listed) continue;
    r->idxOps.push_back(crDROP);
    r->idxs.push_back(l);
  }
}

void MergeLinks(const TableStructure& live, const TableStructure& ref, const std::string& dir,
                RestructureRequest* r) {
  for (RINTDesc x : ref.links) {
    if (x.eType == rintMASTER) break;  // only the leading run of dependent links
    std::snprintf(x.szTblName, sizeof x.szTblName, "%s/%s", dir.c_str(),
                  FileNameOf(x.szTblName).c_str());
    bool found = false;
    for (const RINTDesc& l : live.links)
      found = found || std::strcmp(l.szRintName, x.szRintName) == 0;
    r->rintOps.push_back(found ? crDROP : crADD);
    r->rints.push_back(x);
  }
  const std::size_t n = r->rints.size();
  for (std::size_t i = 0; i < n; ++i) {
    if (r->rintOps[i] != crDROP) continue;
    r->rintOps.push_back(crADD);
    r->rints.push_back(r->rints[i]);
  }
  for (const RINTDesc& l : live.links) {
    bool listed = false;
    for (const RINTDesc& x : r->rints)
      listed = listed || std::strcmp(l.szRintName, x.szRintName) == 0;
    if (listed || l.eType != rintDEPENDENT) continue;
    r->rintOps.push_back(crDROP);
    r->rints.push_back(l);
  }
}

}  // namespace

void RestructureRequest::Bind() {
  desc.iFldCount = static_cast<std::uint16_t>(flds.size());
  desc.pecrFldOp = fldOps.data();
  desc.pfldDesc = flds.data();
  desc.iIdxCount = static_cast<std::uint16_t>(idxs.size());
  desc.pecrIdxOp = idxOps.data();
  desc.pidxDesc = idxs.data();
  desc.iValChkCount = static_cast<std::uint16_t>(chks.size());
  desc.pecrValChkOp = chkOps.data();
  desc.pvchkDesc = chks.data();
  desc.iRintCount = static_cast<std::uint16_t>(rints.size());
  desc.pecrRintOp = rintOps.data();
  desc.printDesc = rints.data();
  optParams.clear();
  optData.clear();
  if (!reference.empty()) {
    FLDDesc param{};
    std::snprintf(param.szName, sizeof param.szName, "%s", szCRREFERENCE);
    param.iLen = static_cast<std::uint16_t>(reference.size() + 1);
    optParams.push_back(param);
    optData.assign(reference.begin(), reference.end());
    optData.push_back('\0');
  }
  desc.iOptParams = static_cast<std::uint16_t>(optParams.size());
  desc.pfldOptParams = optParams.empty() ? nullptr : optParams.data();
  desc.pOptData = optData.empty() ? nullptr : optData.data();
}

std::string OptionalParam(const CRTblDesc& desc, const char* name) {
  if (!desc.pfldOptParams || !desc.pOptData) return "";
  const char* data = static_cast<const char*>(desc.pOptData);
  for (std::uint16_t i = 0; i < desc.iOptParams; ++i) {
    const FLDDesc& p = desc.pfldOptParams[i];
    if (std::strncmp(p.szName, name, sizeof p.szName) != 0) continue;
    const std::string value(data + p.iOffset, p.iLen);
    return value.substr(0, value.find('\0'));
  }
  return "";
}

RestructureRequest BuildLikeRequest(const TableStructure& live, const TableStructure& ref,
                                    const std::string& table_name, const std::string& target_dir,
                                    const std::string& ref_path) {
  RestructureRequest r;
  r.reference = ref_path;
  std::snprintf(r.desc.szTblName, sizeof r.desc.szTblName, "%s", table_name.c_str());
  std::snprintf(r.desc.szTblType, sizeof r.desc.szTblType, "PARADOX");
  r.desc.bPack = true;
  MergeFields(live, ref, &r);
  MergeChecks(live, ref, &r);
  MergeIndexes(live, ref, &r);
  MergeLinks(live, ref, target_dir, &r);
  r.Bind();
  return r;
}

}  // namespace engine
