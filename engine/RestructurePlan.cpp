#include "RestructurePlan.h"

#include "DataFileHeader.h"
#include "TableFiles.h"

#include <strings.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace engine {

namespace {

Status BadRequest(const std::string& what) { return Status(DBIERR_INVALIDRESTRUCTURE, what); }

bool SameField(const FieldDesc& a, const FieldDesc& b) {
  return a.name == b.name && a.type == b.type && a.size == b.size && a.decimals == b.decimals;
}

bool IsPrimaryDesc(const IDXDesc& d) { return d.bPrimary || d.szName[0] == '\0'; }

CROpType OpAt(const CROpType* ops, int i, CROpType fallback) { return ops ? ops[i] : fallback; }

// An index file's extension in the case its name takes (TableFiles.h).
std::string CaseExt(const RestructurePlan& plan, const std::string& ext) {
  return CompanionExtension(plan.targetPath, ext, plan.sourcePath);
}

Status PlanProtection(const DataFileHeader& h, const CRTblDesc& req, TableDefinition* def) {
  if (!req.bProtected) return Status::OK();
  const std::string password(req.szPassword, strnlen(req.szPassword, sizeof req.szPassword));
  if (!password.empty()) {
    def->password = password;
  } else if (h.key != 0) {
    def->key = h.key;  // protected as before, with its own password
  } else {
    return BadRequest("a protected table needs a password");
  }
  return Status::OK();
}

IndexedField IndexedOf(const std::vector<FieldDesc>& fields, int position) {
  const FieldDesc& f = fields[static_cast<std::size_t>(position)];
  return IndexedField{static_cast<std::uint16_t>(position + 1), KeyFieldOf(f), f.name};
}

Status PlanFromDesc(const IDXDesc& d, const std::vector<FieldDesc>& fields, SecondaryPlan* out) {
  if (d.iFldsInKey == 0 || d.iFldsInKey > DBIMAXFLDSINKEY)
    return BadRequest("an index needs 1 to 16 fields");
  SecondaryPlan plan;
  plan.name = std::string(d.szName, strnlen(d.szName, sizeof d.szName));
  for (std::uint16_t i = 0; i < d.iFldsInKey; ++i) {
    const std::uint16_t n = d.aiKeyFld[i];
    if (n == 0 || n > fields.size() || IsBlobType(fields[n - 1].type)) {
      return BadRequest("index " + plan.name + " names a field that cannot be indexed");
    }
    plan.def.fields.push_back(IndexedOf(fields, n - 1));
  }
  plan.def.composite = d.iFldsInKey > 1 ||
                       ::strcasecmp(plan.name.c_str(), fields[d.aiKeyFld[0] - 1].name.c_str()) != 0;
  plan.def.name = plan.def.composite ? plan.name : "";
  plan.def.descending = d.bDescending;
  *out = std::move(plan);
  return Status::OK();
}

// The source's secondary indexes carried to the new field list; an index
// whose field is gone goes with it.
std::vector<SecondaryPlan> CarryIndexes(const TableStructure& src, const RestructurePlan& plan) {
  std::vector<int> newOf(src.fields.size(), -1);
  for (std::size_t i = 0; i < plan.sourceOf.size(); ++i) {
    const int s = plan.sourceOf[i];
    if (s >= 0 && newOf[static_cast<std::size_t>(s)] < 0)
      newOf[static_cast<std::size_t>(s)] = static_cast<int>(i);
  }
  std::vector<SecondaryPlan> out;
  const std::size_t first = !src.indexes.empty() && src.indexes[0].bPrimary ? 1 : 0;
  for (std::size_t k = 0; k < src.stored->secondaries.size(); ++k) {
    const SecondaryIndexFile& file = src.stored->secondaries[k];
    SecondaryPlan p;
    p.name = src.indexes[first + k].szName;
    p.def = file.index.Def();
    p.def.fields.clear();
    bool whole = true;
    for (const IndexedField& f : file.index.Def().fields) {
      const int at = f.number >= 1 && f.number <= newOf.size() ? newOf[f.number - 1u] : -1;
      whole = whole && at >= 0 && !IsBlobType(plan.def.fields[static_cast<std::size_t>(at)].type);
      if (whole) p.def.fields.push_back(IndexedOf(plan.def.fields, at));
    }
    if (!whole || p.def.fields.empty()) continue;
    if (!p.def.composite) p.name = p.def.fields[0].name;
    p.params = file.index.Params();
    p.ext = UpperExtension(file.xPath);
    p.xTemplate = file.index.Header();
    p.yTemplate = file.yHeader;
    out.push_back(std::move(p));
  }
  return out;
}

// File names: a one-field index is named after its field's number; a
// composite one takes the first free XGn.
void NameIndexFiles(RestructurePlan* plan) {
  std::vector<bool> used(16, false);
  for (const SecondaryPlan& p : plan->secondaries) {
    if (p.def.composite && p.ext.size() == 3 && p.ext[1] == 'G') {
      used[static_cast<std::size_t>(std::stoi(p.ext.substr(2), nullptr, 16))] = true;
    }
  }
  for (SecondaryPlan& p : plan->secondaries) {
    char ext[8];
    if (!p.def.composite) {
      std::snprintf(ext, sizeof ext, "X%02X", p.def.fields[0].number);
      p.ext = ext;
    } else if (p.ext.size() != 3 || p.ext[1] != 'G') {
      std::size_t n = 0;
      while (n < used.size() && used[n]) ++n;
      used[n % used.size()] = true;
      std::snprintf(ext, sizeof ext, "XG%X", static_cast<unsigned>(n % 16));
      p.ext = ext;
    }
    p.ext = CaseExt(*plan, p.ext);
    p.params.fileName = plan->targetStem + "." + p.ext;
  }
}

}  // namespace

