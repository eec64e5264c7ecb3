// The engine's file layer: every read, write, rename and sync of a table file,
// and every folder it lists, creates or removes, goes through an Env, so
// tests can substitute one that fails on purpose and check that nothing was
// lost. Also holds the helpers
// that replace a file atomically (write beside, sync, rename).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
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
  // Writes *bytes at offset as WriteAt does and leaves *bytes empty. A file
  // that writes on a thread of its own takes the buffer over instead of
  // copying it, and may leave in its place one it has written (emptied,
  // its capacity kept for the next batch).
  virtual Status WriteBuffer(std::uint64_t offset, std::string* bytes) {
    Status s = WriteAt(offset, bytes->data(), bytes->size());
    bytes->clear();
    return s;
  }
  virtual Status Truncate(std::uint64_t size) = 0;
  virtual Status Sync() = 0;
  // Starts writing these bytes to the disk and returns at once, so the Sync
  // that follows has less left to wait for. Only a hint: it never fails.
  virtual void StartWriteback(std::uint64_t /*offset*/, std::size_t /*n*/) {}
  virtual std::uint64_t Size() const = 0;
  virtual const std::string& Path() const = 0;
};

class Env {
 public:
  virtual ~Env() = default;
  static Env* Default();
  // Makes env what Default() returns from now on (a test program installs
  // one that fails on purpose for the whole process); nullptr restores the
  // real one. Call it before any file is opened.
  static void SetDefault(Env* env);

  virtual Status OpenRead(const std::string& path, std::unique_ptr<RandomFile>* file) = 0;
  // Opens for reading and writing; creates (empty) when create is set.
  virtual Status OpenWrite(const std::string& path, bool create,
                           std::unique_ptr<RandomFile>* file) = 0;
  virtual Status Rename(const std::string& from, const std::string& to) = 0;
  virtual Status Remove(const std::string& path) = 0;
  virtual bool Exists(const std::string& path) = 0;
  // Makes the directory entries of a folder durable (after a rename).
  virtual Status SyncDir(const std::string& dir) = 0;
  // The names in a folder, "." and ".." left out, in no particular order.
  virtual Status ListDir(const std::string& dir, std::vector<std::string>* names) = 0;
  // Creates a folder; fails when it exists.
  virtual Status CreateDir(const std::string& dir) = 0;
  // Removes an empty folder.
  virtual Status RemoveDir(const std::string& dir) = 0;
  // Runs release, which drops the last handles of files that were replaced
  // or removed. Closing those frees the files' blocks, which can take
  // milliseconds per file (the file system may discard them on the spot),
  // and nothing needs to wait for that: the real Env runs releases in order
  // on a background thread (those still pending at exit are left to the
  // system). Others run it at once.
  virtual void ReleaseLater(std::function<void()> release) { release(); }
};

// An Env that hands every call to another one; a layer over it overrides
// only what it changes.
class EnvWrapper : public Env {
 public:
  explicit EnvWrapper(Env* base) : base_(base) {}
  Status OpenRead(const std::string& path, std::unique_ptr<RandomFile>* file) override {
    return base_->OpenRead(path, file);
  }
  Status OpenWrite(const std::string& path, bool create,
                   std::unique_ptr<RandomFile>* file) override {
    return base_->OpenWrite(path, create, file);
  }
  Status Rename(const std::string& from, const std::string& to) override {
    return base_->Rename(from, to);
  }
  Status Remove(const std::string& path) override { return base_->Remove(path); }
  bool Exists(const std::string& path) override { return base_->Exists(path); }
  Status SyncDir(const std::string& dir) override { return base_->SyncDir(dir); }
  Status ListDir(const std::string& dir, std::vector<std::string>* names) override {
    return base_->ListDir(dir, names);
  }
  Status CreateDir(const std::string& dir) override { return base_->CreateDir(dir); }
  Status RemoveDir(const std::string& dir) override { return base_->RemoveDir(dir); }
  void ReleaseLater(std::function<void()> release) override {
    base_->ReleaseLater(std::move(release));
  }

 protected:
  Env* base_;
};

// Creates (or empties) path, writes data into it and syncs it.
Status WriteSyncedFile(Env* env, const std::string& path, const std::string& data);
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

// Reads a whole (small) file; used for headers and tests, never for tables.
Status ReadWholeFile(Env* env, const std::string& path, std::string* out);

}  // namespace engine
