#include "SetAside.h"

#include <strings.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ostream>
#include <vector>

#include "DbiStructure.h"
#include "TableFiles.h"
#include "cpKeyViol.h"

namespace vdx {

std::string KeepSetAside(const std::string& path, const std::string& folder,
                         const std::string& table, std::time_t moment, std::string* error) {
  // The same naming and moving as the program's tools: one home for it.
  try {
    return ::KeepSetAside(path, table, folder, moment);
  } catch (const std::exception& e) {
    *error = e.what();
    return "";
  }
}

int ReportRestructure(const std::string& path, const engine::RestructureReport& r,
                      std::ostream& out, std::ostream& err) {
  out << path << ": " << r.records << " records";
  if (r.cut) out << ", " << r.cut << " values cut to the new width";
  if (r.rounded) out << ", " << r.rounded << " values rounded";
  if (r.blanked) out << ", " << r.blanked << " values blank (could not convert)";
  if (r.dropped) out << ", " << r.dropped << " values lost a part (a timestamp's time or date)";
  out << "\n";
  for (const std::string& note : r.notes) out << "  left out (unreadable): " << note << "\n";
  struct Set {
    std::uint32_t count;
    const std::string& table;
    const char* folder;
    const char* why;
  };
  const Set sets[] = {
      {r.keyViolations, r.keyViolTable, "KEYVIOL",
       "they broke the new key and are not in the table"},
      {r.problems, r.problemsTable, "PROBLEMS",
       "values were cut, rounded, blanked or lost a part; kept as they were"},
  };
  const std::time_t now = std::time(nullptr);
  int rc = 0;
  for (const Set& set : sets) {
    if (set.count == 0 || set.table.empty()) continue;
    std::string error;
    const std::string kept = KeepSetAside(set.table, set.folder, engine::BaseName(path), now, &error);
    err << "warning: " << engine::BaseName(path) << ": " << set.count << " records set aside in "
        << engine::DirName(set.table) << "/" << set.folder << " (" << set.why << ")";
    if (kept.empty()) {
      err << "; they could not be moved there and stay in " << set.table << ": " << error;
      rc = 1;
    } else {
      err << ": " << engine::BaseName(kept);
    }
    err << "\n";
  }
  return rc;
}

}  // namespace vdx
