#include "RestructureLike.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "TableFiles.h"

namespace engine {

namespace {

bool SameName(const char* a, const char* b) { return std::strcmp(a, b) == 0; }

bool HasFieldNumber(const std::vector<VCHKDesc>& list, std::uint16_t number) {
  for (const VCHKDesc& d : list) {
    if (d.iFldNum == number) return true;
  }
  return false;
}

template <typename Desc, std::size_t N>
bool HasName(const std::vector<Desc>& list, const char* name, char (Desc::*field)[N]) {
  for (const Desc& d : list) {
    if (SameName(d.*field, name)) return true;
  }
  return false;
}

}  // namespace

TOpList<FLDDesc> MergeFields(const std::vector<FLDDesc>& ref, const std::vector<FLDDesc>& live) {
  TOpList<FLDDesc> out;
  for (FLDDesc field : ref) {
    std::uint16_t source = 0;
    for (std::size_t j = 0; j < live.size(); ++j) {
      if (live[j].iFldNum == field.iFldNum) {
        source = static_cast<std::uint16_t>(j + 1);
        break;
      }
    }
    field.iFldNum = source;
    if (field.iSubType == fldstAUTOINC) field.iSubType = fldstNONE;
    out.Add(source ? crMODIFY : crADD, field);
  }
  return out;
}

TOpList<VCHKDesc> MergeChecks(const std::vector<VCHKDesc>& ref, const std::vector<VCHKDesc>& live) {
  TOpList<VCHKDesc> out;
  for (const VCHKDesc& check : ref) {
    out.Add(HasFieldNumber(live, check.iFldNum) ? crMODIFY : crADD, check);
  }
  for (const VCHKDesc& check : live) {
    if (!HasFieldNumber(out.Descs, check.iFldNum)) out.Add(crDROP, check);
  }
  return out;
}

TOpList<IDXDesc> MergeIndexes(const std::vector<IDXDesc>& ref, const std::vector<IDXDesc>& live) {
  TOpList<IDXDesc> out;
  for (const IDXDesc& index : ref) {
    out.Add(HasName(live, index.szName, &IDXDesc::szName) ? crMODIFY : crADD, index);
  }
  for (const IDXDesc& index : live) {
    if (!HasName(out.Descs, index.szName, &IDXDesc::szName)) out.Add(crDROP, index);
  }
  return out;
}

TOpList<IDXDesc> StripIndexes(const std::vector<IDXDesc>& live) {
  TOpList<IDXDesc> out;
  for (std::size_t i = 0; i < live.size(); ++i) out.Add(i == 0 ? crMODIFY : crDROP, live[i]);
  return out;
}

void PointInto(RINTDesc& link, const std::string& dir) {
  std::string path(link.szTblName);
  const auto slash = path.find_last_of("/\\");
  if (slash != std::string::npos) path.erase(0, slash + 1);
  path = dir + "/" + path;
  const std::size_t n = std::min(path.size(), sizeof link.szTblName - 1);
  std::memcpy(link.szTblName, path.data(), n);
  link.szTblName[n] = '\0';
}

TOpList<RINTDesc> MergeLinks(const std::vector<RINTDesc>& ref, const std::vector<RINTDesc>& live,
                             const std::string& targetDir) {
  TOpList<RINTDesc> out;
  // Master-side descriptors are kept by the engine from the dependent's
  // side; only this table's own (dependent) links are requested. Every one
  // of them, wherever the engine lists it among the master-side ones.
  for (RINTDesc link : ref) {
    if (link.eType != rintDEPENDENT) continue;
    PointInto(link, targetDir);
    out.Add(HasName(live, link.szRintName, &RINTDesc::szRintName) ? crDROP : crADD, link);
  }
  const std::size_t merged = out.Descs.size();
  for (std::size_t i = 0; i < merged; ++i) {
    if (out.Ops[i] == crDROP) out.Add(crADD, RINTDesc(out.Descs[i]));
  }
  for (RINTDesc link : live) {
    if (link.eType == rintDEPENDENT &&
        !HasName(out.Descs, link.szRintName, &RINTDesc::szRintName)) {
      PointInto(link, targetDir);
      out.Add(crDROP, link);
    }
  }
  return out;
}

TOpList<RINTDesc> StripLinks(const std::vector<RINTDesc>& live, const std::string& targetDir) {
  TOpList<RINTDesc> out;
  for (RINTDesc link : live) {
    if (link.eType != rintDEPENDENT) continue;
    PointInto(link, targetDir);
    out.Add(crDROP, link);
  }
  return out;
}


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
  const TOpList<FLDDesc> fields = MergeFields(ref.fields, live.fields);
  const TOpList<VCHKDesc> checks = MergeChecks(ref.checks, live.checks);
  const TOpList<IDXDesc> indexes = MergeIndexes(ref.indexes, live.indexes);
  const TOpList<RINTDesc> links = MergeLinks(ref.links, live.links, target_dir);
  r.fldOps = fields.Ops;
  r.flds = fields.Descs;
  r.chkOps = checks.Ops;
  r.chks = checks.Descs;
  r.idxOps = indexes.Ops;
  r.idxs = indexes.Descs;
  r.rintOps = links.Ops;
  r.rints = links.Descs;
  r.Bind();
  return r;
}

}  // namespace engine
