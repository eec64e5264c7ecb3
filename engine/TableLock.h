// The OS lock that marks a table as in use: an open-file-description lock
// over the whole data file, a write lock for an exclusive open and a read
// lock for a shared one, together with a flock(2) lock of the same kind, so
// programs that lock either way see each other. Taking a lock never waits; a conflict is reported
// at once as a lock conflict. The file utilities test "held by another
// program" with IsLockedByOther on the same terms.
#pragma once

#include <string>

#include "Status.h"

namespace engine {

class TableLock {
 public:
  TableLock() = default;
  ~TableLock() { Release(); }
  TableLock(const TableLock&) = delete;
  TableLock& operator=(const TableLock&) = delete;

  // Locks the whole file; fails with DBIERR_FILELOCKED when another open
  // holds a conflicting lock. An exclusive open (made to change the table)
  // of a read-only file or in a read-only folder fails with
  // DBIERR_READONLYFILE or DBIERR_READONLYDIR.
  Status Acquire(const std::string& path, bool exclusive);
  void Release();
  bool Held() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

// OK when the file and its folder can be written; otherwise
// DBIERR_READONLYFILE or DBIERR_READONLYDIR. A file or folder whose
// permission bits let nobody write it counts as read-only for every user.
Status CheckWritable(const std::string& path);

// True when some open (in this or another process) holds a lock on the file
// that would conflict with an exclusive open.
bool IsLockedByOther(const std::string& path);

}  // namespace engine
