// Volumes of an archive; see ZipVolumes.h.
#include "ZipVolumes.h"

#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace {

constexpr size_t kWriteBuffer = 256 * 1024;
constexpr size_t kTailSearch = 65536 + zipfmt::kEndFixed + zipfmt::kLocator64Size;

std::string Trim(const std::string& s) {
  const size_t a = s.find_first_not_of(" \t\r\n");
  if (a == std::string::npos) return {};
  return s.substr(a, s.find_last_not_of(" \t\r\n") - a + 1);
}

std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

std::string Canonical(const std::string& path) {
  char buf[PATH_MAX];
  if (realpath(path.c_str(), buf)) return buf;
  return fs::absolute(path).lexically_normal().string();
}

// True when `inner` is `outer` or lies below it.
bool Within(const std::string& inner, const std::string& outer) {
  if (outer == "/") return true;
  return inner == outer ||
         (inner.size() > outer.size() && inner.compare(0, outer.size(), outer) == 0 &&
          inner[outer.size()] == '/');
}

std::string ProgramFolderOfZip() {
  if (const char* home = std::getenv("VARDEX_HOME"); home && *home) return home;
  char buf[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return ".";
  buf[n] = '\0';
  return fs::path(buf).parent_path().string();
}

bool WriteAll(int fd, const char* p, size_t n) {
  while (n > 0) {
    const ssize_t w = ::write(fd, p, n);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) return false;
    p += w;
    n -= static_cast<size_t>(w);
  }
  return true;
}

bool ReadAt(int fd, void* buf, size_t n, uint64_t offset) {
  auto* p = static_cast<char*>(buf);
  while (n > 0) {
    const ssize_t r = ::pread(fd, p, n, static_cast<off_t>(offset));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return false;
    p += r;
    n -= static_cast<size_t>(r);
    offset += static_cast<uint64_t>(r);
  }
  return true;
}

// Deletes everything inside `folder` (the folder itself stays).
bool ClearFolder(const std::string& folder, bool subdirs, bool hidden) {
  std::error_code ec;
  for (const fs::directory_entry& entry : fs::directory_iterator(folder, ec)) {
    const std::string name = entry.path().filename().string();
    if (!hidden && !name.empty() && name[0] == '.') continue;
    if (entry.is_directory(ec) && !entry.is_symlink(ec)) {
      if (!subdirs) continue;
      fs::remove_all(entry.path(), ec);
    } else {
      fs::remove(entry.path(), ec);
    }
    if (ec) return false;
  }
  return !ec;
}

// Space a new volume may take in `folder`: what the medium holds, less a
// margin for the file system's own blocks.
uint64_t FreeSpace(const std::string& folder) {
  struct statvfs st {};
  if (statvfs(folder.c_str(), &st) != 0) return 0;
  const uint64_t free = static_cast<uint64_t>(st.f_bavail) * st.f_frsize;
  const uint64_t margin = std::max<uint64_t>(64 * 1024, free / 100);
  return free > margin ? free - margin : 0;
}

}  // namespace

std::map<char, TDriveInfo> ReadDriveTable(const std::string& file) {
  std::map<char, TDriveInfo> drives;
  std::ifstream in(file);
  std::string line;
  bool inDrives = false;
  while (std::getline(in, line)) {
    line = Trim(line);
    if (line.empty() || line[0] == ';' || line[0] == '#') continue;
    if (line[0] == '[') {
      inDrives = Upper(line) == "[DRIVES]";
      continue;
    }
    const size_t eq = line.find('=');
    if (!inDrives || eq == std::string::npos) continue;
    const std::string key = Upper(Trim(line.substr(0, eq)));
    const std::string value = Trim(line.substr(eq + 1));
    if (key.empty() || !std::isalpha(static_cast<unsigned char>(key[0]))) continue;
    if (key.size() == 1) {
      drives[key[0]].folder = value;
    } else if (key.substr(1) == ".CAPACITY") {
      drives[key[0]].capacity = std::strtoull(value.c_str(), nullptr, 10);
    }
  }
  for (auto it = drives.begin(); it != drives.end();) {
    it = it->second.folder.empty() ? drives.erase(it) : std::next(it);
  }
  return drives;
}

