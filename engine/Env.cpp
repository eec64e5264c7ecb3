#include "Env.h"

#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>

namespace engine {

namespace {

Status PosixError(const std::string& what, const std::string& path, int err) {
  DBIResult code = DBIERR_WRITEERR;
  if (err == ENOENT) code = DBIERR_NOSUCHFILE;
  if (err == ENOSPC) code = DBIERR_DISKFULL;
  return Status(code, what + ": " + std::strerror(err)).WithContext(path);
}

class PosixFile : public RandomFile {
 public:
  PosixFile(int fd, std::string path, std::uint64_t size)
      : fd_(fd), path_(std::move(path)), size_(size) {}
  ~PosixFile() override { ::close(fd_); }

  Status ReadAt(std::uint64_t offset, std::size_t n, void* out) override {
    char* p = static_cast<char*>(out);
    std::size_t done = 0;
    while (done < n) {
      ssize_t r = ::pread(fd_, p + done, n - done, static_cast<off_t>(offset + done));
      if (r < 0 && errno == EINTR) continue;
      if (r < 0)
        return Status(DBIERR_READERR, std::string("read failed: ") + std::strerror(errno))
            .WithContext(path_);
      if (r == 0) return Status::Corruption("unexpected end of file").WithContext(path_);
      done += static_cast<std::size_t>(r);
    }
    return Status::OK();
  }
  Status WriteAt(std::uint64_t offset, const void* data, std::size_t n) override {
    const char* p = static_cast<const char*>(data);
    std::size_t done = 0;
    while (done < n) {
      ssize_t r = ::pwrite(fd_, p + done, n - done, static_cast<off_t>(offset + done));
      if (r < 0 && errno == EINTR) continue;
      if (r < 0) return PosixError("write failed", path_, errno);
      done += static_cast<std::size_t>(r);
    }
    if (offset + n > size_) size_ = offset + n;
    return Status::OK();
  }
  Status Truncate(std::uint64_t size) override {
    if (::ftruncate(fd_, static_cast<off_t>(size)) != 0)
      return PosixError("truncate failed", path_, errno);
    size_ = size;
    return Status::OK();
  }
  Status Sync() override {
    if (::fsync(fd_) != 0) return PosixError("sync failed", path_, errno);
    return Status::OK();
  }
  void StartWriteback(std::uint64_t offset, std::size_t n) override {
    ::sync_file_range(fd_, static_cast<off_t>(offset), static_cast<off_t>(n),
                      SYNC_FILE_RANGE_WRITE);
  }
  std::uint64_t Size() const override { return size_; }
  const std::string& Path() const override { return path_; }

 private:
  int fd_;
  std::string path_;
  std::uint64_t size_;
};

// The thread behind the real Env's ReleaseLater, started by the first
// release. It lives as long as the process: releases still pending at exit
// are left to the system, which closes every handle anyway.
// A fork waits for the release under way, and the first release waits for
// the thread to be running: the thread allocates and frees as it starts and
// as it releases, and a child forked while it held the allocator's lock
// would hang at its first allocation (a test reading a table with pxlib in
// a child did, under the address sanitizer).
class BackgroundReleaser {
 public:
  BackgroundReleaser() {
    instance_ = this;
    ::pthread_atfork([] { instance_->LockForFork(); }, [] { instance_->UnlockAfterFork(); },
                     [] { instance_->UnlockAfterFork(); });
  }

  void Add(std::function<void()> release) {
    // A child forked from this process has no such thread: it releases at
    // once.
    const pid_t owner = owner_.load();
    if (owner != 0 && owner != ::getpid()) {
      release();
      return;
    }
    {
      std::unique_lock<std::mutex> lock(mutex_);
      queue_.push_back(std::move(release));
      if (owner_.load() == 0) {
        owner_ = ::getpid();
        std::thread([this] { Loop(); }).detach();
        started_.wait(lock, [this] { return looping_; });
      }
    }
    wake_.notify_one();
  }

 private:
  void Loop() {
    std::unique_lock<std::mutex> lock(mutex_);
    looping_ = true;
    started_.notify_one();
    for (;;) {
      wake_.wait(lock, [this] { return !queue_.empty(); });
      std::function<void()> next = std::move(queue_.front());
      queue_.pop_front();
      lock.unlock();
      {
        std::lock_guard<std::mutex> running(running_);
        next();
        next = nullptr;  // what it captured goes here too, off the lock
      }
      lock.lock();
    }
  }

  // The queue's lock too: pushing and popping allocate and free.
  void LockForFork() {
    running_.lock();
    mutex_.lock();
  }
  void UnlockAfterFork() {
    mutex_.unlock();
    running_.unlock();
  }

