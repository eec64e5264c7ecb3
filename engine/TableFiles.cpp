#include "TableFiles.h"

#include <strings.h>

#include <algorithm>
#include <cctype>

#include "Env.h"

namespace engine {

std::string BaseName(const std::string& path) {
  auto slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string FileNameOf(const std::string& path) {
  const auto cut = path.find_last_of("/\\");
  return cut == std::string::npos ? path : path.substr(cut + 1);
}

std::string Stem(const std::string& path) {
  std::string base = BaseName(path);
  auto dot = base.find_last_of('.');
  return dot == std::string::npos ? base : base.substr(0, dot);
}

std::string UpperExtension(const std::string& path) {
  const std::string base = BaseName(path);
  const auto dot = base.find_last_of('.');
  if (dot == std::string::npos) return "";
  std::string ext = base.substr(dot + 1);
  for (char& c : ext) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return ext;
}

namespace {

bool HasLowerCase(const std::string& s) {
  for (char c : s) {
    if (c >= 'a' && c <= 'z') return true;
  }
  return false;
}

std::vector<std::string> ListDir(const std::string& dir) {
  std::vector<std::string> names;
  Env::Default()->ListDir(dir, &names);  // a folder that cannot be read has no entries
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

bool IsSecondaryIndexExtension(const std::string& upper_ext) {
  return upper_ext.size() == 3 && (upper_ext[0] == 'X' || upper_ext[0] == 'Y') &&
         (upper_ext[1] == 'G' || std::isxdigit(static_cast<unsigned char>(upper_ext[1]))) &&
         std::isxdigit(static_cast<unsigned char>(upper_ext[2]));
}

std::string KeptCopyStamp(std::time_t moment) {
  std::tm local{};
  localtime_r(&moment, &local);
  char text[32];
  std::strftime(text, sizeof text, "%Y%m%d_%H%M%S", &local);
  return text;
}

namespace {

bool DataExtLower(const std::string& db_path) {
  const std::string base = BaseName(db_path);
  return HasLowerCase(base.substr(std::min(Stem(db_path).size() + 1, base.size())));
}

// The extension, in its case, of the companion of db_path of that kind that
// exists, or of its parked form; false when there is neither.
bool ExistingCase(const std::string& db_path, const std::string& ext, std::string* out) {
  const std::string dir = DirName(db_path);
  const std::string stem = Stem(db_path);
  auto find = [&](const std::string& wanted, std::string* name) {
    *name = BaseName(FindNoCase(dir, stem + "." + wanted));
    return ::strcasecmp(name->c_str(), (stem + "." + wanted).c_str()) == 0 &&
           Env::Default()->Exists(dir + "/" + *name);
  };
  std::string found;
  if (find(ext, &found)) {
    *out = found.substr(stem.size() + 1);
    return true;
  }
  const std::string parked = ParkedExtension(ext);
  if (parked.empty() || !find(parked, &found)) return false;
  // The parked name keeps every character but the replaced one, which
  // takes the case of the nearest letter kept (else the data file's).
  std::string kept = found.substr(stem.size() + 1);
  bool lower = DataExtLower(db_path);
  const std::size_t at = kept[0] == '1' || kept[0] == '2' ? 0 : kept.find('$');
  for (std::size_t d = 1; d < kept.size(); ++d) {
    const auto letter = [&](std::size_t i) {
      return std::isalpha(static_cast<unsigned char>(kept[i])) ? kept[i] : '\0';
    };
    const char near = at >= d && letter(at - d) ? letter(at - d)
                      : at + d < kept.size()    ? letter(at + d)
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
  *out = kept;
  return true;
}

}  // namespace

std::string CompanionExtension(const std::string& db_path, const std::string& ext,
                               const std::string& source_db) {
  std::string found;
  if (ExistingCase(db_path, ext, &found)) return found;
  if (!source_db.empty() && ExistingCase(source_db, ext, &found)) return found;
  // Else the case the table's other companions show (A.db with A.PX makes
  // A.VAL), else the data file's.
  bool lower = DataExtLower(db_path);
  const std::string stem = Stem(db_path);
  for (const std::string& name : ListDir(DirName(db_path))) {
    if (name.size() <= stem.size() + 1 || name[stem.size()] != '.' ||
        ::strncasecmp(name.c_str(), stem.c_str(), stem.size()) != 0 ||
        name.find('.', stem.size() + 1) != std::string::npos)
      continue;
    const std::string other = name.substr(stem.size() + 1);
    if (::strcasecmp(other.c_str(), "DB") == 0) continue;
    bool upper = false, low = false;
    for (char c : other) {
      upper = upper || (c >= 'A' && c <= 'Z');
      low = low || (c >= 'a' && c <= 'z');
    }
    if (upper != low) {
      lower = low;
      break;
    }
  }
  std::string wanted = ext;
  for (char& c : wanted)
    c = static_cast<char>(lower ? std::tolower(static_cast<unsigned char>(c))
                                : std::toupper(static_cast<unsigned char>(c)));
  return wanted;
}

std::string CompanionPath(const std::string& db_path, const std::string& ext,
                          const std::string& source_db) {
  const std::string bare = !ext.empty() && ext[0] == '.' ? ext.substr(1) : ext;
  return FindNoCase(DirName(db_path),
                    Stem(db_path) + "." + CompanionExtension(db_path, bare, source_db));
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

std::vector<std::string> CompanionFiles(const std::string& db_path) {
  const std::string dir = DirName(db_path);
  const std::string stem = Stem(db_path);
  std::vector<std::string> out;
  for (const std::string& name : ListDir(dir)) {
    if (name.size() > stem.size() + 1 && name[stem.size()] == '.' &&
        ::strncasecmp(name.c_str(), stem.c_str(), stem.size()) == 0 &&
        name.find('.', stem.size() + 1) == std::string::npos) {
      out.push_back(dir + "/" + name);
    }
  }
  std::sort(out.begin(), out.end(), [](const std::string& a, const std::string& b) {
    return UpperExtension(a) < UpperExtension(b);
  });
  return out;
}

}  // namespace engine
