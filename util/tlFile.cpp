// File and folder helpers; see tlFile.h.
#include "tlFile.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>

#include "tlString.h"

namespace {

char Lower(char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); }

bool GlobMatch(const char* name, const char* mask) {
  const char* starMask = nullptr;
  const char* starName = nullptr;
  while (*name) {
    if (*mask == '*') {
      starMask = ++mask;
      starName = name;
    } else if (*mask == '?' || (*mask && Lower(*mask) == Lower(*name))) {
      ++mask;
      ++name;
    } else if (starMask) {
      mask = starMask;
      name = ++starName;
    } else {
      return false;
    }
  }
  while (*mask == '*') ++mask;
  return *mask == '\0';
}

std::string StripTrailingSlash(const std::string& dir) {
  std::string result = dir;
  while (result.size() > 1 && result.back() == '/') result.pop_back();
  return result;
}

bool LessByName(const TSearchRec& a, const TSearchRec& b) {
  const auto byLower = [](char x, char y) { return Lower(x) < Lower(y); };
  if (std::lexicographical_compare(a.Name.begin(), a.Name.end(), b.Name.begin(), b.Name.end(),
                                   byLower)) {
    return true;
  }
  if (std::lexicographical_compare(b.Name.begin(), b.Name.end(), a.Name.begin(), a.Name.end(),
                                   byLower)) {
    return false;
  }
  return a.Name < b.Name;
}

bool IsReadOnlyMode(mode_t mode) { return (mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0; }

}  // namespace

std::string ExtractFilePath(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? "" : path.substr(0, slash + 1);
}

std::string ExtractFileDir(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

std::string ExtractFileName(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool MatchesMask(const std::string& name, const std::string& mask) {
  if (GlobMatch(name.c_str(), mask.c_str())) return true;
  // "T.*" finds T itself, and "*.*" every name, as the platform's search did.
  if (mask.size() >= 2 && mask.compare(mask.size() - 2, 2, ".*") == 0 &&
      name.find('.') == std::string::npos) {
    return GlobMatch(name.c_str(), mask.substr(0, mask.size() - 2).c_str());
  }
  return false;
}

int FileAttributes(const std::string& path) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0 && lstat(path.c_str(), &st) != 0) return -1;
  int attr = ReadStoredDosBits(path);
  if (S_ISDIR(st.st_mode)) attr |= faDirectory;
  if (IsReadOnlyMode(st.st_mode)) attr |= faReadOnly;
  const std::string name = ExtractFileName(StripTrailingSlash(path));
  if (name.size() > 1 && name[0] == '.' && name != "..") attr |= faHidden;
  return attr;
}

bool FileIsHidden(const std::string& path) {
  const int attr = FileAttributes(path);
  return attr >= 0 && (attr & faHidden) != 0;
}

bool FileIsLocked(const std::string& path) {
  // A fresh open file description sees every conflicting lock, including
  // one this process holds through another open. Closing it drops no
  // open-file-description lock; the engine takes no other kind.
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return false;
  struct flock fl {};
  fl.l_type = F_WRLCK;
  fl.l_whence = SEEK_SET;
  fl.l_start = 0;
  fl.l_len = 0;
  bool locked = fcntl(fd, F_OFD_GETLK, &fl) == 0 && fl.l_type != F_UNLCK;
  // flock(2) locks live apart from record locks: a program that holds the
  // file that way is found only by trying to take one (and giving it back).
  if (!locked && flock(fd, LOCK_EX | LOCK_NB) != 0) locked = errno == EWOULDBLOCK;
  close(fd);
  return locked;
}

std::vector<TSearchRec> FindEntries(const std::string& pattern) {
  std::vector<TSearchRec> result;
  const std::string folder = ExtractFilePath(pattern);
  const std::string mask = ExtractFileName(pattern);
  DIR* dir = opendir(folder.empty() ? "." : folder.c_str());
  if (dir == nullptr) return result;
  while (const dirent* entry = readdir(dir)) {
    const std::string name = entry->d_name;
    if (name == "." || name == ".." || !MatchesMask(name, mask)) continue;
    const int attr = FileAttributes(folder + name);
    if (attr >= 0) result.push_back({name, attr});
  }
  closedir(dir);
  std::sort(result.begin(), result.end(), LessByName);
  return result;
}

namespace {

// Deletes one file; false when it must stay (read-only, locked, refused).
bool DeleteOneFile(const std::string& path) {
  struct stat st {};
  if (lstat(path.c_str(), &st) != 0) return errno == ENOENT;
  if (!S_ISLNK(st.st_mode)) {
    if (IsReadOnlyMode(st.st_mode) || FileIsLocked(path)) return false;
  }
  // Forget the bits first: once the inode is gone it can be reused.
  const int bits = ReadStoredDosBits(path);
  ForgetStoredDosBits(path);
  if (unlink(path.c_str()) == 0 || errno == ENOENT) return true;
  if (bits != 0) WriteStoredDosBits(path, bits);
  return false;
}

}  // namespace

bool DeleteFiles(const std::string& pattern) {
  const std::string folder = ExtractFilePath(pattern);
  for (const auto& entry : FindEntries(pattern)) {
    if (entry.Attr & faDirectory) continue;
    if (!DeleteOneFile(folder + entry.Name)) return false;
  }
  return true;
}

bool RemoveDirWithFiles(const std::string& dir) {
  const std::string path = StripTrailingSlash(dir);
  // Never the root, and never an empty name (which would mean the root too).
  if (path.empty() || path == "/") return false;
  struct stat st {};
  if (lstat(path.c_str(), &st) != 0) return errno == ENOENT;
  if (!DeleteFiles(path + "/*.*")) return false;
  const int bits = ReadStoredDosBits(path);
  ForgetStoredDosBits(path);
  if (rmdir(path.c_str()) == 0) return true;
  if (bits != 0) WriteStoredDosBits(path, bits);
  return false;
}

