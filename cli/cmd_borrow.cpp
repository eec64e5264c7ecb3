// vdx borrow SRC DST [--force]: creates DST as an empty table with the whole
// structure of SRC (fields, key, protection, indexes, validity checks and
// links), the way a reference copy is made. An existing table DST, in any
// letter case, is replaced only with --force (and keeps its name's case);
// SRC itself never is. Exit 0 done, 1 failed or refused, 2 usage.
#include <filesystem>
#include <ostream>

#include "Command.h"
#include "Env.h"
#include "Restructure.h"
#include "TableFiles.h"

namespace {

int Borrow(const vdx::Args& args, std::ostream& out, std::ostream& err) {
  std::vector<std::string> names;
  bool force = false;
  for (const std::string& a : args) {
    if (a == "--force")
      force = true;
    else
      names.push_back(a);
  }
  if (names.size() != 2) {
    err << "usage: vdx borrow SRC DST [--force]\n";
    return 2;
  }
  const std::string src = engine::ResolveTablePath(names[0]);
  // The table that would be written: an existing one whatever its case.
  const std::string dst = engine::ResolveTablePath(names[1]);
  std::error_code ec;
  if (std::filesystem::equivalent(src, dst, ec)) {
    err << "vdx borrow: " << dst << " is the table " << src << " itself; nothing was changed\n";
    return 1;
  }
  if (!force && engine::Env::Default()->Exists(dst)) {
    err << "vdx borrow: " << dst
        << " exists; nothing was changed (give --force to replace it with an empty table)\n";
    return 1;
  }
  const auto lock = vdx::LockDatabaseOf(dst, "borrow", err, {src});
  if (!lock) return vdx::kExitBusy;
  engine::RestructureOptions options;
  options.useHeaderKey = true;
  options.copyRecords = false;
  options.saveAs = dst;
  engine::RestructureReport report;
  const engine::Status s = engine::PackTable(src, options, &report);
  if (!s.ok()) {
    err << "vdx borrow: " << s.ToString() << "\n";
    return 1;
  }
  out << dst << ": structure of " << src << "\n";
  return 0;
}

}  // namespace

VDX_COMMAND("borrow", "borrow SRC DST [--force]   empty table with SRC's whole structure", Borrow);
