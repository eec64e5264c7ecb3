#include "Staging.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "TableFiles.h"

namespace fs = std::filesystem;

namespace tableexport {

namespace {

std::string ParentOf(const std::string& path) {
  const fs::path parent = fs::path(path).parent_path();
  return parent.empty() ? "." : parent.string();
}

engine::Status Errno(const std::string& what, const std::string& path) {
  return engine::Status::IOError(what + " " + path + ": " + std::strerror(errno));
}

void RemoveAll(const std::string& path) {
  std::error_code ec;
  fs::remove_all(path, ec);
}

// Syncs a staged folder's files and the folder itself.
engine::Status SyncTree(const std::string& dir) {
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(dir, ec)) {
    engine::Status s = SyncPath(entry.path().string());
    if (!s.ok()) return s;
  }
  if (ec) return engine::Status::IOError("cannot read " + dir + ": " + ec.message());
  return SyncPath(dir);
}

}  // namespace

engine::Status SyncPath(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return Errno("cannot open", path);
  const int rc = ::fsync(fd);
  ::close(fd);
  return rc == 0 ? engine::Status::OK() : Errno("cannot flush", path);
}

Staging::~Staging() {
  for (const Entry& e : entries_) RemoveAll(e.temp);
}

engine::Status Staging::Stage(const std::string& target, bool folder, std::string* temp) {
  std::string name = ParentOf(target) + "/." + engine::BaseName(target) + ".vdx-XXXXXX";
  // mkstemp and mkdtemp make private entries; the outputs get the modes of
  // ordinary new files and folders.
  const mode_t mask = ::umask(0);
  ::umask(mask);
  if (folder) {
    if (!::mkdtemp(name.data())) return Errno("cannot create a folder beside", target);
    ::chmod(name.c_str(), 0777 & ~mask);
  } else {
    const int fd = ::mkstemp(name.data());
    if (fd < 0) return Errno("cannot create a file beside", target);
    ::fchmod(fd, 0666 & ~mask);
    ::close(fd);
  }
  entries_.push_back({name, target, folder});
  *temp = name;
  return engine::Status::OK();
}

engine::Status Staging::NewFile(const std::string& target, std::string* temp) {
  return Stage(target, false, temp);
}

engine::Status Staging::NewFolder(const std::string& target, std::string* temp) {
  return Stage(target, true, temp);
}

void Staging::Discard(const std::string& temp) {
  for (auto it = entries_.begin(); it != entries_.end(); ++it) {
    if (it->temp == temp) {
      RemoveAll(it->temp);
      entries_.erase(it);
      return;
    }
  }
}

std::vector<std::string> Staging::Targets() const {
  std::vector<std::string> out;
  for (const Entry& e : entries_) out.push_back(e.target);
  return out;
}

engine::Status Staging::Commit() {
  for (const Entry& e : entries_) {
    engine::Status s = e.folder ? SyncTree(e.temp) : SyncPath(e.temp);
    if (!s.ok()) return s;
  }
  std::vector<std::string> parents;
  while (!entries_.empty()) {
    const Entry e = entries_.front();
    std::string old;
    if (e.folder && fs::is_directory(e.target)) {
      // A folder cannot be renamed over one that holds files: the old one
      // steps aside first and goes once the new one stands.
      old = e.temp + ".old";
      if (::rename(e.target.c_str(), old.c_str()) != 0) return Errno("cannot replace", e.target);
    }
    if (::rename(e.temp.c_str(), e.target.c_str()) != 0) {
      engine::Status s = Errno("cannot write", e.target);
      if (!old.empty()) ::rename(old.c_str(), e.target.c_str());
      return s;
    }
    if (!old.empty()) RemoveAll(old);
    parents.push_back(ParentOf(e.target));
    entries_.erase(entries_.begin());
  }
  for (const std::string& dir : parents) {
    engine::Status s = SyncPath(dir);
    if (!s.ok()) return s;
  }
  return engine::Status::OK();
}

}  // namespace tableexport
