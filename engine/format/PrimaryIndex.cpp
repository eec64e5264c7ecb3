#include "PrimaryIndex.h"

#include <algorithm>

#include "DataFileHeader.h"

namespace engine {

namespace {

constexpr std::uint16_t kHeaderSize = 0x800;
constexpr std::uint8_t kBcd = 0x17;

// Header offsets.
constexpr std::size_t kRecordSize = 0x00, kHeaderSizeAt = 0x02, kFileType = 0x04;
constexpr std::size_t kBlockCode = 0x05, kRecords = 0x06, kUsedBlocks = 0x0A;
constexpr std::size_t kFileBlocks = 0x0C, kFirstBlock = 0x0E, kLastBlock = 0x10;
constexpr std::size_t kUpdateCount = 0x12, kRoot = 0x1E, kLevels = 0x20, kFields = 0x21;
constexpr std::size_t kKeyFields = 0x23, kCrypt = 0x25, kSortOrder = 0x29;
constexpr std::size_t kChangeCount = 0x2C, kVersion = 0x39, kMaxBlocks = 0x3A;
constexpr std::size_t kRealHeaderSize = 0x51;

Status Corrupt(const std::string& what) {
  return Status(DBIERR_INDEXCORRUPT, "Corrupt index file: " + what);
}

std::uint16_t Saturated(std::uint32_t v) {
  return static_cast<std::uint16_t>(std::min(v, 0xFFFFu));
}

}  // namespace

Status CheckLeaves(const std::vector<IndexEntry>& leaves, const std::vector<IndexEntry>& blocks,
                   const KeyOrder& order) {
  if (leaves.size() != blocks.size())
    return Corrupt("index names " + std::to_string(leaves.size()) + " blocks, the file has " +
                   std::to_string(blocks.size()));
  for (std::size_t i = 0; i < leaves.size(); ++i) {
    const IndexEntry& want = blocks[i];
    std::string where = "entry " + std::to_string(i + 1);
    if (leaves[i].block != want.block) return Corrupt(where + " names the wrong block");
    if (leaves[i].count != want.count) return Corrupt(where + " has the wrong record count");
    if (leaves[i].key != want.key.substr(0, leaves[i].key.size()))
      return Corrupt(where + " does not hold its block's first key");
    if (i > 0 && !order.InOrder(leaves[i - 1].key, leaves[i].key))
      return Corrupt(where + " is out of key order");
  }
  return Status::OK();
}

std::uint8_t IndexTreeBlockCode(std::uint8_t tableBlockCode) {
  return tableBlockCode <= 4 ? tableBlockCode : 2;
}

std::uint8_t LargerIndexBlockCode(std::uint8_t code) {
  for (std::uint8_t larger : {1, 2, 4, 16, 32})
    if (larger > code) return larger;
  return 0;
}

std::uint16_t KeyFieldSize(std::uint8_t type, std::uint8_t sizeByte) {
  return type == kBcd ? 17 : sizeByte;
}

Status PrimaryIndex::DecodeFrom(std::string_view b) {
  *this = PrimaryIndex();
  if (b.size() < kCommonHeader) return Corrupt("header truncated");
  bytes_ = std::string(b);
  recordSize_ = GetLe16(b, kRecordSize);
  headerSize_ = GetLe16(b, kHeaderSizeAt);
  params_.fileType = static_cast<std::uint8_t>(b[kFileType]);
  params_.blockSizeCode = static_cast<std::uint8_t>(b[kBlockCode]);
  fileBlocks_ = GetLe16(b, kFileBlocks);
  root_ = GetLe16(b, kRoot);
  levels_ = static_cast<std::uint8_t>(b[kLevels]);
  entries_ = GetLe32(b, kRecords);
  std::uint16_t nf = GetLe16(b, kFields);
  params_.versionId = static_cast<std::uint8_t>(b[kVersion]);
  params_.sortOrder = static_cast<std::uint8_t>(b[kSortOrder]);
  params_.changeCount = static_cast<std::uint8_t>(b[kChangeCount]);
  params_.updateCount = GetLe16(b, kUpdateCount);
  encrypted_ = GetLe32(b, kCrypt) != 0;
  if (params_.fileType != 1 && params_.fileType != 4 && params_.fileType != 7)
    return Corrupt("not an index tree file");
  if (params_.blockSizeCode < 1 || params_.blockSizeCode > 32) return Corrupt("bad block size");
  if (headerSize_ < kCommonHeader || headerSize_ > b.size()) return Corrupt("bad header size");
  std::size_t nameAt = kCommonHeader + 2 * std::size_t{nf} + 4;
  if (nf == 0 || nameAt + TableNameLength(params_.versionId) > headerSize_)
    return Corrupt("bad key field count");
  std::size_t keyLength = 0;
  for (std::size_t i = 0; i < nf; ++i) {
    KeyField f{static_cast<std::uint8_t>(b[kCommonHeader + 2 * i]), 0, 0};
    auto sizeByte = static_cast<std::uint8_t>(b[kCommonHeader + 2 * i + 1]);
    f.size = KeyFieldSize(f.type, sizeByte);
    if (f.type == kBcd) f.decimals = sizeByte;
    keyLength += f.size;
    params_.keyFields.push_back(f);
  }
  if (recordSize_ != keyLength + kEntryExtra) return Corrupt("record size does not match the key");
  std::string_view name = b.substr(nameAt, TableNameLength(params_.versionId));
  params_.tableName = std::string(name.substr(0, name.find('\0')));
  header_ = std::string(b.substr(0, headerSize_));
  std::size_t blockSize = params_.blockSizeCode * std::size_t{1024};
  // Older engines end the file after the last used byte of its last block.
  fileSize_ = b.size();
  if (fileBlocks_ > 0 && headerSize_ + (fileBlocks_ - 1u) * blockSize + 6 > b.size())
    return Corrupt("file shorter than its blocks");
  bytes_.resize(std::max(bytes_.size(), headerSize_ + fileBlocks_ * blockSize), '\0');
  // An emptied index may keep a block while it has no levels.
  if (levels_ > 0 && (root_ == 0 || root_ > fileBlocks_)) return Corrupt("bad root block");
  return Status::OK();
}

Status PrimaryIndex::ReadBlock(std::uint16_t number, std::vector<IndexEntry>* entries) const {
  std::size_t blockSize = params_.blockSizeCode * std::size_t{1024};
  std::size_t at = headerSize_ + std::size_t{number - 1u} * blockSize;
  auto last = static_cast<std::int16_t>(GetLe16(bytes_, at + 4));
  if (last < 0 || last % recordSize_ != 0 || last + recordSize_ + 6u > blockSize ||
      at + 6 + last + recordSize_ > fileSize_)
    return Corrupt("bad entry count in block " + std::to_string(number));
  std::size_t n = last / recordSize_ + 1;
  std::size_t keyLength = recordSize_ - kEntryExtra;
  entries->clear();
  for (std::size_t i = 0; i < n; ++i) {
    const char* rec = bytes_.data() + at + 6 + i * recordSize_;
    entries->push_back({std::string(rec, keyLength), GetIndexShort(rec + keyLength),
                        GetIndexShort(rec + keyLength + 2)});
  }
  return Status::OK();
}

Status PrimaryIndex::Walk(std::uint16_t block, int level, std::vector<bool>& seen,
                          std::vector<IndexEntry>* out) const {
  if (block == 0 || block > fileBlocks_) return Corrupt("entry points outside the file");
  if (seen[block]) return Corrupt("blocks form a loop");
  seen[block] = true;
  std::vector<IndexEntry> entries;
  Status s = ReadBlock(block, &entries);
  if (!s.ok()) return s;
  if (level == 1) {
    out->insert(out->end(), entries.begin(), entries.end());
    return Status::OK();
  }
  for (const IndexEntry& e : entries) {
    s = Walk(e.block, level - 1, seen, out);
    if (!s.ok()) return s;
  }
  return Status::OK();
}

Status PrimaryIndex::Leaves(std::vector<IndexEntry>* out) const {
  out->clear();
  if (fileBlocks_ == 0 || levels_ == 0) return Status::OK();
  if (encrypted_) return Status(DBIERR_NOTSUPPORTED, "Encrypted index files are rebuilt, not read");
  std::vector<bool> seen(fileBlocks_ + 1u, false);
  return Walk(root_, levels_, seen, out);
}

Status PrimaryIndex::CheckPages() const {
  const std::size_t blockSize = params_.blockSizeCode * std::size_t{1024};
  const std::size_t data = fileSize_ - headerSize_;
  // Older engines write whole kilobytes of the last block only.
  if (fileBlocks_ > 0 && data != fileBlocks_ * blockSize &&
      (data % 1024 != 0 || data < (fileBlocks_ - 1u) * blockSize))
    return Corrupt("the file does not end where a block does");
  if (levels_ == 0) {
    if (entries_ != 0) return Corrupt("entries counted without a tree");
    return Status::OK();
  }
  if (encrypted_) return Status::OK();
  // Down from the root, one level at a time.
  std::vector<bool> inTree(fileBlocks_ + 1u, false);
  std::vector<std::uint16_t> level{root_};
  std::uint64_t total = 0, pages = 0;
  inTree[root_] = true;
  for (int depth = levels_; depth >= 1; --depth) {
    std::vector<std::uint16_t> below;
    for (std::uint16_t number : level) {
      std::vector<IndexEntry> entries;
      Status s = ReadBlock(number, &entries);
      if (!s.ok()) return s;
      ++pages;
      total += entries.size();
      for (const IndexEntry& e : depth > 1 ? entries : std::vector<IndexEntry>{}) {
        if (e.block == 0 || e.block > fileBlocks_ || inTree[e.block])
          return Corrupt("block " + std::to_string(number) + " names a block twice or outside");
        inTree[e.block] = true;
        std::vector<IndexEntry> child;
        s = ReadBlock(e.block, &child);
        if (!s.ok()) return s;
        std::uint32_t sum = 0;
        for (const IndexEntry& c : child) sum += c.count;
        if (child.front().key != e.key || e.count != Saturated(sum))
          return Corrupt("an entry of block " + std::to_string(number) +
                         " does not match the block it names");
        below.push_back(e.block);
      }
    }
    level = std::move(below);
  }
  if (total != entries_) return Corrupt("the header counts another number of entries");
  // The blocks in use are linked from the first to the last; free ones
  // are not.
  if (GetLe16(bytes_, kUsedBlocks) != pages) return Corrupt("the header counts other blocks");
  std::uint16_t previous = 0;
  std::uint64_t linked = 0;
  for (std::uint16_t b = GetLe16(bytes_, kFirstBlock); b != 0;
       b = GetLe16(bytes_, headerSize_ + (b - 1u) * blockSize)) {
    if (b > fileBlocks_ || !inTree[b] || ++linked > pages ||
        GetLe16(bytes_, headerSize_ + (b - 1u) * blockSize + 2) != previous)
      return Corrupt("the links between the blocks are broken");
    previous = b;
  }
  if (linked != pages || previous != GetLe16(bytes_, kLastBlock))
    return Corrupt("the links between the blocks are broken");
  return Status::OK();
}

Status PrimaryIndex::CheckParams(const IndexFileParams& p) {
  std::size_t keyLength = 0;
  for (const KeyField& f : p.keyFields) keyLength += f.size;
  if (p.keyFields.empty() || p.blockSizeCode < 1 || p.blockSizeCode > 32)
    return Status::InvalidParam("Index without key fields or with a bad block size");
  if (2 * (keyLength + kEntryExtra) > p.blockSizeCode * std::size_t{1024} - 6)
    return Status(DBIERR_INVALIDPARAM, "Index key too long for the block size");
  return Status::OK();
}

Status PrimaryIndex::FitBlockCode(IndexFileParams* p) {
  if (p->keyFields.empty()) return CheckParams(*p);
  IndexFileParams fitted = *p;
  while (!CheckParams(fitted).ok()) {
    fitted.blockSizeCode = LargerIndexBlockCode(fitted.blockSizeCode);
    if (fitted.blockSizeCode == 0) {
      std::size_t keyLength = 0;
      for (const KeyField& f : p->keyFields) keyLength += f.size;
      return Status(DBIERR_TABLEFULL,
                    "The index " + p->tableName + " cannot be written: a key of " +
                        std::to_string(keyLength) + " bytes does not fit two to a 32 KiB block");
    }
  }
  p->blockSizeCode = fitted.blockSizeCode;
  return Status::OK();
}

namespace {

struct Tree {
  std::vector<std::string> blocks;  // in file order, root last
  std::uint8_t levels = 0;
  std::uint32_t entries = 0;
};

// Level by level, bottom up: each block of a level gives one entry above,
// until one block holds a level. Blocks are chained in file order.
Tree BuildTree(const IndexFileParams& p, std::vector<IndexEntry> level) {
  std::size_t keyLength = 0;
  for (const KeyField& f : p.keyFields) keyLength += f.size;
  std::size_t recordSize = keyLength + PrimaryIndex::kEntryExtra;
  std::size_t blockSize = p.blockSizeCode * std::size_t{1024};
  std::size_t perBlock = (blockSize - 6) / recordSize;
  Tree tree;
  while (!level.empty()) {
    ++tree.levels;
    std::vector<IndexEntry> above;
    for (std::size_t i = 0; i < level.size(); i += perBlock) {
      std::size_t n = std::min(perBlock, level.size() - i);
      std::string block(blockSize, '\0');
      PutLe16(block, 4, static_cast<std::uint16_t>((n - 1) * recordSize));
      std::uint32_t sum = 0;
      for (std::size_t k = 0; k < n; ++k) {
        const IndexEntry& e = level[i + k];
        char* rec = block.data() + 6 + k * recordSize;
        e.key.copy(rec, std::min(e.key.size(), keyLength));
        PutIndexShort(rec + keyLength, e.block);
        PutIndexShort(rec + keyLength + 2, e.count);
        PutIndexShort(rec + keyLength + 4, 0);
        sum += e.count;
      }
      tree.blocks.push_back(std::move(block));
      tree.entries += static_cast<std::uint32_t>(n);
      above.push_back(
          {level[i].key, static_cast<std::uint16_t>(tree.blocks.size()), Saturated(sum)});
    }
    if (above.size() == 1) break;
    level = std::move(above);
  }
  for (std::size_t i = 0; i < tree.blocks.size(); ++i) {
    PutLe16(tree.blocks[i], 0, static_cast<std::uint16_t>(i + 1 < tree.blocks.size() ? i + 2 : 0));
    PutLe16(tree.blocks[i], 2, static_cast<std::uint16_t>(i));
  }
  return tree;
}

// The key field list and the file's name after the shared header part.
void PutKeyFields(const IndexFileParams& p, std::string& h) {
  std::size_t nameLength = TableNameLength(p.versionId);
  PutLe16(h, kRealHeaderSize,
          static_cast<std::uint16_t>(PrimaryIndex::kCommonHeader + 2 * p.keyFields.size() + 4 +
                                     nameLength));
  std::size_t at = PrimaryIndex::kCommonHeader;
  for (const KeyField& f : p.keyFields) {
    h[at++] = static_cast<char>(f.type);
    h[at++] = static_cast<char>(f.type == kBcd ? f.decimals : f.size);
  }
  at += 4;  // the engine's in-memory pointer to the name
  std::string name = p.tableName.substr(0, nameLength - 1);
  std::fill(h.begin() + static_cast<long>(at), h.begin() + static_cast<long>(at + nameLength),
            '\0');
  name.copy(h.data() + at, name.size());
}

std::string TreeHeader(const IndexFileParams& p, const Tree& tree, const std::string& tmpl) {
  std::string h =
      tmpl.size() >= kHeaderSize ? tmpl.substr(0, kHeaderSize) : std::string(kHeaderSize, '\0');
  auto n = static_cast<std::uint16_t>(tree.blocks.size());
  std::size_t keyLength = 0;
  for (const KeyField& f : p.keyFields) keyLength += f.size;
  PutLe16(h, kRecordSize, static_cast<std::uint16_t>(keyLength + PrimaryIndex::kEntryExtra));
  PutLe16(h, kHeaderSizeAt, kHeaderSize);
  h[kFileType] = static_cast<char>(p.fileType);
  h[kBlockCode] = static_cast<char>(p.blockSizeCode);
  PutLe32(h, kRecords, tree.entries);
  PutLe16(h, kUsedBlocks, n);
  PutLe16(h, kFileBlocks, n);
  PutLe16(h, kFirstBlock, n ? 1 : 0);
  PutLe16(h, kLastBlock, n);
  PutLe16(h, kUpdateCount, p.updateCount);
  h[0x14] = 0;  // nothing to rebuild
  PutLe16(h, kRoot, n ? n : 1);
  h[kLevels] = static_cast<char>(tree.levels);
  PutLe16(h, kFields, static_cast<std::uint16_t>(p.keyFields.size()));
  PutLe16(h, kKeyFields, 0);
  PutLe32(h, kCrypt, 0);
  h[kSortOrder] = static_cast<char>(p.sortOrder);
  h[0x2A] = 0;
  h[kChangeCount] = static_cast<char>(p.changeCount);
  h[kVersion] = static_cast<char>(p.versionId);
  PutLe16(h, kMaxBlocks, n);
  PutKeyFields(p, h);
  return h;
}

}  // namespace

std::string PrimaryIndex::Build(const IndexFileParams& p, const std::vector<IndexEntry>& leaves,
                                const std::string& templateHeader) {
  if (!CheckParams(p).ok()) return std::string();
  Tree tree = BuildTree(p, leaves);
  std::string file = TreeHeader(p, tree, templateHeader);
  for (const std::string& block : tree.blocks) file += block;
  return file;
}

}  // namespace engine
