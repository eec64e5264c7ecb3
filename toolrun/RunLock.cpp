#include "RunLock.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace toolrun {

namespace {

bool LockWhole(int fd, short type, int command) {
  struct flock lock {};
  lock.l_type = type;
  lock.l_whence = SEEK_SET;
  lock.l_start = 0;
  lock.l_len = 0;  // the whole file, however long it grows
  return ::fcntl(fd, command, &lock) == 0;
}

std::string ReadHolder(int fd) {
  char text[256] = {};
  const ssize_t got = ::pread(fd, text, sizeof(text) - 1, 0);
  std::string holder = got > 0 ? std::string(text, static_cast<size_t>(got)) : std::string();
  while (!holder.empty() && (holder.back() == '\n' || holder.back() == '\0')) holder.pop_back();
  return holder;
}

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
  return text;
}

}  // namespace

TRunLock::TRunLock(const std::string& database_folder, const std::string& what) {
  std::string folder = database_folder;
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  struct stat st {};
  if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    state_ = lsNoFolder;
    detail_ = folder;
    return;
  }
  const std::string path = folder + '/' + kRunLockFile;
  // Every user who may run tools on the database must be able to open it.
  fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0666);
  if (fd_ >= 0 && ::fstat(fd_, &st) == 0 && st.st_uid == ::geteuid()) ::fchmod(fd_, 0666);
  if (fd_ < 0) {
    detail_ = path + ": " + std::strerror(errno);
    return;
  }
  if (!LockWhole(fd_, F_WRLCK, F_OFD_SETLK)) {
    const int error = errno;
    if (error == EAGAIN || error == EACCES) {
      state_ = lsBusy;
      detail_ = ReadHolder(fd_);
      if (detail_.empty()) detail_ = path;
    } else {
      detail_ = path + ": " + std::strerror(error);
    }
    ::close(fd_);
    fd_ = -1;
    return;
  }
  state_ = lsHeld;
  const std::string holder = "pid " + std::to_string(::getpid()) + ": " + what + "\n";
  if (::ftruncate(fd_, 0) == 0) {
    [[maybe_unused]] const ssize_t written = ::pwrite(fd_, holder.data(), holder.size(), 0);
  }
}

TRunLock::~TRunLock() {
  if (fd_ < 0) return;
  // The text names a holder only while it holds.
  [[maybe_unused]] const int cleared = ::ftruncate(fd_, 0);
  ::close(fd_);
}

std::string DatabaseFolderOfTable(const std::string& table_path) {
  std::string folder = table_path;
  const size_t slash = folder.find_last_of('/');
  folder = slash == std::string::npos ? "." : slash == 0 ? "/" : folder.substr(0, slash);
  const size_t up = folder.find_last_of('/');
  const std::string last = Upper(up == std::string::npos ? folder : folder.substr(up + 1));
  if (last == "METADATA" || last == "SAFE") {
    folder = up == std::string::npos ? "." : up == 0 ? "/" : folder.substr(0, up);
  }
  return folder;
}

}  // namespace toolrun
