// vdx repair TABLE|DIR [--dry-run]: salvages what can be read of a damaged
// table (or of every table of a folder), rebuilds its indexes and keeps the
// damaged files in DAMAGED/ beside it. Prints per table the records saved
// and lost, values blanked, blobs lost and indexes rebuilt, and where the
// header's and the blocks' record counts disagree, which was trusted. With
// --dry-run nothing is written. Exit 0 when every record and value came
// through unchanged, 1 when something was lost or may not be the table's
// (or a repair failed), 2 when a table could not be repaired at all (a table
// whose name another one of its folder has in another letter case is
// refused untouched) or on a usage error.
#include <dirent.h>
#include <strings.h>
#include <sys/stat.h>

#include <algorithm>
#include <ctime>
#include <ostream>
#include <vector>

#include "Command.h"
#include "Env.h"
#include "SetAside.h"
#include "TableFiles.h"
#include "TableRepair.h"

namespace {

std::vector<std::string> TablesIn(const std::string& dir) {
  std::vector<std::string> out;
  if (DIR* d = ::opendir(dir.c_str())) {
    while (dirent* e = ::readdir(d)) {
      const std::string name = e->d_name;
      if (name.size() > 3 && ::strcasecmp(name.c_str() + name.size() - 3, ".db") == 0) {
        out.push_back(engine::JoinPath(dir, name));
      }
    }
    ::closedir(d);
  }
  std::sort(out.begin(), out.end());
  return out;
}

int RepairOne(const std::string& path, bool dry_run, std::time_t now, std::ostream& out,
              std::ostream& err) {
  engine::RepairOptions options;
  options.dryRun = dry_run;
  options.moment = now;
  engine::RepairReport r;
  const engine::Status s = engine::RepairTable(path, options, &r);
  if (!s.ok()) {
    out << path << ": " << (r.repairable ? "repair failed: " : "cannot be repaired: ")
        << s.ToString() << "\n";
    return r.repairable ? 1 : 2;
  }
  if (r.sound) {
    out << path << ": sound, " << r.recordsSaved << " records; nothing to repair\n";
    return 0;
  }
  out << path << ": " << (dry_run ? "would save " : "saved ") << r.recordsSaved
      << " records, lost " << r.recordsLost << " records";
  if (r.blocksSkipped) out << " (" << r.blocksSkipped << " damaged blocks skipped)";
  if (r.recordsDropped) out << ", " << r.recordsDropped << " records past a block's end left out";
  out << ", " << r.valuesBlanked << " values blanked, " << r.blobsLost << " blobs lost";
  if (r.recordsDamaged) out << " (in " << r.recordsDamaged << " records)";
  out << ", " << r.indexesRebuilt.size() << " indexes rebuilt";
  for (std::size_t i = 0; i < r.indexesRebuilt.size(); ++i)
    out << (i ? ", " : ": ") << r.indexesRebuilt[i];
  out << "\n";
  for (const std::string& note : r.notes) out << "  counts: " << note << "\n";
  for (const std::string& lost : r.lost) out << "  lost: " << lost << "\n";
  if (!r.damagedFolder.empty()) out << "  damaged files kept in " << r.damagedFolder << "\n";
  if (r.keyViolations && !r.keyViolTable.empty()) {
    std::string error;
    const std::string kept = vdx::KeepSetAside(r.keyViolTable, "KEYVIOL", engine::BaseName(path), now, &error);
    err << "warning: " << engine::BaseName(path) << ": " << r.keyViolations
        << " salvaged records broke the key and are not in the table; "
        << (kept.empty() ? "they stay in " + r.keyViolTable + ": " + error : "kept in " + kept)
        << "\n";
  }
  return r.SomethingLost() ? 1 : 0;
}

int Repair(const vdx::Args& args, std::ostream& out, std::ostream& err) {
  std::vector<std::string> names;
  bool dry_run = false;
  for (const std::string& a : args) {
    if (a == "--dry-run") {
      dry_run = true;
    } else {
      names.push_back(a);
    }
  }
  if (names.size() != 1) {
    err << "usage: vdx repair TABLE|DIR [--dry-run]\n";
    return 2;
  }
  struct stat st {};
  std::vector<std::string> tables;
  if (::stat(names[0].c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
    tables = TablesIn(names[0]);
  } else {
    tables.push_back(engine::ResolveTablePath(names[0]));
    if (::stat(tables.back().c_str(), &st) != 0) {
      err << "vdx repair: no table or folder " << names[0] << "\n";
      return 2;
    }
  }
  std::shared_ptr<void> lock;
  for (const std::string& path : tables) {
    if (dry_run || !engine::RefuseCaseTwins(path).ok()) continue;
    lock = vdx::LockDatabaseOf(path, "repair", err);  // one folder: one lock for all
    if (!lock) return vdx::kExitBusy;
    break;
  }
  const std::time_t now = std::time(nullptr);
  int rc = 0;
  for (const std::string& path : tables)
    rc = std::max(rc, vdx::TableAlone(path, out) ? RepairOne(path, dry_run, now, out, err) : 2);
  return rc;
}

}  // namespace

VDX_COMMAND("repair", "repair TABLE|DIR [--dry-run]   salvage damaged tables, rebuild indexes",
            Repair);
