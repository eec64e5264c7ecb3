// The .VAL side of a restructure: checks and links follow the fields to
// their new places, the request's changes are applied (a change that
// restates what is there already is no change, so an untouched file stays
// byte-equal), and a link added to or dropped from a dependent table is
// mirrored in its master's file.
#include <limits.h>
#include <stdlib.h>
#include <strings.h>

#include <algorithm>
#include <cstring>
#include <map>

#include "DataFileHeader.h"
#include "RestructureLike.h"
#include "RestructurePlan.h"
#include "TableFiles.h"

namespace engine {

namespace {

std::string Text(const char* s, std::size_t cap) { return std::string(s, strnlen(s, cap)); }

// A new .VAL carries its table's file level (0x09 to 0x0B in every file seen).
std::uint8_t ValLevelFor(std::uint8_t version_id) {
  return static_cast<std::uint8_t>(std::clamp<int>(version_id < 9 ? 12 : version_id, 0x09, 0x0B));
}

bool SameCheck(const VCHKDesc& a, const VCHKDesc& b) {
  const std::size_t n = std::min<std::size_t>(a.iValLen, DBIMAXVCHKLEN);
  return a.iFldNum == b.iFldNum && a.bRequired == b.bRequired && a.bHasMinVal == b.bHasMinVal &&
         a.bHasMaxVal == b.bHasMaxVal && a.bHasDefVal == b.bHasDefVal && a.iValLen == b.iValLen &&
         std::memcmp(a.aMinVal, b.aMinVal, n) == 0 && std::memcmp(a.aMaxVal, b.aMaxVal, n) == 0 &&
         std::memcmp(a.aDefVal, b.aDefVal, n) == 0 &&
         Text(a.szPict, sizeof a.szPict) == Text(b.szPict, sizeof b.szPict) &&
         a.elkupType == b.elkupType &&
         ::strcasecmp(FileNameOf(a.szLkupTblName).c_str(), FileNameOf(b.szLkupTblName).c_str()) ==
             0;
}

bool SameLink(const RINTDesc& a, const RINTDesc& b) {
  if (a.eType != b.eType || a.iFldCount != b.iFldCount ||
      Text(a.szRintName, sizeof a.szRintName) != Text(b.szRintName, sizeof b.szRintName) ||
      ::strcasecmp(FileNameOf(a.szTblName).c_str(), FileNameOf(b.szTblName).c_str()) != 0) {
    return false;
  }
  if (a.eType == rintDEPENDENT && a.eModOp != b.eModOp) return false;
  for (std::uint16_t i = 0; i < a.iFldCount && i < DBIMAXFLDSINKEY; ++i) {
    if (a.aiThisTabFld[i] != b.aiThisTabFld[i] || a.aiOthTabFld[i] != b.aiOthTabFld[i])
      return false;
  }
  return true;
}

// Moves the checks and links to the new field positions.
void RemapFields(const RestructurePlan& plan, ValFile* val) {
  std::vector<int> newOf(val->Fields().size() + 256, -1);
  for (std::size_t i = 0; i < plan.sourceOf.size(); ++i) {
    const int s = plan.sourceOf[i];
    if (s >= 0 && newOf[static_cast<std::size_t>(s)] < 0)
      newOf[static_cast<std::size_t>(s)] = static_cast<int>(i);
  }
  std::vector<ValField> fields;
  for (std::size_t i = 0; i < plan.def.fields.size(); ++i) {
    const FieldDesc& f = plan.def.fields[i];
    fields.push_back({static_cast<std::uint16_t>(i + 1), static_cast<std::uint8_t>(f.type),
                      static_cast<std::uint8_t>(f.size), f.name});
  }
  val->Fields() = fields;
  std::vector<ValCheck> checks;
  for (ValCheck c : val->Checks()) {
    if (newOf[c.field] < 0) continue;
    c.field = static_cast<std::uint8_t>(newOf[c.field]);
    checks.push_back(c);
  }
  val->Checks() = checks;
  auto moved = [&](std::vector<std::uint16_t>& numbers) {
    for (std::uint16_t& n : numbers) {
      if (n == 0 || newOf[n - 1u] < 0) return false;
      n = static_cast<std::uint16_t>(newOf[n - 1u] + 1);
    }
    return true;
  };
  std::erase_if(val->MasterLinks(), [&](ValMasterLink& l) { return !moved(l.thisFields); });
  if (!moved(val->MasterKeyFields())) val->Dependents().clear();
  val->SetKeyFieldCount(static_cast<std::uint16_t>(plan.def.key_fields));
}

bool SameFolder(const std::string& a, const std::string& b) {
  char ra[PATH_MAX], rb[PATH_MAX];
  if (!::realpath(a.c_str(), ra) || !::realpath(b.c_str(), rb)) return a == b;
  return std::strcmp(ra, rb) == 0;
}

class MasterFiles {
 public:
  MasterFiles(Env* env, const std::string& target_dir) : env_(env), dir_(target_dir) {}

