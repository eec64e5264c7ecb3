// libFuzzer target for the data-file reader: the input is a .DB file (and,
// after a 0xFF 'M' 'B' 0xFF marker, its blob file). The table is opened by
// its header key, every record is decoded, every blob read and the dump
// rendered; any crash, hang or leak is a finding.
#include <cstdint>
#include <sstream>

#include "MemEnv.h"
#include "ParadoxTable.h"
#include "TableDump.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  const std::string marker("\xFFMB\xFF", 4);
  const std::size_t split = input.find(marker);
  fuzz::MemEnv env;
  env.files["/fuzz/T.DB"] = input.substr(0, split);
  if (split != std::string::npos) env.files["/fuzz/T.MB"] = input.substr(split + marker.size());
  engine::OpenOptions options;
  options.env = &env;
  options.lock = false;
  options.useHeaderKey = true;
  std::unique_ptr<engine::ParadoxTable> table;
  if (!engine::ParadoxTable::Open("/fuzz/T.DB", options, &table).ok()) return 0;
  std::ostringstream out;
  (void)engine::DumpTable(*table, out);
  return 0;
}
