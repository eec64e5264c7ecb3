// vdx dump TABLE [--password P]: the table as JSON Lines, a description line
// first and then one array per record. It writes nothing: an interrupted
// replacement of the table's files is reported (exit 1), not finished.
#include <ostream>

#include "Command.h"
#include "DbExceptions.h"
#include "Journal.h"
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
  options.recover = false;  // a pending replacement is reported, not finished
  const std::string path = engine::ResolveTablePath(table_arg);
  std::unique_ptr<engine::ParadoxTable> table;
  engine::Status s = engine::CheckNothingPending(engine::Env::Default(), path);
  if (s.ok()) s = engine::ParadoxTable::Open(path, options, &table);
  if (s.ok()) s = engine::DumpTable(*table, out);
  if (!s.ok()) {
    err << "vdx dump: " << s.ToString() << "\n";
    return 1;
  }
  return 0;
}

}  // namespace

VDX_COMMAND("dump", "dump TABLE [--password P]   the records as JSON Lines", Dump);
