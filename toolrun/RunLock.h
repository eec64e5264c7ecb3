// One run per database, whoever starts it: the window's tool runs, `vdx run`
// and the writing commands of `vdx` hold an open-file-description lock on the
// file .vardex-run.lock in the database folder while they work. The lock
// belongs to the open file, not to the process: a second run in the same
// process is refused like one in another process, of the same user or not,
// whatever its runtime folder. It goes when the holder closes the file or
// ends, however it ends; the file itself stays.
#pragma once

#include <memory>
#include <string>

namespace toolrun {

inline constexpr char kRunLockFile[] = ".vardex-run.lock";

class TRunLock {
 public:
  enum TState {
    lsHeld,      // ours until this object goes
    lsBusy,      // another run holds it
    lsNoFolder,  // the database folder does not exist
    lsFailed,    // the file cannot be opened or locked (a read-only folder)
  };

  // Tries once, without waiting. `what` is written into the file while we
  // hold it ("Vdx32 Update"), for the message of a run refused meanwhile.
  TRunLock(const std::string& database_folder, const std::string& what);
  ~TRunLock();
  TRunLock(const TRunLock&) = delete;
  TRunLock& operator=(const TRunLock&) = delete;

  TState State() const { return state_; }
  bool Held() const { return state_ == lsHeld; }
  // Busy: who holds it, as the holder wrote it ("pid 1234: Vdx32 Update").
  // Failed: the system's reason.
  const std::string& Detail() const { return detail_; }

 private:
  int fd_ = -1;
  TState state_ = lsFailed;
  std::string detail_;
};

// The database folder of a table file: its folder, or the one above when the
// table lies in the work folder METADATA or SAFE (any letter case).
std::string DatabaseFolderOfTable(const std::string& table_path);

}  // namespace toolrun
