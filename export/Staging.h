// The outputs of one export, written under temporary names beside their
// targets and renamed into place together once everything succeeded. What
// is not committed -- after a failure, a cancel or a table left out -- is
// removed, so no target is ever seen half-written.
#pragma once

#include <string>
#include <vector>

#include "Status.h"

namespace tableexport {

class Staging {
 public:
  Staging() = default;
  Staging(const Staging&) = delete;
  Staging& operator=(const Staging&) = delete;
  ~Staging();  // removes whatever was not committed

  // A new empty file (or folder) beside `target`; its path in *temp.
  engine::Status NewFile(const std::string& target, std::string* temp);
  engine::Status NewFolder(const std::string& target, std::string* temp);
  // Removes a temporary output that is not wanted after all.
  void Discard(const std::string& temp);
  // Flushes every output to disk and renames each into place; a folder that
  // stands at a folder target is replaced whole.
  engine::Status Commit();
  // The targets of the outputs still staged.
  std::vector<std::string> Targets() const;

 private:
  struct Entry {
    std::string temp, target;
    bool folder = false;
  };
  engine::Status Stage(const std::string& target, bool folder, std::string* temp);
  std::vector<Entry> entries_;
};

// fsync of a file or folder by its path.
engine::Status SyncPath(const std::string& path);

}  // namespace tableexport
