#include "TableLock.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

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

}  // namespace

Status TableLock::Acquire(const std::string& path, bool exclusive) {
  Release();
  int fd = ::open(path.c_str(), (exclusive ? O_RDWR : O_RDONLY) | O_CLOEXEC);
  if (fd < 0 && exclusive && errno == EACCES) fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    return Status(errno == ENOENT ? DBIERR_NOSUCHTABLE : DBIERR_READERR,
                  std::string("cannot open table: ") + std::strerror(errno))
        .WithContext(path);
  }
  struct flock fl = WholeFile(exclusive ? F_WRLCK : F_RDLCK);
  if (::fcntl(fd, F_OFD_SETLK, &fl) != 0) {
    const int err = errno;
    ::close(fd);
    if (err == EAGAIN || err == EACCES) {
      return Status(DBIERR_FILELOCKED, exclusive ? "table is in use by another program"
                                                 : "table is opened exclusively by another program")
          .WithContext(path);
    }
    return Status(DBIERR_FILELOCKED, std::string("cannot lock table: ") + std::strerror(err))
        .WithContext(path);
  }
  fd_ = fd;
  return Status::OK();
}

void TableLock::Release() {
  if (fd_ >= 0) ::close(fd_);  // closing the description drops its lock
  fd_ = -1;
}

bool IsLockedByOther(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct flock fl = WholeFile(F_WRLCK);
  const bool locked = ::fcntl(fd, F_OFD_GETLK, &fl) == 0 && fl.l_type != F_UNLCK;
  ::close(fd);
  return locked;
}

}  // namespace engine
