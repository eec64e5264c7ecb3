// vdx info TABLE: the table's level, geometry, code page, protection, key
// and fields.
#include <ostream>

#include "Command.h"
#include "ParadoxTable.h"
#include "TableDump.h"
#include "TableFiles.h"

namespace {

int Info(const vdx::Args& args, std::ostream& out, std::ostream& err) {
  if (args.size() != 1) {
    err << "usage: vdx info TABLE\n";
    return 2;
  }
  engine::OpenOptions options;
  options.use_header_key = true;  // describing needs no password
  options.lock = false;
  std::unique_ptr<engine::ParadoxTable> table;
  engine::Status s = engine::ParadoxTable::Open(engine::ResolveTablePath(args[0]), options, &table);
  if (!s.ok()) {
    err << "vdx info: " << s.ToString() << "\n";
    return 1;
  }
  engine::DescribeTable(*table, out);
  return 0;
}

}  // namespace

VDX_COMMAND("info", "info TABLE   level, block size, records, code page, fields", Info);
