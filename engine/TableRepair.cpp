#include "TableRepair.h"

#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>

#include "BlobFile.h"
#include "ByteOrder.h"
#include "DataBlock.h"
#include "DataFileHeader.h"
#include "DbiStructure.h"
#include "Journal.h"
#include "ParadoxTable.h"
#include "PrimaryIndex.h"
#include "Restructure.h"
#include "SecondaryIndex.h"
#include "TableFiles.h"
#include "TableLock.h"
#include "TableVerify.h"
#include "TableVerifyIndexes.h"
#include "TableWriter.h"
#include "ValFile.h"

namespace engine {

namespace {

Status WriteBytes(Env* env, const std::string& path, const std::string& bytes) {
  Status s = WriteSyncedFile(env, path, bytes);
  return s.ok() ? s : s.WithContext(path);
}

// Creates a folder unless it is there already.
Status MakeDir(Env* env, const std::string& dir) {
  if (env->Exists(dir)) return Status::OK();
  return env->CreateDir(dir);
}

// What the salvage found in the data blocks of the file.
struct BlockScan {
  struct Block {
    int records = -1;  // as its header says; -1 when that does not fit the block or the file
    std::uint16_t next = 0;
    std::uint16_t prev = 0;
    bool blank_header = false;  // all six header bytes zero
    bool member = false;        // the chain's links lead to it
    bool damaged = false;       // a member whose header cannot be trusted
    bool drop_last = false;     // its last record is past the block's true end
    bool over_full = false;     // counts more records than it holds
    std::string first_key, last_key, before_last_key;
    bool last_blank = false;
  };
  std::vector<Block> blocks;  // [0] unused
  std::vector<std::uint16_t> order;  // blocks whose records are taken, in order
  std::uint32_t damaged = 0;  // blocks of the chain whose header cannot be trusted
  std::uint64_t claimed = 0;  // records the taken blocks' headers count
  std::uint32_t dropped = 0;  // of those, records found to lie past a block's end
  std::vector<std::string> notes;
};

// Scans every block of the file and finds the chain's blocks: from its
// first block forwards and from its last block backwards, a block being
// reached when a block of the chain links to it. A block whose header is
// blank (where it is not the only block), whose count does not fit, or
// whose two links both disagree with its neighbours is damaged: its records
// are not taken. A block with one bad link keeps its records. Blocks lying
// between damaged ones are taken when they link to one.
Status ScanBlocks(RandomFile* file, const DataFileHeader& h, std::uint32_t key,
                  const std::vector<IndexEntry>& index_leaves, BlockScan* scan) {
  const std::uint64_t size = file->Size();
  const std::size_t bs = h.BlockSize();
  std::uint64_t count = size > h.header_size ? (size - h.header_size + bs - 1) / bs : 0;
  count = std::min<std::uint64_t>(count, 0xFFFF);
  const std::uint32_t n = static_cast<std::uint32_t>(count);
  scan->blocks.assign(n + 1, BlockScan::Block{});
  auto& blocks = scan->blocks;
  const bool keyed = h.Keyed() && h.key_fields > 0;
  std::string buf;
  for (std::uint32_t b = 1; b <= n; ++b) {
    Status s = ReadDataBlock(file, h, key, b, &buf);
    if (!s.ok()) continue;
    const DataBlockHeader bh = DataBlockHeader::DecodeFrom(Bytes(buf));
    BlockScan::Block& blk = blocks[b];
    blk.records = bh.Records(h.record_size, bs);
    if (blk.records < 0 && bh.add_data_size >= 0 && bh.add_data_size % h.record_size == 0) {
      // A count beyond what the block holds: trusted up to a full block
      // where both links are right.
      blk.records = h.RecordsPerBlock();
      blk.over_full = true;
    }
    blk.next = bh.next;
    blk.prev = bh.prev;
    blk.blank_header = buf.compare(0, DataBlockHeader::kEncodedLength,
                                   std::string(DataBlockHeader::kEncodedLength, '\0')) == 0;
    const std::uint64_t end = BlockOffset(h, b) + DataBlockHeader::kEncodedLength +
                              std::uint64_t(std::max(blk.records, 0)) * h.record_size;
    if (end > size) blk.records = -1;
    if (blk.records <= 0) continue;
    auto record = [&](int r) {
      return buf.data() + DataBlockHeader::kEncodedLength + std::size_t(r) * h.record_size;
    };
    const char* last = record(blk.records - 1);
    blk.last_blank = std::all_of(last, last + h.record_size, [](char c) { return c == 0; });
    if (keyed) {
      blk.first_key = PrimaryKeyOf(h, record(0));
      blk.last_key = PrimaryKeyOf(h, last);
      if (blk.records > 1) blk.before_last_key = PrimaryKeyOf(h, record(blk.records - 2));
    }
  }
  auto valid = [&](std::uint32_t b) { return b >= 1 && b <= n; };
  std::vector<bool> stop(n + 1, false);  // reached through a link it does not return
  // Follows links from b while each step is returned; a block reached
  // through a link it does not return joins, but is not followed.
  auto walk = [&](std::uint32_t b, bool forward) {
    while (valid(b) && !blocks[b].member) {
      blocks[b].member = true;
      if (stop[b] || blocks[b].records < 0) return;
      const std::uint32_t to = forward ? blocks[b].next : blocks[b].prev;
      if (!valid(to) || to == b) return;
      if ((forward ? blocks[to].prev : blocks[to].next) != b) stop[to] = true;
      b = to;
    }
  };
  walk(h.first_block, true);
  walk(h.last_block, false);
  // A header that is damaged whatever its neighbours say.
  auto bad_header = [&](std::uint32_t b) {
    // A blank header is right only for the one block of a table of one
    // record (with a key that is not blank).
    const bool sole = b == h.first_block && b == h.last_block && h.num_records == 1 &&
                      !(keyed && blocks[b].last_blank);
    return blocks[b].records < 0 || (blocks[b].blank_header && !sole);
  };
  // A link is right when the block it names links back, or cannot say.
  auto link_ok = [&](std::uint32_t b, bool forward) {
    const std::uint32_t to = forward ? blocks[b].next : blocks[b].prev;
    if (to == 0) return b == (forward ? h.last_block : h.first_block);
    return valid(to) && to != b &&
           ((forward ? blocks[to].prev : blocks[to].next) == b || bad_header(to));
  };
  auto judge = [&](std::uint32_t b) {
    BlockScan::Block& blk = blocks[b];
    const bool fwd = link_ok(b, true), back = link_ok(b, false);
    blk.damaged = bad_header(b) || (!fwd && !back) || (blk.over_full && !(fwd && back));
  };
  for (bool changed = true; changed;) {
    changed = false;
    for (std::uint32_t b = 1; b <= n; ++b)
      if (blocks[b].member) judge(b);
    // A block that links to a damaged block of the chain, or is named by a
    // block of the chain whose own link is broken, belongs to the chain too.
    auto broken = [&](std::uint32_t to, bool forward) {
      if (!valid(to) || !blocks[to].member) return false;
      if (blocks[to].damaged) return true;
      const std::uint32_t back = forward ? blocks[to].next : blocks[to].prev;
      return !valid(back) || back == to;
    };
    for (std::uint32_t b = 1; b <= n; ++b) {
      const BlockScan::Block& blk = blocks[b];
      if (blk.member || blk.records <= 0 || blk.blank_header) continue;
      if (broken(blk.prev, true) || broken(blk.next, false)) {
        walk(b, true);
        blocks[b].member = false;
        walk(b, false);
        changed = true;
      }
    }
  }
  std::vector<bool> taken(n + 1, false);
  for (std::uint32_t b = 1; b <= n; ++b) {
    taken[b] = blocks[b].member && !blocks[b].damaged && blocks[b].records > 0;
    scan->damaged += blocks[b].member && blocks[b].damaged ? 1 : 0;
  }
  // One block of the chain whose header is damaged: the header's count
  // gives its records when they read as records (none blank, keys rising
  // from the block before it to the block after it).
  const std::uint64_t capacity = std::uint64_t(n) * std::max(h.RecordsPerBlock(), 1);
  std::uint64_t counted = 0;
  std::vector<std::uint32_t> bad;
  for (std::uint32_t b = 1; b <= n; ++b) {
    if (taken[b]) counted += static_cast<std::uint64_t>(blocks[b].records);
    if (blocks[b].member && blocks[b].damaged) bad.push_back(b);
  }
  if (bad.size() == 1 && bad_header(bad[0]) && h.num_records <= capacity &&
      h.num_records > counted &&
      h.num_records - counted <= static_cast<std::uint64_t>(h.RecordsPerBlock()) &&
      ReadDataBlock(file, h, key, bad[0], &buf).ok()) {
    const std::uint32_t x = bad[0];
    const int k = static_cast<int>(h.num_records - counted);
    const KeyOrder order = keyed ? PrimaryKeyOrder(h) : KeyOrder();
    std::string before, after;
    for (std::uint32_t b = 1; b <= n; ++b) {
      if (taken[b] && blocks[b].next == x) before = blocks[b].last_key;
      if (taken[b] && blocks[b].prev == x) after = blocks[b].first_key;
    }
    bool fits = true;
    std::string previous = before;
    for (int r = 0; fits && r < k; ++r) {
      const char* rec = buf.data() + DataBlockHeader::kEncodedLength + std::size_t(r) * h.record_size;
      fits = !std::all_of(rec, rec + h.record_size, [](char c) { return c == 0; });
      if (!fits || !keyed) continue;
      const std::string key_of = PrimaryKeyOf(h, rec);
      fits = (previous.empty() || order.Compare(previous, key_of) < 0) &&
             (r + 1 < k || after.empty() || order.Compare(key_of, after) < 0);
      previous = key_of;
    }
    if (fits) {
      BlockScan::Block& blk = blocks[x];
      blk.records = k;
      blk.damaged = false;
      taken[x] = true;
      --scan->damaged;
      blk.last_blank = false;
      if (keyed) {
        blk.first_key = PrimaryKeyOf(h, buf.data() + DataBlockHeader::kEncodedLength);
        blk.last_key = previous;
      }
      scan->notes.push_back("the header of data block " + std::to_string(x) +
                            " is damaged; the header's record count gives it " +
                            std::to_string(k) + " records, which read whole" +
                            (keyed ? " and in key order" : "") + ", and were taken");
    }
  }
  // Segments in order: the one starting at the header's first block, then
  // the others by block number, the one ending at the last block at the end.
  std::vector<std::vector<std::uint16_t>> segments;
  std::vector<bool> emitted(n + 1, false);
  auto segment_from = [&](std::uint32_t b) {
    std::vector<std::uint16_t> seg;
    for (std::uint32_t c = b; c && taken[c] && !emitted[c];) {
      emitted[c] = true;
      seg.push_back(static_cast<std::uint16_t>(c));
      const std::uint32_t x = blocks[c].next;
      if (!(valid(x) && taken[x] && blocks[x].prev == c)) break;
      c = x;
    }
    if (!seg.empty()) segments.push_back(std::move(seg));
  };
  for (std::uint32_t b = 1; b <= n; ++b) {
    const std::uint32_t p = blocks[b].prev;
    if (taken[b] && !(valid(p) && taken[p] && blocks[p].next == b)) segment_from(b);  // a head
  }
  for (std::uint32_t b = 1; b <= n; ++b) segment_from(b);  // blocks linked in a ring
  auto rank = [&](const std::vector<std::uint16_t>& seg) {
    if (seg.front() == h.first_block) return 0;
    if (seg.back() == h.last_block) return 2;
    return 1;
  };
  std::stable_sort(segments.begin(), segments.end(),
                   [&](const auto& a, const auto& b) { return rank(a) < rank(b); });
  for (const auto& seg : segments) scan->order.insert(scan->order.end(), seg.begin(), seg.end());
  for (std::uint16_t b : scan->order) {
    scan->claimed += static_cast<std::uint64_t>(blocks[b].records);
    if (blocks[b].over_full)
      scan->notes.push_back("data block " + std::to_string(b) +
                            " counts more records than it can hold; its " +
                            std::to_string(blocks[b].records) + " were taken");
  }

  // Blocks that count more records than the header: a block's last record
  // lies past its true end when it is blank or breaks the key order (a
  // copy left behind by a split, or zeros), or, failing that, where the
  // primary index counts one record less for the block.
  if (h.num_records <= capacity && scan->claimed > h.num_records && scan->damaged == 0) {
    std::uint64_t surplus = scan->claimed - h.num_records;
    const KeyOrder order = keyed ? PrimaryKeyOrder(h) : KeyOrder();
    for (std::size_t i = 0; i < scan->order.size() && surplus; ++i) {
      BlockScan::Block& blk = blocks[scan->order[i]];
      bool past_end = blk.last_blank;
      if (keyed && !past_end) {
        past_end = (blk.records > 1 && order.Compare(blk.before_last_key, blk.last_key) >= 0) ||
                   (i + 1 < scan->order.size() &&
                    order.Compare(blk.last_key, blocks[scan->order[i + 1]].first_key) >= 0);
      }
      if (!past_end) continue;
      blk.drop_last = true;
      ++scan->dropped;
      --surplus;
      scan->notes.push_back("data block " + std::to_string(scan->order[i]) + " counts " +
                            std::to_string(blk.records) + " records; the last is not one of " +
                            "the table's (" + (blk.last_blank ? "blank" : "out of key order") +
                            ") and was left out");
    }
    std::vector<int> indexed(n + 1, -1);
    for (const IndexEntry& e : index_leaves)
      if (valid(e.block)) indexed[e.block] = e.count;
    for (std::uint16_t b : scan->order) {
      BlockScan::Block& blk = blocks[b];
      if (!surplus || blk.drop_last || indexed[b] + 1 != blk.records) continue;
      blk.drop_last = true;
      ++scan->dropped;
      --surplus;
      scan->notes.push_back("data block " + std::to_string(b) + " counts " +
                            std::to_string(blk.records) + " records, the header and the " +
                            "primary index one less; its last was left out");
    }
  }
  return Status::OK();
}

class Repair {
 public:
  Repair(const std::string& db_path, const RepairOptions& options, RepairReport* report)
      : path_(db_path), options_(options), report_(report) {
    env_ = options.env ? options.env : Env::Default();
    work_ = DirName(db_path) + "/." + BaseName(db_path) + ".repair~";
  }
  ~Repair() {
    if (staged_) RemoveStagingDir(env_, work_);
  }

