#include "Restructure.h"

#include <stdlib.h>
#include <strings.h>

#include <algorithm>
#include <cstring>
#include <future>

#include "DataBlock.h"
#include "DataFileHeader.h"
#include "DbiStructure.h"
#include "Heartbeat.h"
#include "Journal.h"
#include "CodePage.h"
#include "FieldText.h"
#include "ParadoxCrypt.h"
#include "RestructureCopy.h"
#include "TableFiles.h"
#include "TableLock.h"
#include "WriteBehind.h"

namespace engine {

namespace {

std::vector<std::string> ListNames(Env* env, const std::string& dir) {
  std::vector<std::string> names;
  env->ListDir(dir, &names);  // a folder that cannot be read has no entries
  return names;
}

bool IsReplacedCompanion(const std::string& path) {
  const std::string ext = UpperExtension(path);
  return ext == "MB" || ext == "PX" || ext == "VAL" ||
         (ext.size() == 3 && (ext[0] == 'X' || ext[0] == 'Y') &&
          (ext[1] == 'G' || std::isxdigit(static_cast<unsigned char>(ext[1]))));
}

// Waits for work on another thread, beating the caller's heartbeat.
Status Await(std::future<Status>& work) {
  while (work.wait_for(std::chrono::milliseconds(10)) != std::future_status::ready) Heartbeat();
  return work.get();
}

// A master's changed .VAL waits in the staging folder under this suffix
// (masters live in the folder of the table written, so it renames in place).
const std::string kMasterSuffix = ".master~";

// A scratch folder of a dry run, outside every database folder.
Status MakeScratchDir(std::string* out) {
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/vdx-dryrun-XXXXXX";
  if (!::mkdtemp(pattern.data()))
    return Status(DBIERR_WRITEERR, "cannot create a work folder").WithContext(pattern);
  *out = pattern;
  return Status::OK();
}

// The first records of a set-aside table as "FIELD=value, ..." lines.
std::vector<std::string> ExampleRecords(Env* env, const std::string& path, std::uint32_t key,
                                        std::size_t count) {
  std::vector<std::string> out;
  if (count == 0 || !env->Exists(path)) return out;
  OpenOptions open;
  open.env = env;
  open.lock = false;
  open.key = key;
  std::unique_ptr<ParadoxTable> table;
  if (!ParadoxTable::Open(path, open, &table).ok()) return out;
  const auto& fields = table->Fields();
  TableCursor cursor = table->NewCursor();
  while (out.size() < count && cursor.Next()) {
    std::string line;
    for (std::size_t i = 0; i < fields.size(); ++i) {
      const FieldKind kind = KindOf(fields[i].type);
      if (kind == FieldKind::Memo || kind == FieldKind::Binary || kind == FieldKind::Bytes)
        continue;
      const FieldValue v = cursor.Value(static_cast<int>(i));
      std::string text = v.null ? "" : ValueText(fields[i].type, v);
      if (kind == FieldKind::Text) text = ToUtf8(text, table->Header().code_page);
      if (!line.empty()) line += ", ";
      line += fields[i].name + "=" + text;
    }
    out.push_back(line);
  }
  return out;
}

// One restructure from open to commit.
class Job {
 public:
  // keepProtection (a pack): the table stays protected by its own key when
  // it is protected, and unprotected when it is not.
  Job(const std::string& db_path, const CRTblDesc& request, const RestructureOptions& options,
      RestructureReport* report, bool keepProtection = false)
      : source_path_(db_path),
        request_(request),
        options_(options),
        report_(report),
        keep_protection_(keepProtection) {
    env_ = options.env ? options.env : Env::Default();
  }
  ~Job() {
    for (SecondaryPlan& p : plan_.secondaries) p.records.reset();  // their spill files
    if (!staging_.empty()) RemoveStagingDir(env_, staging_);
  }

