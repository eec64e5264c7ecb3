#include "DbiStructure.h"

#include <strings.h>

#include <algorithm>
#include <cctype>
#include <cstring>

#include "DataFileHeader.h"
#include "FieldCodec.h"
#include "StoredStructure.h"
#include "TableFiles.h"

namespace engine {

namespace {

void CopyName(char* dst, std::size_t cap, const std::string& src) {
  const std::size_t n = std::min(src.size(), cap - 1);
  std::memcpy(dst, src.data(), n);
  dst[n] = '\0';
}

bool IsSecondaryX(const std::string& ext) {
  return ext[0] == 'X' && IsSecondaryIndexExtension(ext);
}

std::string YPathOf(const std::string& x_path) {
  std::string y = x_path;
  const auto dot = y.find_last_of('.');
  y[dot + 1] = y[dot + 1] == 'x' ? 'y' : 'Y';
  return y;
}

IDXDesc PrimaryDesc(const DataFileHeader& h) {
  IDXDesc d{};
  d.iIndexId = 0;
  d.iFldsInKey = std::min<std::uint16_t>(h.key_fields, DBIMAXFLDSINKEY);
  std::uint16_t len = 0;
  for (std::uint16_t i = 0; i < d.iFldsInKey; ++i) {
    d.aiKeyFld[i] = static_cast<std::uint16_t>(i + 1);
    len = static_cast<std::uint16_t>(len + h.fields[i].size);
  }
  d.bPrimary = d.bUnique = d.bMaintained = true;
  d.iKeyLen = len;
  return d;
}

}  // namespace

// The header of a .Xnn file, with its record and block counts cleared: the
// structure needs the index's definition, not its (possibly large) records,
// which a restructure rebuilds anyway.
Status ReadIndexHeader(Env* env, const std::string& path, std::string* out) {
  std::unique_ptr<RandomFile> file;
  Status s = env->OpenRead(path, &file);
  if (!s.ok()) return s;
  const std::size_t size = static_cast<std::size_t>(std::min<std::uint64_t>(file->Size(), 0x10000));
  std::string head(std::min<std::size_t>(size, 4), '\0');
  if (size >= 4) s = file->ReadAt(0, 4, head.data());
  if (!s.ok()) return s;
  const std::size_t header_size = size >= 4 ? std::min<std::size_t>(GetLe16(head, 2), size) : size;
  out->assign(std::max<std::size_t>(header_size, size < 0x58 ? size : 0x58), '\0');
  s = out->empty() ? s : file->ReadAt(0, out->size(), out->data());
  if (s.ok() && out->size() >= 0x12) {
    PutLe32(*out, 0x06, 0);  // records
    PutLe16(*out, 0x0C, 0);  // blocks in the file
    PutLe16(*out, 0x0E, 0);  // first block
  }
  // A protected table's index blocks are scrambled, its header is not; with
  // no blocks read the definition decodes the same.
  if (s.ok() && out->size() >= 0x60 && static_cast<std::uint8_t>((*out)[0x39]) >= 5)
    PutLe32(*out, 0x5C, 0);
  return s;
}

namespace {

// `companions` are the table's companion files (CompanionFiles).
Status ReadSecondaries(Env* env, const ParadoxTable& table,
                       const std::vector<std::string>& companions, TableStructure* out) {
  for (const std::string& path : companions) {
    if (!IsSecondaryX(UpperExtension(path))) continue;
    SecondaryIndexFile file;
    file.xPath = path;
    file.yPath = YPathOf(path);
    std::string bytes;
    Status s = ReadIndexHeader(env, path, &bytes);
    if (s.ok()) s = file.index.DecodeFrom(bytes);
    if (!s.ok()) {
      // An index that cannot be read is rebuilt from nothing, never trusted.
      out->notes.push_back(BaseName(path) + ": " + s.message());
      continue;
    }
    std::string y;
    if (env->Exists(file.yPath) && ReadWholeFile(env, file.yPath, &y).ok()) {
      file.yHeader = y.substr(0, std::min<std::size_t>(y.size(), 0x800));
    }
    out->indexes.push_back(SecondaryDesc(file.index, path, table.Fields()));
    out->stored->secondaries.push_back(std::move(file));
  }
  return Status::OK();
}

Status ReadVal(Env* env, const ParadoxTable& table, const std::vector<std::string>& companions,
               TableStructure* out) {
  for (const std::string& path : companions) {
    if (UpperExtension(path) != "VAL") continue;
    Status s = ReadWholeFile(env, path, &out->valBytes);
    if (s.ok()) s = out->stored->val.DecodeFrom(out->valBytes);
    if (!s.ok()) return s.WithContext(path);
    out->hasVal = true;
    out->valPath = path;
    const ValFile& val = out->stored->val;
    out->valDecoded = val.Decoded();
    out->legacyCheckCount = val.LegacyCheckCount();
    if (val.Decoded()) {
      for (const ValCheck& c : val.Checks()) out->checks.push_back(CheckDescOf(val, c));
      out->links = LinkDescsOf(val, DirName(table.Path()));
    }
    break;
  }
  return Status::OK();
}

}  // namespace

FLDDesc ToFldDesc(const FieldDesc& f, int number) {
  FLDDesc d{};
  d.iFldNum = static_cast<std::uint16_t>(number);
  CopyName(d.szName, sizeof d.szName, f.name);
  d.iFldType = TypeLetter(f.type);
  d.iOffset = static_cast<std::uint16_t>(f.offset);
  d.iLen = static_cast<std::uint16_t>(f.size);
  d.iUnits1 = static_cast<std::int16_t>(f.size);
  switch (f.type) {
    case FieldType::Memo:
      d.iSubType = fldstMEMO;
      break;
    case FieldType::Blob:
      d.iSubType = fldstBINARY;
      break;
    case FieldType::FmtMemo:
      d.iSubType = fldstFMTMEMO;
      break;
    case FieldType::Ole:
      d.iSubType = fldstOLEOBJ;
      break;
    case FieldType::Graphic:
      d.iSubType = fldstGRAPHIC;
      break;
    case FieldType::Currency:
      d.iSubType = fldstMONEY;
      break;
    case FieldType::AutoInc:
      d.iSubType = fldstAUTOINC;
      break;
    case FieldType::Bcd:
      d.iUnits1 = 32;
      d.iUnits2 = static_cast<std::int16_t>(f.decimals);
      break;
    default:
      break;
  }
  if (IsBlobType(f.type)) d.iUnits1 = static_cast<std::int16_t>(f.size - 10);  // the leader
  return d;
}

Status FromFldDesc(const FLDDesc& d, FieldDesc* f) {
  FieldType type;
  if (!TypeFromLetter(d.iFldType, &type)) {
    return Status(DBIERR_UNKNOWNFIELDTYPE, std::string("unknown field type '") + d.iFldType + "'")
        .WithContext(d.szName);
  }
  f->name = std::string(d.szName, strnlen(d.szName, sizeof d.szName));
  f->type = type;
  f->decimals = 0;
  f->offset = 0;
  if (IsBlobType(type)) {
    f->size = d.iUnits1 + 10;
  } else if (type == FieldType::Bcd) {
    f->size = 17;
    f->decimals = d.iUnits2;
  } else if (FixedSize(type)) {
    f->size = FixedSize(type);
  } else {
    f->size = d.iUnits1;
  }
  return Status::OK();
}

IDXDesc SecondaryDesc(const SecondaryIndex& index, const std::string& x_path,
                      const std::vector<FieldDesc>& fields) {
  const SecondaryIndexDef& def = index.Def();
  IDXDesc d{};
  const std::string ext = UpperExtension(x_path);
  if (def.composite) {
    CopyName(d.szName, sizeof d.szName, def.name);
    d.iIndexId = static_cast<std::uint16_t>(0x100 + std::stoi(ext.substr(2), nullptr, 16));
  } else {
    const std::uint16_t n = def.fields.empty() ? 0 : def.fields[0].number;
    if (n >= 1 && n <= fields.size()) CopyName(d.szName, sizeof d.szName, fields[n - 1].name);
    d.iIndexId = static_cast<std::uint16_t>(std::stoi(ext.substr(1), nullptr, 16));
  }
  d.iFldsInKey =
      static_cast<std::uint16_t>(std::min<std::size_t>(def.fields.size(), DBIMAXFLDSINKEY));
  for (std::uint16_t i = 0; i < d.iFldsInKey; ++i) {
    d.aiKeyFld[i] = def.fields[i].number;
    d.iKeyLen = static_cast<std::uint16_t>(d.iKeyLen + def.fields[i].key.size);
  }
  d.bDescending = def.descending;
  d.bMaintained = def.maintained;
  return d;
}

FieldValue CheckValue(const FieldDesc& field, const std::uint8_t* stored) {
  FieldDesc f = field;
  f.offset = 0;
  return DecodeField(f, stored);
}

Status ReadTableStructure(Env* env, const ParadoxTable& table, TableStructure* out) {
  *out = TableStructure();
  out->stored = std::make_shared<StoredStructure>();
  const DataFileHeader& h = table.Header();
  for (std::size_t i = 0; i < h.fields.size(); ++i) {
    out->fields.push_back(ToFldDesc(h.fields[i], static_cast<int>(i + 1)));
  }
  // The key is part of the header: a keyed table has its primary index
  // even when its .PX is missing or unreadable (a restructure builds one).
  if (h.Keyed()) out->indexes.push_back(PrimaryDesc(h));
  const std::vector<std::string> companions = CompanionFiles(table.Path());
  for (const std::string& path : companions) {
    if (UpperExtension(path) != "PX" || !h.Keyed()) continue;
    std::string bytes;
    Status s = ReadWholeFile(env, path, &bytes);
    if (s.ok()) s = out->stored->primary.DecodeFrom(bytes);
    if (s.ok()) {
      out->hasPrimaryFile = true;
    } else {
      out->notes.push_back(BaseName(path) + ": " + s.message());
    }
  }
  Status s = ReadSecondaries(env, table, companions, out);
  if (s.ok()) s = ReadVal(env, table, companions, out);
  return s;
}

namespace {

constexpr std::size_t kFieldsPerLink = DBIMAXFLDSINKEY;

template <std::size_t N>
void CopyText(char (&dst)[N], const std::string& src) {
  std::size_t n = std::min(src.size(), N - 1);
  std::memcpy(dst, src.data(), n);
  dst[n] = '\0';
}

template <std::size_t N>
std::string TextOf(const char (&src)[N]) {
  return std::string(src, ::strnlen(src, N));
}

std::vector<std::uint16_t> WordsOf(const std::uint16_t* words, std::size_t n) {
  return std::vector<std::uint16_t>(words, words + n);
}

}  // namespace

VCHKDesc CheckDescOf(const ValFile& val, const ValCheck& c) {
  VCHKDesc d{};
  d.iFldNum = static_cast<std::uint16_t>(c.field + 1);
  d.bRequired = c.required;
  d.bHasMinVal = c.hasMin;
  d.bHasMaxVal = c.hasMax;
  d.bHasDefVal = c.hasDefault;
  d.iValLen = static_cast<std::uint16_t>(std::min<std::size_t>(val.FieldSize(c.field), DBIMAXVCHKLEN));
  std::memcpy(d.aMinVal, c.minValue.data(), std::min<std::size_t>(c.minValue.size(), d.iValLen));
  std::memcpy(d.aMaxVal, c.maxValue.data(), std::min<std::size_t>(c.maxValue.size(), d.iValLen));
  std::memcpy(d.aDefVal, c.defaultValue.data(),
              std::min<std::size_t>(c.defaultValue.size(), d.iValLen));
  CopyText(d.szPict, c.picture);
  d.elkupType = c.hasLookup ? static_cast<LKUPType>(lkupPRIVATE + (c.lookupFlags & 3)) : lkupNONE;
  CopyText(d.szLkupTblName, c.lookupTable);
  return d;
}

std::vector<RINTDesc> LinkDescsOf(const ValFile& val, const std::string& directory) {
  std::vector<RINTDesc> out;
  std::string prefix = directory.empty() || directory.back() == '/' ? directory : directory + "/";
  auto fill = [&](RINTDesc& d, const std::string& name, const std::string& table,
                  const std::vector<std::uint16_t>& mine, const std::vector<std::uint16_t>& other) {
    d.iRintNum = static_cast<std::uint16_t>(out.size() + 1);
    CopyText(d.szRintName, name);
    CopyText(d.szTblName, prefix + table);
    d.eDelOp = rintRESTRICT;
    d.iFldCount = static_cast<std::uint16_t>(std::min(mine.size(), kFieldsPerLink));
    for (std::size_t i = 0; i < d.iFldCount; ++i) {
      d.aiThisTabFld[i] = mine[i];
      d.aiOthTabFld[i] = i < other.size() ? other[i] : 0;
    }
  };
  for (const ValMasterLink& link : val.MasterLinks()) {
    RINTDesc d{};
    fill(d, link.name, link.masterTable, link.thisFields, link.masterFields);
    d.eType = rintDEPENDENT;
    d.eModOp = link.updateRule == 1 ? rintCASCADE : rintRESTRICT;
    out.push_back(d);
  }
  for (const ValDependent& dep : val.Dependents()) {
    RINTDesc d{};
    fill(d, dep.name, dep.dependentTable, val.MasterKeyFields(), dep.dependentFields);
    d.eType = rintMASTER;
    // The master's file does not repeat the rule; its dependent's file holds it.
    d.eModOp = rintCASCADE;
    out.push_back(d);
  }
  return out;
}



Status PutCheck(ValFile* val, const VCHKDesc& d) {
  if (!val->Decoded())
    return Status(DBIERR_NOTSUPPORTED, "Validity checks of this file level are kept as they are");
  if (d.iFldNum == 0 || d.iFldNum > val->Fields().size())
    return Status::InvalidParam("Validity check on a field the table lacks");
  std::uint8_t field = static_cast<std::uint8_t>(d.iFldNum - 1);
  auto it = std::find_if(val->Checks().begin(), val->Checks().end(),
                         [&](const ValCheck& c) { return c.field >= field; });
  if (it == val->Checks().end() || it->field != field) it = val->Checks().insert(it, ValCheck{});
  ValCheck& c = *it;
  std::size_t size = val->FieldSize(field);
  c.field = field;
  c.required = d.bRequired;
  c.hasMin = d.bHasMinVal;
  c.hasMax = d.bHasMaxVal;
  c.hasDefault = d.bHasDefVal;
  c.minValue = d.bHasMinVal ? std::string(reinterpret_cast<const char*>(d.aMinVal), size) : "";
  c.maxValue = d.bHasMaxVal ? std::string(reinterpret_cast<const char*>(d.aMaxVal), size) : "";
  c.defaultValue = d.bHasDefVal ? std::string(reinterpret_cast<const char*>(d.aDefVal), size) : "";
  c.picture = TextOf(d.szPict);
  c.hasLookup = d.elkupType != lkupNONE;
  c.lookupFlags = c.hasLookup ? static_cast<std::uint8_t>(d.elkupType - lkupPRIVATE) : 0;
  c.lookupTable = c.hasLookup ? FileNameOf(d.szLkupTblName) : "";
  if (c.lookupTable.size() >= 0x1A) return Status::InvalidParam("Lookup table name too long");
  return Status::OK();
}

Status PutMasterLink(ValFile* val, const RINTDesc& d, const std::string& fieldName) {
  if (!val->Decoded()) return Status(DBIERR_NOTSUPPORTED, "Links of this file level are kept as they are");
  if (d.iFldCount == 0 || d.iFldCount > kFieldsPerLink)
    return Status::InvalidParam("A link needs one to sixteen fields");
  for (std::size_t i = 0; i < d.iFldCount; ++i)
    if (d.aiThisTabFld[i] == 0 || d.aiThisTabFld[i] > val->Fields().size())
      return Status::InvalidParam("Link on a field the table lacks");
  auto it = std::find_if(val->MasterLinks().begin(), val->MasterLinks().end(),
                         [&](const ValMasterLink& l) { return l.name == d.szRintName; });
  if (it == val->MasterLinks().end()) it = val->MasterLinks().insert(it, ValMasterLink{});
  it->name = d.szRintName;
  it->fieldName = fieldName;
  it->masterTable = FileNameOf(d.szTblName);
  it->updateRule = d.eModOp == rintCASCADE ? 1 : 0;
  it->thisFields = WordsOf(d.aiThisTabFld, d.iFldCount);
  it->masterFields = WordsOf(d.aiOthTabFld, d.iFldCount);
  return Status::OK();
}

Status PutDependent(ValFile* val, const RINTDesc& d, const std::string& fieldName) {
  if (!val->Decoded()) return Status(DBIERR_NOTSUPPORTED, "Links of this file level are kept as they are");
  if (d.iFldCount == 0 || d.iFldCount > kFieldsPerLink)
    return Status::InvalidParam("A link needs one to sixteen fields");
  std::vector<std::uint16_t> keys = WordsOf(d.aiThisTabFld, d.iFldCount);
  // Every dependent points at the same key: the master's primary key.
  if (!val->Dependents().empty() && keys != val->MasterKeyFields())
    return Status::InvalidParam("A link must use the master's key fields");
  std::string table = FileNameOf(d.szTblName);
  auto it = std::find_if(val->Dependents().begin(), val->Dependents().end(), [&](const ValDependent& x) {
    return x.name == d.szRintName && ::strcasecmp(x.dependentTable.c_str(), table.c_str()) == 0;
  });
  if (it == val->Dependents().end()) it = val->Dependents().insert(it, ValDependent{});
  val->MasterKeyFields() = keys;
  it->name = d.szRintName;
  it->dependentTable = table;
  it->fieldName = fieldName;
  it->dependentFields = WordsOf(d.aiOthTabFld, d.iFldCount);
  return Status::OK();
}

}  // namespace engine
