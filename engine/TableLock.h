// The OS lock that marks a table as in use: an open-file-description lock
// over the whole data file, a write lock for an exclusive open and a read
// lock for a shared one. Taking a lock never waits; a conflict is reported
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
  // holds a conflicting lock.
  Status Acquire(const std::string& path, bool exclusive);
  void Release();
  bool Held() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

// True when some open (in this or another process) holds a lock on the file
// that would conflict with an exclusive open.
bool IsLockedByOther(const std::string& path);

}  // namespace engine
