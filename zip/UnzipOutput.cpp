#include "UnzipOutput.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <new>
#include <system_error>
#include <utility>

#include "DZip.h"
#include "tlFile.h"

namespace {

// Beyond this many files one flush of the whole file system costs less
// than a sync of each.
constexpr size_t kSyncEachLimit = 4096;
// Written in pieces this large: few calls, and the file system sees whole
// extents.
constexpr size_t kPiece = size_t{8} << 20;
// Files from this size up are written from their buffer straight to the
// disk, all but the last partial page. Through the page cache every byte
// would be copied once more into pages the kernel takes afresh, and the
// first touch of those is dear where free memory has been handed back (a
// virtual machine returns it to its host, which faults each page in
// again): a restore spent more time there than inflating. Nobody reads
// the files right after a restore, so the cache loses nothing by it.
// Smaller files are not worth a wait on the disk each.
constexpr size_t kDirectMin = size_t{1} << 20;
// The alignment of the buffers, and of what is written straight: a page,
// which every file system's direct writes accept.
constexpr size_t kAlign = 4096;
// A file written a piece at a time is staged this much at most between
// writes (a whole number of pages).
constexpr size_t kStage = size_t{4} << 20;

uint64_t RoundUp(uint64_t n) { return (n + kAlign - 1) / kAlign * kAlign; }

// The bytes written of p[0, n) (fewer on failure, errno telling why).
size_t WriteUpTo(int fd, const char* p, size_t n, size_t piece) {
  size_t done = 0;
  while (done < n) {
    const ssize_t w = ::write(fd, p + done, std::min(n - done, piece));
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) {
      if (w == 0) errno = EIO;
      break;
    }
    done += static_cast<size_t>(w);
  }
  return done;
}

// Whether writes to fd now bypass the page cache: the file system names an
// alignment kAlign satisfies, and takes the flag.
bool WriteDirect(int fd) {
  struct statx st {};
  if (::statx(fd, "", AT_EMPTY_PATH, STATX_DIOALIGN, &st) != 0 || !(st.stx_mask & STATX_DIOALIGN) ||
      st.stx_dio_mem_align == 0 || st.stx_dio_offset_align == 0 ||
      kAlign % st.stx_dio_mem_align != 0 || kAlign % st.stx_dio_offset_align != 0) {
    return false;
  }
  const int flags = ::fcntl(fd, F_GETFL);
  return flags >= 0 && ::fcntl(fd, F_SETFL, flags | O_DIRECT) == 0;
}

// Writes n bytes from p (aligned to kAlign) at fd's offset (a multiple of
// kAlign), whole pages of them straight to the disk when `direct`.
bool WriteData(int fd, const char* p, size_t n, bool direct) {
  size_t done = 0;
  const size_t head = direct ? n / kAlign * kAlign : 0;
  if (head > 0 && WriteDirect(fd)) {
    done = WriteUpTo(fd, p, head, head);
    const int err = errno;
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_DIRECT) != 0) return false;
    // Refused after all (EINVAL): the rest goes through the cache.
    if (done < head && err != EINVAL) return false;
  }
  return WriteUpTo(fd, p + done, n - done, kPiece) == n - done;
}

bool SyncPath(const std::string& path, int flags) {
  const int fd = ::open(path.c_str(), flags | O_CLOEXEC);
  if (fd < 0) return false;
  const int rc = ::fsync(fd);
  const int err = errno;
  ::close(fd);
  // Some file systems refuse to sync a folder; its entries are written anyway.
  return rc == 0 || ((flags & O_DIRECTORY) && (err == EINVAL || err == EROFS));
}

// Each sync ends with a flush of the disk's cache, a few milliseconds on
// its own; syncs under way together share one.
constexpr size_t kSyncThreads = 4;

// Syncs every path, several at once (threads joined before the answer);
// whether all succeeded.
bool SyncAll(const std::vector<std::string>& paths, int flags) {
  std::atomic<size_t> next{0};
  std::atomic<bool> ok{true};
  const auto work = [&] {
    for (size_t i = next++; ok && i < paths.size(); i = next++) {
      if (!SyncPath(paths[i], flags)) ok = false;
    }
  };
  std::vector<std::thread> helpers;
  for (size_t n = 1; n < std::min(kSyncThreads, paths.size()); ++n) {
    try {
      helpers.emplace_back(work);
    } catch (const std::system_error&) {
      break;  // fewer at once
    }
  }
  work();
  for (std::thread& helper : helpers) helper.join();
  return ok;
}

}  // namespace

TUnzipOutput::~TUnzipOutput() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  changed_.notify_all();
  if (thread_.joinable()) thread_.join();
}

