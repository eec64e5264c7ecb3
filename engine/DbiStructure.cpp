#include "DbiStructure.h"

#include <dirent.h>
#include <strings.h>

#include <algorithm>
#include <cctype>
#include <cstring>

namespace engine {

namespace {

void CopyName(char* dst, std::size_t cap, const std::string& src) {
  const std::size_t n = std::min(src.size(), cap - 1);
  std::memcpy(dst, src.data(), n);
  dst[n] = '\0';
}

std::string BaseName(const std::string& path) {
  const auto slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string Stem(const std::string& path) {
  const std::string base = BaseName(path);
  const auto dot = base.find_last_of('.');
  return dot == std::string::npos ? base : base.substr(0, dot);
}

bool IsSecondaryX(const std::string& ext) {
  return ext.size() == 3 && ext[0] == 'X' &&
         (ext[1] == 'G' || std::isxdigit(static_cast<unsigned char>(ext[1]))) &&
         std::isxdigit(static_cast<unsigned char>(ext[2]));
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

Status ReadSecondaries(Env* env, const ParadoxTable& table, TableStructure* out) {
  for (const std::string& path : CompanionFiles(table.Path())) {
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
    out->secondaries.push_back(std::move(file));
  }
  return Status::OK();
}

Status ReadVal(Env* env, const ParadoxTable& table, TableStructure* out) {
  for (const std::string& path : CompanionFiles(table.Path())) {
    if (UpperExtension(path) != "VAL") continue;
    Status s = ReadWholeFile(env, path, &out->valBytes);
    if (s.ok()) s = out->val.DecodeFrom(out->valBytes);
    if (!s.ok()) return s.WithContext(path);
    out->hasVal = true;
    out->valPath = path;
    if (out->val.decoded()) {
      for (const ValCheck& c : out->val.checks()) out->checks.push_back(out->val.CheckDesc(c));
      out->links = out->val.LinkDescs(DirName(table.Path()));
    }
    break;
  }
  return Status::OK();
}

}  // namespace

std::string UpperExtension(const std::string& path) {
  const std::string base = BaseName(path);
  const auto dot = base.find_last_of('.');
  if (dot == std::string::npos) return "";
  std::string ext = base.substr(dot + 1);
  for (char& c : ext) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return ext;
}

std::vector<std::string> CompanionFiles(const std::string& db_path) {
  const std::string dir = DirName(db_path);
  const std::string stem = Stem(db_path);
  std::vector<std::string> out;
  if (DIR* d = ::opendir(dir.c_str())) {
    while (dirent* e = ::readdir(d)) {
      const std::string name = e->d_name;
      if (name.size() > stem.size() + 1 && name[stem.size()] == '.' &&
          ::strncasecmp(name.c_str(), stem.c_str(), stem.size()) == 0 &&
          name.find('.', stem.size() + 1) == std::string::npos) {
        out.push_back(dir + "/" + name);
      }
    }
    ::closedir(d);
  }
  std::sort(out.begin(), out.end(), [](const std::string& a, const std::string& b) {
    return UpperExtension(a) < UpperExtension(b);
  });
  return out;
}

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
  const SecondaryIndexDef& def = index.def();
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

Status ReadTableStructure(Env* env, const ParadoxTable& table, TableStructure* out) {
  *out = TableStructure();
  const DataFileHeader& h = table.Header();
  for (std::size_t i = 0; i < h.fields.size(); ++i) {
    out->fields.push_back(ToFldDesc(h.fields[i], static_cast<int>(i + 1)));
  }
  // The key is part of the header: a keyed table has its primary index
  // even when its .PX is missing or unreadable (a restructure builds one).
  if (h.Keyed()) out->indexes.push_back(PrimaryDesc(h));
  for (const std::string& path : CompanionFiles(table.Path())) {
    if (UpperExtension(path) != "PX" || !h.Keyed()) continue;
    std::string bytes;
    Status s = ReadWholeFile(env, path, &bytes);
    if (s.ok()) s = out->primary.DecodeFrom(bytes);
    if (s.ok()) {
      out->hasPrimaryFile = true;
    } else {
      out->notes.push_back(BaseName(path) + ": " + s.message());
    }
  }
  Status s = ReadSecondaries(env, table, out);
  if (s.ok()) s = ReadVal(env, table, out);
  return s;
}

}  // namespace engine
