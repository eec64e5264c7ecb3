// vdx restructure TABLE --like REF [--save-as PATH] [--password PW]: brings
// a table to the structure of a reference table (fields by position, checks,
// indexes, links), in place or into a new table, and packs it. Prints what
// was cut, rounded, blanked and set aside (into KEYVIOL/ and PROBLEMS/
// beside the table, with a warning). Exit 0 done, 1 failed, 2 usage.
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <ostream>

#include "Command.h"
#include "DbiStructure.h"
#include "Restructure.h"
#include "RestructureLike.h"
#include "SetAside.h"
#include "TableFiles.h"

namespace vdx {
std::function<void(std::uint32_t, std::uint32_t)> TerminalProgress();
}

namespace {

engine::Status ReadStructure(const std::string& path, engine::TableStructure* out, bool* prot) {
  engine::OpenOptions options;
  options.useHeaderKey = true;
  options.lock = false;
  std::unique_ptr<engine::ParadoxTable> table;
  engine::Status s = engine::ParadoxTable::Open(path, options, &table);
  if (s.ok()) s = engine::ReadTableStructure(engine::Env::Default(), *table, out);
  if (s.ok()) *prot = table->Protected();
  return s;
}

int Restructure(const vdx::Args& args, std::ostream& out, std::ostream& err) {
  std::string table, like, save_as, password;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const bool has_value = i + 1 < args.size();
    if (args[i] == "--like" && has_value)
      like = args[++i];
    else if (args[i] == "--save-as" && has_value)
      save_as = args[++i];
    else if (args[i] == "--password" && has_value)
      password = args[++i];
    else if (table.empty() && args[i].rfind("--", 0) != 0)
      table = args[i];
    else
      table.clear(), like.clear(), i = args.size();
  }
  if (table.empty() || like.empty()) {
    err << "usage: vdx restructure TABLE --like REF [--save-as PATH] [--password PW]\n";
    return 2;
  }
  const std::string live_path = engine::ResolveTablePath(table);
  const std::string ref_path = engine::ResolveTablePath(like);
  engine::TableStructure live, ref;
  bool live_protected = false, ref_protected = false;
  engine::Status s = ReadStructure(live_path, &live, &live_protected);
  if (s.ok()) s = ReadStructure(ref_path, &ref, &ref_protected);
  if (!s.ok()) {
    err << "vdx restructure: " << s.ToString() << "\n";
    return 1;
  }
  const std::string target = save_as.empty() ? live_path : save_as;
  const auto lock = vdx::LockDatabaseOf(target, "restructure", err, {live_path, ref_path});
  if (!lock) return vdx::kExitBusy;
  engine::RestructureRequest request = engine::BuildLikeRequest(
      live, ref, engine::BaseName(target), engine::DirName(target), ref_path);
  // Protected as the table was, or with the password given.
  request.desc.bProtected = live_protected || (ref_protected && !password.empty());
  std::snprintf(request.desc.szPassword, sizeof request.desc.szPassword, "%s", password.c_str());
  engine::RestructureOptions options;
  options.useHeaderKey = true;
  options.saveAs = save_as;
  options.progress = vdx::TerminalProgress();
  engine::RestructureReport report;
  s = engine::RestructureTable(live_path, request.desc, options, &report);
  if (!s.ok()) {
    err << "vdx restructure: " << s.ToString() << "\n";
    return 1;
  }
  return vdx::ReportRestructure(save_as.empty() ? live_path : save_as, report, out, err);
}

}  // namespace

namespace vdx {
// A percentage on the terminal while a long table is rewritten.
std::function<void(std::uint32_t, std::uint32_t)> TerminalProgress() {
  if (!::isatty(2)) return nullptr;
  return [](std::uint32_t done, std::uint32_t total) {
    std::fprintf(stderr, "\r%3u%%", total ? static_cast<unsigned>(100.0 * done / total) : 100u);
    if (done == total) std::fprintf(stderr, "\r    \r");
  };
}
}  // namespace vdx

VDX_COMMAND("restructure",
            "restructure TABLE --like REF [--save-as PATH]   restructure after a reference",
            Restructure);
