#include "ValFile.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "ByteOrder.h"
#include "TableFiles.h"

namespace engine {

namespace {

// Zero-terminated texts inside a stored block.
namespace val {
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
  for (std::size_t i = 0; i < n; ++i) out.push_back(GetLe16(b, pos + 2 * i));
  return out;
}

// Field lists are written in full: the listed numbers, then zeros.
void WriteWords(std::string& b, std::size_t pos, const std::vector<std::uint16_t>& words) {
  for (std::size_t i = 0; i < kFieldsPerLink; ++i)
    PutLe16(b, pos + 2 * i, i < words.size() ? words[i] : 0);
}

// One link entry on the dependent's side; false for a bad field count.
bool DecodeMasterLink(std::string_view raw, ValMasterLink* link) {
  link->raw = std::string(raw);
  link->name = val::CString(raw, kLinkName, 0x40);
  link->fieldName = val::CString(raw, kLinkFieldName, 0x40);
  link->masterTable = val::CString(raw, kLinkMaster, 0x72);
  link->updateRule = GetLe32(raw, kLinkRule);
  std::size_t n = GetLe16(raw, kLinkCount);
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
  PutLe32(e, kLinkRule, link.updateRule);
  PutLe16(e, kLinkCount, static_cast<std::uint16_t>(link.thisFields.size()));
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
  std::uint32_t footer = GetLe32(b, kFooterAt);
  std::uint32_t links = GetLe32(b, kLinksAt);
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

Status ValFile::DecodeLegacyChecks(const std::vector<std::uint8_t>& fieldSizes,
                                  std::vector<ValCheck>* checks) const {
  checks->clear();
  if (!legacy_) return Status::OK();
  ValFile walk;
  for (std::uint8_t size : fieldSizes) walk.fields_.push_back({0, 0, size, {}});
  std::string_view b = legacy_bytes_;
  if (b.size() < kHeaderSize) return Corrupt("header truncated");
  std::size_t pos = kHeaderSize;
  for (int i = 0; i < legacy_count_; ++i) {
    ValCheck check;
    Status s = walk.DecodeCheck(b, pos, check);
    if (!s.ok()) return s;
    checks->push_back(std::move(check));
  }
  if (pos != b.size()) return Corrupt("the checks do not end where the file does");
  return Status::OK();
}

Status ValFile::DecodeCheck(std::string_view b, std::size_t& pos, ValCheck& c) const {
  if (pos + kCheckSize > b.size()) return Corrupt("check truncated");
  c.field = static_cast<std::uint8_t>(b[pos]);
  if (c.field >= fields_.size()) return Corrupt("check on a field the table lacks");
  std::size_t pictureSize = static_cast<std::uint8_t>(b[pos + 1]);
  c.required = b[pos + 2] != 0;
  c.lookupFlags = static_cast<std::uint8_t>(b[pos + 3]);
  for (std::size_t k = 0; k < c.pointers.size(); ++k) c.pointers[k] = GetLe32(b, pos + 4 + 4 * k);
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
  std::size_t count = GetLe16(b, pos);
  pos += 2;
  if (pos + count * kMasterLinkSize + 2 > end) return Corrupt("links truncated");
  for (std::size_t i = 0; i < count; ++i, pos += kMasterLinkSize) {
    ValMasterLink link;
    if (!DecodeMasterLink(b.substr(pos, kMasterLinkSize), &link))
      return Corrupt("link field count");
    master_links_.push_back(std::move(link));
  }
  has_master_section_ = GetLe16(b, pos) != 0;
  if (!has_master_section_) {
    if (pos + 2 != end) return Corrupt("bytes after the links");
    return Status::OK();
  }
  if (pos + kMasterHeadSize > end) return Corrupt("dependents truncated");
  master_head_ = std::string(b.substr(pos, kMasterHeadSize));
  std::size_t keys = GetLe16(master_head_, kHeadKeyCount);
  std::size_t deps = GetLe16(master_head_, kHeadDependents);
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
  std::size_t n = GetLe16(b, pos);
  key_field_count_ = GetLe16(b, pos + 2);
  pos += 6;
  if (n == 0 || pos + 4 * n + kTableNameSize > b.size()) return Corrupt("footer field count");
  for (std::size_t i = 0; i < n; ++i) {
    ValField f;
    f.number = GetLe16(b, pos + 2 * i);
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

std::string ValFile::EncodeTo() const {
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
  PutLe32(out, kLinksAt, links ? static_cast<std::uint32_t>(out.size()) : 0);
  if (links) EncodeLinks(out);
  PutLe32(out, kFooterAt, static_cast<std::uint32_t>(out.size()));
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
    PutLe32(out, at + 4 + 4 * k, p);
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
  PutLe16(out, at, static_cast<std::uint16_t>(master_links_.size()));
  for (const ValMasterLink& link : master_links_) out += EncodeMasterLink(link);
  if (dependents_.empty()) {
    out.append(2, '\0');
    return;
  }
  std::string head = master_head_;
  head.resize(kMasterHeadSize, '\0');
  PutLe16(head, 0, 1);
  PutLe16(head, kHeadKeyCount, static_cast<std::uint16_t>(master_key_fields_.size()));
  WriteWords(head, kHeadKeys, master_key_fields_);
  PutLe16(head, kHeadDependents, static_cast<std::uint16_t>(dependents_.size()));
  out += head;
  for (const ValDependent& dep : dependents_) out += EncodeDependent(dep);
}

void ValFile::EncodeFooter(std::string& out) const {
  std::size_t at = out.size();
  std::size_t nameBytes = kTableNameSize;
  for (const ValField& f : fields_) nameBytes += f.name.size() + 1;
  out.resize(at + 6 + 4 * fields_.size(), '\0');
  PutLe16(out, at, static_cast<std::uint16_t>(fields_.size()));
  PutLe16(out, at + 2, key_field_count_);
  // The engine stores how many bytes the table name and field names take.
  PutLe16(out, at + 4, static_cast<std::uint16_t>(nameBytes));
  at += 6;
  for (std::size_t i = 0; i < fields_.size(); ++i) {
    PutLe16(out, at + 2 * i, fields_[i].number);
    out[at + 2 * fields_.size() + 2 * i] = static_cast<char>(fields_[i].type);
    out[at + 2 * fields_.size() + 2 * i + 1] = static_cast<char>(fields_[i].size);
  }
  out += table_name_block_;
  for (const ValField& f : fields_) out.append(f.name).push_back('\0');
}

std::string ValFile::TableName() const {
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

}  // namespace engine

namespace engine {

namespace {

bool SameFileName(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

}  // namespace

bool ValFile::DropCheck(std::uint16_t fldNum) {
  auto n = std::erase_if(checks_, [&](const ValCheck& c) { return c.field + 1 == fldNum; });
  return n != 0;
}

bool ValFile::DropMasterLink(const std::string& name) {
  return std::erase_if(master_links_, [&](const ValMasterLink& l) { return l.name == name; }) != 0;
}

bool ValFile::DropDependent(const std::string& name, const std::string& dependentTable) {
  std::string table = FileNameOf(dependentTable);
  return std::erase_if(dependents_, [&](const ValDependent& x) {
           return x.name == name && SameFileName(x.dependentTable, table);
         }) != 0;
}

}  // namespace engine
