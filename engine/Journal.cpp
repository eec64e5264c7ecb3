#include "Journal.h"

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <map>
#include <set>
#include <sstream>
#include <thread>

#include "Heartbeat.h"
#include "TableFiles.h"
#include "TableLock.h"

namespace engine {

namespace {

constexpr char kMagic[] = "VARDEX-JOURNAL 1";
constexpr char kEnd[] = "END";

// The renames and removals of swaps; the folders they touch go into dirs.
Status RenameAll(Env* env, const std::vector<FileSwap>& swaps, std::set<std::string>* dirs) {
  for (const FileSwap& swap : swaps) {
    dirs->insert(DirName(swap.target));
    Status s;
    if (!swap.staged.empty()) {
      // A staged file that is gone was renamed by an earlier attempt.
      if (env->Exists(swap.staged)) s = env->Rename(swap.staged, swap.target);
    } else if (env->Exists(swap.target)) {
      s = env->Remove(swap.target);
    }
    if (!s.ok()) return s;
  }
  return Status::OK();
}

Status ApplySwaps(Env* env, const std::vector<FileSwap>& swaps) {
  std::set<std::string> dirs;
  Status s = RenameAll(env, swaps, &dirs);
  for (const std::string& dir : dirs) {
    if (s.ok()) s = env->SyncDir(dir);
  }
  return s;
}

Status FinishJournal(Env* env, const std::string& journal, const std::vector<FileSwap>& swaps) {
  Status s = ApplySwaps(env, swaps);
  if (s.ok()) s = env->Remove(journal);
  if (s.ok()) s = env->SyncDir(DirName(journal));
  return s;
}

// Journals of earlier versions: one "temp<TAB>final" line per file, an empty
// temp name for a removal, no header or end line.
bool DecodeLegacyJournal(const std::string& text, std::vector<FileSwap>* swaps) {
  swaps->clear();
  std::size_t pos = 0;
  while (pos < text.size()) {
    const std::size_t end = text.find('\n', pos);
    const std::size_t tab = text.find('\t', pos);
    if (end == std::string::npos || tab == std::string::npos || tab > end) return false;
    swaps->push_back({text.substr(pos, tab - pos), text.substr(tab + 1, end - tab - 1)});
    pos = end + 1;
  }
  return true;
}

std::string LegacyJournalPath(const std::string& db_path) { return db_path + ".jnl~"; }

// Replays the journal at path, if there is one, under its lock. A journal
// is written atomically, so one that does not decode was damaged after it
// was written: it is reported and kept, since the renames it lists may have
// begun and only it tells which files belong together.
Status ReplayJournal(Env* env, const std::string& journal, bool legacy) {
  if (!env->Exists(journal)) return Status::OK();
  TableLock hold;
  Status s = hold.Acquire(journal, true);
  if (!s.ok()) return s;
  std::string text;
  s = ReadWholeFile(env, journal, &text);
  if (!s.ok()) return s;
  std::vector<FileSwap> swaps;
  if (DecodeJournal(text, &swaps) || (legacy && DecodeLegacyJournal(text, &swaps))) {
    s = FinishJournal(env, journal, swaps);
    return s.ok() ? s : s.WithContext(journal);
  }
  return Status(DBIERR_HEADERCORRUPT, "the replacement journal is damaged").WithContext(journal);
}

}  // namespace

std::string RestructureStagingDir(const std::string& db_path) {
  return DirName(db_path) + "/." + BaseName(db_path) + ".new~";
}

std::string RestructureJournalPath(const std::string& db_path) {
  return DirName(db_path) + "/." + BaseName(db_path) + ".journal~";
}

void RemoveStagingDir(Env* env, const std::string& dir) {
  std::vector<std::string> names;
  if (env->ListDir(dir, &names).ok()) {
    // A work folder may hold the staging folder of a step run inside it
    // (the pack of a repaired table) when the run was killed.
    for (const std::string& name : names)
      if (!env->Remove(dir + "/" + name).ok()) RemoveStagingDir(env, dir + "/" + name);
  }
  env->RemoveDir(dir);
}

Status PrepareStagingDir(Env* env, const std::string& dir) {
  RemoveStagingDir(env, dir);
  Status s = env->CreateDir(dir);
  if (!s.ok()) {
    const std::string& why = s.message();
    const auto colon = why.find(": ");
    return Status(s.code() == DBIERR_DISKFULL ? DBIERR_DISKFULL : DBIERR_WRITEERR,
                  "cannot create a work folder: " +
                      (colon == std::string::npos ? why : why.substr(colon + 2)))
        .WithContext(dir);
  }
  return Status::OK();
}

std::string EncodeJournal(const std::vector<FileSwap>& swaps) {
  std::ostringstream out;
  out << kMagic << "\n";
  for (const FileSwap& swap : swaps) {
    if (swap.staged.empty()) {
      out << "D\t" << swap.target << "\n";
    } else {
      out << "R\t" << swap.staged << "\t" << swap.target << "\n";
    }
  }
  out << kEnd << "\n";
  return out.str();
}

bool DecodeJournal(const std::string& text, std::vector<FileSwap>* swaps) {
  swaps->clear();
  std::istringstream in(text);
  std::string line;
  if (!std::getline(in, line) || line != kMagic) return false;
  while (std::getline(in, line)) {
    if (line == kEnd) return true;
    const auto tab = line.find('\t');
    if (tab != 1) return false;
    if (line[0] == 'D') {
      swaps->push_back({"", line.substr(2)});
    } else if (line[0] == 'R') {
      const auto second = line.find('\t', 2);
      if (second == std::string::npos) return false;
      swaps->push_back({line.substr(2, second - 2), line.substr(second + 1)});
    } else {
      return false;
    }
  }
  return false;  // no end line: not a journal we finished writing
}

Status CommitSwaps(Env* env, const std::string& journal, const std::vector<FileSwap>& swaps) {
  Status s = WriteFileAtomically(env, journal, EncodeJournal(swaps));
  if (!s.ok()) return s;
  // Held while renaming, so a concurrent open does not replay the journal.
  TableLock hold;
  hold.Acquire(journal, true);
  return FinishJournal(env, journal, swaps);
}

namespace {

// A batch commits on the spot once it holds this many tables: each keeps
// its table open until then.
constexpr std::size_t kBatchTables = 32;

thread_local CommitBatch* current_batch = nullptr;

// Folders to sync, each through the Env of a table that touched it.
using FolderSet = std::map<std::string, Env*>;

Status SyncFolders(const FolderSet& folders) {
  for (const auto& [dir, env] : folders) {
    Status s = env->SyncDir(dir);
    if (!s.ok()) return s;
  }
  return Status::OK();
}

Status SyncFile(Env* env, const std::string& path) {
  std::unique_ptr<RandomFile> file;
  Status s = env->OpenWrite(path, false, &file);
  return s.ok() ? file->Sync() : s;
}

// Runs the syncs of one step of a commit on a few threads at once, so the
// file system takes them in a few commits of its own rather than one each;
// answers the first failure in the list's order. The caller's thread takes
// its share and beats its heartbeat.
Status SyncTogether(const std::vector<std::function<Status()>>& syncs) {
  constexpr std::size_t kThreads = 4;
  std::vector<Status> results(syncs.size());
  std::atomic<std::size_t> next{0};
  const auto work = [&](bool beat) {
    for (std::size_t i = next++; i < syncs.size(); i = next++) {
      results[i] = syncs[i]();
      if (beat) Heartbeat();
    }
  };
  std::vector<std::thread> helpers;
  for (std::size_t t = 1; t < kThreads && t * 2 < syncs.size(); ++t) helpers.emplace_back(work, false);
  work(true);
  for (std::thread& helper : helpers) helper.join();
  for (const Status& r : results)
    if (!r.ok()) return r;
  return Status::OK();
}

// A file whose syncs only start its writeback: the batch syncs it later.
class DeferredSyncFile : public RandomFile {
 public:
  explicit DeferredSyncFile(std::unique_ptr<RandomFile> base) : base_(std::move(base)) {}
  Status ReadAt(std::uint64_t offset, std::size_t n, void* out) override {
    return base_->ReadAt(offset, n, out);
  }
  Status WriteAt(std::uint64_t offset, const void* data, std::size_t n) override {
    return base_->WriteAt(offset, data, n);
  }
  Status Truncate(std::uint64_t size) override { return base_->Truncate(size); }
  Status Sync() override {
    base_->StartWriteback(0, static_cast<std::size_t>(base_->Size()));
    return Status::OK();
  }
  void StartWriteback(std::uint64_t offset, std::size_t n) override {
    base_->StartWriteback(offset, n);
  }
  std::uint64_t Size() const override { return base_->Size(); }
  const std::string& Path() const override { return base_->Path(); }