std::string DefaultDrivesFile() { return ProgramFolderOfZip() + "/drives.ini"; }

bool ResolveArchive(const std::string& name, const std::string& drivesFile,
                    TArchiveTarget& target) {
  target = TArchiveTarget{};
  if (name.empty()) return false;
  const bool letter = name.size() > 3 && std::isalpha(static_cast<unsigned char>(name[0])) &&
                      name[1] == ':' && (name[2] == '\\' || name[2] == '/');
  if (!letter) {
    target.path = name;
    target.folder = fs::path(name).parent_path().string();
    if (target.folder.empty()) target.folder.assign(1, '.');
    return true;
  }
  const auto drives = ReadDriveTable(drivesFile.empty() ? DefaultDrivesFile() : drivesFile);
  const auto it = drives.find(static_cast<char>(std::toupper(static_cast<unsigned char>(name[0]))));
  if (it == drives.end()) return false;
  std::string rest = name.substr(3);
  std::replace(rest.begin(), rest.end(), '\\', '/');
  if (rest.empty() || rest.find("..") != std::string::npos) return false;
  target.folder = it->second.folder;
  while (target.folder.size() > 1 && target.folder.back() == '/') target.folder.pop_back();
  target.path = target.folder;
  target.path += '/';
  target.path.append(rest);
  target.capacity = it->second.capacity;
  target.onDrive = true;
  return true;
}

std::string ClearRefusal(const std::string& folder,
                         const std::vector<std::string>& databaseFolders) {
  const std::string f = Canonical(folder);
  if (f == "/") return "the root folder";
  std::vector<std::string> homes = {"/root", "/home"};
  if (const char* home = std::getenv("HOME"); home && *home) homes.push_back(Canonical(home));
  for (const std::string& h : homes) {
    if (f == h) return "a home folder";
  }
  if (fs::path(f).parent_path() == "/home") return "a home folder";
  if (f == Canonical(ProgramFolderOfZip())) return "the program folder";
  for (const std::string& db : databaseFolders) {
    const std::string d = Canonical(db);
    if (Within(d, f) || Within(f, d)) return "a folder of the database being saved";
  }
  return {};
}

int AskMessage(const TZipCallbacks& cb, int msg, long long p1, long long p2, int fallback) {
  if (!cb.lpMessageDisplay) return fallback;
  int reply = 0;
  cb.lpMessageDisplay(msg, 0, p1, p2, std::string(), std::string(), reply);
  return reply == 0 ? kReplyOk : reply;
}

// ---------------------------------------------------------------------------

TVolumeWriter::TVolumeWriter(const TArchiveTarget& target, bool multi, unsigned mvControl,
                             const TZipCallbacks& cb)
    : target_(target), multi_(multi && target.onDrive), mvControl_(mvControl), cb_(cb) {}

TVolumeWriter::~TVolumeWriter() {
  if (fd_ >= 0) Abandon();
}

int TVolumeWriter::OpenVolume() {
  if (target_.onDrive) {
    if (!ClearFolder(target_.folder, mvControl_ & MV_SUBDIR, mvControl_ & MV_SYSHIDE)) {
      return ZE_CLEAR;
    }
    writePath_ = target_.path;
  } else {
    writePath_ = target_.path + ".tmp";
  }
  fd_ = ::open(writePath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd_ < 0) return ZE_CREAT;
  offset_ = 0;
  capacity_ = UINT64_MAX;
  if (multi_) {
    capacity_ = FreeSpace(target_.folder);
    if (target_.capacity > 0) capacity_ = std::min(capacity_, target_.capacity);
  }
  return ZE_OK;
}

