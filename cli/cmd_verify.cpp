// vdx verify TABLE|DIR: checks every table named (or every .DB file of a
// folder) and prints one line per table. It writes nothing: a replacement
// of a table's files that was interrupted is reported as pending, not
// finished. A table whose name another one of its folder has in another
// letter case is refused, not read. Exit 0 when all are sound, 1 when one is
// damaged, pending or refused, 2 on a usage error.
#include <strings.h>
#include <sys/stat.h>

#include <algorithm>
#include <ostream>
#include <vector>

#include "Command.h"
#include "Env.h"
#include "TableFiles.h"
#include "TableVerify.h"

namespace {

std::vector<std::string> TablesIn(const std::string& dir) {
  std::vector<std::string> out, names;
  engine::Env::Default()->ListDir(dir, &names);  // a folder that cannot be read has no tables
  for (const std::string& name : names) {
    if (name.size() > 3 && ::strcasecmp(name.c_str() + name.size() - 3, ".db") == 0) {
      out.push_back(engine::JoinPath(dir, name));
    }
  }
  std::sort(out.begin(), out.end());
  return out;
}

int Verify(const vdx::Args& args, std::ostream& out, std::ostream& err) {
  if (args.size() != 1) {
    err << "usage: vdx verify TABLE|DIR\n";
    return 2;
  }
  struct stat st {};
  std::vector<std::string> tables;
  if (::stat(args[0].c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
    tables = TablesIn(args[0]);
  } else {
    tables.push_back(engine::ResolveTablePath(args[0]));
    if (::stat(tables.back().c_str(), &st) != 0) {
      err << "vdx verify: no table or folder " << args[0] << "\n";
      return 2;
    }
  }
  int rc = 0;
  for (const std::string& path : tables) {
    if (!vdx::TableAlone(path, out)) {
      rc = 1;
      continue;
    }
    const engine::VerifyResult r = engine::VerifyTable(path);
    if (r.status.ok()) {
      out << path << ": ok, " << r.records << " records";
      if (!r.note.empty()) out << " (note: " << r.note << ")";
      out << "\n";
    } else if (!r.pendingJournal.empty()) {
      out << path << ": pending: " << r.status.ToString() << "\n";
      rc = 1;
    } else {
      out << path << ": damaged: " << r.status.ToString() << "\n";
      rc = 1;
    }
  }
  return rc;
}

}  // namespace

VDX_COMMAND("verify", "verify TABLE|DIR   checks tables for damage", Verify);
