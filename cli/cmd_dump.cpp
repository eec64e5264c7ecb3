// vdx dump TABLE [--password P]: the table as JSON Lines, a description line
// first and then one array per record.
#include <ostream>

#include "Command.h"
#include "DbExceptions.h"
#include "ParadoxTable.h"
#include "Session.h"
#include "TableDump.h"
#include "TableFiles.h"

namespace {

int Dump(const vdx::Args& args, std::ostream& out, std::ostream& err) {
  std::string table_arg;
  engine::OpenOptions options;
  options.passwords = engine::TSession::Default().Passwords();
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--password" && i + 1 < args.size()) {
      options.passwords.push_back(args[++i]);
    } else if (table_arg.empty() && args[i].rfind("--", 0) != 0) {
      table_arg = args[i];
    } else {
      table_arg.clear();
      break;
    }
  }
  if (table_arg.empty()) {
    err << "usage: vdx dump TABLE [--password P]\n";
    return 2;
  }
  std::unique_ptr<engine::ParadoxTable> table;
  engine::Status s =
      engine::ParadoxTable::Open(engine::ResolveTablePath(table_arg), options, &table);
  if (s.ok()) s = engine::DumpTable(*table, out);
  if (!s.ok()) {
    err << "vdx dump: " << s.ToString() << "\n";
    return 1;
  }
  return 0;
}

}  // namespace

VDX_COMMAND("dump", "dump TABLE [--password P]   the records as JSON Lines", Dump);