KeyField KeyFieldOf(const FieldDesc& f) {
  KeyField k;
  k.type = static_cast<std::uint8_t>(f.type);
  k.size = static_cast<std::uint16_t>(f.size);
  k.decimals = static_cast<std::uint8_t>(f.type == FieldType::Bcd ? f.decimals : 0);
  return k;
}

Status PlanFields(const ParadoxTable& source, const CRTblDesc& req, RestructurePlan* plan) {
  const DataFileHeader& h = source.Header();
  plan->sourceHeader = h;
  // A 3.x header has field data where later levels keep their extended
  // header; carry only the common part forward.
  if (!h.Extended() && plan->sourceHeader.raw.size() > DataFileHeader::kCommonLength) {
    plan->sourceHeader.raw.resize(DataFileHeader::kCommonLength);
  }
  TableDefinition& def = plan->def;
  def.code_page = source.TextCodePage();
  def.block_size_kb = h.block_size_code;
  if (req.iFldCount == 0) {
    def.fields = h.fields;
    for (std::size_t i = 0; i < h.fields.size(); ++i) plan->sourceOf.push_back(static_cast<int>(i));
    plan->renumber.assign(h.fields.size(), false);
  } else {
    if (!req.pfldDesc) return BadRequest("the field list has no descriptors");
    for (int i = 0; i < req.iFldCount; ++i) {
      const FLDDesc& d = req.pfldDesc[i];
      const CROpType op = OpAt(req.pecrFldOp, i, d.iFldNum ? crMODIFY : crADD);
      if (op != crADD && op != crMODIFY && op != crCOPY)
        return BadRequest("unknown field operation");
      FieldDesc f;
      Status s = FromFldDesc(d, &f);
      if (!s.ok()) return s;
      const bool fromSource = op != crADD && d.iFldNum != 0;
      if (fromSource && d.iFldNum > h.fields.size()) {
        return BadRequest("field " + f.name + " names a source field the table lacks");
      }
      def.fields.push_back(f);
      plan->sourceOf.push_back(fromSource ? d.iFldNum - 1 : -1);
      plan->renumber.push_back(fromSource && f.type == FieldType::AutoInc &&
                               d.iSubType == fldstAUTOINC);
    }
  }
  plan->fieldsChanged = def.fields.size() != h.fields.size();
  for (std::size_t i = 0; i < def.fields.size() && !plan->fieldsChanged; ++i) {
    plan->fieldsChanged =
        plan->sourceOf[i] != static_cast<int>(i) || !SameField(def.fields[i], h.fields[i]);
  }
  def.key_fields = std::min<int>(h.key_fields, static_cast<int>(def.fields.size()));
  return PlanProtection(h, req, &def);
}

namespace {

// One index operation of a request; drops come in the first pass.
Status ApplyIndexOp(const IDXDesc& d, CROpType op, RestructurePlan* plan) {
  if (IsPrimaryDesc(d)) {
    if (op == crDROP) {
      plan->def.key_fields = 0;
      return Status::OK();
    }
    for (std::uint16_t k = 0; k < d.iFldsInKey; ++k) {
      if (d.aiKeyFld[k] != k + 1) return BadRequest("the primary key must be the leading fields");
    }
    if (d.iFldsInKey > plan->def.fields.size())
      return BadRequest("the primary key names missing fields");
    plan->def.key_fields = d.iFldsInKey;
    return Status::OK();
  }
  const std::string name(d.szName, strnlen(d.szName, sizeof d.szName));
  auto& list = plan->secondaries;
  auto at = std::find_if(list.begin(), list.end(),
                         [&](const SecondaryPlan& p) { return p.name == name; });
  if (op == crDROP) {
    if (at != list.end()) list.erase(at);
    return Status::OK();
  }
  SecondaryPlan p;
  Status s = PlanFromDesc(d, plan->def.fields, &p);
  if (!s.ok()) return s;
  if (at == list.end()) {
    list.push_back(std::move(p));
    return s;
  }
  at->def.fields = p.def.fields;  // the file's templates and counts carry forward
  at->def.composite = p.def.composite;
  at->def.name = p.def.name;
  at->def.descending = p.def.descending;
  return s;
}

}  // namespace

Status PlanIndexes(const TableStructure& src, const CRTblDesc& req, RestructurePlan* plan) {
  plan->secondaries = CarryIndexes(src, *plan);
  if (src.hasPrimaryFile) {
    plan->pxTemplate = src.stored->primary.Header();
    plan->pxUpdateCount = src.stored->primary.Params().updateCount;
    plan->pxBlockCode = src.stored->primary.Params().blockSizeCode;
  }
  if (req.iIdxCount && !req.pidxDesc) return BadRequest("the index list has no descriptors");
  for (int pass = 0; pass < 2; ++pass) {  // drops first, then adds
    for (int i = 0; i < req.iIdxCount; ++i) {
      const CROpType op = OpAt(req.pecrIdxOp, i, crADD);
      if ((op == crDROP) != (pass == 0)) continue;
      Status s = ApplyIndexOp(req.pidxDesc[i], op, plan);
      if (!s.ok()) return s;
    }
  }
  for (int k = 0; k < plan->def.key_fields; ++k) {
    if (IsBlobType(plan->def.fields[static_cast<std::size_t>(k)].type)) {
      return BadRequest("a blob field cannot be part of the primary key");
    }
  }
  for (SecondaryPlan& p : plan->secondaries) {
    p.def.maintained = plan->Keyed();
    p.def.keyFields.clear();
    for (int k = 0; k < plan->def.key_fields; ++k)
      p.def.keyFields.push_back(IndexedOf(plan->def.fields, k));
  }
  NameIndexFiles(plan);
  return Status::OK();
}

}  // namespace engine