  Status Run();

 private:
  Status ReadHeader();
  Status Salvage(bool write);
  Status SalvageRecord(std::string& record, std::vector<FieldValue>* values);
  void CountLost(const BlockScan& scan);
  void CheckCompanions();
  Status Rebuild();
  Status KeepOriginals();
  Status Commit();

  Env* env_;
  std::string path_;
  const RepairOptions& options_;
  RepairReport* report_;
  std::string work_;
  bool staged_ = false;
  TableLock lock_;
  std::unique_ptr<RandomFile> file_;
  DataFileHeader header_;
  std::unique_ptr<BlobReader> blobs_;
  std::string blob_file_fault_;  // why the blob file could not be opened
  std::unique_ptr<TableWriter> writer_;
  std::vector<std::string> carried_;  // companions that go along into the work folder
};

Status Repair::ReadHeader() {
  Status s = env_->OpenRead(path_, &file_);
  if (!s.ok()) {
    if (s.code() == DBIERR_NOSUCHFILE) s = Status(DBIERR_NOSUCHTABLE, "table does not exist");
    return s.WithContext(path_);
  }
  const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(file_->Size(), 0x10000));
  std::string bytes(n, '\0');
  s = n ? file_->ReadAt(0, n, bytes.data()) : Status::OK();
  if (s.ok()) s = header_.DecodeFrom(bytes, file_->Size());
  if (!s.ok()) {
    report_->repairable = false;
    return s.WithContext(path_);
  }
  return Status::OK();
}

Status Repair::SalvageRecord(std::string& record, std::vector<FieldValue>* values) {
  auto* rec = reinterpret_cast<std::uint8_t*>(record.data());
  bool damaged = false;
  for (std::size_t i = 0; i < header_.fields.size(); ++i) {
    const FieldDesc& f = header_.fields[i];
    FieldValue& v = (*values)[i];
    v = FieldValue{};
    if (!IsBlobType(f.type)) {
      if (!ValueDecodes(f, rec)) {
        std::memset(rec + f.offset, 0, static_cast<std::size_t>(f.size));
        ++report_->valuesBlanked;
        damaged = true;
      }
      continue;
    }
    const FieldValue stored = DecodeField(f, rec);
    if (stored.null) {
      std::memset(rec + f.offset, 0, static_cast<std::size_t>(f.size));
      continue;
    }
    Status s;
    std::string data;
    if (stored.blob.BlockOffset() == 0) {
      if (stored.blob.length > stored.blob.leader.size()) s = Status::Corruption("no blob block");
      data = stored.blob.leader.substr(0, stored.blob.length);
    } else if (!blobs_) {
      s = Status::Corruption("no blob file");
    } else {
      s = blobs_->Read(stored.blob, &data);
    }
    if (!s.ok()) {
      std::memset(rec + f.offset, 0, static_cast<std::size_t>(f.size));
      ++report_->blobsLost;
      damaged = true;
      continue;
    }
    v.null = false;
    v.s = f.type == FieldType::Graphic ? GraphicPayload(data) : std::move(data);
  }
  if (damaged) ++report_->recordsDamaged;
  if (!writer_) return Status::OK();
  return writer_->AppendEncoded(record, *values);
}

Status Repair::Salvage(bool write) {
  bool has_blobs = false;
  for (const FieldDesc& f : header_.fields) has_blobs = has_blobs || IsBlobType(f.type);
  blob_file_fault_.clear();
  if (has_blobs) {
    const std::string mb = CompanionPath(path_, ".MB");
    Status s = BlobReader::Open(env_, mb, header_.key, &blobs_);
    if (!s.ok()) {
      blobs_.reset();
      blob_file_fault_ = "the blob file " + BaseName(mb) + ": " + s.message();
    }
  }
  // A primary index that reads is a third witness to the blocks' counts.
  std::vector<IndexEntry> leaves;
  std::string px_bytes;
  PrimaryIndex px;
  if (!header_.Keyed() || !ReadWholeFile(env_, CompanionPath(path_, ".PX"), &px_bytes).ok() ||
      !px.DecodeFrom(px_bytes).ok() || !px.Leaves(&leaves).ok())
    leaves.clear();
  BlockScan scan;
  Status s = ScanBlocks(file_.get(), header_, header_.key, leaves, &scan);
  if (!s.ok()) return s;
  if (write) {
    TableDefinition def;
    def.fields = header_.fields;
    def.key_fields = header_.key_fields;
    def.key = header_.key;
    def.code_page = header_.code_page ? header_.code_page : 437;
    def.block_size_kb = header_.block_size_code;
    def.source = &header_;
    const std::string staged = work_ + "/" + BaseName(path_);
    s = PrepareStagingDir(env_, work_);
    staged_ = s.ok();
    if (s.ok()) s = CreateStagedTable(env_, staged, def);
    if (s.ok()) s = TableWriter::Open(env_, staged, header_.key, &writer_);
    if (!s.ok()) return s;
  }
  std::string block;
  std::vector<FieldValue> values(header_.fields.size());
  for (std::uint16_t number : scan.order) {
    s = ReadDataBlock(file_.get(), header_, header_.key, number, &block);
    if (!s.ok()) return s;
    const int records = scan.blocks[number].records - (scan.blocks[number].drop_last ? 1 : 0);
    for (int r = 0; r < records; ++r) {
      std::string record = block.substr(
          DataBlockHeader::kEncodedLength + static_cast<std::size_t>(r) * header_.record_size,
          header_.record_size);
      s = SalvageRecord(record, &values);
      if (!s.ok()) return s;
      ++report_->recordsSaved;
    }
  }
  // Told only when a blob needed the file.
  if (report_->blobsLost && !blob_file_fault_.empty()) report_->lost.push_back(blob_file_fault_);
  report_->blocksSkipped = scan.damaged;
  report_->recordsDropped = scan.dropped;
  report_->notes = scan.notes;
  CountLost(scan);
  if (writer_) {
    s = writer_->Sync();
    writer_.reset();
  }
  return s;
}

// What the original held, from two witnesses: the header's record count
// and the counts of the chain's blocks. The header is trusted while the
// file's blocks could hold what it counts; blocks whose header is damaged
// held at least one record each.
void Repair::CountLost(const BlockScan& scan) {
  const std::uint64_t header = header_.num_records;
  const std::uint64_t saved = report_->recordsSaved;
  const std::uint64_t blocks = scan.claimed - scan.dropped;
  const std::uint64_t per_block = std::max(header_.RecordsPerBlock(), 1);
  const std::uint64_t capacity = (scan.blocks.size() - 1) * per_block;
  const std::string damaged =
      scan.damaged ? " and " + std::to_string(scan.damaged) + " damaged blocks that cannot be counted"
                   : "";
  std::uint64_t lost = 0;
  if (header <= capacity) {
    lost = std::max<std::uint64_t>(header > saved ? header - saved : 0, scan.damaged);
    if (saved > header) {
      report_->recordsDoubtful = static_cast<std::uint32_t>(saved - header);
      report_->notes.push_back("the header counts " + std::to_string(header) +
                               " records, the blocks " + std::to_string(blocks) + damaged +
                               "; the blocks were trusted, so " +
                               std::to_string(saved - header) +
                               " of the saved records may not be the table's");
    } else if (header != blocks || scan.damaged) {
      report_->notes.push_back("the header counts " + std::to_string(header) +
                               " records, the blocks " + std::to_string(blocks) + damaged +
                               "; the header's count was trusted");
    }
  } else {
    lost = scan.damaged * per_block;  // at most that many
    report_->notes.push_back("the header counts " + std::to_string(header) +
                             " records, more than the file's blocks can hold; the blocks' counts "
                             "were trusted" +
                             (scan.damaged ? ", and each damaged block counted as full" : ""));
  }
  report_->recordsLost = static_cast<std::uint32_t>(std::min<std::uint64_t>(lost, 0xFFFFFFFF));
}

// Decides which index and check files can go along to the rebuild: those
// that read; the others are lost (a damaged primary index is no loss, it is
// built from the records in any case).
void Repair::CheckCompanions() {
  if (header_.Keyed()) report_->indexesRebuilt.push_back(BaseName(CompanionPath(path_, ".PX")));
  for (const std::string& path : CompanionFiles(path_)) {
    const std::string ext = UpperExtension(path);
    // Of companions whose names differ only in case, the one the engine
    // reads goes along; the others are kept with the damaged files.
    if (path != CompanionPath(path_, "." + ext)) continue;
    std::string bytes;
    if (ext == "PX" && header_.Keyed()) {
      PrimaryIndex px;
      if (ReadWholeFile(env_, path, &bytes).ok() && px.DecodeFrom(bytes).ok())
        carried_.push_back(path);
    } else if (ext == "VAL") {
      ValFile val;
      Status s = ReadWholeFile(env_, path, &bytes);
      if (s.ok()) s = val.DecodeFrom(bytes);
      if (s.ok()) {
        carried_.push_back(path);
      } else {
        report_->lost.push_back("validity checks and links (" + BaseName(path) + ": " +
                                s.message() + ")");
      }
    } else if (IsSecondaryIndexExtension(ext) && ext[0] == 'X') {
      // Its definition is what counts; the records are built anew.
      SecondaryIndex index;
      Status s = ReadIndexHeader(env_, path, &bytes);
      if (s.ok()) s = index.DecodeFrom(bytes);
      if (s.ok()) {
        carried_.push_back(path);
        std::string y_ext = ext;
        y_ext[0] = 'Y';
        const std::string y = CompanionPath(path_, "." + y_ext);
        if (env_->Exists(y)) carried_.push_back(y);
        report_->indexesRebuilt.push_back(BaseName(path));
      } else {
        report_->lost.push_back("secondary index " + BaseName(path) + " (" + s.message() + ")");
      }
    }
  }
}

// Packs the salvaged table with the files that read: every index is built
// anew from the records, the checks are brought along.
Status Repair::Rebuild() {
  for (const std::string& path : carried_) {
    std::string bytes;
    Status s = ReadWholeFile(env_, path, &bytes);
    if (s.ok()) s = WriteBytes(env_, work_ + "/" + BaseName(path), bytes);
    if (!s.ok()) return s;
  }
  RestructureOptions pack;
  pack.env = env_;
  pack.useHeaderKey = true;
  RestructureReport packed;
  Status s = PackTable(work_ + "/" + BaseName(path_), pack, &packed);
  if (!s.ok()) return s;
  for (const std::string& note : packed.notes) report_->lost.push_back(note);
  report_->keyViolations = packed.keyViolations;
  return Status::OK();
}

// Keeps every file of the damaged table in DAMAGED/<TABLE>_<moment>/ beside
// it: linked there where the file system allows (the commit then replaces
// only the names in the table's folder), copied elsewhere.
Status Repair::KeepOriginals() {
  const std::string dir = DirName(path_);
  Status s = MakeDir(env_, dir + "/DAMAGED");
  if (!s.ok()) return s;
  const std::string base = Stem(path_) + "_" +
                           KeptCopyStamp(options_.moment ? options_.moment : std::time(nullptr));
  std::string folder = dir + "/DAMAGED/" + base;
  for (int n = 2; env_->Exists(folder); ++n) {
    folder = dir + "/DAMAGED/" + base + "_" + std::to_string(n);
  }
  s = MakeDir(env_, folder);
  if (!s.ok()) return s;
  for (const std::string& path : CompanionFiles(path_)) {
    const std::string kept = folder + "/" + BaseName(path);
    if (::link(path.c_str(), kept.c_str()) == 0) continue;
    std::string bytes;
    s = ReadWholeFile(env_, path, &bytes);
    if (s.ok()) s = WriteBytes(env_, kept, bytes);
    if (!s.ok()) return s;
  }
  s = env_->SyncDir(folder);
  if (s.ok()) s = env_->SyncDir(dir + "/DAMAGED");
  if (s.ok()) report_->damagedFolder = folder;
  return s;
}

Status Repair::Commit() {
  const std::string dir = DirName(path_);
  const std::string stem = Stem(path_);
  std::vector<FileSwap> swaps;
  std::vector<std::string> targets;
  std::vector<std::string> keyviol_old;
  std::vector<std::string> names;
  Status listed = env_->ListDir(work_, &names);
  if (!listed.ok()) return listed;
  std::sort(names.begin(), names.end());
  for (const std::string& name : names) {
    std::string target;
    if (::strcasecmp(Stem(name).c_str(), stem.c_str()) == 0) {
      target = ::strcasecmp(name.c_str(), BaseName(path_).c_str()) == 0
                   ? path_
                   : CompanionPath(path_, "." + UpperExtension(name), path_);
    } else if (::strcasecmp(Stem(name).c_str(), "KEYVIOL") == 0) {
      target = FindNoCase(dir, name);
      if (UpperExtension(name) == "DB") {
        report_->keyViolTable = target;
        keyviol_old = CompanionFiles(target);
      }
    } else {
      continue;
    }
    targets.push_back(target);
    swaps.push_back({work_ + "/" + name, target});
  }
  auto replaced = [&](const std::string& old) {
    for (const std::string& t : targets)
      if (t == old) return true;  // a companion in another case is a file of its own
    return false;
  };
  for (const std::string& old : CompanionFiles(path_)) {
    const std::string ext = UpperExtension(old);
    const bool stale = ext == "MB" || ext == "PX" || ext == "VAL" || IsSecondaryIndexExtension(ext) ||
                       IsParkedExtension(ext);
    if (stale && !replaced(old)) swaps.push_back({"", old});
  }
  for (const std::string& old : keyviol_old)
    if (!replaced(old)) swaps.push_back({"", old});
  Status s = env_->SyncDir(work_);
  if (s.ok()) s = CommitSwaps(env_, RestructureJournalPath(path_), swaps);
  if (!s.ok() && env_->Exists(RestructureJournalPath(path_))) staged_ = false;  // the next open finishes
  return s;
}

Status Repair::Run() {
  Status s;
  const bool pending = !PendingReplacement(env_, path_).empty();
  const Status writable = options_.dryRun ? Status::OK() : CheckWritable(path_);
  if (!options_.dryRun) {
    // A table that cannot be written is still checked, and left alone when sound.
    if (writable.ok() && pending) s = RecoverTable(env_, path_);
    if (s.ok()) s = lock_.Acquire(path_, writable.ok());
    if (!s.ok()) return s.contexts()[0].empty() ? s.WithContext(path_) : s;
  } else if (pending) {
    report_->lost.push_back("an interrupted replacement of the files is pending; the repair "
                            "finishes it first, and these counts may change then");
  }
  // A table that verifies and whose values all decode is left as it is
  // (also once the pending replacement is finished).
  const bool verified =
      PendingReplacement(env_, path_).empty() && VerifyTable(path_, env_).status.ok();
  s = ReadHeader();
  if (s.ok()) s = Salvage(false);
  if (s.ok()) CheckCompanions();
  if (!s.ok()) return s;
  if (verified && !report_->SomethingLost()) {
    report_->sound = true;
    report_->indexesRebuilt.clear();
    return s;
  }
  if (options_.dryRun) return s;
  if (!writable.ok()) return writable.contexts()[0].empty() ? Status(writable).WithContext(path_) : writable;
  *report_ = RepairReport();
  carried_.clear();
  s = Salvage(true);
  if (s.ok()) CheckCompanions();
  if (!s.ok()) return s;
  file_.reset();
  blobs_.reset();
  s = Rebuild();
  if (s.ok()) s = KeepOriginals();
  if (s.ok()) s = Commit();
  return s;
}

}  // namespace

Status RepairTable(const std::string& db_path, const RepairOptions& options, RepairReport* report) {
  RepairReport local;
  RepairReport* out = report ? report : &local;
  *out = RepairReport();
  if (Status twins = RefuseCaseTwins(db_path); !twins.ok()) return twins;
  Repair repair(db_path, options, out);
  return repair.Run();
}

}  // namespace engine