int TVolumeWriter::Begin(uint64_t total) {
  if (multi_ && AskMessage(cb_, kMsgDisk, -1, 0, kReplyOk) != kReplyOk) return ZE_DISKCANCEL;
  if (int rc = OpenVolume()) return rc;
  if (multi_ && total > capacity_) {
    std::string sig;
    zipfmt::Put32(sig, zipfmt::kSpanSig);
    prefix_ = true;
    return Write(sig);
  }
  return ZE_OK;
}

int TVolumeWriter::Flush() {
  if (buffer_.empty()) return ZE_OK;
  const bool ok = WriteAll(fd_, buffer_.data(), buffer_.size());
  buffer_.clear();
  return ok ? ZE_OK : ZE_WRITE;
}

int TVolumeWriter::Close(bool sync) {
  int rc = Flush();
  if (sync && rc == ZE_OK && ::fsync(fd_) != 0) rc = ZE_WRITE;
  struct stat st {};
  if (fstat(fd_, &st) == 0) {
    lastDev_ = st.st_dev;
    lastIno_ = st.st_ino;
  }
  if (::close(fd_) != 0 && rc == ZE_OK) rc = ZE_WRITE;
  fd_ = -1;
  return rc;
}

int TVolumeWriter::NextVolume() {
  if (!multi_) return ZE_WRITE;
  if (int rc = Close(true)) return rc;
  ++disk_;
  // The medium must have been changed: the volume just written is still
  // there when the user answered OK without swapping it.
  for (;;) {
    if (AskMessage(cb_, kMsgDisk, disk_ + 1, 0, kReplyCancel) != kReplyOk) return ZE_DISKCANCEL;
    struct stat st {};
    if (stat(target_.path.c_str(), &st) != 0 || st.st_dev != lastDev_ || st.st_ino != lastIno_) {
      break;
    }
  }
  return OpenVolume();
}

int TVolumeWriter::Write(const void* data, size_t n) {
  const char* p = static_cast<const char*>(data);
  while (n > 0) {
    if (offset_ >= capacity_) {
      if (int rc = NextVolume()) return rc;
      if (capacity_ == 0) return ZE_SPACE;
    }
    const size_t take = static_cast<size_t>(std::min<uint64_t>(n, capacity_ - offset_));
    buffer_.append(p, take);
    offset_ += take;
    p += take;
    n -= take;
    if (buffer_.size() >= kWriteBuffer) {
      if (int rc = Flush()) return rc;
    }
  }
  return ZE_OK;
}

int TVolumeWriter::Reserve(size_t n) {
  if (Room() >= n) return ZE_OK;
  if (int rc = NextVolume()) return rc;
  return Room() >= n ? ZE_OK : ZE_SPACE;
}

int TVolumeWriter::Finish() {
  const bool shift = SingleWithPrefix();
  if (int rc = Flush()) return rc;
  if (shift) {
    // The archive stayed on one volume: drop the split signature so the file
    // is an ordinary archive (its offsets were counted without it).
    std::string block(kWriteBuffer, '\0');
    uint64_t from = 4;
    for (;;) {
      const ssize_t r = ::pread(fd_, block.data(), block.size(), static_cast<off_t>(from));
      if (r < 0) return ZE_WRITE;
      if (r == 0) break;
      if (::pwrite(fd_, block.data(), static_cast<size_t>(r), static_cast<off_t>(from - 4)) != r) {
        return ZE_WRITE;
      }
      from += static_cast<uint64_t>(r);
    }
    if (::ftruncate(fd_, static_cast<off_t>(from - 4)) != 0) return ZE_WRITE;
  }
  if (int rc = Close(true)) return rc;
  if (!target_.onDrive && ::rename(writePath_.c_str(), target_.path.c_str()) != 0) {
    ::unlink(writePath_.c_str());
    return ZE_CREAT;
  }
  return ZE_OK;
}

void TVolumeWriter::Abandon() {
  buffer_.clear();
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
  if (!writePath_.empty()) ::unlink(writePath_.c_str());
}

// ---------------------------------------------------------------------------

