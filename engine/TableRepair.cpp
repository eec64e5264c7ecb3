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

// Whether a stored value decodes to something the field can hold: it must
// come back byte for byte when encoded again, and dates and times must lie
// in their range. Text and raw bytes always decode.
bool ValueSound(const FieldDesc& f, const std::uint8_t* rec) {
  const FieldValue v = DecodeField(f, rec);
  if (v.null) return true;
  switch (f.type) {
    case FieldType::Alpha:
    case FieldType::Bytes:
      return true;
    case FieldType::Bcd:  // the engine leaves junk after the digits; the decimals must fit
      return (rec[f.offset] & 0x3F) <= 32;
    case FieldType::Date:
      if (v.i < 1 || v.i > DayNumber(9999, 12, 31)) return false;
      break;
    case FieldType::Time:
      if (v.i < 0 || v.i >= 86400000) return false;
      break;
    case FieldType::Timestamp:
      if (!(v.d >= 0 && v.d < (static_cast<double>(DayNumber(9999, 12, 31)) + 1) * 86400000.0))
        return false;
      break;
    default:
      break;
  }
  std::string again(static_cast<std::size_t>(f.offset + f.size), '\0');
  if (!EncodeField(f, v, Bytes(again)).ok()) return false;
  return std::memcmp(again.data() + f.offset, rec + f.offset, static_cast<std::size_t>(f.size)) ==
         0;
}

// What the salvage found in the data blocks of the file.
struct BlockScan {
  struct Block {
    bool sound = false;
    int records = 0;
    std::uint16_t next = 0;
    std::uint16_t prev = 0;
  };
  std::vector<Block> blocks;  // [0] unused
  std::vector<std::uint16_t> order;  // blocks whose records are taken, in order
  std::uint32_t skipped = 0;  // blocks of the chain that cannot be trusted
};

// Scans every block of the file and finds the chain's blocks: from its
// first block forwards and from its last block backwards, each step taken
// only where the two blocks name each other; blocks between damaged ones
// are taken when they link to a damaged block the chain uses.
Status ScanBlocks(RandomFile* file, const DataFileHeader& h, std::uint32_t key, BlockScan* scan) {
  const std::uint64_t size = file->Size();
  const std::size_t bs = h.BlockSize();
  std::uint64_t count = size > h.header_size ? (size - h.header_size + bs - 1) / bs : 0;
  count = std::min<std::uint64_t>(count, 0xFFFF);
  const std::uint32_t n = static_cast<std::uint32_t>(count);
  scan->blocks.assign(n + 1, BlockScan::Block{});
  std::string buf;
  for (std::uint32_t b = 1; b <= n; ++b) {
    Status s = ReadDataBlock(file, h, key, b, &buf);
    if (!s.ok()) continue;
    const DataBlockHeader bh = DataBlockHeader::DecodeFrom(Bytes(buf));
    BlockScan::Block& blk = scan->blocks[b];
    blk.records = bh.Records(h.record_size, bs);
    blk.next = bh.next;
    blk.prev = bh.prev;
    const std::uint64_t end = BlockOffset(h, b) + DataBlockHeader::kEncodedLength +
                              std::uint64_t(std::max(blk.records, 0)) * h.record_size;
    blk.sound = blk.records >= 0 && end <= size && bh.next != b && bh.prev != b && bh.next <= n &&
                bh.prev <= n;
  }
  auto& blocks = scan->blocks;
  std::vector<bool> taken(n + 1, false), bad_used(n + 1, false);
  auto sound = [&](std::uint32_t b) { return b >= 1 && b <= n && blocks[b].sound; };
  auto forward = [&](std::uint32_t b) {
    while (sound(b) && !taken[b]) {
      taken[b] = true;
      const std::uint32_t next = blocks[b].next;
      if (next == 0 || (sound(next) && blocks[next].prev != b)) break;
      b = next;
    }
  };
  auto backward = [&](std::uint32_t b) {
    while (sound(b) && !taken[b]) {
      taken[b] = true;
      const std::uint32_t prev = blocks[b].prev;
      if (prev == 0 || (sound(prev) && blocks[prev].next != b)) break;
      b = prev;
    }
  };
  if (h.first_block && (!sound(h.first_block) || blocks[h.first_block].prev == 0))
    forward(h.first_block);
  if (h.last_block && (!sound(h.last_block) || blocks[h.last_block].next == 0))
    backward(h.last_block);
  // Damaged blocks the chain uses, and what links to them.
  std::uint32_t missing = 0;
  for (bool changed = true; changed;) {
    changed = false;
    auto mark = [&](std::uint32_t b) {
      if (b >= 1 && b <= n && !blocks[b].sound && !bad_used[b]) bad_used[b] = changed = true;
    };
    mark(h.first_block);
    mark(h.last_block);
    for (std::uint32_t b = 1; b <= n; ++b) {
      if (!taken[b]) continue;
      mark(blocks[b].next);
      mark(blocks[b].prev);
    }
    for (std::uint32_t b = 1; b <= n; ++b) {
      if (taken[b] || !blocks[b].sound || blocks[b].records <= 0) continue;
      const std::uint32_t p = blocks[b].prev, x = blocks[b].next;
      if ((p && bad_used[p]) || (x && bad_used[x])) {
        taken[b] = false;
        forward(b);
        taken[b] = false;
        backward(b);
        changed = true;
      }
    }
  }
  // A chain that points past the end of the file lost the blocks there.
  if (h.first_block > n) ++missing;
  for (std::uint32_t b = 1; b <= n; ++b) {
    if (taken[b] && blocks[b].next > n) ++missing;
  }
  for (std::uint32_t b = 1; b <= n; ++b) scan->skipped += bad_used[b] ? 1 : 0;
  scan->skipped += missing;
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
      if (!(x && x <= n && taken[x] && blocks[x].prev == c)) break;
      c = x;
    }
    if (!seg.empty()) segments.push_back(std::move(seg));
  };
  for (std::uint32_t b = 1; b <= n; ++b) {
    const std::uint32_t p = blocks[b].prev;
    if (taken[b] && !(p && taken[p] && blocks[p].next == b)) segment_from(b);  // a head
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
      if (!ValueSound(f, rec)) {
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
  BlockScan scan;
  Status s = ScanBlocks(file_.get(), header_, header_.key, &scan);
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
    const int records = scan.blocks[number].records;
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
  report_->blocksSkipped = scan.skipped;
  if (scan.skipped) {
    // The header's count tells how many were lost as long as it is plausible.
    const std::uint64_t per_block = static_cast<std::uint64_t>(header_.RecordsPerBlock());
    std::uint64_t lost = header_.num_records > report_->recordsSaved
                             ? header_.num_records - report_->recordsSaved
                             : 0;
    lost = std::clamp<std::uint64_t>(lost, scan.skipped, scan.skipped * std::max<std::uint64_t>(per_block, 1));
    report_->recordsLost = static_cast<std::uint32_t>(lost);
  }
  if (writer_) {
    s = writer_->Sync();
    writer_.reset();
  }
  return s;
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
  // A table that verifies and whose values all decode is left as it is.
  const bool verified = !pending && VerifyTable(path_, env_).status.ok();
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
