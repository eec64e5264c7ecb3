// vdx pack TABLE: drops deleted space, rebuilds every index and the blob
// file; the structure and protection stay. Records that break the key are
// kept in KEYVIOL/ beside the table, with a warning. Exit 0 done, 1 failed,
// 2 usage.
#include <functional>
#include <ostream>

#include "Command.h"
#include "Restructure.h"
#include "SetAside.h"
#include "TableFiles.h"

namespace vdx {
std::function<void(std::uint32_t, std::uint32_t)> TerminalProgress();
}  // namespace vdx

namespace {

int Pack(const vdx::Args& args, std::ostream& out, std::ostream& err) {
  if (args.size() != 1) {
    err << "usage: vdx pack TABLE\n";
    return 2;
  }
  const std::string path = engine::ResolveTablePath(args[0]);
  const auto lock = vdx::LockDatabaseOf(path, "pack", err);
  if (!lock) return vdx::kExitBusy;
  engine::RestructureOptions options;
  options.useHeaderKey = true;
  options.progress = vdx::TerminalProgress();
  engine::RestructureReport report;
  const engine::Status s = engine::PackTable(path, options, &report);
  if (!s.ok()) {
    err << "vdx pack: " << s.ToString() << "\n";
    return 1;
  }
  return vdx::ReportRestructure(path, report, out, err);
}

}  // namespace

VDX_COMMAND("pack", "pack TABLE   drop deleted space, rebuild indexes and blob file", Pack);
