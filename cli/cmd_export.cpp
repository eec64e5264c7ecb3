// vdx export TABLE|DIR --to csv|jsonl|sqlite OUT: writes a table, or every
// table of a database folder, for other programs. A folder becomes one
// SQLite file, or a folder OUT of one CSV or JSON Lines file per table.
// Nothing is replaced without --force, and nothing is left half-written.
// One line per table on standard output; progress on standard error when it
// is a terminal. Exit 0 when every table was exported, 3 when some were
// left out (damaged, protected, refused) and the rest written, 1 when
// nothing was written, 2 on a usage error.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <ostream>

#include "Command.h"
#include "Export.h"
#include "Session.h"
#include "TableFiles.h"

namespace {

using tableexport::ExportFormat;

constexpr const char* kUsage =
    "usage: vdx export TABLE|DIR --to csv|jsonl|sqlite OUT [--delimiter C] [--no-header]\n"
    "                  [--password P]... [--force]\n";

// Parses the command line; false on a usage error.
bool ParseArgs(const vdx::Args& args, std::vector<std::string>* positional,
               tableexport::ExportOptions* options, bool* csv_only) {
  bool have_format = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    const bool has_value = i + 1 < args.size();
    if (a == "--to" && has_value) {
      if (!tableexport::FormatFromName(args[++i], &options->format)) return false;
      have_format = true;
    } else if (a == "--delimiter" && has_value) {
      const std::string d = args[++i];
      const char c = d == "\\t" || d == "tab" ? '\t' : d.size() == 1 ? d[0] : '"';
      if (c == '"' || c == '\r' || c == '\n') return false;
      options->delimiter = c;
      *csv_only = true;
    } else if (a == "--no-header") {
      options->header = false;
      *csv_only = true;
    } else if (a == "--password" && has_value) {
      options->passwords.push_back(args[++i]);
    } else if (a == "--force") {
      options->force = true;
    } else if (a.rfind("--", 0) == 0) {
      return false;
    } else {
      positional->push_back(a);
    }
  }
  return have_format && positional->size() == 2;
}

int Export(const vdx::Args& args, std::ostream& out, std::ostream& err) {
  tableexport::ExportOptions options;
  options.passwords = engine::TSession::Default().Passwords();
  std::vector<std::string> positional;
  bool csv_only = false;
  if (!ParseArgs(args, &positional, &options, &csv_only) ||
      (csv_only && options.format != ExportFormat::Csv)) {
    err << kUsage;
    return 2;
  }
  struct stat st {};
  const bool folder = ::stat(positional[0].c_str(), &st) == 0 && S_ISDIR(st.st_mode);
  std::vector<std::string> tables;
  if (folder) {
    tables = tableexport::TablesOfFolder(positional[0]);
  } else {
    tables.push_back(engine::ResolveTablePath(positional[0]));
    if (::stat(tables[0].c_str(), &st) != 0) {
      err << "vdx export: no table or folder " << positional[0] << "\n";
      return 2;
    }
  }
  if (tables.empty()) {
    err << "vdx export: no tables in " << positional[0] << "\n";
    return 1;
  }
  if (::isatty(STDERR_FILENO)) {
    options.progress = [&err](const tableexport::ExportProgress& p) {
      const std::uint64_t total = p.records_total ? p.records_total : 1;
      err << "\rexporting " << p.name << " (" << p.table + 1 << "/" << p.tables << ") "
          << std::min<std::uint64_t>(100, p.records_done * 100 / total) << "%\033[K" << std::flush;
      return true;
    };
  }
  const tableexport::ExportReport report =
      tableexport::ExportTables(tables, folder, positional[1], options);
  if (options.progress) err << "\r\033[K" << std::flush;
  for (const tableexport::TableOutcome& t : report.tables) {
    const std::string name = engine::BaseName(t.path);
    if (t.status.ok()) {
      out << name << ": " << t.records << " records\n";
    } else {
      out << name << ": left out: " << t.status.ToString() << "\n";
    }
    for (const std::string& note : t.notes) out << name << ": note: " << note << "\n";
  }
  if (!report.status.ok()) {
    err << "vdx export: nothing written: " << report.status.ToString() << "\n";
    return 1;
  }
  for (const std::string& o : report.outputs) out << "wrote " << o << "\n";
  return report.Skipped() ? 3 : 0;
}

}  // namespace

VDX_COMMAND("export",
            "export TABLE|DIR --to csv|jsonl|sqlite OUT [--delimiter C] [--no-header] "
            "[--password P] [--force]",
            Export);
