#include "RestructurePreview.h"

#include <strings.h>

#include <algorithm>
#include <cstring>

#include "Env.h"
#include "Journal.h"
#include "ParadoxTable.h"
#include "RestructureLike.h"
#include "TableFiles.h"

namespace engine {

namespace {

bool SameNoCase(const char* a, const char* b) { return ::strcasecmp(a, b) == 0; }

std::string TypeText(const FLDDesc& f) {
  std::string t(1, f.iFldType);
  if (f.iUnits1 > 0) t += std::to_string(f.iUnits1);
  if (f.iFldType == '#' && f.iUnits2 > 0) t += "." + std::to_string(f.iUnits2);
  return t;
}

std::string FieldName(const std::vector<FLDDesc>& fields, std::uint16_t number) {
  return number >= 1 && number <= fields.size() ? fields[number - 1].szName
                                                : "#" + std::to_string(number);
}

const IDXDesc* Primary(const TableStructure& t) {
  for (const IDXDesc& i : t.indexes)
    if (i.bPrimary) return &i;
  return nullptr;
}

std::string KeyText(const TableStructure& t) {
  const IDXDesc* key = Primary(t);
  std::string text;
  for (std::uint16_t i = 0; key && i < key->iFldsInKey; ++i)
    text += (i ? ", " : "") + FieldName(t.fields, key->aiKeyFld[i]);
  return text;
}

bool SameKeyFields(const IDXDesc* a, const IDXDesc* b) {
  if (!a || !b) return a == b;
  return a->iFldsInKey == b->iFldsInKey &&
         std::equal(a->aiKeyFld, a->aiKeyFld + a->iFldsInKey, b->aiKeyFld);
}

bool SameIndex(const IDXDesc& a, const IDXDesc& b) {
  return SameKeyFields(&a, &b) && a.bUnique == b.bUnique && a.bDescending == b.bDescending &&
         a.bCaseInsensitive == b.bCaseInsensitive;
}

bool SameCheck(const VCHKDesc& a, const VCHKDesc& b) {
  const auto same_value = [&](const std::uint8_t* x, const std::uint8_t* y) {
    return std::memcmp(x, y, std::min<std::size_t>(a.iValLen, DBIMAXVCHKLEN)) == 0;
  };
  return a.bRequired == b.bRequired && a.bHasMinVal == b.bHasMinVal &&
         a.bHasMaxVal == b.bHasMaxVal && a.bHasDefVal == b.bHasDefVal && a.iValLen == b.iValLen &&
         (!a.bHasMinVal || same_value(a.aMinVal, b.aMinVal)) &&
         (!a.bHasMaxVal || same_value(a.aMaxVal, b.aMaxVal)) &&
         (!a.bHasDefVal || same_value(a.aDefVal, b.aDefVal)) &&
         std::strcmp(a.szPict, b.szPict) == 0 && a.elkupType == b.elkupType &&
         SameNoCase(FileNameOf(a.szLkupTblName).c_str(), FileNameOf(b.szLkupTblName).c_str());
}

bool SameLink(const RINTDesc& a, const RINTDesc& b) {
  return SameNoCase(FileNameOf(a.szTblName).c_str(), FileNameOf(b.szTblName).c_str()) &&
         a.eModOp == b.eModOp && a.iFldCount == b.iFldCount &&
         std::equal(a.aiThisTabFld, a.aiThisTabFld + a.iFldCount, b.aiThisTabFld) &&
         std::equal(a.aiOthTabFld, a.aiOthTabFld + a.iFldCount, b.aiOthTabFld);
}

void DiffFields(const std::vector<FLDDesc>& live, const std::vector<FLDDesc>& ref,
                std::vector<PlanChange>* out) {
  const auto place_in_ref = [&](const char* name) -> std::size_t {
    for (std::size_t k = 0; k < ref.size(); ++k)
      if (SameNoCase(ref[k].szName, name)) return k;
    return ref.size();
  };
  for (std::size_t p = 0; p < std::min(live.size(), ref.size()); ++p) {
    const FLDDesc& l = live[p];
    const FLDDesc& r = ref[p];
    if (!SameNoCase(l.szName, r.szName)) {
      const std::size_t k = place_in_ref(l.szName);
      if (k < ref.size())
        out->push_back({PlanChange::FieldMoved, l.szName, std::to_string(p + 1),
                        std::to_string(k + 1)});
      else
        out->push_back({PlanChange::FieldRenamed, l.szName, "", r.szName});
    }
    if (l.iFldType != r.iFldType)
      out->push_back({PlanChange::FieldRetyped, r.szName, TypeText(l), TypeText(r)});
    else if (r.iUnits1 < l.iUnits1 || r.iUnits2 < l.iUnits2)
      out->push_back({PlanChange::FieldNarrowed, r.szName, TypeText(l), TypeText(r)});
  }
  for (std::size_t p = ref.size(); p < live.size(); ++p)
    out->push_back({PlanChange::FieldRemoved, live[p].szName, TypeText(live[p]), ""});
  for (std::size_t p = live.size(); p < ref.size(); ++p)
    out->push_back({PlanChange::FieldAdded, ref[p].szName, "", TypeText(ref[p])});
}

}  // namespace

const char* PlanChangeName(PlanChange::Kind kind) {
  static const char* const names[] = {
      "field added",   "field removed", "field retyped", "field narrowed", "field moved",
      "field renamed", "key changed",   "index added",   "index dropped",  "index changed",
      "check added",   "check dropped", "check changed", "link added",     "link dropped",
      "link changed"};
  return names[kind];
}

std::vector<PlanChange> DiffStructures(const TableStructure& live, const TableStructure& ref) {
  std::vector<PlanChange> out;
  DiffFields(live.fields, ref.fields, &out);
  if (!SameKeyFields(Primary(live), Primary(ref)))
    out.push_back({PlanChange::KeyChanged, "", KeyText(live), KeyText(ref)});

  const TOpList<IDXDesc> indexes = MergeIndexes(ref.indexes, live.indexes);
  for (int i = 0; i < indexes.Count(); ++i) {
    const IDXDesc& d = indexes.Descs[i];
    if (d.bPrimary) continue;
    if (indexes.Ops[i] == crADD) out.push_back({PlanChange::IndexAdded, d.szName, "", ""});
    if (indexes.Ops[i] == crDROP) out.push_back({PlanChange::IndexDropped, d.szName, "", ""});
    if (indexes.Ops[i] != crMODIFY) continue;
    for (const IDXDesc& old : live.indexes)
      if (std::strcmp(old.szName, d.szName) == 0 && !SameIndex(old, d))
        out.push_back({PlanChange::IndexChanged, d.szName, "", ""});
  }

  const TOpList<VCHKDesc> checks = MergeChecks(ref.checks, live.checks);
  for (int i = 0; i < checks.Count(); ++i) {
    const VCHKDesc& d = checks.Descs[i];
    if (checks.Ops[i] == crDROP) {
      out.push_back({PlanChange::CheckDropped, FieldName(live.fields, d.iFldNum), "", ""});
      continue;
    }
    const std::string field = FieldName(ref.fields, d.iFldNum);
    if (checks.Ops[i] == crADD) out.push_back({PlanChange::CheckAdded, field, "", ""});
    for (const VCHKDesc& old : live.checks)
      if (checks.Ops[i] == crMODIFY && old.iFldNum == d.iFldNum && !SameCheck(old, d))
        out.push_back({PlanChange::CheckChanged, field, "", ""});
  }

  // Links by name, as the merge takes them: the dependent side only.
  const auto find = [](const std::vector<RINTDesc>& list, const RINTDesc& link) {
    return std::find_if(list.begin(), list.end(), [&](const RINTDesc& d) {
      return d.eType == rintDEPENDENT && std::strcmp(d.szRintName, link.szRintName) == 0;
    });
  };
  for (const RINTDesc& r : ref.links) {
    if (r.eType != rintDEPENDENT) continue;
    const auto l = find(live.links, r);
    if (l == live.links.end())
      out.push_back({PlanChange::LinkAdded, r.szRintName, "", FileNameOf(r.szTblName)});
    else if (!SameLink(*l, r))
      out.push_back({PlanChange::LinkChanged, r.szRintName, FileNameOf(l->szTblName),
                     FileNameOf(r.szTblName)});
  }
  for (const RINTDesc& l : live.links)
    if (l.eType == rintDEPENDENT && find(ref.links, l) == ref.links.end())
      out.push_back({PlanChange::LinkDropped, l.szRintName, FileNameOf(l.szTblName), ""});
  return out;
}

namespace {

// Reads a structure without writing: no pending replacement is finished.
Status ReadForPlan(const std::string& path, const std::string& password, TableStructure* out,
                   bool* prot) {
  OpenOptions open;
  open.useHeaderKey = true;
  open.lock = false;
  open.recover = false;
  if (!password.empty()) open.passwords.push_back(password);
  Status s = CheckNothingPending(Env::Default(), path);
  std::unique_ptr<ParadoxTable> table;
  if (s.ok()) s = ParadoxTable::Open(path, open, &table);
  if (s.ok()) s = ReadTableStructure(Env::Default(), *table, out);
  if (s.ok()) *prot = table->Protected();
  return s;
}

}  // namespace

TablePlan PlanLike(const std::string& live_path, const std::string& ref_path,
                   const std::string& password, std::size_t examples) {
  TablePlan plan;
  plan.table = BaseName(live_path);
  plan.livePath = live_path;
  plan.refPath = ref_path;
  TableStructure live, ref;
  bool live_protected = false, ref_protected = false;
  plan.status = ReadForPlan(live_path, password, &live, &live_protected);
  if (plan.status.ok()) plan.status = ReadForPlan(ref_path, password, &ref, &ref_protected);
  if (!plan.status.ok()) return plan;
  plan.changes = DiffStructures(live, ref);
  RestructureRequest request =
      BuildLikeRequest(live, ref, plan.table, DirName(live_path), ref_path);
  request.desc.bProtected = live_protected || (ref_protected && !password.empty());
  std::snprintf(request.desc.szPassword, sizeof request.desc.szPassword, "%s", password.c_str());
  RestructureOptions options;
  options.useHeaderKey = true;
  options.dryRun = true;
  options.examples = examples;
  if (!password.empty()) options.passwords.push_back(password);
  plan.status = RestructureTable(live_path, request.desc, options, &plan.report);
  if (!plan.status.ok()) plan.changes.clear();
  return plan;
}

std::vector<TablePlan> PlanDatabase(const std::string& folder, const std::string& password,
                                    std::size_t examples) {
  Env* env = Env::Default();
  const std::string meta = FindNoCase(folder, "METADATA");
  const auto tables = [env](const std::string& dir) {
    std::vector<std::string> names, out;
    env->ListDir(dir, &names);
    for (const std::string& n : names)
      if (UpperExtension(n) == "DB") out.push_back(n);
    std::sort(out.begin(), out.end(), [](const std::string& a, const std::string& b) {
      return ::strcasecmp(a.c_str(), b.c_str()) < 0;
    });
    return out;
  };
  std::vector<TablePlan> plans;
  const std::vector<std::string> refs = tables(meta);
  for (const std::string& name : tables(folder)) {
    const std::string ref = FindNoCase(meta, name);
    if (env->Exists(ref)) {
      plans.push_back(PlanLike(folder + "/" + name, ref, password, examples));
      continue;
    }
    TablePlan missing;
    missing.table = name;
    missing.livePath = folder + "/" + name;
    missing.status = Status::NotFound("no reference table in METADATA").WithContext(ref);
    plans.push_back(std::move(missing));
  }
  for (const std::string& name : refs) {
    if (env->Exists(FindNoCase(folder, name))) continue;
    TablePlan missing;
    missing.table = name;
    missing.refPath = meta + "/" + name;
    missing.status = Status::NotFound("no live table for this reference").WithContext(folder);
    plans.push_back(std::move(missing));
  }
  return plans;
}

}  // namespace engine