 private:
  std::unique_ptr<RandomFile> base_;
};

class DeferredSyncEnv : public EnvWrapper {
 public:
  DeferredSyncEnv(Env* base, std::string dir) : EnvWrapper(base), dir_(std::move(dir)) {}
  Status OpenWrite(const std::string& path, bool create,
                   std::unique_ptr<RandomFile>* file) override {
    Status s = base_->OpenWrite(path, create, file);
    if (s.ok() && path.size() > dir_.size() && path.starts_with(dir_) && path[dir_.size()] == '/')
      *file = std::make_unique<DeferredSyncFile>(std::move(*file));
    return s;
  }
  Status SyncDir(const std::string& dir) override {
    return dir == dir_ ? Status::OK() : base_->SyncDir(dir);
  }

 private:
  std::string dir_;
};

}  // namespace

std::unique_ptr<Env> DeferSyncsBelow(Env* base, const std::string& dir) {
  return std::make_unique<DeferredSyncEnv>(base, dir);
}

CommitBatch* CommitBatch::Current() { return current_batch; }

ScopedCommitBatch::ScopedCommitBatch(CommitBatch* batch) : previous_(current_batch) {
  current_batch = batch;
}

ScopedCommitBatch::~ScopedCommitBatch() { current_batch = previous_; }

CommitBatch::~CommitBatch() {
  for (Entry& entry : entries_) Drop(entry);
}

void CommitBatch::Drop(Entry& entry) {
  entry.env->Remove(TempPathFor(entry.journal));
  RemoveStagingDir(entry.env, entry.staging);
  if (entry.release) entry.release();
}

bool CommitBatch::Holds(const std::string& journal) const {
  for (const Entry& entry : entries_)
    if (entry.journal == journal) return true;
  return false;
}

Status CommitBatch::Add(Entry entry) {
  entries_.push_back(std::move(entry));
  return entries_.size() >= kBatchTables && !gather_only_ ? Commit() : Status::OK();
}

Status CommitBatch::TakeFrom(CommitBatch& other) {
  std::vector<Entry> taken;
  taken.swap(other.entries_);
  Status s;
  for (Entry& entry : taken) {
    if (s.ok()) {
      s = Add(std::move(entry));
    } else {
      Drop(entry);  // as its batch would have
    }
  }
  return s;
}

Status CommitBatch::Commit() {
  if (gather_only_) {
    return Status(DBIERR_NOTSUPPORTED, "the tables before this one are not committed yet");
  }
  std::vector<Entry> entries;
  entries.swap(entries_);
  if (entries.empty()) return Status::OK();
  const std::size_t n = entries.size();
  // Every staged file and its folder durable before the first journal.
  std::vector<std::function<Status()>> syncs;
  for (Entry& e : entries) {
    for (const FileSwap& swap : e.swaps)
      if (!swap.staged.empty()) syncs.push_back([&e, &swap] { return SyncFile(e.env, swap.staged); });
    syncs.push_back([&e] { return e.env->SyncDir(e.staging); });
  }
  Status s = SyncTogether(syncs);
  // The journals: all written, then all synced, then all named.
  std::vector<std::unique_ptr<RandomFile>> temps(n);
  for (std::size_t i = 0; s.ok() && i < n; ++i) {
    const std::string text = EncodeJournal(entries[i].swaps);
    s = entries[i].env->OpenWrite(TempPathFor(entries[i].journal), true, &temps[i]);
    if (s.ok()) s = temps[i]->WriteAt(0, text.data(), text.size());
  }
  if (s.ok()) {
    syncs.clear();
    for (std::unique_ptr<RandomFile>& temp : temps) syncs.push_back([&temp] { return temp->Sync(); });
    s = SyncTogether(syncs);
  }
  temps.clear();
  FolderSet journal_dirs;
  for (std::size_t i = 0; s.ok() && i < n; ++i) {
    s = entries[i].env->Rename(TempPathFor(entries[i].journal), entries[i].journal);
    journal_dirs.emplace(DirName(entries[i].journal), entries[i].env);
  }
  if (s.ok()) s = SyncFolders(journal_dirs);
  Heartbeat();
  if (!s.ok()) {
    // Nothing renamed: a table whose journal is named is finished by its
    // next open, every other one keeps its old files.
    for (Entry& e : entries) {
      if (!e.env->Exists(e.journal)) {
        Drop(e);
      } else if (e.release) {
        e.release();
      }
    }
    return s;
  }
  // Each table's renames, all held against a concurrent replay; a table
  // whose renames fail keeps its journal for the next open, the others go
  // on.
  std::vector<TableLock> locks(n);
  std::vector<bool> done(n, false);
  FolderSet touched;
  Status first;
  for (std::size_t i = 0; i < n; ++i) {
    locks[i].Acquire(entries[i].journal, true);
    std::set<std::string> dirs;
    Status r = RenameAll(entries[i].env, entries[i].swaps, &dirs);
    for (const std::string& dir : dirs) touched.emplace(dir, entries[i].env);
    done[i] = r.ok();
    if (!r.ok() && first.ok()) first = r.WithContext(entries[i].journal);
  }
  const Status synced = SyncFolders(touched);
  if (first.ok()) first = synced;
  for (std::size_t i = 0; synced.ok() && i < n; ++i) {
    if (!done[i]) continue;
    const Status r = entries[i].env->Remove(entries[i].journal);
    if (!r.ok() && first.ok()) first = r;
  }
  if (synced.ok() && first.ok()) first = SyncFolders(journal_dirs);
  locks.clear();
  for (std::size_t i = 0; i < n; ++i) {
    if (done[i] && synced.ok()) RemoveStagingDir(entries[i].env, entries[i].staging);
  }
  // The replaced files' blocks are freed as their last handles close, on
  // the releaser's thread: after the folders above, which would wait for it.
  for (Entry& e : entries) {
    if (e.release) e.release();
  }
  Heartbeat();
  return first;
}

std::string PendingReplacement(Env* env, const std::string& db_path) {
  for (const std::string& journal : {RestructureJournalPath(db_path), LegacyJournalPath(db_path)}) {
    if (env->Exists(journal)) return journal;
  }
  return "";
}

Status CheckNothingPending(Env* env, const std::string& db_path) {
  const std::string journal = PendingReplacement(env, db_path);
  if (journal.empty()) return Status::OK();
  return Status(DBIERR_HEADERCORRUPT,
                "an interrupted replacement of the table's files is pending; the next command "
                "that changes the table (vdx repair, vdx pack or a tool run) finishes it")
      .WithContext(db_path)
      .WithContext(journal);
}

Status RecoverTable(Env* env, const std::string& db_path) {
  Status s = ReplayJournal(env, RestructureJournalPath(db_path), false);
  if (s.ok()) s = ReplayJournal(env, LegacyJournalPath(db_path), true);
  if (!s.ok()) return s;
  // A staging folder without a journal is a restructure that never reached
  // its commit; it is only removed while nobody holds the table.
  const std::string staging = RestructureStagingDir(db_path);
  struct stat st {};
  if (::stat(staging.c_str(), &st) == 0 && !IsLockedByOther(db_path)) RemoveStagingDir(env, staging);
  return Status::OK();
}

Status RecoverFileSet(Env* env, const std::string& journal_path) {
  return ReplayJournal(env, journal_path, journal_path.ends_with(".jnl~"));
}

}  // namespace engine
