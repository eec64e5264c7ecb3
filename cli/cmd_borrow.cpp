// vdx borrow SRC DST: creates DST as an empty table with the whole structure
// of SRC (fields, key, protection, indexes, validity checks and links), the
// way a reference copy is made. Exit 0 done, 1 failed, 2 usage.
#include <ostream>

#include "Command.h"
#include "Restructure.h"
#include "TableFiles.h"

namespace {

int Borrow(const vdx::Args& args, std::ostream& out, std::ostream& err) {
  if (args.size() != 2) {
    err << "usage: vdx borrow SRC DST\n";
    return 2;
  }
  const std::string src = engine::ResolveTablePath(args[0]);
  engine::RestructureOptions options;
  options.useHeaderKey = true;
  options.copyRecords = false;
  options.saveAs = args[1];
  engine::RestructureReport report;
  const engine::Status s = engine::PackTable(src, options, &report);
  if (!s.ok()) {
    err << "vdx borrow: " << s.ToString() << "\n";
    return 1;
  }
  out << args[1] << ": structure of " << src << "\n";
  return 0;
}

}  // namespace

VDX_COMMAND("borrow", "borrow SRC DST   empty table with SRC's whole structure", Borrow);
