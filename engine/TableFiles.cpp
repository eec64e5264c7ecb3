#include "TableFiles.h"

#include <strings.h>

#include <algorithm>
#include <cctype>
#include <map>

#include "Env.h"
#include "Status.h"

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

// The entry of names that is name, else the first that is name but for
// letter case, else name itself.
const std::string& MatchNoCase(const std::vector<std::string>& names, const std::string& name) {
  const std::string* found = nullptr;
  for (const std::string& entry : names) {
    if (entry == name) return entry;
    if (!found && ::strcasecmp(entry.c_str(), name.c_str()) == 0) found = &entry;
  }
  return found ? *found : name;
}

}  // namespace

std::string FindNoCase(const std::string& dir, const std::string& name) {
  // A name that is there as written is the answer: no listing needed.
  const std::string exact = JoinPath(dir, name);
  if (Env::Default()->Exists(exact)) return exact;
  const std::vector<std::string> names = ListDir(dir);
  return JoinPath(dir, MatchNoCase(names, name));
}

std::vector<std::string> CaseTwins(const std::string& db_path) {
  const std::string base = BaseName(db_path);
  std::vector<std::string> twins;
  for (const std::string& entry : ListDir(DirName(db_path))) {
    if (entry != base && ::strcasecmp(entry.c_str(), base.c_str()) == 0) twins.push_back(entry);
  }
  std::sort(twins.begin(), twins.end());
  return twins;
}

std::set<std::string> CaseTwinNames(const std::string& dir) {
  const std::vector<std::string> names = ListDir(dir);
  std::map<std::string, int> folded;
  // As strcasecmp compares (CaseTwins).
  const auto fold = [](std::string name) {
    for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return name;
  };
  for (const std::string& name : names) ++folded[fold(name)];
  std::set<std::string> twins;
  for (const std::string& name : names)
    if (folded[fold(name)] > 1) twins.insert(name);
  return twins;
}

Status RefuseCaseTwins(const std::string& db_path) {
  std::vector<std::string> twins = CaseTwins(db_path);
  if (twins.empty()) return Status::OK();
  twins.push_back(BaseName(db_path));
  std::sort(twins.begin(), twins.end());
  std::string names = twins[0];
  for (std::size_t i = 1; i < twins.size(); ++i)
    names += (i + 1 == twins.size() ? " and " : ", ") + twins[i];
  return Status(DBIERR_NOTSUPPORTED,
                "the tables " + names +
                    " have names that differ only in letter case, so their indexes and checks "
                    "cannot be told apart; nothing was changed: rename all but one of them first")
      .WithContext(DirName(db_path));
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
  } else if (IsSecondaryIndexExtension(up)) {
    // The digit keeps the letter's case: X 1, Y 2, x 3, y 4.
    parked[0] = static_cast<char>((up[0] == 'X' ? '1' : '2') + (ext[0] == up[0] ? 0 : 2));
  } else {
    return "";
  }
  return parked;
}

std::string UnparkedExtension(const std::string& ext) {
  std::string up = ext;
  for (char& c : up) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  const auto as = [](char letter, char like) {
    return std::islower(static_cast<unsigned char>(like))
               ? static_cast<char>(std::tolower(static_cast<unsigned char>(letter)))
               : letter;
  };
  if (up == "VA$") return ext.substr(0, 2) + as('L', ext[1]);
  if (up == "P$") return ext.substr(0, 1) + as('X', ext[0]);
  if (!IsParkedExtension(ext)) return "";
  static const char kOwn[] = "XYxy";
  return kOwn[ext[0] - '1'] + ext.substr(1);
}

bool IsParkedExtension(const std::string& ext) {
  std::string up = ext;
  for (char& c : up) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return up == "VA$" || up == "P$" ||
         (up.size() == 3 && up[0] >= '1' && up[0] <= '4' &&
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
// exists, or of its parked form; false when there is neither. `names` lists
// the table's folder.
bool ExistingCase(const std::string& db_path, const std::string& ext,
                  const std::vector<std::string>& names, std::string* out) {
  const std::string dir = DirName(db_path);
  const std::string stem = Stem(db_path);
  auto find = [&](const std::string& wanted, std::string* found) {
    const std::string name = MatchNoCase(names, stem + "." + wanted);
    if (::strcasecmp(name.c_str(), (stem + "." + wanted).c_str()) != 0 ||
        !Env::Default()->Exists(dir + "/" + name))
      return false;
    *found = name.substr(stem.size() + 1);
    return true;
  };
  if (find(ext, out)) return true;
  // Either parked form may be there (a lower-case .x02 parks as .302).
  std::string lower = ext, upper = ext;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  for (const std::string& own : {upper, lower}) {
    const std::string parked = ParkedExtension(own);
    std::string found;
    if (!parked.empty() && find(parked, &found)) {
      *out = UnparkedExtension(found);
      return true;
    }
  }
  return false;
}

}  // namespace

namespace {

// CompanionExtension, with `names` listing db_path's folder.
std::string CompanionExtensionIn(const std::string& db_path, const std::string& ext,
                                 const std::string& source_db,
                                 const std::vector<std::string>& names) {
  std::string found;
  if (ExistingCase(db_path, ext, names, &found)) return found;
  if (!source_db.empty()) {
    if (DirName(source_db) == DirName(db_path)) {
      if (ExistingCase(source_db, ext, names, &found)) return found;
    } else if (ExistingCase(source_db, ext, ListDir(DirName(source_db)), &found)) {
      return found;
    }
  }
  // Else the case the table's other companions show (A.db with A.PX makes
  // A.VAL), else the data file's.
  bool lower = DataExtLower(db_path);
  const std::string stem = Stem(db_path);
  for (const std::string& name : names) {
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

}  // namespace

std::string CompanionExtension(const std::string& db_path, const std::string& ext,
                               const std::string& source_db) {
  return CompanionExtensionIn(db_path, ext, source_db, ListDir(DirName(db_path)));
}

std::string CompanionPath(const std::string& db_path, const std::string& ext,
                          const std::string& source_db) {
  const std::string bare = !ext.empty() && ext[0] == '.' ? ext.substr(1) : ext;
  const std::string dir = DirName(db_path);
  const std::vector<std::string> names = ListDir(dir);
  const std::string name =
      Stem(db_path) + "." + CompanionExtensionIn(db_path, bare, source_db, names);
  // As FindNoCase, from the same listing.
  const std::string exact = JoinPath(dir, name);
  if (Env::Default()->Exists(exact)) return exact;
  return JoinPath(dir, MatchNoCase(names, name));
}

std::string ResolveTablePath(const std::string& arg) {
  if (Env::Default()->Exists(arg)) return arg;
  const bool bare = arg.find('/') == std::string::npos;
  std::string path = DataFilePath(DirName(arg), BaseName(arg));
  if (bare && path.rfind("./", 0) == 0) path = path.substr(2);
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
