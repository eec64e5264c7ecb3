#include "TableFiles.h"

#include <dirent.h>
#include <strings.h>

#include "Env.h"

namespace engine {

namespace {

std::string BaseName(const std::string& path) {
  auto slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string Stem(const std::string& path) {
  std::string base = BaseName(path);
  auto dot = base.find_last_of('.');
  return dot == std::string::npos ? base : base.substr(0, dot);
}

bool HasLowerCase(const std::string& s) {
  for (char c : s) {
    if (c >= 'a' && c <= 'z') return true;
  }
  return false;
}

std::vector<std::string> ListDir(const std::string& dir) {
  std::vector<std::string> names;
  if (DIR* d = ::opendir(dir.c_str())) {
    while (dirent* e = ::readdir(d)) names.emplace_back(e->d_name);
    ::closedir(d);
  }
  return names;
}

}  // namespace

std::string FindNoCase(const std::string& dir, const std::string& name) {
  for (const std::string& entry : ListDir(dir)) {
    if (::strcasecmp(entry.c_str(), name.c_str()) == 0) return JoinPath(dir, entry);
  }
  return JoinPath(dir, name);
}

std::string DataFilePath(const std::string& dir, const std::string& table) {
  std::string name = table;
  const auto dot = name.find_last_of('.');
  if (dot == std::string::npos || ::strcasecmp(name.substr(dot).c_str(), ".db") != 0) name += ".DB";
  return FindNoCase(dir.empty() ? "." : dir, name);
}

std::string CompanionPath(const std::string& db_path, const std::string& ext) {
  const std::string stem = Stem(db_path);
  std::string wanted = ext;
  const std::string db_ext = BaseName(db_path).substr(stem.size());
  if (HasLowerCase(db_ext)) {
    for (char& c : wanted) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return FindNoCase(DirName(db_path), stem + wanted);
}

std::string ResolveTablePath(const std::string& arg) {
  if (Env::Default()->Exists(arg)) return arg;
  const auto slash = arg.find_last_of('/');
  const std::string dir = slash == std::string::npos ? "." : arg.substr(0, slash);
  const std::string name = slash == std::string::npos ? arg : arg.substr(slash + 1);
  std::string path = DataFilePath(dir, name);
  if (slash == std::string::npos && path.rfind("./", 0) == 0) path = path.substr(2);
  return path;
}

std::vector<std::string> StaleCompanions(const std::string& db_path) {
  const std::string stem = Stem(db_path);
  std::vector<std::string> out;
  for (const std::string& entry : ListDir(DirName(db_path))) {
    if (entry.size() <= stem.size() + 1 ||
        ::strncasecmp(entry.c_str(), stem.c_str(), stem.size()) != 0 || entry[stem.size()] != '.') {
      continue;
    }
    std::string ext = entry.substr(stem.size() + 1);
    for (char& c : ext) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    const bool index =
        ext == "PX" || (ext.size() == 3 && (ext[0] == 'X' || ext[0] == 'Y') &&
                        (std::isdigit(static_cast<unsigned char>(ext[1])) || ext[1] == 'G'));
    if (ext == "MB" || ext == "VAL" || index) out.push_back(JoinPath(DirName(db_path), entry));
  }
  return out;
}

}  // namespace engine
