// Replacing the files of a table as one step. A restructure writes its new
// files beside the old ones (in a staging folder next to the table), syncs
// them, then commits: a small journal naming every rename and removal is
// written and synced first, the renames follow, and the journal goes last.
// Whoever opens the table next finishes a commit that a crash interrupted,
// or throws away a staging folder whose journal was never written. Every
// replacement of several files of a table goes through this one journal.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Env.h"
#include "Status.h"

namespace engine {

struct FileSwap {
  std::string staged;  // the new file; empty to remove target
  std::string target;
};

// Where the new files of the table whose data file is db_path are staged,
// and where its journal lives.
std::string RestructureStagingDir(const std::string& db_path);
std::string RestructureJournalPath(const std::string& db_path);

// Creates an empty staging folder (removing one left behind).
Status PrepareStagingDir(Env* env, const std::string& dir);
// Removes a staging folder and what it holds; missing is fine.
void RemoveStagingDir(Env* env, const std::string& dir);

// Commits the swaps: journal, renames and removals, folder syncs, journal
// removal. Staged files must be complete and synced. A failure after the
// journal is durable leaves the journal, so the next open finishes the job.
Status CommitSwaps(Env* env, const std::string& journal, const std::vector<FileSwap>& swaps);

// The commits of several tables made durable together, for a tool that
// rewrites a whole database. A restructure given a batch stages its table
// without waiting for any sync (each staged file's writeback is started at
// once) and leaves its commit in the batch; Commit then takes every table
// through the steps of CommitSwaps, in the order the tables were added, but
// each step for all of them before the next: the staged files and their
// folders synced, the journals written, synced and named, the renames done
// and their folders synced, the journals removed. So the file system
// flushes a few times per batch instead of several times per table, and
// each table still ends old or new whatever happens: one whose journal is
// in place is finished by its next open, one without keeps its old files.
// A table waiting in the batch stays open and locked.
class CommitBatch {
 public:
  struct Entry {
    Env* env = nullptr;
    std::string journal;  // RestructureJournalPath of the table
    std::vector<FileSwap> swaps;
    std::string staging;            // its staging folder, removed once committed
    std::function<void()> release;  // drops what held the table, after its commit
  };

  CommitBatch() = default;
  // A batch that only gathers, for a table restructured on another thread
  // ahead of its turn: it never commits (Commit fails at once, so a
  // restructure that needs the tables before it durable fails instead),
  // and the batch of the run takes its tables over with TakeFrom.
  struct GatherOnly {};
  explicit CommitBatch(GatherOnly) : gather_only_(true) {}
  // Tables never committed keep their old files (their staging goes).
  ~CommitBatch();
  CommitBatch(const CommitBatch&) = delete;
  CommitBatch& operator=(const CommitBatch&) = delete;

  // Adds a table; a full batch is committed on the spot.
  Status Add(Entry entry);
  // Commits every table added so far; answers the first failure.
  Status Commit();
  // Adds the tables of `other`, in its order; `other` is left empty.
  Status TakeFrom(CommitBatch& other);
  bool Empty() const { return entries_.empty(); }
  // Whether the table of this journal waits in the batch.
  bool Holds(const std::string& journal) const;

  // The batch of this thread's restructures made through the direct calls
  // (DbiDoRestructure), or null; set by ScopedCommitBatch.
  static CommitBatch* Current();

 private:
  void Drop(Entry& entry);
  std::vector<Entry> entries_;
  bool gather_only_ = false;
};

class ScopedCommitBatch {
 public:
  explicit ScopedCommitBatch(CommitBatch* batch);
  ~ScopedCommitBatch();
  ScopedCommitBatch(const ScopedCommitBatch&) = delete;
  ScopedCommitBatch& operator=(const ScopedCommitBatch&) = delete;

 private:
  CommitBatch* previous_;
};

// An Env over base that leaves the syncs of the files below `dir`, and of
// `dir` itself, to a CommitBatch: a sync starts the file's writeback and
// returns. Everything else goes to base unchanged.
std::unique_ptr<Env> DeferSyncsBelow(Env* base, const std::string& dir);

// Finishes an interrupted commit of the table at db_path, or removes an
// uncommitted staging folder. Cheap when there is nothing to do. Fails with
// a lock conflict while another process is committing. A journal left at
// the name earlier versions used for a file set ("<table>.jnl~") is
// finished too.
Status RecoverTable(Env* env, const std::string& db_path);

// Finishes an interrupted commit recorded in the journal at journal_path;
// OK when there is none.
Status RecoverFileSet(Env* env, const std::string& journal_path);

// The journal of an interrupted replacement of the table's files that the
// next open would finish, or "" when there is none. Reads nothing else.
std::string PendingReplacement(Env* env, const std::string& db_path);

// For commands that only read: OK when no replacement is pending, else an
// error naming the table and the journal, which only a command that
// changes the table finishes.
Status CheckNothingPending(Env* env, const std::string& db_path);

// The journal's text and its parser (exposed for tests).
std::string EncodeJournal(const std::vector<FileSwap>& swaps);
bool DecodeJournal(const std::string& text, std::vector<FileSwap>* swaps);

}  // namespace engine
