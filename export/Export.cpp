#include "Export.h"

#include <strings.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>

#include "ExportWriters.h"
#include "Journal.h"
#include "Staging.h"
#include "TableFiles.h"

namespace fs = std::filesystem;

namespace tableexport {

namespace {

using engine::Status;

bool IsDir(const std::string& path) {
  std::error_code ec;
  return fs::is_directory(path, ec);
}

// What one table becomes: its output, and for CSV the folder of its blobs.
struct Target {
  std::string path;
  std::string blobs;
};

std::string FolderName(const std::string& table) {
  const fs::path dir = fs::absolute(fs::path(table)).lexically_normal().parent_path();
  return dir.filename().empty() ? "export" : dir.filename().string();
}

std::vector<Target> PlanTargets(const std::vector<std::string>& tables, bool whole_folder,
                                const std::string& out, ExportFormat format) {
  const std::string ext = std::string(".") + FormatExtension(format);
  std::vector<Target> targets;
  if (format == ExportFormat::Sqlite) {
    std::string path = out;
    if (IsDir(out)) {
      const std::string name = whole_folder ? FolderName(tables[0]) : engine::Stem(tables[0]);
      path = engine::JoinPath(out, name + ext);
    }
    return {{path, ""}};
  }
  for (const std::string& table : tables) {
    Target t;
    t.path = whole_folder || IsDir(out) ? engine::JoinPath(out, engine::Stem(table) + ext) : out;
    if (format == ExportFormat::Csv) {
      const fs::path p(t.path);
      t.blobs = (p.parent_path() / (p.stem().string() + ".blobs")).string();
    }
    targets.push_back(t);
  }
  return targets;
}

Status OpenTable(const std::string& path, const ExportOptions& options,
                 std::unique_ptr<engine::ParadoxTable>* table) {
  Status s = engine::RefuseCaseTwins(path);
  if (s.ok()) s = engine::CheckNothingPending(engine::Env::Default(), path);
  engine::OpenOptions open;
  open.passwords = options.passwords;
  open.recover = false;  // exporting reads; a pending replacement is reported
  if (s.ok()) s = engine::ParadoxTable::Open(path, open, table);
  return s;
}

// Writes one table in a CSV or JSON Lines file of its own.
Status WriteTableFile(const engine::ParadoxTable& table, const Target& target,
                      const ExportOptions& options, Staging* staging, RecordTicker* ticker) {
  std::string temp, blobs_temp;
  Status s = staging->NewFile(target.path, &temp);
  if (!s.ok()) return s;
  if (options.format == ExportFormat::Jsonl) {
    s = WriteJsonl(table, temp, ticker);
  } else {
    const BlobFolder blobs = [&](std::string* dir, std::string* name) {
      *name = engine::BaseName(target.blobs);
      Status made = staging->NewFolder(target.blobs, &blobs_temp);
      *dir = blobs_temp;
      return made;
    };
    s = WriteCsv(table, temp, blobs, options, ticker);
  }
  if (!s.ok()) {
    staging->Discard(temp);
    if (!blobs_temp.empty()) staging->Discard(blobs_temp);
  }
  return s;
}

// Writes the opened tables through one staging area, and commits it when
// the export is complete; the tables' outcomes go into the report.
Status WriteAll(const std::vector<Target>& targets, const ExportOptions& options,
                std::vector<std::unique_ptr<engine::ParadoxTable>>* open, ExportProgress* progress,
                ExportReport* report) {
  RecordTicker ticker(options, progress);
  Staging staging;
  std::unique_ptr<SqliteWriter> sqlite;
  Status s;
  if (options.format == ExportFormat::Sqlite) {
    std::string temp;
    s = staging.NewFile(targets[0].path, &temp);
    if (s.ok()) s = SqliteWriter::Open(temp, &sqlite);
  }
  std::size_t written = 0;
  for (std::size_t i = 0; s.ok() && i < open->size(); ++i) {
    TableOutcome& outcome = report->tables[i];
    progress->table = i;
    progress->name = engine::BaseName(outcome.path);
    if (!ticker.Report()) break;
    std::unique_ptr<engine::ParadoxTable>& table = (*open)[i];
    if (!table) continue;  // reported when it was opened
    const std::uint64_t before = progress->records_done;
    outcome.status = sqlite ? sqlite->AddTable(*table, options.passwords, &ticker, &outcome.notes)
                            : WriteTableFile(*table, targets[i], options, &staging, &ticker);
    if (ticker.Cancelled()) break;
    outcome.records = progress->records_done - before;
    table.reset();  // its lock is not needed any more
    if (outcome.status.ok()) ++written;
  }
  if (ticker.Cancelled()) {
    report->cancelled = true;
    return CancelledStatus();
  }
  if (s.ok() && written == 0) s = Status(DBIERR_NOSUCHTABLE, "no table could be exported");
  if (s.ok() && sqlite) s = sqlite->Commit();
  if (s.ok()) {
    report->outputs = staging.Targets();
    s = staging.Commit();
  }
  return s;
}

}  // namespace

bool RecordTicker::Report() {
  since_report_ = 0;
  if (!cancelled_ && options_.progress && !options_.progress(*progress_)) cancelled_ = true;
  return !cancelled_;
}

Status CancelledStatus() { return Status(DBIERR_NOTSUPPORTED, "export cancelled"); }

std::size_t ExportReport::Skipped() const {
  return static_cast<std::size_t>(std::count_if(
      tables.begin(), tables.end(), [](const TableOutcome& t) { return !t.status.ok(); }));
}

std::vector<std::string> TablesOfFolder(const std::string& dir) {
  std::vector<std::string> out;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(dir, ec)) {
    const std::string name = entry.path().filename().string();
    if (entry.is_regular_file(ec) && name.size() > 3 &&
        ::strcasecmp(name.c_str() + name.size() - 3, ".db") == 0) {
      out.push_back(engine::JoinPath(dir, name));
    }
  }
  std::sort(out.begin(), out.end());
  return out;
}

