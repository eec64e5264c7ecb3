#include "SecondaryIndex.h"

#include <algorithm>
#include <cstring>

#include "DataFileHeader.h"

namespace engine {

namespace {

constexpr std::uint16_t kHeaderSize = 0x800;
constexpr std::uint8_t kShort = 0x03, kLong = 0x04;
constexpr std::uint16_t kDescendingField = 0x8000;

// Header offsets beyond those every Paradox file shares.
constexpr std::size_t kIndexField = 0x15, kFields = 0x21, kKeyFields = 0x23;
constexpr std::size_t kChangeCount1 = 0x2D, kChangeCount2 = 0x2E, kDirection = 0x55;
constexpr std::size_t kCrypt2 = 0x5C;

Status Corrupt(const std::string& what) {
  return Status(DBIERR_INDEXCORRUPT, "Corrupt secondary index: " + what);
}

std::size_t Base(std::uint8_t version) { return version >= 5 ? 0x78 : 0x58; }
bool Maintained(std::uint8_t type) { return type == 5 || type == 8; }
bool Composite(std::uint8_t type) { return type >= 6; }

std::string ZString(std::string_view b, std::size_t& pos) {
  std::size_t zero = b.find('\0', pos);
  if (zero == std::string_view::npos) zero = b.size();
  std::string s(b.substr(pos, zero - pos));
  pos = std::min(zero + 1, b.size());
  return s;
}

// The fields of the .Xnn file after the indexed ones.
std::vector<IndexedField> TrailingFields(const SecondaryIndexDef& def) {
  if (def.maintained) {
    std::vector<IndexedField> out = def.keyFields;
    out.push_back({0, {kShort, 2, 0}, "Blk Num"});
    return out;
  }
  return {{0, {kLong, 4, 0}, "Tup No"},
          {0, {kShort, 2, 0}, "Blk Num"},
          {0, {kShort, 2, 0}, "Tup Offset"}};
}

}  // namespace

KeyOrder SecondaryIndex::OrderOf(const SecondaryIndexDef& def, std::uint8_t sortOrder) {
  std::vector<KeyField> keys;
  for (const IndexedField& f : def.fields) keys.push_back(f.key);
  std::vector<IndexedField> rest = TrailingFields(def);
  std::size_t tail = def.maintained ? def.keyFields.size() : 2;  // the .Ynn key
  for (std::size_t i = 0; i < tail; ++i) keys.push_back(rest[i].key);
  return KeyOrder(keys, sortOrder, false, def.descending);
}

Status SecondaryIndex::DecodeFrom(std::string_view b) {
  *this = SecondaryIndex();
  if (b.size() < 0x58) return Corrupt("header truncated");
  std::uint8_t type = static_cast<std::uint8_t>(b[0x04]);
  if (type != 3 && type != 5 && type != 6 && type != 8) return Corrupt("not a secondary index");
  def_.maintained = Maintained(type);
  def_.composite = Composite(type);
  recordSize_ = GetLe16(b, 0x00);
  params_.blockSizeCode = static_cast<std::uint8_t>(b[0x05]);
  params_.updateCount = GetLe16(b, 0x12);
  params_.sortOrder = static_cast<std::uint8_t>(b[0x29]);
  params_.changeCount = static_cast<std::uint8_t>(b[kChangeCount1]);
  params_.tableChangeCount2 = static_cast<std::uint8_t>(b[kChangeCount2]);
  params_.versionId = static_cast<std::uint8_t>(b[0x39]);
  def_.descending = (static_cast<std::uint8_t>(b[kDirection]) & 0x10) != 0;
  std::uint16_t headerSize = GetLe16(b, 0x02);
  if (headerSize < Base(params_.versionId) || headerSize > b.size())
    return Corrupt("bad header size");
  if (params_.versionId >= 5) {
    if (GetLe32(b, kCrypt2) != 0)
      return Status(DBIERR_NOTSUPPORTED, "Encrypted secondary indexes are rebuilt, not read");
    params_.codePage = GetLe16(b, 0x6A);
  }
  header_ = std::string(b.substr(0, headerSize));
  Status s = DecodeLayout(header_, GetLe16(b, kFields));
  return s.ok() ? DecodeRecords(b) : s;
}

Status SecondaryIndex::DecodeLayout(std::string_view b, std::uint16_t nf) {
  std::uint16_t keyed = GetLe16(b, kKeyFields);
  std::size_t base = Base(params_.versionId);
  std::size_t trailing = def_.maintained ? 1 : 3;
  if (nf <= trailing || keyed >= nf || base + 6 * std::size_t{nf} + 4 > b.size())
    return Corrupt("bad field count");
  std::vector<IndexedField> all(nf);
  std::size_t keyLength = 0;
  for (std::size_t i = 0; i < nf; ++i) {
    auto sizeByte = static_cast<std::uint8_t>(b[base + 2 * i + 1]);
    all[i].key.type = static_cast<std::uint8_t>(b[base + 2 * i]);
    all[i].key.size = KeyFieldSize(all[i].key.type, sizeByte);
    if (all[i].key.type == 0x17) all[i].key.decimals = sizeByte;
    keyLength += all[i].key.size;
  }
  if (recordSize_ == 0 || keyLength != recordSize_)
    return Corrupt("record size does not match the fields");
  std::size_t pos = base + 2 * std::size_t{nf} + 4 + 4 * std::size_t{nf};
  if (pos + TableNameLength(params_.versionId) > b.size()) return Corrupt("header truncated");
  std::size_t at = pos;
  params_.fileName = ZString(b.substr(0, pos + TableNameLength(params_.versionId)), at);
  pos += TableNameLength(params_.versionId);
  for (IndexedField& f : all) f.name = ZString(b, pos);
  if (pos + 2 * std::size_t{nf} > b.size()) return Corrupt("header truncated");
  for (std::size_t i = 0; i < nf; ++i) all[i].number = GetLe16(b, pos + 2 * i);
  pos += 2 * std::size_t{nf};
  params_.sortOrderId = ZString(b, pos);
  if (def_.composite) def_.name = ZString(b, pos);
  // A maintained index holds the indexed fields, then the primary key, then
  // the block number; the other kind the fields and three locators.
  std::size_t indexed = def_.maintained ? 0 : nf - 3;
  if (def_.maintained) {
    // Indexed fields carry the table's field numbers, the rest their own
    // positions: count the leading fields that do not.
    while (indexed + 1 < keyed && (all[indexed].number & ~kDescendingField) != indexed + 1)
      ++indexed;
    indexed = std::max<std::size_t>(indexed, 1);
    if (!def_.composite) indexed = 1;
  }
  for (std::size_t i = 0; i < nf - trailing; ++i) {
    IndexedField f = all[i];
    f.number &= static_cast<std::uint16_t>(~kDescendingField);
    (i < indexed ? def_.fields : def_.keyFields).push_back(f);
  }
  return Status::OK();
}

Status SecondaryIndex::DecodeRecords(std::string_view b) {
  std::size_t blockSize = params_.blockSizeCode * std::size_t{1024};
  std::uint16_t fileBlocks = GetLe16(b, 0x0C);
  std::uint16_t block = GetLe16(b, 0x0E);
  std::uint32_t expected = GetLe32(b, 0x06);
  if (blockSize == 0 || blockSize > 32768) return Corrupt("bad block size");
  std::vector<bool> seen(fileBlocks + 1u, false);
  std::uint16_t previous = 0, used = 0;
  while (block != 0) {
    if (block > fileBlocks || seen[block]) return Corrupt("broken block chain");
    seen[block] = true;
    ++used;
    std::size_t at = header_.size() + (block - 1u) * blockSize;
    if (at + 6 > b.size()) return Corrupt("block outside the file");
    if (GetLe16(b, at + 2) != previous && pageFault_.empty())
      pageFault_ = "block " + std::to_string(block) + " names the wrong block before it";
    previous = block;
    auto add = static_cast<std::int16_t>(GetLe16(b, at + 4));
    if (add >= 0) {
      if (add % recordSize_ != 0 || add + recordSize_ + 6u > blockSize ||
          at + 6 + add + recordSize_ > b.size())
        return Corrupt("bad record count in block " + std::to_string(block));
      std::size_t n = static_cast<std::size_t>(add) / recordSize_ + 1;
      blocks_.push_back(
          {std::string(b.substr(at + 6, Order().length())), block, static_cast<std::uint16_t>(n)});
      for (std::size_t k = 0; k < n; ++k)
        records_.emplace_back(b.substr(at + 6 + k * recordSize_, recordSize_));
    }
    block = GetLe16(b, at);
  }
  if (records_.size() != expected) return Corrupt("record count does not match the header");
  if (pageFault_.empty() && (previous != GetLe16(b, 0x10) || used != GetLe16(b, 0x0A)))
    pageFault_ = "the header's block counts disagree with the blocks";
  // Older engines write whole kilobytes of the last block only.
  const std::size_t data = b.size() - header_.size();
  if (pageFault_.empty() && fileBlocks > 0 && data != fileBlocks * blockSize &&
      (data % 1024 != 0 || data < (fileBlocks - 1u) * blockSize))
    pageFault_ = "the file does not end where a block does";
  return Status::OK();
}

Status SecondaryIndex::CheckRecords(std::vector<std::string> expected) const {
  if (expected.size() != records_.size())
    return Corrupt("holds " + std::to_string(records_.size()) + " records, the table " +
                   std::to_string(expected.size()));
  KeyOrder order = Order();
  for (std::size_t i = 1; i < records_.size(); ++i)
    if (!order.InOrder(records_[i - 1], records_[i]))
      return Corrupt("record " + std::to_string(i + 1) + " is out of key order");
  std::vector<std::string> held = records_;
  std::sort(held.begin(), held.end());
  std::sort(expected.begin(), expected.end());
  auto diff = std::mismatch(held.begin(), held.end(), expected.begin());
  if (diff.first != held.end())
    return Corrupt("record " + std::to_string(diff.first - held.begin() + 1) +
                   " (in byte order) does not match the table");
  return Status::OK();
}

std::uint16_t SecondaryIndex::BlockOf(const std::string& record) const {
  std::size_t at = record.size() - (def_.maintained ? 2 : 4);
  return GetIndexShort(record.data() + at);
}

std::string SecondaryIndex::MakeRecord(const SecondaryIndexDef& def,
                                       const std::vector<int>& offsets, const char* dbRecord,
                                       std::uint16_t block) {
  std::string rec;
  std::size_t i = 0;
  for (const auto* list : {&def.fields, &def.keyFields})
    for (const IndexedField& f : *list) rec.append(dbRecord + offsets.at(i++), f.key.size);
  char blk[2];
  PutIndexShort(blk, block);
  rec.append(blk, 2);
  return rec;
}

namespace {

// The fields of an .Xnn record and its length.
std::vector<IndexedField> RecordFields(const SecondaryIndexDef& def) {
  std::vector<IndexedField> all = def.fields;
  for (const IndexedField& f : TrailingFields(def)) all.push_back(f);
  return all;
}

std::size_t RecordLength(const std::vector<IndexedField>& all) {
  std::size_t n = 0;
  for (const IndexedField& f : all) n += f.key.size;
  return n;
}

// Records of this length in an .Xnn block of this code (0 for no such block).
std::size_t RecordsPerBlock(std::uint8_t code, std::size_t recordLength) {
  return code >= 1 && code <= kLargestIndexBlockCode && recordLength > 0
             ? (code * std::size_t{1024} - 6) / recordLength
             : 0;
}

std::string YName(std::string x) {
  std::size_t dot = x.rfind('.');
  if (dot != std::string::npos && dot + 1 < x.size()) x[dot + 1] = x[dot + 1] == 'x' ? 'y' : 'Y';
  return x;
}

// The header of a .Xnn file: the shared part, then the field list, names,
// field numbers, sort order and (composite) index name, laid out as the
// engine lays out a data file header.
struct XLayout {
  std::size_t numbersAt = 0, sortAt = 0, nameAt = 0, used = 0;
  bool sameLayout = false;  // the earlier file had the same field count
};

// The variable part of the header: field list, pointers, file name, field
// names, field numbers, sort order name and (composite) index name.
XLayout LayOut(const SecondaryIndexDef& def, const SecondaryFileParams& p,
               const std::vector<IndexedField>& all, const std::string& tmpl, std::string& h) {
  XLayout at;
  auto nf = static_cast<std::uint16_t>(all.size());
  for (const IndexedField& f : all) {
    h.push_back(static_cast<char>(f.key.type));
    h.push_back(static_cast<char>(f.key.type == 0x17 ? f.key.decimals : f.key.size));
  }
  // The engine's in-memory pointers, kept from an earlier file of the same shape.
  std::size_t pointers = 4 + 4 * std::size_t{nf};
  at.sameLayout = tmpl.size() >= h.size() + pointers && GetLe16(tmpl, kFields) == nf;
  h += at.sameLayout ? tmpl.substr(h.size(), pointers) : std::string(pointers, '\0');
  std::string name = p.fileName.substr(0, TableNameLength(p.versionId) - 1);
  h += name;
  h.append(TableNameLength(p.versionId) - name.size(), '\0');
  for (const IndexedField& f : all) h.append(f.name).push_back('\0');
  at.numbersAt = h.size();
  for (std::size_t i = 0; i < all.size(); ++i) {
    bool indexed = i < def.fields.size();
    auto n = indexed ? def.fields[i].number : static_cast<std::uint16_t>(i + 1);
    if (indexed && def.descending && p.versionId >= 12) n |= kDescendingField;
    h.append(2, '\0');
    PutLe16(h, h.size() - 2, n);
  }
  at.sortAt = h.size();
  h.append(p.sortOrderId).push_back('\0');
  at.nameAt = h.size();
  if (def.composite) h.append(def.name).push_back('\0');
  at.used = h.size();
  h.resize((at.used + kHeaderSize - 1) / kHeaderSize * kHeaderSize, '\0');
  return at;
}

std::string XHeader(const SecondaryIndexDef& def, const SecondaryFileParams& p,
                    const std::vector<IndexedField>& all, std::uint16_t recordSize,
                    const std::string& tmpl) {
  std::size_t base = Base(p.versionId);
  std::string h = tmpl.size() >= base ? tmpl.substr(0, base) : std::string(base, '\0');
  XLayout at = LayOut(def, p, all, tmpl, h);
  auto nf = static_cast<std::uint16_t>(all.size());
  PutLe16(h, 0x00, recordSize);
  PutLe16(h, 0x02, static_cast<std::uint16_t>(h.size()));
  h[0x04] = static_cast<char>(def.composite ? (def.maintained ? 8 : 6) : (def.maintained ? 5 : 3));
  h[0x05] = static_cast<char>(p.blockSizeCode);
  PutLe16(h, 0x12, p.updateCount);
  h[0x14] = 0;
  h[kIndexField] = static_cast<char>(def.fields.empty() ? 0 : def.fields[0].number);
  PutLe16(h, kFields, nf);
  std::size_t tail = def.maintained ? def.keyFields.size() : 2;
  PutLe16(h, kKeyFields, static_cast<std::uint16_t>(def.fields.size() + tail));
  PutLe32(h, 0x25, 0xFF00FF00u);
  h[0x29] = static_cast<char>(p.sortOrder);
  h[0x2A] = 0;
  h[0x2C] = static_cast<char>(0xFF);
  h[kChangeCount1] = static_cast<char>(p.changeCount);
  h[kChangeCount2] = static_cast<char>(p.tableChangeCount2);
  h[0x39] = static_cast<char>(p.versionId);
  PutLe16(h, 0x51, static_cast<std::uint16_t>(at.used));
  // Ascending files carry 0 or 1 here; keep what the earlier file had.
  auto direction = static_cast<std::uint8_t>(h[kDirection] & ~0x10);
  h[kDirection] = static_cast<char>(def.descending ? 0x11 : direction);
  h[0x56] = 0x20;
  if (base == 0x78) {
    PutLe16(h, 0x58, static_cast<std::uint16_t>(0x100 | p.versionId));
    PutLe16(h, 0x5A, static_cast<std::uint16_t>(0x100 | p.versionId));
    PutLe32(h, kCrypt2, 0);
    // Usually the field count plus one; kept from an earlier file of the same shape.
    if (!at.sameLayout) PutLe16(h, 0x64, static_cast<std::uint16_t>(nf + 1));
    PutLe16(h, 0x66, static_cast<std::uint16_t>(at.numbersAt - 0x58));
    PutLe16(h, 0x68, static_cast<std::uint16_t>(def.composite ? at.nameAt - 0x58 : 0));
    PutLe16(h, 0x6A, p.codePage);
    PutLe16(h, 0x6E, static_cast<std::uint16_t>(at.sortAt - 0x58));
  }
  return h;
}

// The .Ynn's parameters, block size aside.
IndexFileParams TreeParams(const SecondaryIndexDef& def, const SecondaryFileParams& p,
                           const KeyOrder& order) {
  IndexFileParams yp;
  yp.fileType = def.composite ? 7 : 4;
  yp.versionId = p.versionId;
  yp.sortOrder = p.sortOrder;
  yp.changeCount = p.changeCount;
  yp.updateCount = static_cast<std::uint16_t>(p.updateCount + 1);
  yp.tableName = YName(p.fileName);
  yp.keyFields = order.Fields();
  return yp;
}

// Sorts by precomputed sort keys: a million records sort in a fraction of
// the time comparing them field by field would take. Equal keys keep their
// order.
void SortRecords(const KeyOrder& order, std::vector<std::string>* records) {
  std::size_t n = order.SortKeyLength();
  std::string keys;
  keys.reserve(n * records->size());
  for (const std::string& r : *records) order.AppendSortKey(r, &keys);
  std::vector<std::uint32_t> ix(records->size());
  for (std::size_t i = 0; i < ix.size(); ++i) ix[i] = static_cast<std::uint32_t>(i);
  std::sort(ix.begin(), ix.end(), [&](std::uint32_t a, std::uint32_t b) {
    int c = std::memcmp(keys.data() + a * n, keys.data() + b * n, n);
    return c != 0 ? c < 0 : a < b;
  });
  std::vector<std::string> sorted;
  sorted.reserve(records->size());
  for (std::uint32_t i : ix) sorted.push_back(std::move((*records)[i]));
  records->swap(sorted);
}

}  // namespace

SecondaryIndex::Files SecondaryIndex::Build(const SecondaryIndexDef& def,
                                            const SecondaryFileParams& p,
                                            std::vector<std::string> records,
                                            const std::string& templateHeader,
                                            const std::string& templateYHeader) {
  if (!def.maintained) records.clear();
  SortRecords(OrderOf(def, p.sortOrder), &records);
  std::size_t taken = 0;
  Files files;
  const Status s = WriteSorted(
      def, p, records.size(),
      [&]() -> const char* { return taken < records.size() ? records[taken++].data() : nullptr; },
      [&](std::uint64_t offset, std::string_view bytes) {
        if (files.x.size() < offset + bytes.size()) files.x.resize(offset + bytes.size());
        files.x.replace(offset, bytes.size(), bytes);
        return Status::OK();
      },
      &files.y, templateHeader, templateYHeader);
  if (!s.ok()) return {};
  return files;
}

Status SecondaryIndex::ChooseBlockCodes(const SecondaryIndexDef& def, const SecondaryFileParams& p,
                                        std::uint64_t count, const std::string& templateYHeader,
                                        BlockCodes* out) {
  *out = BlockCodes();
  const std::size_t recordLength = RecordLength(RecordFields(def));
  if (!def.maintained) count = 0;
  auto holds = [&](std::uint8_t code) {
    const std::size_t perBlock = RecordsPerBlock(code, recordLength);
    return perBlock >= 2 && (count + perBlock - 1) / perBlock <= 0xFFFF;
  };
  std::uint8_t x = p.blockSizeCode;
  while (x != 0 && !holds(x)) x = LargerIndexBlockCode(x);
  if (x == 0) {
    const std::string size = std::to_string(recordLength) + " bytes";
    const std::string why = RecordsPerBlock(kLargestIndexBlockCode, recordLength) < 2
                                ? "its records of " + size + " do not fit two to a 32 KiB block"
                                : std::to_string(count) + " records of " + size +
                                      " need more than 65535 blocks of 32 KiB";
    return Status(DBIERR_TABLEFULL, "The index " + p.fileName + " cannot be written: " + why);
  }
  IndexFileParams yp = TreeParams(def, p, OrderOf(def, p.sortOrder));
  const std::uint8_t kept =
      templateYHeader.size() > 5 ? static_cast<std::uint8_t>(templateYHeader[5]) : 0;
  yp.blockSizeCode = x == p.blockSizeCode && kept >= 1 && kept <= kLargestIndexBlockCode
                         ? kept
                         : IndexTreeBlockCode(x);
  Status s = PrimaryIndex::FitBlockCode(&yp);
  if (!s.ok()) return s;
  *out = {x, yp.blockSizeCode};
  return Status::OK();
}

Status SecondaryIndex::WriteSorted(const SecondaryIndexDef& def, const SecondaryFileParams& params,
                                   std::uint64_t count, const std::function<const char*()>& next,
                                   const FileWriter& writeX, std::string* y,
                                   const std::string& templateHeader,
                                   const std::string& templateYHeader) {
  y->clear();
  BlockCodes codes;
  Status chosen = ChooseBlockCodes(def, params, count, templateYHeader, &codes);
  if (!chosen.ok()) return chosen;
  SecondaryFileParams p = params;
  p.blockSizeCode = codes.x;
  const std::vector<IndexedField> all = RecordFields(def);
  const auto recordSize = static_cast<std::uint16_t>(RecordLength(all));
  if (!def.maintained) count = 0;
  KeyOrder order = OrderOf(def, p.sortOrder);

  const std::size_t blockSize = p.blockSizeCode * std::size_t{1024};
  const std::size_t perBlock = RecordsPerBlock(p.blockSizeCode, recordSize);
  const auto n = static_cast<std::uint16_t>((count + perBlock - 1) / perBlock);
  IndexFileParams yp = TreeParams(def, p, order);
  yp.blockSizeCode = codes.y;

  std::string x = XHeader(def, p, all, recordSize, templateHeader);
  PutLe32(x, 0x06, static_cast<std::uint32_t>(count));
  PutLe16(x, 0x0A, n);
  PutLe16(x, 0x0C, n);
  PutLe16(x, 0x0E, n ? 1 : 0);
  PutLe16(x, 0x10, n);
  PutLe16(x, 0x3A, n);

  // The blocks go out in batches of about a megabyte.
  const std::size_t batchBlocks = std::max<std::size_t>(1, (std::size_t{1} << 20) / blockSize);
  std::string batch;
  std::uint64_t batchAt = x.size();
  std::vector<IndexEntry> leaves;
  leaves.reserve(n);
  for (std::size_t b = 0; b < n; ++b) {
    const std::size_t first = b * perBlock;
    const std::size_t records = static_cast<std::size_t>(std::min<std::uint64_t>(perBlock, count - first));
    const std::size_t at = batch.size();
    batch.resize(at + blockSize, '\0');
    char* block = batch.data() + at;
    std::string head(6, '\0');
    PutLe16(head, 0, static_cast<std::uint16_t>(b + 1 < n ? b + 2 : 0));
    PutLe16(head, 2, static_cast<std::uint16_t>(b));
    PutLe16(head, 4, static_cast<std::uint16_t>((records - 1) * recordSize));
    std::memcpy(block, head.data(), 6);
    for (std::size_t k = 0; k < records; ++k) {
      const char* record = next();
      if (!record) return Status::Corruption("fewer index records than the table holds");
      std::memcpy(block + 6 + k * recordSize, record, recordSize);
    }
    leaves.push_back({std::string(block + 6, order.length()), static_cast<std::uint16_t>(b + 1),
                      static_cast<std::uint16_t>(records)});
    if (batch.size() / blockSize >= batchBlocks || b + 1 == n) {
      Status s = writeX(batchAt, batch);
      if (!s.ok()) return s;
      batchAt += batch.size();
      batch.clear();
    }
  }
  Status s = writeX(0, x);
  if (!s.ok()) return s;
  *y = PrimaryIndex::Build(yp, leaves, templateYHeader);
  return Status::OK();
}

}  // namespace engine
