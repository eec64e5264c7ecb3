#include "TableFiles.h"

#include <dirent.h>
#include <strings.h>

#include <algorithm>
#include <cctype>

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

std::string ParkedExtension(const std::string& ext) {
  std::string up = ext;
  for (char& c : up) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  std::string parked = ext;
  if (up == "VAL") {
    parked[2] = '$';
  } else if (up == "PX") {
    parked[1] = '$';
  } else if (up.size() == 3 && (up[0] == 'X' || up[0] == 'Y')) {
    parked[0] = up[0] == 'X' ? '1' : '2';
  } else {
    return "";
  }
  return parked;
}

bool IsParkedExtension(const std::string& ext) {
  std::string up = ext;
  for (char& c : up) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return up == "VA$" || up == "P$" ||
         (up.size() == 3 && (up[0] == '1' || up[0] == '2') &&
          (up[1] == 'G' || std::isxdigit(static_cast<unsigned char>(up[1]))) &&
          std::isxdigit(static_cast<unsigned char>(up[2])));
}

std::string CompanionExtension(const std::string& db_path, const std::string& ext) {
  const std::string dir = DirName(db_path);
  const std::string stem = Stem(db_path);
  const std::string existing = BaseName(FindNoCase(dir, stem + "." + ext));
  if (::strcasecmp(existing.c_str(), (stem + "." + ext).c_str()) == 0 &&
      Env::Default()->Exists(dir + "/" + existing)) {
    return existing.substr(stem.size() + 1);
  }
  const std::string db_ext = BaseName(db_path).substr(std::min(stem.size() + 1, BaseName(db_path).size()));
  bool lower = HasLowerCase(db_ext);
  const std::string parked = ParkedExtension(ext);
  if (!parked.empty()) {
    const std::string found = BaseName(FindNoCase(dir, stem + "." + parked));
    if (::strcasecmp(found.c_str(), (stem + "." + parked).c_str()) == 0 &&
        Env::Default()->Exists(dir + "/" + found)) {
      // The parked name keeps every character but the replaced one, which
      // takes the case of the nearest letter kept (else the data file's).
      std::string kept = found.substr(stem.size() + 1);
      const std::size_t at = kept[0] == '1' || kept[0] == '2' ? 0 : kept.find('$');
      for (std::size_t d = 1; d < kept.size(); ++d) {
        const char near = at >= d && std::isalpha(static_cast<unsigned char>(kept[at - d]))
                              ? kept[at - d]
                          : at + d < kept.size() && std::isalpha(static_cast<unsigned char>(kept[at + d]))
                              ? kept[at + d]
                              : '\0';
        if (near) {
          lower = std::islower(static_cast<unsigned char>(near));
          break;
        }
      }
      if (at < kept.size() && at < ext.size()) {
        kept[at] = static_cast<char>(lower ? std::tolower(static_cast<unsigned char>(ext[at]))
                                           : std::toupper(static_cast<unsigned char>(ext[at])));
      }
      return kept;
    }
  }
  // Else the case the table's other companions show (A.db beside A.PX
  // gets A.VAL), and only then the data file's.
  bool decided = false;
  for (const std::string& other : StaleCompanions(db_path)) {
    for (char c : BaseName(other).substr(stem.size() + 1)) {
      if (!std::isalpha(static_cast<unsigned char>(c))) continue;
      lower = std::islower(static_cast<unsigned char>(c));
      decided = true;
      break;
    }
    if (decided) break;
  }
  std::string wanted = ext;
  for (char& c : wanted)
    c = static_cast<char>(lower ? std::tolower(static_cast<unsigned char>(c))
                                : std::toupper(static_cast<unsigned char>(c)));
  return wanted;
}

std::string CompanionPath(const std::string& db_path, const std::string& ext) {
  const std::string bare = !ext.empty() && ext[0] == '.' ? ext.substr(1) : ext;
  return FindNoCase(DirName(db_path), Stem(db_path) + "." + CompanionExtension(db_path, bare));
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
    if (ext == "MB" || ext == "VAL" || index || IsParkedExtension(ext))
      out.push_back(JoinPath(DirName(db_path), entry));
  }
  return out;
}

}  // namespace engine
