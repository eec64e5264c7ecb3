#include "ValFile.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace engine {

namespace {

// Little-endian fields and zero-terminated texts inside a stored block.
namespace val {
std::uint16_t U16(std::string_view b, std::size_t at) {
  return static_cast<std::uint16_t>(static_cast<std::uint8_t>(b[at]) |
                                    static_cast<std::uint8_t>(b[at + 1]) << 8);
}
std::uint32_t U32(std::string_view b, std::size_t at) {
  return U16(b, at) | static_cast<std::uint32_t>(U16(b, at + 2)) << 16;
}
void PutU16(std::string& b, std::size_t at, std::uint16_t v) {
  b[at] = static_cast<char>(v & 0xFF);
  b[at + 1] = static_cast<char>(v >> 8);
}
void PutU32(std::string& b, std::size_t at, std::uint32_t v) {
  PutU16(b, at, static_cast<std::uint16_t>(v & 0xFFFF));
  PutU16(b, at + 2, static_cast<std::uint16_t>(v >> 16));
}
std::string CString(std::string_view b, std::size_t at, std::size_t max) {
  std::string_view s = b.substr(at, max);
  return std::string(s.substr(0, s.find('\0')));
}
// Written the way the engine writes it: the text and its zero over the old
// contents, whatever followed them staying in place. A text that fills the
// block loses its last characters to the zero.
void PutCString(std::string& b, std::size_t at, std::size_t max, const std::string& text) {
  std::size_t n = std::min(text.size(), max - 1);
  b.replace(at, n, text, 0, n);
  b[at + n] = '\0';
}
}  // namespace val

// Header offsets.
constexpr std::size_t kChangeCountAt = 0x00;
constexpr std::size_t kLevelAt = 0x01;
constexpr std::size_t kCountAt = 0x02;
constexpr std::size_t kFooterAt = 0x09;
constexpr std::size_t kLinksAt = 0x0D;
constexpr std::size_t kFieldsPerLink = DBIMAXFLDSINKEY;

// Offsets inside a dependent's link entry.
constexpr std::size_t kLinkName = 0x00, kLinkFieldName = 0x40, kLinkFieldNo = 0xB2;
constexpr std::size_t kLinkMaster = 0xD4, kLinkRule = 0x19A, kLinkCount = 0x19E;
constexpr std::size_t kLinkThis = 0x1A0, kLinkOther = 0x1C0;
// Offsets inside the master section head and a dependent entry.
constexpr std::size_t kHeadKeyCount = 0x96, kHeadKeys = 0x98, kHeadDependents = 0xB8;
constexpr std::size_t kDepName = 0x00, kDepTable = 0x40, kDepFieldName = 0x92;
constexpr std::size_t kDepFieldNo = 0x104, kDepFields = 0x10A;

Status Corrupt(const std::string& what) {
  return Status(DBIERR_VALFILECORRUPT, "Corrupt validity check file: " + what);
}

std::vector<std::uint16_t> ReadWords(std::string_view b, std::size_t pos, std::size_t n) {
  std::vector<std::uint16_t> out;
  for (std::size_t i = 0; i < n; ++i) out.push_back(val::U16(b, pos + 2 * i));
  return out;
}

// Field lists are written in full: the listed numbers, then zeros.
void WriteWords(std::string& b, std::size_t pos, const std::vector<std::uint16_t>& words) {
  for (std::size_t i = 0; i < kFieldsPerLink; ++i)
    val::PutU16(b, pos + 2 * i, i < words.size() ? words[i] : 0);
}

std::string FileNameOf(const std::string& path) {
  std::size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

template <std::size_t N>
void CopyText(char (&dst)[N], const std::string& src) {
  std::size_t n = std::min(src.size(), N - 1);
  std::memcpy(dst, src.data(), n);
  dst[n] = '\0';
}

// One link entry on the dependent's side; false for a bad field count.
bool DecodeMasterLink(std::string_view raw, ValMasterLink* link) {
  link->raw = std::string(raw);
  link->name = val::CString(raw, kLinkName, 0x40);
  link->fieldName = val::CString(raw, kLinkFieldName, 0x40);
  link->masterTable = val::CString(raw, kLinkMaster, 0x72);
  link->updateRule = val::U32(raw, kLinkRule);
  std::size_t n = val::U16(raw, kLinkCount);
  if (n == 0 || n > kFieldsPerLink) return false;
  link->thisFields = ReadWords(raw, kLinkThis, n);
  link->masterFields = ReadWords(raw, kLinkOther, n);
  return true;
}

std::string EncodeMasterLink(const ValMasterLink& link) {
  std::string e = link.raw;
  e.resize(ValFile::kMasterLinkSize, '\0');
  val::PutCString(e, kLinkName, 0x40, link.name);
  val::PutCString(e, kLinkFieldName, 0x40, link.fieldName);
  e[kLinkFieldNo] = static_cast<char>(link.thisFields.size() == 1 ? link.thisFields[0] : 0);
  val::PutCString(e, kLinkMaster, 0x72, link.masterTable);
  val::PutU32(e, kLinkRule, link.updateRule);
  val::PutU16(e, kLinkCount, static_cast<std::uint16_t>(link.thisFields.size()));
  WriteWords(e, kLinkThis, link.thisFields);
  WriteWords(e, kLinkOther, link.masterFields);
  return e;
}

// One dependent in a master's list; it uses as many fields as the master's key.
ValDependent DecodeDependent(std::string_view raw, std::size_t keys) {
  ValDependent dep;
  dep.raw = std::string(raw);
  dep.name = val::CString(raw, kDepName, 0x40);
  dep.dependentTable = val::CString(raw, kDepTable, 0x52);
  dep.fieldName = val::CString(raw, kDepFieldName, 0x72);
  dep.dependentFields = ReadWords(raw, kDepFields, keys);
  return dep;
}

std::string EncodeDependent(const ValDependent& dep) {
  std::string e = dep.raw;
  e.resize(ValFile::kDependentSize, '\0');
  val::PutCString(e, kDepName, 0x40, dep.name);
  val::PutCString(e, kDepTable, 0x52, dep.dependentTable);
  val::PutCString(e, kDepFieldName, 0x72, dep.fieldName);
  e[kDepFieldNo] = static_cast<char>(dep.dependentFields.size() == 1 ? dep.dependentFields[0] : 0);
  WriteWords(e, kDepFields, dep.dependentFields);
  return e;
}

}  // namespace

ValFile ValFile::Create(std::uint8_t level, std::vector<ValField> fields,
                        std::uint16_t keyFieldCount) {
  ValFile file;
  file.level_ = level;
  file.header_.assign(kHeaderSize, '\0');
  // The byte the engine keeps here has been the field count plus one in
  // every file seen; write the same.
  file.header_[0x07] = static_cast<char>(fields.size() + 1);
  file.fields_ = std::move(fields);
  file.key_field_count_ = keyFieldCount;
  file.table_name_block_.assign(kTableNameSize, '\0');
  file.master_head_.assign(kMasterHeadSize, '\0');
  return file;
}

Status ValFile::DecodeFrom(std::string_view b) {
  *this = ValFile();
  if (b.size() < 8) return Corrupt("file too short");
  change_count_ = static_cast<std::uint8_t>(b[kChangeCountAt]);
  level_ = static_cast<std::uint8_t>(b[kLevelAt]);
  if (level_ < 0x09) {
    // Older files: the change count, the level and the check count are
    // known; the rest is kept as it is.
    legacy_ = true;
    legacy_count_ = static_cast<std::uint8_t>(b[kCountAt]);
    legacy_bytes_ = std::string(b);
    return Status::OK();
  }
  if (level_ > 0x0B) return Corrupt("unknown level");
  if (b.size() < kHeaderSize) return Corrupt("header truncated");
  header_ = std::string(b.substr(0, kHeaderSize));
  std::uint32_t footer = val::U32(b, kFooterAt);
  std::uint32_t links = val::U32(b, kLinksAt);
  if (footer < kHeaderSize || footer >= b.size()) return Corrupt("footer outside the file");
  if (links != 0 && (links < kHeaderSize || links > footer))
    return Corrupt("link section outside the file");
  Status s = DecodeFooter(b, footer);
  if (!s.ok()) return s;
  std::size_t pos = kHeaderSize;
  std::size_t checks_end = links != 0 ? links : footer;
  for (int i = 0; i < static_cast<std::uint8_t>(b[kCountAt]); ++i) {
    ValCheck check;
    s = DecodeCheck(b.substr(0, checks_end), pos, check);
    if (!s.ok()) return s;
    checks_.push_back(std::move(check));
  }
  if (pos != checks_end) return Corrupt("checks do not end where the next section starts");
  return links != 0 ? DecodeLinks(b, links, footer) : Status::OK();
}

Status ValFile::DecodeCheck(std::string_view b, std::size_t& pos, ValCheck& c) const {
  if (pos + kCheckSize > b.size()) return Corrupt("check truncated");
  c.field = static_cast<std::uint8_t>(b[pos]);
  if (c.field >= fields_.size()) return Corrupt("check on a field the table lacks");
  std::size_t pictureSize = static_cast<std::uint8_t>(b[pos + 1]);
  c.required = b[pos + 2] != 0;
  c.lookupFlags = static_cast<std::uint8_t>(b[pos + 3]);
  for (std::size_t k = 0; k < c.pointers.size(); ++k) c.pointers[k] = val::U32(b, pos + 4 + 4 * k);
  pos += kCheckSize;
  // The parts follow in the order of their pointers, each present only when
  // its pointer is set.
  auto take = [&](std::size_t n, std::string& out) {
    if (pos + n > b.size()) return false;
    out = std::string(b.substr(pos, n));
    pos += n;
    return true;
  };
  c.hasLookup = c.pointers[0] != 0;
  if (c.hasLookup) {
    if (!take(kLookupSize, c.lookupBlock)) return Corrupt("lookup truncated");
    c.lookupTable = val::CString(c.lookupBlock, 0, 0x1A);
  }
  std::size_t size = FieldSize(c.field);
  c.hasMin = c.pointers[2] != 0;
  c.hasMax = c.pointers[3] != 0;
  c.hasDefault = c.pointers[4] != 0;
  if ((c.hasMin && !take(size, c.minValue)) || (c.hasMax && !take(size, c.maxValue)) ||
      (c.hasDefault && !take(size, c.defaultValue)))
    return Corrupt("check value truncated");
  if (c.pointers[5] != 0) {
    std::string stored;
    if (pictureSize == 0 || !take(pictureSize, stored)) return Corrupt("picture truncated");
    c.picture = val::CString(stored, 0, stored.size());
    if (c.picture.size() + 1 != pictureSize) return Corrupt("picture length mismatch");
  }
  return Status::OK();
}

Status ValFile::DecodeLinks(std::string_view b, std::size_t pos, std::size_t end) {
  if (pos + 2 > end) return Corrupt("link count truncated");
  std::size_t count = val::U16(b, pos);
  pos += 2;
  if (pos + count * kMasterLinkSize + 2 > end) return Corrupt("links truncated");
  for (std::size_t i = 0; i < count; ++i, pos += kMasterLinkSize) {
    ValMasterLink link;
    if (!DecodeMasterLink(b.substr(pos, kMasterLinkSize), &link))
      return Corrupt("link field count");
    master_links_.push_back(std::move(link));
  }
  has_master_section_ = val::U16(b, pos) != 0;
  if (!has_master_section_) {
    if (pos + 2 != end) return Corrupt("bytes after the links");
    return Status::OK();
  }
  if (pos + kMasterHeadSize > end) return Corrupt("dependents truncated");
  master_head_ = std::string(b.substr(pos, kMasterHeadSize));
  std::size_t keys = val::U16(master_head_, kHeadKeyCount);
  std::size_t deps = val::U16(master_head_, kHeadDependents);
  if (keys == 0 || keys > kFieldsPerLink) return Corrupt("master key field count");
  master_key_fields_ = ReadWords(master_head_, kHeadKeys, keys);
  pos += kMasterHeadSize;
  if (pos + deps * kDependentSize != end) return Corrupt("dependents do not end at the footer");
  for (std::size_t i = 0; i < deps; ++i, pos += kDependentSize)
    dependents_.push_back(DecodeDependent(b.substr(pos, kDependentSize), keys));
  return Status::OK();
}

Status ValFile::DecodeFooter(std::string_view b, std::size_t pos) {
  if (pos + 6 > b.size()) return Corrupt("footer truncated");
  std::size_t n = val::U16(b, pos);
  key_field_count_ = val::U16(b, pos + 2);
  pos += 6;
  if (n == 0 || pos + 4 * n + kTableNameSize > b.size()) return Corrupt("footer field count");
  for (std::size_t i = 0; i < n; ++i) {
    ValField f;
    f.number = val::U16(b, pos + 2 * i);
    f.type = static_cast<std::uint8_t>(b[pos + 2 * n + 2 * i]);
    f.size = static_cast<std::uint8_t>(b[pos + 2 * n + 2 * i + 1]);
    fields_.push_back(f);
  }
  pos += 4 * n;
  table_name_block_ = std::string(b.substr(pos, kTableNameSize));
  pos += kTableNameSize;
  for (ValField& f : fields_) {
    std::size_t zero = b.find('\0', pos);
    if (zero == std::string_view::npos) return Corrupt("field names truncated");
    f.name = std::string(b.substr(pos, zero - pos));
    pos = zero + 1;
  }
  if (pos != b.size()) return Corrupt("bytes after the field names");
  return Status::OK();
}

std::string ValFile::Encode() const {
  if (legacy_) {
    std::string out = legacy_bytes_;
    out[kChangeCountAt] = static_cast<char>(change_count_);
    return out;
  }
  std::string out = header_;
  out[kChangeCountAt] = static_cast<char>(change_count_);
  out[kLevelAt] = static_cast<char>(level_);
  out[kCountAt] = static_cast<char>(checks_.size());
  for (const ValCheck& c : checks_) EncodeCheck(c, out);
  bool links = !master_links_.empty() || !dependents_.empty();
  val::PutU32(out, kLinksAt, links ? static_cast<std::uint32_t>(out.size()) : 0);
  if (links) EncodeLinks(out);
  val::PutU32(out, kFooterAt, static_cast<std::uint32_t>(out.size()));
  EncodeFooter(out);
  return out;
}

void ValFile::EncodeCheck(const ValCheck& c, std::string& out) const {
  std::size_t at = out.size();
  out.resize(at + kCheckSize, '\0');
  out[at] = static_cast<char>(c.field);
  bool hasPicture = !c.picture.empty();
  out[at + 1] = static_cast<char>(hasPicture ? c.picture.size() + 1 : 0);
  out[at + 2] = c.required ? 1 : 0;
  out[at + 3] = static_cast<char>(c.lookupFlags);
  const bool present[6] = {c.hasLookup, c.pointers[1] != 0, c.hasMin,
                           c.hasMax,    c.hasDefault,       hasPicture};
  for (std::size_t k = 0; k < 6; ++k) {
    std::uint32_t p = present[k] ? (c.pointers[k] != 0 ? c.pointers[k] : PresentPointer()) : 0;
    val::PutU32(out, at + 4 + 4 * k, p);
  }
  if (c.hasLookup) {
    std::string block = c.lookupBlock;
    block.resize(kLookupSize, '\0');
    val::PutCString(block, 0, 0x1A, c.lookupTable);
    out += block;
  }
  std::size_t size = FieldSize(c.field);
  auto value = [&](bool has, const std::string& v) {
    if (!has) return;
    std::string stored = v;
    stored.resize(size, '\0');
    out += stored;
  };
  value(c.hasMin, c.minValue);
  value(c.hasMax, c.maxValue);
  value(c.hasDefault, c.defaultValue);
  if (hasPicture) out.append(c.picture).push_back('\0');
}

void ValFile::EncodeLinks(std::string& out) const {
  std::size_t at = out.size();
  out.resize(at + 2, '\0');
  val::PutU16(out, at, static_cast<std::uint16_t>(master_links_.size()));
  for (const ValMasterLink& link : master_links_) out += EncodeMasterLink(link);
  if (dependents_.empty()) {
    out.append(2, '\0');
    return;
  }
  std::string head = master_head_;
  head.resize(kMasterHeadSize, '\0');
  val::PutU16(head, 0, 1);
  val::PutU16(head, kHeadKeyCount, static_cast<std::uint16_t>(master_key_fields_.size()));
  WriteWords(head, kHeadKeys, master_key_fields_);
  val::PutU16(head, kHeadDependents, static_cast<std::uint16_t>(dependents_.size()));
  out += head;
  for (const ValDependent& dep : dependents_) out += EncodeDependent(dep);
}

void ValFile::EncodeFooter(std::string& out) const {
  std::size_t at = out.size();
  std::size_t nameBytes = kTableNameSize;
  for (const ValField& f : fields_) nameBytes += f.name.size() + 1;
  out.resize(at + 6 + 4 * fields_.size(), '\0');
  val::PutU16(out, at, static_cast<std::uint16_t>(fields_.size()));
  val::PutU16(out, at + 2, key_field_count_);
  // The engine stores how many bytes the table name and field names take.
  val::PutU16(out, at + 4, static_cast<std::uint16_t>(nameBytes));
  at += 6;
  for (std::size_t i = 0; i < fields_.size(); ++i) {
    val::PutU16(out, at + 2 * i, fields_[i].number);
    out[at + 2 * fields_.size() + 2 * i] = static_cast<char>(fields_[i].type);
    out[at + 2 * fields_.size() + 2 * i + 1] = static_cast<char>(fields_[i].size);
  }
  out += table_name_block_;
  for (const ValField& f : fields_) out.append(f.name).push_back('\0');
}

std::string ValFile::tableName() const {
  return val::CString(table_name_block_, 0, table_name_block_.size());
}

bool ValFile::empty() const {
  return checks_.empty() && master_links_.empty() && dependents_.empty();
}

std::size_t ValFile::FieldSize(std::uint8_t position) const {
  return position < fields_.size() ? fields_[position].size : 0;
}

// The engine stores its own memory addresses in the pointer words; only
// zero or not matters to a reader. Reuse one the file already has.
std::uint32_t ValFile::PresentPointer() const {
  for (const ValCheck& c : checks_)
    for (std::uint32_t p : c.pointers)
      if (p != 0) return p;
  return 1;
}

VCHKDesc ValFile::CheckDesc(const ValCheck& c) const {
  VCHKDesc d{};
  d.iFldNum = static_cast<std::uint16_t>(c.field + 1);
  d.bRequired = c.required;
  d.bHasMinVal = c.hasMin;
  d.bHasMaxVal = c.hasMax;
  d.bHasDefVal = c.hasDefault;
  d.iValLen = static_cast<std::uint16_t>(std::min<std::size_t>(FieldSize(c.field), DBIMAXVCHKLEN));
  std::memcpy(d.aMinVal, c.minValue.data(), std::min<std::size_t>(c.minValue.size(), d.iValLen));
  std::memcpy(d.aMaxVal, c.maxValue.data(), std::min<std::size_t>(c.maxValue.size(), d.iValLen));
  std::memcpy(d.aDefVal, c.defaultValue.data(),
              std::min<std::size_t>(c.defaultValue.size(), d.iValLen));
  CopyText(d.szPict, c.picture);
  d.elkupType = c.hasLookup ? static_cast<LKUPType>(lkupPRIVATE + (c.lookupFlags & 3)) : lkupNONE;
  CopyText(d.szLkupTblName, c.lookupTable);
  return d;
}

std::vector<RINTDesc> ValFile::LinkDescs(const std::string& directory) const {
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
  for (const ValMasterLink& link : master_links_) {
    RINTDesc d{};
    fill(d, link.name, link.masterTable, link.thisFields, link.masterFields);
    d.eType = rintDEPENDENT;
    d.eModOp = link.updateRule == 1 ? rintCASCADE : rintRESTRICT;
    out.push_back(d);
  }
  for (const ValDependent& dep : dependents_) {
    RINTDesc d{};
    fill(d, dep.name, dep.dependentTable, master_key_fields_, dep.dependentFields);
    d.eType = rintMASTER;
    // The master's file does not repeat the rule; its dependent's file holds it.
    d.eModOp = rintCASCADE;
    out.push_back(d);
  }
  return out;
}

}  // namespace engine

