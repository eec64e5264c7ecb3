// The engine's file layer: every read, write, rename and sync of a table file
// goes through an Env, so tests can substitute one that fails on purpose
// (FaultInjectionEnv) and check that nothing was lost. Also holds the helpers
// that replace a file atomically (write beside, sync, rename).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Status.h"

namespace engine {

// A file opened for positional reads (and writes when opened writable).
class RandomFile {
 public:
  virtual ~RandomFile() = default;
  // Reads exactly n bytes at offset; a short read is an error.
  virtual Status ReadAt(std::uint64_t offset, std::size_t n, void* out) = 0;
  virtual Status WriteAt(std::uint64_t offset, const void* data, std::size_t n) = 0;
  virtual Status Truncate(std::uint64_t size) = 0;
  virtual Status Sync() = 0;
  virtual std::uint64_t Size() const = 0;
  virtual const std::string& Path() const = 0;
};

class Env {
 public:
  virtual ~Env() = default;
  static Env* Default();

  virtual Status OpenRead(const std::string& path, std::unique_ptr<RandomFile>* file) = 0;
  // Opens for reading and writing; creates (empty) when create is set.
  virtual Status OpenWrite(const std::string& path, bool create,
                           std::unique_ptr<RandomFile>* file) = 0;
  virtual Status Rename(const std::string& from, const std::string& to) = 0;
  virtual Status Remove(const std::string& path) = 0;
  virtual bool Exists(const std::string& path) = 0;
  // Makes the directory entries of a folder durable (after a rename).
  virtual Status SyncDir(const std::string& dir) = 0;
};

// Passes everything to a base Env but fails every write once a budget of
// written bytes is used up, as a full disk or a yanked medium would.
class FaultInjectionEnv : public Env {
 public:
  explicit FaultInjectionEnv(Env* base) : base_(base) {}
  // -1 means unlimited.
  void FailWritesAfter(std::int64_t bytes) { budget_ = bytes; }
  void FailRenames(bool fail) { renames_left_ = fail ? 0 : -1; }
  // Lets n renames succeed, then fails every further one (-1: never fail).
  void FailRenamesAfter(int n) { renames_left_ = n; }
  bool WriteBudgetLeft(std::size_t n);

  Status OpenRead(const std::string& path, std::unique_ptr<RandomFile>* file) override;
  Status OpenWrite(const std::string& path, bool create,
                   std::unique_ptr<RandomFile>* file) override;
  Status Rename(const std::string& from, const std::string& to) override;
  Status Remove(const std::string& path) override { return base_->Remove(path); }
  bool Exists(const std::string& path) override { return base_->Exists(path); }
  Status SyncDir(const std::string& dir) override { return base_->SyncDir(dir); }

 private:
  Env* base_;
  std::int64_t budget_ = -1;
  int renames_left_ = -1;
};

// Writes data to "<path>.tmp~", syncs it, renames it over path and syncs the
// folder. On failure the temporary file is removed and path is untouched.
Status WriteFileAtomically(Env* env, const std::string& path, const std::string& data);
// Moves a finished, synced temporary file into place (rename + folder sync).
Status CommitReplacement(Env* env, const std::string& temp_path, const std::string& path);
// The temporary name used beside a file while it is rewritten.
std::string TempPathFor(const std::string& path);
std::string DirName(const std::string& path);
// dir + "/" + name with exactly one "/" between them, whether or not dir
// ends in one ("" joins to name itself).
std::string JoinPath(const std::string& dir, const std::string& name);

// Replacing the several files of one table together. Each new file is
// written and synced beside its final name first; CommitFileSet then commits
// them through the table's journal (Journal.h): the journal naming every pair
// is written and synced, the files are renamed, the journal goes last. A
// crash in between leaves the journal, and the next open of the table
// finishes the renames, so a new data file never ends up beside an old
// index. An empty temp name deletes the final file. Defined in Journal.cpp,
// the one journal every replacement of a table's files goes through.
struct FileReplacement {
  std::string temp_path;  // "" to delete final_path
  std::string final_path;
};
// The table's journal: the same file a restructure commits through.
std::string JournalPathFor(const std::string& db_path);
Status CommitFileSet(Env* env, const std::string& journal_path,
                     const std::vector<FileReplacement>& set);
// Finishes an interrupted commit recorded in the journal at journal_path;
// OK when there is none.
Status RecoverFileSet(Env* env, const std::string& journal_path);

// Reads a whole (small) file; used for headers and tests, never for tables.
Status ReadWholeFile(Env* env, const std::string& path, std::string* out);

}  // namespace engine