int TUnzipOutput::Open(const std::string& part, uint64_t size) {
  const int fd = ::open(part.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return -1;
  // The blocks are reserved in one piece; where the file system cannot (or
  // the room is short) the file grows as it is written, as before, and a
  // full disk shows there.
  if (size > 0 && ::fallocate(fd, 0, 0, static_cast<off_t>(size)) != 0 && ::ftruncate(fd, 0) != 0) {
    ::close(fd);
    ::unlink(part.c_str());
    return -1;
  }
  return fd;
}

int TUnzipOutput::Finish(int fd, const std::string& part, const std::string& target, time_t mtime,
                         int rc) {
  // The disk starts on it now; Sync finds little left to wait for.
  if (rc == UE_OK) ::sync_file_range(fd, 0, 0, SYNC_FILE_RANGE_WRITE);
  if (::close(fd) != 0 && rc == UE_OK) rc = UE_WRITE;
  if (rc == UE_OK) {
    struct utimbuf times {
      mtime, mtime
    };
    ::utime(part.c_str(), &times);
    // The archive's modes are not taken over: 0644 less the umask, never
    // setuid, setgid, sticky or writable by others.
    if (::rename(part.c_str(), target.c_str()) != 0) rc = UE_WRITE;
  }
  if (rc != UE_OK) {
    ::unlink(part.c_str());
    return rc;
  }
  std::lock_guard<std::mutex> lock(mutex_);
  named_.push_back(target);
  folders_.insert(ExtractFileDir(target));
  return UE_OK;
}

void TUnzipOutput::AddFolder(const std::string& folder) {
  std::lock_guard<std::mutex> lock(mutex_);
  folders_.insert(folder);
}

int TUnzipOutput::Write(TFile& file) {
  const int fd = Open(file.part, file.size);
  if (fd < 0) return UE_WRITE;
  const bool written = WriteData(fd, file.data.get(), file.size, file.size >= kDirectMin);
  return Finish(fd, file.part, file.target, file.mtime, written ? UE_OK : UE_WRITE);
}

void TUnzipOutput::Loop() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return next_ || stop_; });
    if (stop_) return;  // a file not taken yet has nothing on disk
    std::unique_ptr<TFile> file = std::move(next_);
    busy_ = true;
    lock.unlock();
    const int rc = Write(*file);
    lock.lock();
    if (file->capacity > spareCapacity_) {
      spare_ = std::move(file->data);
      spareCapacity_ = file->capacity;
    }
    file.reset();
    busy_ = false;
    if (rc != UE_OK && failure_ == UE_OK) failure_ = rc;
    changed_.notify_all();
  }
}

int TUnzipOutput::Submit(TFile file) {
  std::unique_lock<std::mutex> lock(mutex_);
  // One file at a time with the writer: with the one being inflated, at
  // most two whole files are held in memory.
  changed_.wait(lock, [this] { return (!next_ && !busy_) || failure_ != UE_OK; });
  if (failure_ != UE_OK) return failure_;
  if (!thread_.joinable()) {
    try {
      thread_ = std::thread([this] { Loop(); });
    } catch (const std::system_error&) {
      lock.unlock();  // no thread to be had: written here
      return Write(file);
    }
  }
  next_ = std::make_unique<TFile>(std::move(file));
  changed_.notify_all();
  return UE_OK;
}

void TUnzipOutput::TakeBuffer(TFile& file, size_t n) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (spareCapacity_ >= n) {
    file.data = std::move(spare_);
    file.capacity = spareCapacity_;
    spareCapacity_ = 0;
    return;
  }
  // Whole pages, as it starts on one.
  file.capacity = static_cast<size_t>(RoundUp(n));
  file.data = Allocate(file.capacity);
}

void TUnzipOutput::TBufferFree::operator()(char* p) const {
  ::operator delete[](p, std::align_val_t{kAlign});
}

TUnzipOutput::TBuffer TUnzipOutput::Allocate(size_t n) {
  return TBuffer(static_cast<char*>(::operator new[](n, std::align_val_t{kAlign})));
}

TUnzipOutput::TPieces::TPieces(int fd, uint64_t size)
    : fd_(fd),
      direct_(size >= kDirectMin),
      capacity_(static_cast<size_t>(std::clamp<uint64_t>(RoundUp(size), kAlign, kStage))),
      buffer_(Allocate(capacity_)) {}

bool TUnzipOutput::TPieces::Append(const char* p, size_t n) {
  while (n > 0) {
    const size_t take = std::min(n, capacity_ - used_);
    std::copy(p, p + take, buffer_.get() + used_);
    used_ += take;
    p += take;
    n -= take;
    if (used_ == capacity_ && !Flush()) return false;
  }
  return true;
}

bool TUnzipOutput::TPieces::Flush() {
  const size_t n = std::exchange(used_, 0);
  return WriteData(fd_, buffer_.get(), n, direct_);
}

int TUnzipOutput::Drain() {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [this] { return !next_ && !busy_; });
  return failure_;
}

int TUnzipOutput::Sync(const std::string& destination) {
  std::vector<std::string> files;
  std::set<std::string> folders;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    files = named_;
    folders = folders_;
  }
  // Every folder on the way down from the destination may have been made.
  std::set<std::string> all{destination, ExtractFileDir(destination)};
  for (std::string folder : folders) {
    while (folder.size() > destination.size() && all.insert(folder).second) {
      folder = ExtractFileDir(folder);
    }
  }
  if (files.size() > kSyncEachLimit) {
    const int dir = ::open(destination.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0) return UE_WRITE;
    const bool synced = ::syncfs(dir) == 0;
    ::close(dir);
    return synced ? UE_OK : UE_WRITE;
  }
  // Their writeback began as each was finished (or their data went straight
  // to the disk): the syncs wait for what is left, the file system's journal
  // takes the rest at once, and the disk's cache is flushed.
  if (!SyncAll(files, O_RDONLY)) return UE_WRITE;
  return SyncAll(std::vector<std::string>(all.begin(), all.end()), O_RDONLY | O_DIRECTORY)
             ? UE_OK
             : UE_WRITE;
}
