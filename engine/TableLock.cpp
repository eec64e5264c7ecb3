#include "TableLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "Env.h"

namespace engine {

namespace {

struct flock WholeFile(short type) {
  struct flock fl {};
  fl.l_type = type;
  fl.l_whence = SEEK_SET;
  fl.l_start = 0;
  fl.l_len = 0;
  fl.l_pid = 0;  // required for open-file-description locks
  return fl;
}

// A file or folder that cannot be written, or whose permission bits allow
// nobody to write it (a read-only attribute, which even an administrator's
// tools respect).
bool ReadOnly(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return false;
  return (st.st_mode & 0222) == 0 || ::access(path.c_str(), W_OK) != 0;
}

Status Busy(const std::string& path, bool exclusive) {
  return Status(DBIERR_FILELOCKED, exclusive ? "table is in use by another program"
                                             : "table is opened exclusively by another program")
      .WithContext(path);
}

}  // namespace

Status CheckWritable(const std::string& path) {
  if (ReadOnly(path)) return Status(DBIERR_READONLYFILE, "the table is read-only").WithContext(path);
  const std::string dir = DirName(path);
  if (ReadOnly(dir)) return Status(DBIERR_READONLYDIR, "the folder is read-only").WithContext(dir);
  return Status::OK();
}

Status TableLock::Acquire(const std::string& path, bool exclusive) {
  Release();
  int fd = ::open(path.c_str(), (exclusive ? O_RDWR : O_RDONLY) | O_CLOEXEC);
  if (fd < 0 && exclusive && (errno == EACCES || errno == EROFS) &&
      ::access(path.c_str(), F_OK) == 0) {
    return Status(DBIERR_READONLYFILE, "the table is read-only").WithContext(path);
  }
  if (fd < 0) {
    return Status(errno == ENOENT ? DBIERR_NOSUCHTABLE : DBIERR_READERR,
                  std::string("cannot open table: ") + std::strerror(errno))
        .WithContext(path);
  }
  if (exclusive) {
    // An exclusive open is made to change the table.
    Status s = CheckWritable(path);
    if (!s.ok()) {
      ::close(fd);
      return s;
    }
  }
  struct flock fl = WholeFile(exclusive ? F_WRLCK : F_RDLCK);
  if (::fcntl(fd, F_OFD_SETLK, &fl) != 0) {
    const int err = errno;
    ::close(fd);
    if (err == EAGAIN || err == EACCES) return Busy(path, exclusive);
    return Status(DBIERR_FILELOCKED, std::string("cannot lock table: ") + std::strerror(err))
        .WithContext(path);
  }
  // Programs that lock with flock(2) see this lock, and theirs is seen here.
  // (A file system without flock fails otherwise: the record lock stands.)
  if (::flock(fd, (exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
    ::close(fd);
    return Busy(path, exclusive);
  }
  fd_ = fd;
  return Status::OK();
}

void TableLock::Release() {
  if (fd_ >= 0) ::close(fd_);  // closing the description drops its locks
  fd_ = -1;
}

bool IsLockedByOther(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct flock fl = WholeFile(F_WRLCK);
  bool locked = ::fcntl(fd, F_OFD_GETLK, &fl) == 0 && fl.l_type != F_UNLCK;
  // flock(2) has no test call: try to take it and let it go at once.
  if (!locked && ::flock(fd, LOCK_EX | LOCK_NB) != 0) locked = errno == EWOULDBLOCK;
  ::close(fd);
  return locked;
}

}  // namespace engine