  Status Run() {
    if (options_.batch && options_.saveAs.empty() && !options_.dryRun) batch_ = options_.batch;
    // A link changed reads the master's files, which the batch may still
    // hold uncommitted, as it may hold this very table.
    Status s =
        batch_ && (request_.iRintCount > 0 || batch_->Holds(RestructureJournalPath(source_path_)))
            ? batch_->Commit()
            : Status::OK();
    if (s.ok()) s = Open();
    Heartbeat();
    if (s.ok()) s = Plan();
    if (s.ok()) s = Stage();
    Heartbeat();
    if (s.ok() && options_.dryRun) return Examples();
    if (s.ok()) s = Commit();
    return s;
  }

 private:
  Status Open();
  Status Plan();
  Status Stage();
  Status WriteRecords(const std::string& staged_db);
  Status OpenSetAside(const std::string& path, std::uint32_t key,
                      std::unique_ptr<TableWriter>* out);
  Status WriteIndexes(const std::string& staged_db, const DataFileHeader& h,
                      const std::vector<IndexEntry>& leaves);
  Status WritePrimary(const DataFileHeader& h, const std::vector<IndexEntry>& leaves);
  Status WriteSecondaries(const std::string& staged_db, const DataFileHeader& h);
  Status ReadBackRecords(const std::string& staged_db, std::uint32_t key, SecondaryPlan* p,
                         std::size_t number);
  Status WriteSecondary(SecondaryPlan& p);
  Status Commit();
  Status CommitInBatch(std::vector<FileSwap> swaps, bool now);
  Status Examples();
  std::string MasterStagedPath(const OtherValFile& other) const {
    return staging_ + "/" + BaseName(other.path) + kMasterSuffix;
  }