bool RemoveFolderTree(const std::string& dir) {
  const std::string path = StripTrailingSlash(dir);
  // Never the root, and never an empty name (which would mean the root too).
  if (path.empty() || path == "/") return false;
  for (const auto& entry : FindEntries(path + "/*")) {
    if (!(entry.Attr & faDirectory)) continue;
    const std::string sub = path + "/" + entry.Name;
    struct stat st {};
    if (lstat(sub.c_str(), &st) != 0) continue;
    // A link to a folder elsewhere goes; what it points at stays.
    if (S_ISLNK(st.st_mode) ? unlink(sub.c_str()) != 0 && errno != ENOENT
                            : !RemoveFolderTree(sub)) {
      return false;
    }
  }
  return RemoveDirWithFiles(path);
}

bool IsRealDir(const std::string& path) {
  struct stat st {};
  return !path.empty() && lstat(StripTrailingSlash(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool RemoveEntry(const std::string& path) {
  const std::string p = StripTrailingSlash(path);
  struct stat st {};
  if (p.empty() || p == "/") return false;
  if (lstat(p.c_str(), &st) != 0) return errno == ENOENT;
  if (S_ISDIR(st.st_mode)) return RemoveFolderTree(p);
  if (S_ISREG(st.st_mode)) return DeleteOneFile(p);
  return unlink(p.c_str()) == 0 || errno == ENOENT;
}

bool DirExists(const std::string& dir) {
  if (dir.empty()) return false;
  struct stat st {};
  return stat(StripTrailingSlash(dir).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

namespace {

bool ApplyAttr(const std::string& path, int attr, bool add) {
  bool ok = true;
  if (attr & faReadOnly) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) return false;
    const mode_t mode = add ? st.st_mode & ~(S_IWUSR | S_IWGRP | S_IWOTH) : st.st_mode | S_IWUSR;
    ok = chmod(path.c_str(), mode & 07777) == 0;
  }
  if (attr & kStoredDosBits) {
    const int current = ReadStoredDosBits(path);
    const int wanted = add ? current | (attr & kStoredDosBits) : current & ~attr;
    if (wanted != current) ok = WriteStoredDosBits(path, wanted) && ok;
  }
  return ok;
}

}  // namespace

bool SetFilesAttr(const std::string& pattern, int attr, bool add) {
  const std::string folder = ExtractFilePath(pattern);
  bool ok = true;
  for (const auto& entry : FindEntries(pattern)) {
    ok = ApplyAttr(folder + entry.Name, attr, add) && ok;
  }
  return ok;
}

std::vector<std::string> ListFiles(const std::string& pattern) {
  const std::string folder = ExtractFilePath(pattern);
  std::vector<std::string> names;
  for (const auto& entry : FindEntries(pattern)) {
    if (entry.Attr & (faDirectory | faHidden | faSysFile)) continue;
    struct stat st {};
    if (stat((folder + entry.Name).c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
      names.push_back(entry.Name);
    }
  }
  return names;
}

namespace {

bool IsLowerCaseName(const std::string& name) {
  bool anyLetter = false;
  for (char c : name) {
    if (std::isupper(static_cast<unsigned char>(c))) return false;
    anyLetter = anyLetter || std::isalpha(static_cast<unsigned char>(c));
  }
  return anyLetter;
}

// StMerge, with the mask's letters taking the case of the letters they
// replace (or of a lower-case name), so "orders.val" becomes "orders.va$"
// and back, not "orders.VAL".
std::string MergeKeepingCase(const std::string& name, const std::string& ext,
                             const std::string& mask) {
  std::string merged = StMerge(ext, mask);
  const bool lowerName = IsLowerCaseName(name);
  for (std::size_t i = 0; i < merged.size(); ++i) {
    const auto m = static_cast<unsigned char>(mask[i]);
    const auto e = static_cast<unsigned char>(ext[i]);
    if (mask[i] == '?' || !std::isalpha(m)) continue;
    if (std::isalpha(e)) {
      merged[i] = static_cast<char>(std::islower(e) ? std::tolower(m) : std::toupper(m));
    } else if (lowerName) {
      merged[i] = static_cast<char>(std::tolower(m));
    }
  }
  return merged;
}

bool NameTaken(const std::string& folder, const std::string& name, const std::string& except) {
  for (const auto& entry : FindEntries(folder + name)) {
    if (entry.Name != except) return true;
  }
  return false;
}

}  // namespace

void RenameByMask(const std::string& pathBase, const std::string& extPattern,
                  const std::string& newExtMask) {
  const std::string folder = ExtractFilePath(pathBase);
  for (const auto& entry : FindEntries(pathBase + "." + extPattern)) {
    if (entry.Attr & faDirectory) continue;
    const std::size_t dot = entry.Name.rfind('.');
    const std::string ext = dot == std::string::npos ? "" : entry.Name.substr(dot + 1);
    const std::string newName =
        entry.Name.substr(0, dot == std::string::npos ? entry.Name.size() : dot) + "." +
        MergeKeepingCase(entry.Name, ext, newExtMask);
    if (newName == entry.Name) continue;
    // Skip rather than overwrite: on this file system rename() would silently
    // replace a table's companion file of the other family.
    const std::string from = folder + entry.Name;
    if (NameTaken(folder, newName, entry.Name) || FileIsLocked(from)) continue;
    const std::string to = folder + newName;
    if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) != 0 &&
        errno == EINVAL) {
      rename(from.c_str(), to.c_str());  // file system without no-replace renames
    }
  }
}