const char* FormatExtension(ExportFormat format) {
  switch (format) {
    case ExportFormat::Jsonl:
      return "jsonl";
    case ExportFormat::Sqlite:
      return "sqlite";
    default:
      return "csv";
  }
}

bool FormatFromName(const std::string& name, ExportFormat* format) {
  for (ExportFormat f : {ExportFormat::Csv, ExportFormat::Jsonl, ExportFormat::Sqlite}) {
    if (::strcasecmp(name.c_str(), FormatExtension(f)) == 0) {
      *format = f;
      return true;
    }
  }
  return false;
}

std::vector<std::string> ExistingOutputs(const std::vector<std::string>& tables, bool whole_folder,
                                         const std::string& out, ExportFormat format) {
  std::vector<std::string> existing;
  if (tables.empty()) return existing;
  for (const Target& t : PlanTargets(tables, whole_folder, out, format)) {
    for (const std::string& p : {t.path, t.blobs}) {
      std::error_code ec;
      if (!p.empty() && fs::exists(p, ec)) existing.push_back(p);
    }
  }
  return existing;
}

ExportReport ExportTables(const std::vector<std::string>& tables, bool whole_folder,
                          const std::string& out, const ExportOptions& options) {
  ExportReport report;
  if (tables.empty()) {
    report.status = Status(DBIERR_NOSUCHTABLE, "no tables to export");
    return report;
  }
  const std::vector<Target> targets = PlanTargets(tables, whole_folder, out, options.format);
  const std::vector<std::string> existing =
      ExistingOutputs(tables, whole_folder, out, options.format);
  if (!existing.empty() && !options.force) {
    report.existing = existing;
    report.status = Status(DBIERR_INVALIDPARAM, "exists already (give --force to replace it)");
    report.status.WithContext(existing[0]);
    return report;
  }
  bool made_folder = false;
  if (whole_folder && options.format != ExportFormat::Sqlite && !IsDir(out)) {
    if (::mkdir(out.c_str(), 0777) != 0) {
      report.status = Status::IOError("cannot create the folder " + out);
      return report;
    }
    made_folder = true;
  }
  ExportProgress progress;
  progress.tables = tables.size();
  std::vector<std::unique_ptr<engine::ParadoxTable>> open(tables.size());
  for (std::size_t i = 0; i < tables.size(); ++i) {
    report.tables.push_back({tables[i], 0, OpenTable(tables[i], options, &open[i]), {}});
    if (open[i]) progress.records_total += open[i]->RecordCount();
  }
  const Status s = WriteAll(targets, options, &open, &progress, &report);
  if (!s.ok()) {
    report.outputs.clear();
    report.status = s;
    if (made_folder) ::rmdir(out.c_str());
  }
  return report;
}

}  // namespace tableexport
