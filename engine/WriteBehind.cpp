#include "WriteBehind.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace engine {

namespace {

// Bytes waiting for the thread before a write waits for room (two of the
// table writer's batches).
constexpr std::size_t kQueued = std::size_t{2} << 20;
// Buffers of written batches kept for the next ones, of this file or the
// next (a table's file is written in a few batches, and fresh memory costs
// a page fault a page): for the batches that may wait and the one being
// filled, of two files written at once.
constexpr std::size_t kSpares = 8;

class SparePool {
 public:
  std::string Take() {
    std::lock_guard lock(mutex_);
    std::string bytes;
    if (!spare_.empty()) {
      bytes = std::move(spare_.back());
      spare_.pop_back();
    }
    bytes.clear();
    return bytes;
  }
  void Give(std::string bytes) {
    std::lock_guard lock(mutex_);
    if (spare_.size() < kSpares) spare_.push_back(std::move(bytes));
  }

 private:
  std::mutex mutex_;
  std::vector<std::string> spare_;
};

SparePool& Spares() {
  static SparePool* pool = new SparePool;  // never destroyed: used until the last thread ends
  return *pool;
}

class WriteBehindFile : public RandomFile {
 public:
  explicit WriteBehindFile(std::unique_ptr<RandomFile> base)
      : base_(std::move(base)), size_(base_->Size()) {
    thread_ = std::thread([this] { Loop(); });
  }
  ~WriteBehindFile() override {
    Drain();
    {
      std::lock_guard lock(mutex_);
      ending_ = true;
    }
    wake_.notify_one();
    thread_.join();
  }

  Status ReadAt(std::uint64_t offset, std::size_t n, void* out) override {
    Status s = Drain();
    return s.ok() ? base_->ReadAt(offset, n, out) : s;
  }
  Status WriteAt(std::uint64_t offset, const void* data, std::size_t n) override {
    std::unique_lock lock(mutex_);
    room_.wait(lock, [&] { return queued_ < kQueued || !failed_.ok(); });
    if (!failed_.ok()) return failed_;
    lock.unlock();
    std::string bytes = Spares().Take();
    bytes.assign(static_cast<const char*>(data), n);  // off the lock
    lock.lock();
    return Queue(offset, std::move(bytes), lock);
  }
  Status WriteBuffer(std::uint64_t offset, std::string* bytes) override {
    std::unique_lock lock(mutex_);
    room_.wait(lock, [&] { return queued_ < kQueued || !failed_.ok(); });
    if (!failed_.ok()) return failed_;
    std::string taken = std::move(*bytes);
    *bytes = Spares().Take();
    return Queue(offset, std::move(taken), lock);
  }
  void StartWriteback(std::uint64_t offset, std::size_t n) override {
    {
      std::lock_guard lock(mutex_);
      queue_.push_back({offset, n, true, {}});
    }
    wake_.notify_one();
  }
  Status Truncate(std::uint64_t size) override {
    Status s = Drain();
    if (s.ok()) s = base_->Truncate(size);
    if (s.ok()) size_ = size;
    return s;
  }
  Status Sync() override {
    Status s = Drain();
    return s.ok() ? base_->Sync() : s;
  }
  std::uint64_t Size() const override { return size_; }
  const std::string& Path() const override { return base_->Path(); }

 private:
  struct Op {
    std::uint64_t offset;
    std::size_t n;
    bool writeback;  // a hint only, no bytes
    std::string bytes;
  };

  Status Queue(std::uint64_t offset, std::string bytes, std::unique_lock<std::mutex>& lock) {
    const std::size_t n = bytes.size();
    queued_ += n;
    queue_.push_back({offset, n, false, std::move(bytes)});
    size_ = std::max<std::uint64_t>(size_, offset + n);
    lock.unlock();
    wake_.notify_one();
    return Status::OK();
  }

  // Waits until every write handed over is done; the first failure.
  Status Drain() {
    std::unique_lock lock(mutex_);
    idle_.wait(lock, [&] { return queue_.empty() && !busy_; });
    return failed_;
  }

  void Loop() {
    std::unique_lock lock(mutex_);
    for (;;) {
      wake_.wait(lock, [&] { return ending_ || !queue_.empty(); });
      if (queue_.empty()) return;  // ending, everything written
      Op op = std::move(queue_.front());
      queue_.pop_front();
      busy_ = true;
      const bool failed = !failed_.ok();
      lock.unlock();
      // After a failure nothing more is written: the caller hears of it
      // from its next write or its sync.
      Status s;
      if (!failed && op.writeback) base_->StartWriteback(op.offset, op.n);
      if (!failed && !op.writeback) s = base_->WriteAt(op.offset, op.bytes.data(), op.n);
      if (!op.writeback) Spares().Give(std::move(op.bytes));
      lock.lock();
      busy_ = false;
      if (!op.writeback) queued_ -= op.n;
      if (!s.ok() && failed_.ok()) failed_ = s;
      room_.notify_one();
      if (queue_.empty()) idle_.notify_all();
    }
  }

  std::unique_ptr<RandomFile> base_;
  std::uint64_t size_;  // the caller's view: with the writes still waiting
  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable wake_, room_, idle_;
  std::deque<Op> queue_;
  std::size_t queued_ = 0;          // bytes in queue_
  bool busy_ = false;               // the thread is writing one
  bool ending_ = false;
  Status failed_;
};

class WriteBehindFiles : public EnvWrapper {
 public:
  WriteBehindFiles(Env* base, std::string path) : EnvWrapper(base), path_(std::move(path)) {}
  Status OpenWrite(const std::string& path, bool create,
                   std::unique_ptr<RandomFile>* file) override {
    Status s = base_->OpenWrite(path, create, file);
    if (s.ok() && path == path_) *file = std::make_unique<WriteBehindFile>(std::move(*file));
    return s;
  }

 private:
  std::string path_;
};

}  // namespace

std::unique_ptr<Env> WriteBehindEnv(Env* base, std::string path) {
  return std::make_unique<WriteBehindFiles>(base, std::move(path));
}

}  // namespace engine