  Env* env_;
  std::string source_path_;
  CRTblDesc request_;
  const RestructureOptions& options_;
  RestructureReport* report_;
  std::string target_;
  std::string staging_;
  TableLock target_lock_;
  CommitBatch* batch_ = nullptr;
  std::unique_ptr<Env> deferred_env_;  // the staging's Env while a batch waits
  std::unique_ptr<ParadoxTable> source_;
  TableStructure structure_;
  RestructurePlan plan_;
  bool keep_protection_ = false;
};

Status Job::Open() {
  target_ = source_path_;
  if (options_.dryRun) {
    // Read as the table stands; finishing its pending replacement is a write.
    if (!options_.saveAs.empty())
      target_ = DataFilePath(DirName(options_.saveAs), BaseName(options_.saveAs));
    Status s = CheckNothingPending(env_, source_path_);
    if (!s.ok()) return s;
  } else if (!options_.saveAs.empty()) {
    const std::string dir = DirName(options_.saveAs);
    target_ = DataFilePath(dir, BaseName(options_.saveAs));
    Status s = RefuseCaseTwins(target_);
    if (s.ok()) s = CheckWritable(target_);
    if (s.ok()) s = RecoverTable(env_, target_);
    if (s.ok() && env_->Exists(target_)) s = target_lock_.Acquire(target_, true);
    if (!s.ok()) return s;
  }
  OpenOptions open;
  open.env = env_;
  open.passwords = options_.passwords;
  open.useHeaderKey = options_.useHeaderKey;
  open.exclusive = options_.saveAs.empty() && !options_.dryRun;
  open.recover = !options_.dryRun;
  Status s = ParadoxTable::Open(source_path_, open, &source_);
  if (s.ok() && keep_protection_) request_.bProtected = source_->Protected();
  if (s.ok()) s = ReadTableStructure(env_, *source_, &structure_);
  if (s.ok()) report_->notes = structure_.notes;
  return s;
}

Status Job::Plan() {
  plan_.targetPath = target_;
  plan_.sourcePath = source_path_;
  plan_.targetStem = Stem(target_);
  Status s = PlanFields(*source_, request_, &plan_);
  plan_.def.source = &plan_.sourceHeader;
  if (s.ok()) s = PlanIndexes(structure_, request_, &plan_);
  if (s.ok()) s = PlanVal(env_, *source_, structure_, request_, &plan_);
  if (s.ok() && !ValidateDefinition(plan_.def).ok()) plan_.def.block_size_kb = 0;  // records grew
  if (s.ok()) s = ValidateDefinition(plan_.def);
  return s.ok() ? s : s.WithContext(source_path_);
}

Status Job::Stage() {
  Status s;
  if (options_.dryRun) {
    s = MakeScratchDir(&staging_);
  } else {
    staging_ = RestructureStagingDir(target_);
    s = PrepareStagingDir(env_, staging_);
  }
  if (!s.ok()) return s;
  // In a batch the staged files are synced by its commit.
  struct RestoreEnv {
    Env*& env;
    Env* base;
    ~RestoreEnv() { env = base; }
  } restore{env_, env_};
  if (batch_) {
    deferred_env_ = DeferSyncsBelow(env_, staging_);
    env_ = deferred_env_.get();
  }
  const std::string staged_db = staging_ + "/" + BaseName(target_);
  s = CreateStagedTable(env_, staged_db, plan_.def);
  if (s.ok()) s = WriteRecords(staged_db);
  if (options_.dryRun) return s;
  if (s.ok() && plan_.writeVal) {
    s = WriteSyncedFile(env_,
                        staging_ + "/" + BaseName(CompanionPath(target_, ".VAL", source_path_)),
                        plan_.valBytes);
  }
  for (const OtherValFile& other : plan_.otherVals) {
    if (s.ok() && !other.bytes.empty())
      s = WriteSyncedFile(env_, MasterStagedPath(other), other.bytes);
  }
  return s;
}

// A table for records set aside: unkeyed, in the source's structure.
Status Job::OpenSetAside(const std::string& path, std::uint32_t key,
                         std::unique_ptr<TableWriter>* out) {
  TableDefinition def;
  def.fields = plan_.sourceHeader.fields;
  def.code_page = plan_.def.code_page;
  def.password = plan_.def.password;
  def.key = plan_.def.key;
  def.source = &plan_.sourceHeader;
  Status s = CreateStagedTable(env_, path, def);
  if (s.ok()) s = TableWriter::Open(env_, path, key, out);
  return s;
}

Status Job::WriteRecords(const std::string& staged_db) {
  // First in the source's order; again in sorted order when that fails.
  for (bool sorted : {false, true}) {
    const std::uint32_t key =
        plan_.def.password.empty() ? plan_.def.key : PasswordKey(plan_.def.password);
    // The data file's batches go to the disk on a thread of their own
    // while the next ones are copied.
    const std::unique_ptr<Env> behind = WriteBehindEnv(env_, staged_db);
    std::unique_ptr<TableWriter> writer;
    Status s = sorted ? CreateStagedTable(env_, staged_db, plan_.def) : Status::OK();
    if (s.ok()) s = TableWriter::Open(behind.get(), staged_db, key, &writer);
    if (!s.ok()) return s;
    std::unique_ptr<TableWriter> keyviol, problems;
    const std::string keyviol_path = staging_ + "/KEYVIOL.DB";
    const std::string problems_path = staging_ + "/PROBLEMS.DB";
    CopyTargets targets;
    targets.table = writer.get();
    targets.env = env_;
    targets.spillDir = staging_;
    targets.sortMemory = options_.sortMemory;
    targets.keyViolations = [&](TableWriter** out) {
      Status c = keyviol ? Status::OK() : OpenSetAside(keyviol_path, key, &keyviol);
      if (c.ok()) report_->keyViolTable = FindNoCase(DirName(target_), "KEYVIOL.DB");
      *out = keyviol.get();
      return c;
    };
    targets.problems = [&](TableWriter** out) {
      Status c = problems ? Status::OK() : OpenSetAside(problems_path, key, &problems);
      if (c.ok()) report_->problemsTable = FindNoCase(DirName(target_), "PROBLEMS.DB");
      *out = problems.get();
      return c;
    };
    report_->keyViolations = report_->problems = 0;
    report_->keyViolTable.clear();
    report_->problemsTable.clear();
    RecordCopier copier(*source_, &plan_, writer->Header());
    bool unordered = false;
    s = copier.Run(targets, options_, sorted, &unordered, report_);
    if (s.ok() && unordered) {
      writer.reset();
      keyviol.reset();
      problems.reset();
      for (const std::string& path : {keyviol_path, problems_path})
        for (const std::string& stale : CompanionFiles(path)) env_->Remove(stale);
      continue;
    }
    if (s.ok() && keyviol) s = keyviol->Sync();
    if (s.ok() && problems) s = problems->Sync();
    if (s.ok()) s = writer->Flush();
    if (!s.ok() || options_.dryRun) return s;  // a dry run needs the counts only
    // The data file reaches the disk while the indexes are built.
    std::future<Status> synced =
        std::async(std::launch::async, [&writer] { return writer->Sync(); });
    s = WriteIndexes(staged_db, writer->Header(), copier.Leaves());
    const Status sync = Await(synced);
    return s.ok() ? sync : s;
  }
  return Status::Corruption("records could not be put in key order");
}

// The records of a deferred index, from the table just written.
Status Job::ReadBackRecords(const std::string& staged_db, std::uint32_t key, SecondaryPlan* p,
                            std::size_t number) {
  OpenOptions open;
  open.env = env_;
  open.lock = false;
  open.key = key;
  std::unique_ptr<ParadoxTable> table;
  Status s = ParadoxTable::Open(staged_db, open, &table);
  if (!s.ok()) return s;
  p->records = NewIndexSorter(*p, table->Header(), env_, staging_, number, options_.sortMemory);
  p->records->SortInBackground();
  TableCursor cursor = table->NewCursor();
  std::size_t block = 0;
  const auto& chain = table->Chain();
  std::string record;
  while (cursor.Next()) {
    while (block + 1 < chain.size() && chain[block + 1].first_record <= cursor.RecordNumber())
      ++block;
    MakeIndexRecord(*p, reinterpret_cast<const char*>(cursor.Record()),
                    static_cast<std::uint16_t>(chain[block].number), &record);
    s = p->records->Add(record.data());
    if (!s.ok()) return s;
    if (cursor.RecordNumber() % 256 == 0) Heartbeat();
  }
  return cursor.status();
}

// Both files of a secondary index from its sorted records; the .Xnn is
// written as it is made.
Status Job::WriteSecondary(SecondaryPlan& p) {
  ExternalSorter* sorter = p.records.get();
  Status s = sorter ? sorter->Finish() : Status::OK();
  if (!s.ok()) return s;
  const std::string x_path = staging_ + "/" + plan_.targetStem + "." + p.ext;
  std::unique_ptr<RandomFile> x;
  s = env_->OpenWrite(x_path, true, &x);
  if (!s.ok()) return s;
  std::string y;
  s = SecondaryIndex::WriteSorted(
      p.def, p.params, sorter ? sorter->size() : 0,
      [sorter]() -> const char* { return sorter ? sorter->Next() : nullptr; },
      [&x](std::uint64_t offset, std::string_view bytes) {
        Heartbeat();
        Status w = x->WriteAt(offset, bytes.data(), bytes.size());
        // The disk takes each batch while the next is merged, so the
        // closing sync, which the commit waits for, finds little left.
        if (w.ok()) x->StartWriteback(offset, bytes.size());
        return w;
      },
      &y, p.xTemplate, p.yTemplate);
  if (sorter && !sorter->status().ok()) s = sorter->status();
  // The sorter's thread removes its spill file meanwhile; it ends below.
  if (s.ok()) s = x->Sync();
  if (!s.ok()) return s;
  x.reset();
  std::string y_ext = p.ext;
  y_ext[0] = y_ext[0] == 'x' ? 'y' : 'Y';
  s = WriteSyncedFile(env_, staging_ + "/" + plan_.targetStem + "." + y_ext, y);
  p.records.reset();
  return s;
}

Status Job::WritePrimary(const DataFileHeader& h, const std::vector<IndexEntry>& leaves) {
  IndexFileParams px;
  px.fileType = 1;
  px.blockSizeCode = plan_.pxBlockCode ? plan_.pxBlockCode : IndexTreeBlockCode(h.block_size_code);
  px.versionId = h.version_id;
  px.sortOrder = h.sort_order;
  px.changeCount = h.change_count1;  // what the engine compares with the data file
  px.updateCount = plan_.pxUpdateCount;
  px.tableName = plan_.targetStem + ".PX";
  for (int k = 0; k < h.key_fields; ++k)
    px.keyFields.push_back(KeyFieldOf(h.fields[static_cast<std::size_t>(k)]));
  Status s = PrimaryIndex::FitBlockCode(&px);  // a long key may need larger blocks
  if (!s.ok()) return s;
  return WriteSyncedFile(env_,
                         staging_ + "/" + BaseName(CompanionPath(target_, ".PX", source_path_)),
                         PrimaryIndex::Build(px, leaves, plan_.pxTemplate));
}

Status Job::WriteSecondaries(const std::string& staged_db, const DataFileHeader& h) {
  std::size_t number = 0;
  for (SecondaryPlan& p : plan_.secondaries) {
    ++number;
    if (p.deferred) {
      Status s = ReadBackRecords(staged_db, h.key, &p, number);
      if (!s.ok()) return s;
    }
    p.params.versionId = h.version_id;
    if (p.params.blockSizeCode == 0) p.params.blockSizeCode = h.block_size_code;
    p.params.sortOrder = h.sort_order;
    p.params.sortOrderId = h.sort_order_id;
    p.params.codePage = static_cast<std::uint16_t>(h.code_page);
    p.params.tableChangeCount2 = h.change_count2;
    if (p.params.changeCount == 0) p.params.changeCount = 1;
    Status s = WriteSecondary(p);
    if (!s.ok()) return s;
  }
  return Status::OK();
}

// The secondary indexes are merged and written on a thread of their own
// while the primary index is built here; each file is its own, and all are
// synced before the commit.
Status Job::WriteIndexes(const std::string& staged_db, const DataFileHeader& h,
                         const std::vector<IndexEntry>& leaves) {
  std::future<Status> secondaries;
  if (!plan_.secondaries.empty()) {
    secondaries = std::async(std::launch::async, [&] { return WriteSecondaries(staged_db, h); });
  }
  const Status primary = plan_.Keyed() ? WritePrimary(h, leaves) : Status::OK();
  const Status others = secondaries.valid() ? Await(secondaries) : Status::OK();
  return primary.ok() ? others : primary;
}

// A dry run's report: nothing is kept, a few records of each set-aside
// table are shown instead.
Status Job::Examples() {
  const std::uint32_t key =
      plan_.def.password.empty() ? plan_.def.key : PasswordKey(plan_.def.password);
  report_->keyViolExamples =
      ExampleRecords(env_, staging_ + "/KEYVIOL.DB", key, options_.examples);
  report_->problemExamples =
      ExampleRecords(env_, staging_ + "/PROBLEMS.DB", key, options_.examples);
  report_->keyViolTable.clear();
  report_->problemsTable.clear();
  return Status::OK();
}

Status Job::Commit() {
  Status s = batch_ ? Status::OK() : env_->SyncDir(staging_);  // a batch syncs it
  if (!s.ok()) return s;
  const std::string dir = DirName(target_);
  const std::string stem = Stem(target_);
  std::vector<FileSwap> swaps;
  std::vector<std::string> targets;
  std::vector<std::string> others;  // data files of the set-aside tables
  for (const std::string& name : ListNames(env_, staging_)) {
    if (name.size() > kMasterSuffix.size() && name.ends_with(kMasterSuffix)) continue;
    std::string target;
    if (::strcasecmp(Stem(name).c_str(), stem.c_str()) == 0 &&
        ::strcasecmp(name.c_str(), BaseName(target_).c_str()) != 0) {
      // A companion keeps the case of the one it replaces (or of its
      // parked form, or of the source's): file names never change case.
      target = CompanionPath(target_, "." + UpperExtension(name), source_path_);
    } else {
      target = FindNoCase(dir, name);
      if (::strcasecmp(name.c_str(), BaseName(target_).c_str()) != 0 &&
          UpperExtension(name) == "DB")
        others.push_back(target);
    }
    targets.push_back(target);
    swaps.push_back({staging_ + "/" + name, target});
  }
  // Exact names: a second file of the same name in another letter case is
  // stale, and would be read in place of the new one.
  auto replaced = [&](const std::string& old) {
    return std::find(targets.begin(), targets.end(), old) != targets.end();
  };
  for (const std::string& old : CompanionFiles(target_)) {
    const bool stale = IsReplacedCompanion(old) || IsParkedExtension(UpperExtension(old));
    if (stale && !replaced(old)) swaps.push_back({"", old});
  }
  // A set-aside table replaces the whole earlier table of its name.
  for (const std::string& other : others) {
    for (const std::string& old : CompanionFiles(other))
      if (!replaced(old)) swaps.push_back({"", old});
  }
  for (const OtherValFile& other : plan_.otherVals) {
    swaps.push_back({other.bytes.empty() ? "" : MasterStagedPath(other), other.path});
  }
  if (options_.beforeCommit) options_.beforeCommit();
  if (batch_) return CommitInBatch(std::move(swaps), !plan_.otherVals.empty() || !others.empty());
  // The files replaced stay open over the renames, so that freeing their
  // blocks (the index files' too) is left to their last close, off the
  // commit.
  auto held = std::make_shared<std::vector<std::unique_ptr<RandomFile>>>();
  for (const FileSwap& swap : swaps) {
    std::unique_ptr<RandomFile> old;
    if (env_->OpenRead(swap.target, &old).ok()) held->push_back(std::move(old));
  }
  s = CommitSwaps(env_, RestructureJournalPath(target_), swaps);
  if (s.ok()) {
    RemoveStagingDir(env_, staging_);
    // The source's files are replaced: only its handles keep them, and the
    // last close frees their blocks.
    std::shared_ptr<ParadoxTable> replaced;
    if (options_.saveAs.empty()) replaced = std::move(source_);
    env_->ReleaseLater([replaced, held]() mutable {
      held.reset();
      replaced.reset();
    });
  } else if (!env_->Exists(RestructureJournalPath(target_))) {
    return s;  // nothing renamed: the destructor clears the staging folder
  }
  // Done, or committed but not finished: then the next open completes the
  // renames and needs the staged files for it.
  staging_.clear();
  return s;
}

// The commit left to the batch, which keeps the source open (and locked)
// until then; `now`: the batch commits at once, this table last.
Status Job::CommitInBatch(std::vector<FileSwap> swaps, bool now) {
  Env* env = env_;
  std::shared_ptr<ParadoxTable> held(std::move(source_));
  CommitBatch::Entry entry;
  entry.env = env_;
  entry.journal = RestructureJournalPath(target_);
  entry.swaps = std::move(swaps);
  entry.staging = staging_;
  entry.release = [env, held]() mutable {
    env->ReleaseLater([table = std::move(held)]() mutable { table.reset(); });
  };
  staging_.clear();  // the batch's from here
  Status s = batch_->Add(std::move(entry));
  if (s.ok() && now) s = batch_->Commit();
  return s;
}

}  // namespace

Status RestructureTable(const std::string& db_path, const CRTblDesc& request,
                        const RestructureOptions& options, RestructureReport* report) {
  RestructureReport local;
  RestructureReport* out = report ? report : &local;
  *out = RestructureReport();
  Job job(db_path, request, options, out);
  return job.Run();
}

Status PackTable(const std::string& db_path, const RestructureOptions& options,
                 RestructureReport* report) {
  CRTblDesc request{};
  std::snprintf(request.szTblType, sizeof request.szTblType, "PARADOX");
  request.bPack = true;
  // A pack keeps the table's protection: its own key, as read from the file
  // when the table is opened.
  RestructureReport local;
  RestructureReport* out = report ? report : &local;
  *out = RestructureReport();
  Job job(db_path, request, options, out, true);
  return job.Run();
}

}  // namespace engine
