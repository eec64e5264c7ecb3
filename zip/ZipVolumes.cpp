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

#include <pwd.h>
#include <zlib.h>

#include "tlFile.h"

namespace fs = std::filesystem;

namespace {

constexpr size_t kWriteBuffer = 256 * 1024;
// The writeback of a volume is started after every this many bytes.
constexpr uint64_t kWritebackStep = 4 << 20;
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

// Deletes the backup volumes directly in `folder`, except those in `keep`
// (volumes this run wrote, whatever the user renamed them to). Answers the
// bytes that stay in the folder; false when a volume cannot be deleted.
bool ClearVolumes(const std::string& folder, const std::vector<std::pair<dev_t, ino_t>>& keep,
                  uint64_t& staying) {
  staying = 0;
  std::error_code ec;
  for (const fs::directory_entry& entry : fs::directory_iterator(folder, ec)) {
    const std::string path = entry.path().string();
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0) continue;
    const bool kept = std::find(keep.begin(), keep.end(), std::pair{st.st_dev, st.st_ino}) !=
                      keep.end();
    if (!kept && IsBackupVolume(path)) {
      if (::unlink(path.c_str()) != 0 && errno != ENOENT) return false;
      continue;
    }
    if (S_ISDIR(st.st_mode)) {
      for (const auto& sub : fs::recursive_directory_iterator(
               path, fs::directory_options::skip_permission_denied, ec)) {
        std::error_code sec;
        if (sub.is_regular_file(sec) && !sub.is_symlink(sec)) staying += sub.file_size(sec);
      }
    } else if (S_ISREG(st.st_mode)) {
      staying += static_cast<uint64_t>(st.st_size);
    }
  }
  return !ec;
}

// A volume with less room than this is not worth writing: another disk is
// asked for.
constexpr uint64_t kMinVolumeRoom = 1024;

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

namespace {

// Every user's home folder: the password database's, $HOME, /root and the
// folders of /home.
std::vector<std::string> HomeFolders() {
  std::vector<std::string> homes = {"/root"};
  if (const char* home = std::getenv("HOME"); home && *home) homes.push_back(home);
  setpwent();
  while (const passwd* pw = getpwent()) {
    if (pw->pw_dir && *pw->pw_dir) homes.push_back(pw->pw_dir);
  }
  endpwent();
  std::error_code ec;
  for (const fs::directory_entry& e : fs::directory_iterator("/home", ec)) {
    if (e.is_directory(ec)) homes.push_back(e.path().string());
  }
  for (std::string& h : homes) h = Canonical(h);
  return homes;
}

bool IsSystemFolder(const std::string& f) {
  static const char* const kSystem[] = {"etc", "usr",  "var", "boot", "bin", "sbin", "opt",
                                        "srv", "proc", "sys", "dev",  "run"};
  if (f == "/") return true;
  if (fs::path(f).parent_path() != "/") return false;
  const std::string name = fs::path(f).filename().string();
  if (name.compare(0, 3, "lib") == 0) return true;
  return std::any_of(std::begin(kSystem), std::end(kSystem),
                     [&](const char* s) { return name == s; });
}

// A folder that holds Paradox tables or a METADATA folder.
bool HoldsDatabase(const std::string& folder) {
  std::error_code ec;
  for (const fs::directory_entry& e : fs::directory_iterator(folder, ec)) {
    const std::string name = e.path().filename().string();
    if (e.is_directory(ec) && !e.is_symlink(ec)) {
      if (Upper(name) == "METADATA") return true;
    } else if (e.is_regular_file(ec) && MatchesMask(name, "*.db")) {
      return true;
    }
  }
  return false;
}

}  // namespace

TVolumeRefusal VolumeFolderRefusal(const std::string& folder,
                                   const std::vector<std::string>& protectedFolders) {
  const std::string f = Canonical(folder);
  // By the name given too: /lib may be a link into /usr.
  if (const std::string given = fs::absolute(folder).lexically_normal().string();
      IsSystemFolder(given.size() > 1 && given.back() == '/' ? given.substr(0, given.size() - 1)
                                                            : given)) {
    return {"system", given};
  }
  if (IsSystemFolder(f)) return {"system", f};
  for (const std::string& h : HomeFolders()) {
    if (h != "/" && Within(h, f)) return {"home", h};
  }
  if (const std::string p = Canonical(ProgramFolderOfZip()); Within(p, f)) return {"program", p};
  for (const std::string& db : protectedFolders) {
    const std::string d = Canonical(db);
    if (Within(d, f) || Within(f, d)) return {"database", d};
  }
  if (HoldsDatabase(f)) return {"tables", f};
  std::error_code ec;
  for (const fs::directory_entry& e : fs::directory_iterator(f, ec)) {
    if (e.is_directory(ec) && !e.is_symlink(ec) && HoldsDatabase(e.path().string())) {
      return {"tables", e.path().string()};
    }
  }
  return {};
}