  // The .VAL of the master a link names; null when the master is missing.
  // A master lists its dependents by file name, so only a master in the
  // folder of the table written knows it: one elsewhere (the live master
  // of a table copied under another name) is not touched.
  Status Get(const std::string& link_path, ValFile** out) {
    const auto cut = link_path.find_last_of("/\\");
    const std::string dir = cut == std::string::npos ? dir_ : link_path.substr(0, cut);
    const std::string db = DataFilePath(dir, FileNameOf(link_path));
    *out = nullptr;
    if (!env_->Exists(db)) return Status::OK();
    if (!SameFolder(dir, dir_)) {
      return Status(DBIERR_INVALIDRESTRUCTURE, "the master table is in another folder")
          .WithContext(link_path);
    }
    const std::string val_path = CompanionPath(db, ".VAL");
    auto it = files_.find(val_path);
    if (it != files_.end()) {
      *out = &it->second;
      return Status::OK();
    }
    ValFile val;
    Status s = Load(db, val_path, &val);
    if (!s.ok()) return s;
    *out = &files_.emplace(val_path, std::move(val)).first->second;
    return Status::OK();
  }

  void Emit(std::vector<OtherValFile>* out) const {
    for (const auto& [path, val] : files_) out->push_back({path, val.empty() ? "" : val.EncodeTo()});
  }

 private:
  Status Load(const std::string& db, const std::string& val_path, ValFile* val) {
    if (env_->Exists(val_path)) {
      std::string bytes;
      Status s = ReadWholeFile(env_, val_path, &bytes);
      if (s.ok()) s = val->DecodeFrom(bytes);
      return s.ok() ? s : s.WithContext(val_path);
    }
    OpenOptions options;
    options.env = env_;
    options.lock = false;
    options.useHeaderKey = true;
    std::unique_ptr<ParadoxTable> master;
    Status s = ParadoxTable::Open(db, options, &master);
    if (!s.ok()) return s;
    std::vector<ValField> fields;
    for (std::size_t i = 0; i < master->Fields().size(); ++i) {
      const FieldDesc& f = master->Fields()[i];
      fields.push_back({static_cast<std::uint16_t>(i + 1), static_cast<std::uint8_t>(f.type),
                        static_cast<std::uint8_t>(f.size), f.name});
    }
    *val = ValFile::Create(ValLevelFor(master->Header().version_id), std::move(fields),
                           master->Header().key_fields);
    // The engine pairs a .VAL with its table by this count.
    val->SetChangeCount(master->Header().change_count2);
    return Status::OK();
  }

  Env* env_;
  std::string dir_;
  std::map<std::string, ValFile> files_;
};

RINTDesc MirrorOf(const RINTDesc& d, const std::string& this_table) {
  RINTDesc m = d;
  m.eType = d.eType == rintDEPENDENT ? rintMASTER : rintDEPENDENT;
  std::snprintf(m.szTblName, sizeof m.szTblName, "%s", this_table.c_str());
  for (std::uint16_t i = 0; i < DBIMAXFLDSINKEY; ++i) {
    m.aiThisTabFld[i] = d.aiOthTabFld[i];
    m.aiOthTabFld[i] = d.aiThisTabFld[i];
  }
  return m;
}

struct LinkWork {
  const CRTblDesc& req;
  const RestructurePlan& plan;
  ValFile& val;
  MasterFiles& masters;
  std::string thisTable;
  bool changed = false;

