#include "SetAside.h"

#include <dirent.h>
#include <strings.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ostream>
#include <vector>

#include "DbiStructure.h"
#include "TableFiles.h"

namespace vdx {

namespace {

std::string FileName(const std::string& path) {
  const auto slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string Stem(const std::string& name) { return name.substr(0, name.find_last_of('.')); }

std::vector<std::string> Names(const std::string& dir) {
  std::vector<std::string> names;
  if (DIR* d = ::opendir(dir.c_str())) {
    while (dirent* e = ::readdir(d)) names.emplace_back(e->d_name);
    ::closedir(d);
  }
  return names;
}

// True when some file of the folder is named stem.<anything>.
bool StemTaken(const std::string& folder, const std::string& stem) {
  for (const std::string& name : Names(folder)) {
    if (name.size() > stem.size() && name[stem.size()] == '.' &&
        ::strncasecmp(name.c_str(), stem.c_str(), stem.size()) == 0)
      return true;
  }
  return false;
}

std::string MomentText(std::time_t moment) {
  std::tm local{};
  localtime_r(&moment, &local);
  char text[32];
  std::strftime(text, sizeof text, "%Y%m%d_%H%M%S", &local);
  return text;
}

}  // namespace

std::string KeepSetAside(const std::string& path, const std::string& folder,
                         const std::string& table, std::time_t moment, std::string* error) {
  const std::string dir = engine::DirName(path);
  const std::string into = dir + "/" + folder;
  if (::mkdir(into.c_str(), 0777) != 0 && errno != EEXIST) {
    *error = "cannot create the folder " + into + ": " + std::strerror(errno);
    return "";
  }
  const std::string base = Stem(FileName(table)) + "_" + MomentText(moment);
  std::string stem = base;
  for (int n = 2; StemTaken(into, stem); ++n) stem = base + "_" + std::to_string(n);
  std::string kept;
  for (const std::string& file : engine::CompanionFiles(path)) {
    const std::string name = FileName(file);
    const std::string target = into + "/" + stem + name.substr(Stem(FileName(path)).size());
    if (std::rename(file.c_str(), target.c_str()) != 0) {
      *error = "cannot move " + file + " to " + target + ": " + std::strerror(errno);
      return "";
    }
    if (::strcasecmp(name.c_str(), FileName(path).c_str()) == 0) kept = target;
  }
  return kept;
}

int ReportRestructure(const std::string& path, const engine::RestructureReport& r,
                      std::ostream& out, std::ostream& err) {
  out << path << ": " << r.records << " records";
  if (r.cut) out << ", " << r.cut << " values cut to the new width";
  if (r.rounded) out << ", " << r.rounded << " values rounded";
  if (r.blanked) out << ", " << r.blanked << " values blank (could not convert)";
  out << "\n";
  for (const std::string& note : r.notes) out << "  left out (unreadable): " << note << "\n";
  struct Set {
    std::uint32_t count;
    const std::string& table;
    const char* folder;
    const char* why;
  };
  const Set sets[] = {
      {r.keyViolations, r.keyViolTable, "KEYVIOL", "they broke the new key and are not in the table"},
      {r.problems, r.problemsTable, "PROBLEMS",
       "values were cut, rounded or blanked; kept as they were"},
  };
  const std::time_t now = std::time(nullptr);
  int rc = 0;
  for (const Set& set : sets) {
    if (set.count == 0 || set.table.empty()) continue;
    std::string error;
    const std::string kept = KeepSetAside(set.table, set.folder, FileName(path), now, &error);
    err << "warning: " << FileName(path) << ": " << set.count << " records set aside in "
        << engine::DirName(set.table) << "/" << set.folder << " (" << set.why << ")";
    if (kept.empty()) {
      err << "; they could not be moved there and stay in " << set.table << ": " << error;
      rc = 1;
    } else {
      err << ": " << FileName(kept);
    }
    err << "\n";
  }
  return rc;
}

}  // namespace vdx