bool IsBackupVolume(const std::string& path) {
  struct stat st {};
  if (lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  const std::string name = fs::path(path).filename().string();
  const size_t dot = name.rfind('.');
  if (dot == std::string::npos || dot == 0 || dot > 8 || Upper(name.substr(dot)) != ".DBK") {
    return false;
  }
  return true;
}

bool VolumeSample(int fd, uint64_t size, uint32_t& crc) {
  const uint64_t head = std::min(size, zipfmt::kVolumeSampleSpan);
  const uint64_t tailFrom = std::max(head, size > zipfmt::kVolumeSampleSpan
                                               ? size - zipfmt::kVolumeSampleSpan
                                               : uint64_t{0});
  std::string buf(static_cast<size_t>(head + (size - tailFrom)), '\0');
  if (!ReadAt(fd, buf.data(), static_cast<size_t>(head), 0) ||
      !ReadAt(fd, buf.data() + head, static_cast<size_t>(size - tailFrom), tailFrom)) {
    return false;
  }
  crc = static_cast<uint32_t>(
      crc32(0, reinterpret_cast<const Bytef*>(buf.data()), static_cast<uInt>(buf.size())));
  return true;
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
  capacity_ = UINT64_MAX;
  if (target_.onDrive) {
    // Only the volumes of earlier backups go; whatever else the medium
    // holds stays, and what stays leaves less room.
    for (;;) {
      uint64_t staying = 0;
      if (!ClearVolumes(target_.folder, written_, staying)) return ZE_CLEAR;
      if (!multi_) break;
      capacity_ = FreeSpace(target_.folder);
      if (target_.capacity > 0) {
        capacity_ = std::min(capacity_, target_.capacity > staying ? target_.capacity - staying : 0);
      }
      if (capacity_ >= kMinVolumeRoom) break;
      if (AskMessage(cb_, kMsgNoRoom, disk_ + 1, static_cast<long long>(capacity_), kReplyCancel) !=
          kReplyOk) {
        return ZE_DISKCANCEL;
      }
    }
    writePath_ = target_.path;
  } else {
    writePath_ = target_.path + ".tmp";
  }
  // Read back too: the volume's check is taken from it when it is closed.
  fd_ = ::open(writePath_.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd_ < 0) return ZE_CREAT;
  offset_ = 0;
  unsynced_ = 0;
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
  unsynced_ += buffer_.size();
  buffer_.clear();
  if (!ok) return ZE_WRITE;
  StartWriteback();
  return ZE_OK;
}

// The volume's pages go to the disk as they come, while the rest is still
// compressed: the sync that closes the volume then waits for little.
void TVolumeWriter::StartWriteback() {
  if (unsynced_ < kWritebackStep) return;
  ::sync_file_range(fd_, 0, 0, SYNC_FILE_RANGE_WRITE);
  unsynced_ = 0;
}

int TVolumeWriter::Close(bool sync) {
  int rc = Flush();
  if (sync && rc == ZE_OK && ::fsync(fd_) != 0) rc = ZE_WRITE;
  struct stat st {};
  if (fstat(fd_, &st) == 0) {
    lastDev_ = st.st_dev;
    lastIno_ = st.st_ino;
    written_.emplace_back(st.st_dev, st.st_ino);
    zipfmt::TVolumeCheck check;
    check.size = static_cast<uint64_t>(st.st_size);
    if (rc == ZE_OK && !VolumeSample(fd_, check.size, check.sample)) rc = ZE_WRITE;
    checks_.push_back(check);
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
    if (take >= kWriteBuffer) {
      // A large piece goes out as it is, without a copy into the buffer.
      if (int rc = Flush()) return rc;
      if (!WriteAll(fd_, p, take)) return ZE_WRITE;
      unsynced_ += take;
      StartWriteback();
    } else {
      buffer_.append(p, take);
    }
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
    const bool present = OpenPresent(fd, size) == UE_OK;
    if (present) {
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
    // Not there, or a file of that name without the end of an archive:
    // another disk of a set, or a last disk cut short. Say which it is.
    if (AskMessage(cb_, present ? kMsgNotLastDisk : kMsgDisk, 0, -1, kReplyCancel) != kReplyOk) {
      return cb_.lpMessageDisplay ? UE_CANCEL : UE_OPEN;
    }
  }
}

int TVolumeReader::Ensure(uint32_t disk) {
  if (disk_ == static_cast<int64_t>(disk) && fd_ >= 0) return UE_OK;
  if (disk >= DiskCount()) return UE_FORM;
  CloseCurrent();
  bool ask = true;  // a wrong disk's message asks for the right one itself
  for (;;) {
    if (ask &&
        AskMessage(cb_, kMsgDiskOfDisk, disk + 1, DiskCount(), kReplyCancel) != kReplyOk) {
      return cb_.lpMessageDisplay ? UE_CANCEL : UE_OPEN;
    }
    ask = true;
    int fd = -1;
    uint64_t size = 0;
    if (OpenPresent(fd, size) != UE_OK) {
      AskMessage(cb_, kMsgOpenError, disk + 1, DiskCount(), kReplyOk);
      continue;
    }
    const int found = verifier_ ? verifier_(fd, size, disk) : static_cast<int>(disk);
    if (found == static_cast<int>(disk)) {
      fd_ = fd;
      size_ = size;
      disk_ = disk;
      return UE_OK;
    }
    ::close(fd);
    if (found < 0) {
      AskMessage(cb_, kMsgNotOwned, disk + 1, DiskCount(), kReplyCancel);
    } else {
      if (AskMessage(cb_, kMsgWrongDisk, found + 1, disk + 1, kReplyCancel) != kReplyOk) {
        return cb_.lpMessageDisplay ? UE_CANCEL : UE_OPEN;
      }
      ask = false;
    }
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