TVolumeReader::TVolumeReader(const std::string& path, const TZipCallbacks& cb)
    : path_(path), cb_(cb) {}

TVolumeReader::~TVolumeReader() { CloseCurrent(); }

void TVolumeReader::CloseCurrent() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  disk_ = -1;
}

int TVolumeReader::OpenPresent(int& fd, uint64_t& size) {
  fd = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return UE_OPEN;
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    fd = -1;
    return UE_OPEN;
  }
  size = static_cast<uint64_t>(st.st_size);
  return UE_OK;
}

int TVolumeReader::OpenLast(uint64_t& endOffset) {
  CloseCurrent();
  for (;;) {
    int fd = -1;
    uint64_t size = 0;
    if (OpenPresent(fd, size) == UE_OK) {
      const size_t tailLen = static_cast<size_t>(std::min<uint64_t>(size, kTailSearch));
      std::string tail(tailLen, '\0');
      if (ReadAt(fd, tail.data(), tailLen, size - tailLen) &&
          zipfmt::FindEnd(tail, size, end_, endOffset)) {
        fd_ = fd;
        size_ = size;
        disk_ = end_.disk;
        if (end_.zip64) {
          std::string rec(zipfmt::kEnd64Size, '\0');
          if (end_.end64Disk != end_.disk ||
              !ReadAt(fd, rec.data(), rec.size(), end_.end64Offset) ||
              !zipfmt::DecodeEnd64(reinterpret_cast<const unsigned char*>(rec.data()), rec.size(),
                                   end_)) {
            return UE_FORM;
          }
        }
        if (end_.cdDisk > end_.disk) return UE_FORM;
        return UE_OK;
      }
      ::close(fd);
    }
    // Not there, or not the last volume of a set: ask for it.
    if (AskMessage(cb_, kMsgDisk, 0, -1, kReplyCancel) != kReplyOk) {
      return cb_.lpMessageDisplay ? UE_CANCEL : UE_OPEN;
    }
  }
}

int TVolumeReader::Ensure(uint32_t disk) {
  if (disk_ == static_cast<int64_t>(disk) && fd_ >= 0) return UE_OK;
  if (disk >= DiskCount()) return UE_FORM;
  CloseCurrent();
  for (;;) {
    if (AskMessage(cb_, kMsgDiskOfDisk, disk + 1, DiskCount(), kReplyCancel) != kReplyOk) {
      return cb_.lpMessageDisplay ? UE_CANCEL : UE_OPEN;
    }
    int fd = -1;
    uint64_t size = 0;
    if (OpenPresent(fd, size) != UE_OK) {
      AskMessage(cb_, kMsgOpenError, disk + 1, DiskCount(), kReplyOk);
      continue;
    }
    const int verdict = verifier_ ? verifier_(fd, size, disk) : 1;
    if (verdict == 1) {
      fd_ = fd;
      size_ = size;
      disk_ = disk;
      return UE_OK;
    }
    ::close(fd);
    if (verdict < 0) AskMessage(cb_, kMsgNotOwned, disk + 1, DiskCount(), kReplyCancel);
  }
}

int TVolumeReader::Seek(uint32_t disk, uint64_t offset) {
  if (int rc = Ensure(disk)) return rc;
  pos_ = offset;
  return UE_OK;
}

int TVolumeReader::Read(void* buf, size_t n) {
  auto* p = static_cast<char*>(buf);
  while (n > 0) {
    if (fd_ < 0) return UE_READ;
    if (pos_ >= size_) {
      if (static_cast<uint32_t>(disk_) + 1 >= DiskCount()) return UE_FORM;  // truncated
      if (int rc = Ensure(static_cast<uint32_t>(disk_) + 1)) return rc;
      pos_ = 0;
      continue;
    }
    const size_t take = static_cast<size_t>(std::min<uint64_t>(n, size_ - pos_));
    if (!ReadAt(fd_, p, take, pos_)) return UE_READ;
    pos_ += take;
    p += take;
    n -= take;
  }
  return UE_OK;
}