  std::string FieldName(const RINTDesc& d) const {
    const std::uint16_t n = d.aiThisTabFld[0];
    if (d.iFldCount == 1 && n >= 1 && n <= plan.def.fields.size())
      return plan.def.fields[n - 1].name;
    return Text(d.szRintName, sizeof d.szRintName);
  }

  Status Drop(const RINTDesc& d) {
    const std::string name = Text(d.szRintName, sizeof d.szRintName);
    if (d.eType == rintMASTER) {
      changed = val.DropDependent(name, FileNameOf(d.szTblName)) || changed;
      return Status::OK();
    }
    changed = val.DropMasterLink(name) || changed;
    ValFile* master = nullptr;
    Status s = masters.Get(d.szTblName, &master);
    if (s.code() == DBIERR_INVALIDRESTRUCTURE) return Status::OK();  // not this folder's master
    if (s.ok() && master) master->DropDependent(name, thisTable);
    return s;
  }

  Status Add(const RINTDesc& d) {
    changed = true;
    if (d.eType == rintMASTER) return PutDependent(&val, d, Text(d.szRintName, sizeof d.szRintName));
    Status s = PutMasterLink(&val, d, FieldName(d));
    ValFile* master = nullptr;
    if (s.ok()) s = masters.Get(d.szTblName, &master);
    if (s.ok() && !master) {
      return Status(DBIERR_MASTERMISSING, "the master table of a link is missing")
          .WithContext(d.szTblName);
    }
    return s.ok() ? PutDependent(master, MirrorOf(d, thisTable), FieldName(d)) : s;
  }

