// libFuzzer target for `vdx verify` and `vdx repair` on a whole table: the
// input is a table's data file and its companions (see FuzzInput.h: the
// extension names each one: MB, PX, X02, Y02, XG0, VAL ...), written to a
// scratch folder. The table is verified, repaired in a dry run, repaired,
// and verified again: a repair that answers success must leave a table
// that verifies and holds the records it says it saved.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "FuzzDir.h"
#include "FuzzInput.h"
#include "TableRepair.h"
#include "TableVerify.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static fuzz::ScratchCleanup cleanup;
  const std::string dir = fuzz::FreshScratchDir();
  bool has_val = false;
  for (const fuzz::Part& part : fuzz::SplitParts(data, size)) {
    std::string ext = part.ext.empty() ? "DB" : part.ext;
    for (char& c : ext) {
      if (c == '/' || c == '.' || c == '\0') c = '_';
    }
    has_val = has_val || ext == "VAL" || ext == "val";
    std::ofstream out(dir + "/T." + ext, std::ios::binary);
    out.write(part.bytes.data(), static_cast<std::streamsize>(part.bytes.size()));
  }
  const std::string db = dir + "/T.DB";
  (void)engine::VerifyTable(db);
  engine::RepairOptions options;
  options.dryRun = true;
  engine::RepairReport dry;
  const engine::Status dry_status = engine::RepairTable(db, options, &dry);
  options.dryRun = false;
  engine::RepairReport report;
  const engine::Status s = engine::RepairTable(db, options, &report);
  if (!s.ok() || !dry_status.ok() || report.sound) return 0;
  if (dry.recordsSaved != report.recordsSaved || dry.recordsLost != report.recordsLost) {
    std::fprintf(stderr, "a dry run counted %u saved, %u lost; the repair %u, %u\n",
                 dry.recordsSaved, dry.recordsLost, report.recordsSaved, report.recordsLost);
    std::abort();
  }
  const engine::VerifyResult after = engine::VerifyTable(db);
  // Links name other tables, which the scratch folder does not hold.
  if (!after.status.ok() && !has_val) {
    std::fprintf(stderr, "the repaired table does not verify: %s\n", after.status.ToString().c_str());
    std::abort();
  }
  if (after.status.ok() && after.records != report.recordsSaved - report.keyViolations) {
    std::fprintf(stderr, "the repair saved %u records, the table holds %u\n", report.recordsSaved,
                 after.records);
    std::abort();
  }
  return 0;
}
