// The media an archive is written to and read from: drive letters mapped to
// folders by the drive table (drives.ini), volumes cleared before writing
// (never a folder the program or the saved database lives in), the disk
// requests between volumes, and streams that run on across volumes. Only the
// dzip and dunzip actions use this unit.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "DZip.h"
#include "ZipFormat.h"

struct TDriveInfo {
  std::string folder;
  uint64_t capacity = 0;  // 0: as much as the file system holds
};

// The [Drives] section of `file`: letters (upper case) to folders and the
// optional "X.Capacity" of each volume.
std::map<char, TDriveInfo> ReadDriveTable(const std::string& file);
// drives.ini in the program folder ($VARDEX_HOME, else the executable's).
std::string DefaultDrivesFile();

struct TArchiveTarget {
  std::string path;  // the archive file's path on this system
  std::string folder;
  uint64_t capacity = 0;
  bool onDrive = false;  // named by drive letter: a removable volume
};
// "A:\SALESDAT.DBK" through the drive table, or a plain path. False when the
// letter is not in the table or the name is empty.
bool ResolveArchive(const std::string& name, const std::string& drivesFile, TArchiveTarget& target);

// Why `folder` must not take backup volumes, checked before anything on it
// is touched. `reason` is empty when it may; otherwise one of
//   "system"   it is or holds a system folder (/, /etc, /usr, /var ...)
//   "home"     it is or holds a home folder
//   "program"  it is or holds the program folder
//   "database" it is, holds or lies inside one of `protectedFolders`
//   "tables"   it holds a database: Paradox tables or a METADATA folder,
//              directly or in one of its folders
// and `path` the folder that decided it.
struct TVolumeRefusal {
  std::string reason;
  std::string path;
};
TVolumeRefusal VolumeFolderRefusal(const std::string& folder,
                                   const std::vector<std::string>& protectedFolders);

// Whether `path` is a volume of a backup archive, the only kind of file
// clearing a medium deletes: a regular file (never a link) named NAME.DBK
// with one to eight characters before the dot, as backups name them. The
// name decides: a volume that holds only the middle of a large file carries
// no signature to tell it by.
bool IsBackupVolume(const std::string& path);

// The CRC-32 of the first and the last kVolumeSampleSpan bytes of the
// volume open as `fd` (all of it when smaller). False when it cannot be read.
bool VolumeSample(int fd, uint64_t size, uint32_t& crc);

// Asks the message callback; without one, `fallback` is the answer.
int AskMessage(const TZipCallbacks& cb, int msg, long long p1, long long p2, int fallback);

// Writes an archive onto one or more volumes under the same name. Headers
// are written whole onto one volume (Reserve); data run on across volumes.
class TVolumeWriter {
 public:
  TVolumeWriter(const TArchiveTarget& target, bool multi, unsigned mvControl,
                const TZipCallbacks& cb);
  ~TVolumeWriter();

  // Asks for the first disk, clears and opens it. `total` is an upper bound
  // of the archive's size: when it fits the first volume, the archive is an
  // ordinary one without the split signature.
  int Begin(uint64_t total);
  int Write(const void* data, size_t n);
  int Write(const std::string& s) { return Write(s.data(), s.size()); }
  // Moves on to the next volume unless `n` bytes fit on this one.
  int Reserve(size_t n);
  uint32_t Disk() const { return disk_; }
  uint64_t Offset() const { return offset_; }
  uint64_t Room() const { return capacity_ - offset_; }
  // True when the first volume started with the split signature and the
  // archive has not left it: the central directory must then count offsets
  // as if that signature were not there, and Finish removes it.
  bool SingleWithPrefix() const { return prefix_ && disk_ == 0; }
  int Finish();
  // Removes what was written on the current volume.
  void Abandon();
  // The checks of the volumes closed so far, disk 0 first.
  const std::vector<zipfmt::TVolumeCheck>& Checks() const { return checks_; }

 private:
  int OpenVolume();
  int NextVolume();
  int Flush();
  void StartWriteback();
  int Close(bool sync);

  TArchiveTarget target_;
  bool multi_;
  unsigned mvControl_;
  TZipCallbacks cb_;
  std::string writePath_;  // a plain archive grows under a temporary name
  int fd_ = -1;
  uint32_t disk_ = 0;
  uint64_t offset_ = 0;
  uint64_t capacity_ = UINT64_MAX;
  bool prefix_ = false;
  std::string buffer_;
  uint64_t unsynced_ = 0;  // written since the writeback was last started
  dev_t lastDev_ = 0;
  ino_t lastIno_ = 0;
  std::vector<std::pair<dev_t, ino_t>> written_;  // never cleared away
  std::vector<zipfmt::TVolumeCheck> checks_;
};

// Reads a (possibly spanned) archive. The last volume is looked for first,
// for its end record; other disks are asked for by number.
class TVolumeReader {
 public:
  // Which disk of this archive the volume open as `fd` (of `size` bytes)
  // is, asked for disk `disk`: `disk` when it may be that one, another
  // number when it is that other disk of the set, -1 when it belongs to
  // another archive or holds other data.
  using TVerifier = std::function<int(int fd, uint64_t size, uint32_t disk)>;

  TVolumeReader(const std::string& path, const TZipCallbacks& cb);
  ~TVolumeReader();
  TVolumeReader(const TVolumeReader&) = delete;
  TVolumeReader& operator=(const TVolumeReader&) = delete;
  void SetPath(const std::string& path) {
    CloseCurrent();
    path_ = path;
  }

  // Finds the end record (asking for the last disk until it is there) and
  // answers the end record and where it stands on the last volume.
  int OpenLast(uint64_t& endOffset);
  const zipfmt::TEnd& End() const { return end_; }
  uint32_t DiskCount() const { return end_.disk + 1; }
  void SetVerifier(TVerifier v) { verifier_ = std::move(v); }

  int Seek(uint32_t disk, uint64_t offset);
  // Exactly n bytes, running on across volumes.
  int Read(void* buf, size_t n);

 private:
  int Ensure(uint32_t disk);
  int OpenPresent(int& fd, uint64_t& size);
  void CloseCurrent();

  std::string path_;
  TZipCallbacks cb_;
  TVerifier verifier_;
  zipfmt::TEnd end_;
  int fd_ = -1;
  uint64_t size_ = 0;
  int64_t disk_ = -1;  // the disk open as fd_
  uint64_t pos_ = 0;
};