  Status Run() {
    const std::vector<RINTDesc> current = LinkDescsOf(val, "");
    std::vector<bool> skip(req.iRintCount, false);
    // A drop followed by an add that restores the same link changes nothing.
    for (int i = 0; i < req.iRintCount; ++i) {
      if (req.pecrRintOp[i] != crDROP) continue;
      for (int j = 0; j < req.iRintCount; ++j) {
        if (skip[j] || req.pecrRintOp[j] != crADD) continue;
        bool same = false;
        for (const RINTDesc& c : current) same = same || SameLink(c, req.printDesc[j]);
        if (same && SameLink(req.printDesc[i], req.printDesc[j])) {
          skip[i] = skip[j] = true;
          break;
        }
      }
    }
    for (int pass = 0; pass < 2; ++pass) {
      for (int i = 0; i < req.iRintCount; ++i) {
        const CROpType op = req.pecrRintOp[i];
        if (skip[i] || (op == crDROP) != (pass == 0)) continue;
        Status s = op == crDROP ? Drop(req.printDesc[i]) : Add(req.printDesc[i]);
        if (!s.ok()) return s;
      }
    }
    return Status::OK();
  }
};

Status ApplyChecks(const CRTblDesc& req, ValFile* val, bool* changed) {
  for (int pass = 0; pass < 2; ++pass) {
    for (int i = 0; i < req.iValChkCount; ++i) {
      const VCHKDesc& d = req.pvchkDesc[i];
      const CROpType op = req.pecrValChkOp ? req.pecrValChkOp[i] : crADD;
      if ((op == crDROP) != (pass == 0)) continue;
      if (op == crDROP) {
        *changed = val->DropCheck(d.iFldNum) || *changed;
        continue;
      }
      bool same = false;
      for (const ValCheck& c : val->Checks()) same = same || SameCheck(CheckDescOf(*val, c), d);
      if (same) continue;
      Status s = PutCheck(val, d);
      if (!s.ok()) return s;
      *changed = true;
    }
  }
  return Status::OK();
}

}  // namespace

namespace {

// The reference's .VAL when it is one the engine carries without decoding
// (level 3.x); empty otherwise. Its checks name fields by position, so the
// new fields must be the reference's.
Status ReferenceLegacyVal(Env* env, const std::string& reference, const RestructurePlan& plan,
                          std::string* bytes) {
  bytes->clear();
  for (const std::string& path : CompanionFiles(reference)) {
    if (UpperExtension(path) != "VAL") continue;
    std::string content;
    ValFile val;
    Status s = ReadWholeFile(env, path, &content);
    if (s.ok()) s = val.DecodeFrom(content);
    if (!s.ok()) return s.WithContext(path);
    if (val.Decoded()) return Status::OK();
    OpenOptions options;
    options.env = env;
    options.lock = false;
    options.useHeaderKey = true;
    std::unique_ptr<ParadoxTable> ref;
    s = ParadoxTable::Open(reference, options, &ref);
    if (!s.ok()) return s;
    bool fits = ref->Fields().size() == plan.def.fields.size();
    for (std::size_t i = 0; fits && i < plan.def.fields.size(); ++i) {
      fits = ref->Fields()[i].type == plan.def.fields[i].type &&
             ref->Fields()[i].size == plan.def.fields[i].size;
    }
    if (!fits) {
      return Status(DBIERR_INVALIDRESTRUCTURE,
                    "the reference's validity checks do not fit the new fields")
          .WithContext(path);
    }
    *bytes = std::move(content);
    return Status::OK();
  }
  return Status::OK();
}

}  // namespace

Status PlanVal(Env* env, const ParadoxTable& source, const TableStructure& st, const CRTblDesc& req,
               RestructurePlan* plan) {
  if ((req.iValChkCount && !req.pvchkDesc) ||
      (req.iRintCount && (!req.printDesc || !req.pecrRintOp))) {
    return Status(DBIERR_INVALIDRESTRUCTURE, "a check or link list has no descriptors");
  }
  const std::string reference = OptionalParam(req, szCRREFERENCE);
  const bool legacy = st.hasVal && !st.stored->val.Decoded();
  if (legacy && reference.empty()) {
    // Older files are carried as they are.
    if (req.iValChkCount || req.iRintCount) {
      return Status(DBIERR_NOTSUPPORTED, "validity checks of this file level are kept as they are")
          .WithContext(st.valPath);
    }
    plan->writeVal = true;
    plan->valBytes = st.valBytes;
    return Status::OK();
  }
  std::string referenceVal;
  if (!reference.empty()) {
    Status s = ReferenceLegacyVal(env, reference, *plan, &referenceVal);
    if (!s.ok()) return s;
  }
  // Checks the descriptors could not carry give way to the reference's.
  const bool hasVal = st.hasVal && !legacy;
  std::vector<ValField> fields;
  ValFile val =
      hasVal ? st.stored->val : ValFile::Create(ValLevelFor(source.Header().version_id), fields, 0);
  bool changed = false;
  const bool keyChanged = plan->def.key_fields != source.Header().key_fields;
  if (plan->fieldsChanged || keyChanged || !hasVal) {
    RemapFields(*plan, &val);
    changed = hasVal;
  }
  Status s = ApplyChecks(req, &val, &changed);
  MasterFiles masters(env, DirName(plan->targetPath));
  LinkWork links{req, *plan, val, masters, FileNameOf(plan->targetPath)};
  if (s.ok()) s = links.Run();
  if (!s.ok()) return s;
  changed = changed || links.changed;
  masters.Emit(&plan->otherVals);
  if (!referenceVal.empty()) {
    // A level 3.x file holds checks only: the reference's replace the lot.
    ValFile carried;
    s = carried.DecodeFrom(referenceVal);
    if (!s.ok()) return s;
    carried.SetChangeCount(source.Header().change_count2);
    plan->writeVal = true;
    plan->valBytes = carried.EncodeTo();
  } else if (hasVal && !changed) {
    plan->writeVal = true;
    plan->valBytes = st.valBytes;
  } else if (!val.empty()) {
    // The table written carries the source's second change count forward;
    // the engine pairs a .VAL with its table by that count.
    val.SetChangeCount(source.Header().change_count2);
    plan->writeVal = true;
    plan->valBytes = val.EncodeTo();
  }
  return Status::OK();
}

}  // namespace engine