  static BackgroundReleaser* instance_;
  std::mutex running_;  // held while a release runs
  std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable started_;
  bool looping_ = false;
  std::deque<std::function<void()>> queue_;
  std::atomic<pid_t> owner_{0};
};

BackgroundReleaser* BackgroundReleaser::instance_ = nullptr;

class PosixEnv : public Env {
 public:
  Status OpenRead(const std::string& path, std::unique_ptr<RandomFile>* file) override {
    return Open(path, O_RDONLY, file);
  }
  Status OpenWrite(const std::string& path, bool create,
                   std::unique_ptr<RandomFile>* file) override {
    return Open(path, O_RDWR | (create ? O_CREAT | O_TRUNC : 0), file);
  }
  Status Rename(const std::string& from, const std::string& to) override {
    if (::rename(from.c_str(), to.c_str()) != 0) return PosixError("rename failed", to, errno);
    return Status::OK();
  }
  Status Remove(const std::string& path) override {
    if (::unlink(path.c_str()) != 0 && errno != ENOENT)
      return PosixError("delete failed", path, errno);
    return Status::OK();
  }
  bool Exists(const std::string& path) override { return ::access(path.c_str(), F_OK) == 0; }
  Status SyncDir(const std::string& dir) override {
    int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return PosixError("cannot open folder", dir, errno);
    int rc = ::fsync(fd);
    int err = errno;
    ::close(fd);
    // Some file systems refuse fsync on folders; the rename is still done.
    if (rc != 0 && err != EINVAL && err != EROFS) return PosixError("folder sync failed", dir, err);
    return Status::OK();
  }
  Status ListDir(const std::string& dir, std::vector<std::string>* names) override {
    names->clear();
    DIR* d = ::opendir(dir.c_str());
    if (!d) return PosixError("cannot read folder", dir, errno);
    while (dirent* e = ::readdir(d)) {
      const std::string name = e->d_name;
      if (name != "." && name != "..") names->push_back(name);
    }
    ::closedir(d);
    return Status::OK();
  }
  Status CreateDir(const std::string& dir) override {
    if (::mkdir(dir.c_str(), 0775) != 0) return PosixError("cannot create folder", dir, errno);
    return Status::OK();
  }
  Status RemoveDir(const std::string& dir) override {
    if (::rmdir(dir.c_str()) != 0) return PosixError("cannot remove folder", dir, errno);
    return Status::OK();
  }
  void ReleaseLater(std::function<void()> release) override {
    static BackgroundReleaser* releaser = new BackgroundReleaser;
    releaser->Add(std::move(release));
  }

 private:
  Status Open(const std::string& path, int flags, std::unique_ptr<RandomFile>* file) {
    int fd = ::open(path.c_str(), flags | O_CLOEXEC, 0644);
    if (fd < 0) return PosixError("cannot open file", path, errno);
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
      int err = errno;
      ::close(fd);
      return PosixError("cannot stat file", path, err);
    }
    file->reset(new PosixFile(fd, path, static_cast<std::uint64_t>(st.st_size)));
    return Status::OK();
  }
};

}  // namespace

static Env* installed_env = nullptr;

Env* Env::Default() {
  static PosixEnv env;
  return installed_env ? installed_env : &env;
}

void Env::SetDefault(Env* env) { installed_env = env; }

std::string DirName(const std::string& path) {
  auto slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string JoinPath(const std::string& dir, const std::string& name) {
  if (dir.empty()) return name;
  std::size_t end = dir.size();
  while (end > 1 && dir[end - 1] == '/') --end;
  const std::string head = dir.substr(0, end);
  return head == "/" ? "/" + name : head + "/" + name;
}

std::string TempPathFor(const std::string& path) { return path + ".tmp~"; }

Status CommitReplacement(Env* env, const std::string& temp_path, const std::string& path) {
  Status s = env->Rename(temp_path, path);
  if (!s.ok()) {
    env->Remove(temp_path);
    return s;
  }
  return env->SyncDir(DirName(path));
}

Status WriteSyncedFile(Env* env, const std::string& path, const std::string& data) {
  std::unique_ptr<RandomFile> file;
  Status s = env->OpenWrite(path, true, &file);
  if (s.ok()) s = file->WriteAt(0, data.data(), data.size());
  if (s.ok()) s = file->Sync();
  return s;
}

Status WriteFileAtomically(Env* env, const std::string& path, const std::string& data) {
  const std::string temp = TempPathFor(path);
  const Status s = WriteSyncedFile(env, temp, data);
  if (!s.ok()) {
    env->Remove(temp);
    return s;
  }
  return CommitReplacement(env, temp, path);
}

Status ReadWholeFile(Env* env, const std::string& path, std::string* out) {
  std::unique_ptr<RandomFile> file;
  Status s = env->OpenRead(path, &file);
  if (!s.ok()) return s;
  out->assign(file->Size(), '\0');
  if (out->empty()) return Status::OK();
  return file->ReadAt(0, out->size(), out->data());
}

}  // namespace engine