namespace engine {

namespace {

bool SameFileName(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

std::vector<std::uint16_t> Fields(const std::uint16_t* words, std::size_t n) {
  return std::vector<std::uint16_t>(words, words + n);
}

}  // namespace

Status ValFile::PutCheck(const VCHKDesc& d) {
  if (legacy_)
    return Status(DBIERR_NOTSUPPORTED, "Validity checks of this file level are kept as they are");
  if (d.iFldNum == 0 || d.iFldNum > fields_.size())
    return Status::InvalidParam("Validity check on a field the table lacks");
  std::uint8_t field = static_cast<std::uint8_t>(d.iFldNum - 1);
  auto it = std::find_if(checks_.begin(), checks_.end(),
                         [&](const ValCheck& c) { return c.field >= field; });
  if (it == checks_.end() || it->field != field) it = checks_.insert(it, ValCheck{});
  ValCheck& c = *it;
  std::size_t size = FieldSize(field);
  c.field = field;
  c.required = d.bRequired;
  c.hasMin = d.bHasMinVal;
  c.hasMax = d.bHasMaxVal;
  c.hasDefault = d.bHasDefVal;
  c.minValue = d.bHasMinVal ? std::string(reinterpret_cast<const char*>(d.aMinVal), size) : "";
  c.maxValue = d.bHasMaxVal ? std::string(reinterpret_cast<const char*>(d.aMaxVal), size) : "";
  c.defaultValue = d.bHasDefVal ? std::string(reinterpret_cast<const char*>(d.aDefVal), size) : "";
  c.picture = val::CString(std::string_view(d.szPict, sizeof d.szPict), 0, sizeof d.szPict);
  c.hasLookup = d.elkupType != lkupNONE;
  c.lookupFlags = c.hasLookup ? static_cast<std::uint8_t>(d.elkupType - lkupPRIVATE) : 0;
  c.lookupTable = c.hasLookup ? FileNameOf(d.szLkupTblName) : "";
  if (c.lookupTable.size() >= 0x1A) return Status::InvalidParam("Lookup table name too long");
  return Status::OK();
}

bool ValFile::DropCheck(std::uint16_t fldNum) {
  auto n = std::erase_if(checks_, [&](const ValCheck& c) { return c.field + 1 == fldNum; });
  return n != 0;
}

Status ValFile::PutMasterLink(const RINTDesc& d, const std::string& fieldName) {
  if (legacy_) return Status(DBIERR_NOTSUPPORTED, "Links of this file level are kept as they are");
  if (d.iFldCount == 0 || d.iFldCount > kFieldsPerLink)
    return Status::InvalidParam("A link needs one to sixteen fields");
  for (std::size_t i = 0; i < d.iFldCount; ++i)
    if (d.aiThisTabFld[i] == 0 || d.aiThisTabFld[i] > fields_.size())
      return Status::InvalidParam("Link on a field the table lacks");
  auto it = std::find_if(master_links_.begin(), master_links_.end(),
                         [&](const ValMasterLink& l) { return l.name == d.szRintName; });
  if (it == master_links_.end()) it = master_links_.insert(it, ValMasterLink{});
  it->name = d.szRintName;
  it->fieldName = fieldName;
  it->masterTable = FileNameOf(d.szTblName);
  it->updateRule = d.eModOp == rintCASCADE ? 1 : 0;
  it->thisFields = Fields(d.aiThisTabFld, d.iFldCount);
  it->masterFields = Fields(d.aiOthTabFld, d.iFldCount);
  return Status::OK();
}

bool ValFile::DropMasterLink(const std::string& name) {
  return std::erase_if(master_links_, [&](const ValMasterLink& l) { return l.name == name; }) != 0;
}

Status ValFile::PutDependent(const RINTDesc& d, const std::string& fieldName) {
  if (legacy_) return Status(DBIERR_NOTSUPPORTED, "Links of this file level are kept as they are");
  if (d.iFldCount == 0 || d.iFldCount > kFieldsPerLink)
    return Status::InvalidParam("A link needs one to sixteen fields");
  std::vector<std::uint16_t> keys = Fields(d.aiThisTabFld, d.iFldCount);
  // Every dependent points at the same key: the master's primary key.
  if (!dependents_.empty() && keys != master_key_fields_)
    return Status::InvalidParam("A link must use the master's key fields");
  std::string table = FileNameOf(d.szTblName);
  auto it = std::find_if(dependents_.begin(), dependents_.end(), [&](const ValDependent& x) {
    return x.name == d.szRintName && SameFileName(x.dependentTable, table);
  });
  if (it == dependents_.end()) it = dependents_.insert(it, ValDependent{});
  master_key_fields_ = keys;
  it->name = d.szRintName;
  it->dependentTable = table;
  it->fieldName = fieldName;
  it->dependentFields = Fields(d.aiOthTabFld, d.iFldCount);
  return Status::OK();
}

bool ValFile::DropDependent(const std::string& name, const std::string& dependentTable) {
  std::string table = FileNameOf(dependentTable);
  return std::erase_if(dependents_, [&](const ValDependent& x) {
           return x.name == name && SameFileName(x.dependentTable, table);
         }) != 0;
}

}  // namespace engine
