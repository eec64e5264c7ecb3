// An Env for tests: passes everything to a base Env but fails every write
// once a budget of written bytes is used up, as a full disk or a yanked
// medium would, and renames on request.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "Env.h"

namespace engine {

class FaultInjectionEnv : public EnvWrapper {
 public:
  explicit FaultInjectionEnv(Env* base) : EnvWrapper(base) {}
  // -1 means unlimited.
  void FailWritesAfter(std::int64_t bytes) { budget_ = bytes; }
  void FailRenames(bool fail) { renames_left_ = fail ? 0 : -1; }
  // Lets n renames succeed, then fails every further one (-1: never fail).
  void FailRenamesAfter(int n) { renames_left_ = n; }
  // Writes come from more than one thread (a restructure sorts and syncs
  // beside its copy).
  bool WriteBudgetLeft(std::size_t n) {
    std::int64_t left = budget_.load();
    do {
      if (left < 0) return true;
      if (static_cast<std::int64_t>(n) > left) {
        budget_ = 0;
        return false;
      }
    } while (!budget_.compare_exchange_weak(left, left - static_cast<std::int64_t>(n)));
    return true;
  }

  Status OpenWrite(const std::string& path, bool create,
                   std::unique_ptr<RandomFile>* file) override {
    std::unique_ptr<RandomFile> base;
    Status s = base_->OpenWrite(path, create, &base);
    if (!s.ok()) return s;
    file->reset(new FaultFile(std::move(base), this));
    return s;
  }
  Status Rename(const std::string& from, const std::string& to) override {
    if (renames_left_ == 0)
      return Status(DBIERR_WRITEERR, "rename failed: injected fault").WithContext(to);
    if (renames_left_ > 0) --renames_left_;
    return base_->Rename(from, to);
  }
  // Releases run at once, so that a test sees the files' state when the
  // call returns.
  void ReleaseLater(std::function<void()> release) override { release(); }

 protected:
  // Called for every write or truncation of a file it opened for writing
  // (synced false), and for every sync of one (synced true); from whichever
  // thread does it.
  virtual void FileChanged(const std::string& /*path*/, bool /*synced*/) {}

 private:
  class FaultFile : public RandomFile {
   public:
    FaultFile(std::unique_ptr<RandomFile> base, FaultInjectionEnv* env)
        : base_(std::move(base)), env_(env) {}
    Status ReadAt(std::uint64_t offset, std::size_t n, void* out) override {
      return base_->ReadAt(offset, n, out);
    }
    Status WriteAt(std::uint64_t offset, const void* data, std::size_t n) override {
      env_->FileChanged(Path(), false);
      if (!env_->WriteBudgetLeft(n))
        return Status(DBIERR_DISKFULL, "write failed: injected fault").WithContext(Path());
      return base_->WriteAt(offset, data, n);
    }
    Status Truncate(std::uint64_t size) override {
      env_->FileChanged(Path(), false);
      return base_->Truncate(size);
    }
    Status Sync() override {
      env_->FileChanged(Path(), true);
      return base_->Sync();
    }
    std::uint64_t Size() const override { return base_->Size(); }
    const std::string& Path() const override { return base_->Path(); }

   private:
    std::unique_ptr<RandomFile> base_;
    FaultInjectionEnv* env_;
  };

  std::atomic<std::int64_t> budget_{-1};
  int renames_left_ = -1;
};

}  // namespace engine
