// Export of Paradox tables into formats other programs read: CSV (one file
// per table, blobs as files beside it), JSON Lines (what `vdx dump` prints)
// and SQLite (one database file for all tables, with keys, indexes, checks
// and links). Used by `vdx export` and by the window's Export command.
//
// Nothing is left half-written: every output is written under a temporary
// name beside its target and renamed into place only when the whole export
// succeeded. A table that cannot be read (damaged, protected without a
// fitting password, refused) is reported and left out; the others go on.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "Status.h"

namespace tableexport {

enum class ExportFormat { Csv, Jsonl, Sqlite };

// Where an export stands, for a progress bar.
struct ExportProgress {
  std::size_t table = 0;            // index of the table being written
  std::size_t tables = 0;           // tables in all
  std::string name;                 // its file name
  std::uint64_t records_done = 0;   // over all tables so far
  std::uint64_t records_total = 0;  // over all tables, as their headers count them
};

struct ExportOptions {
  ExportFormat format = ExportFormat::Csv;
  char delimiter = ',';
  bool header = true;  // CSV: a first row of field names
  bool force = false;  // replace outputs that exist
  std::vector<std::string> passwords;
  // Called between tables and every few thousand records; returning false
  // cancels the export, which then writes nothing.
  std::function<bool(const ExportProgress&)> progress;
};

struct TableOutcome {
  std::string path;  // the table's data file
  std::uint64_t records = 0;
  engine::Status status;           // not ok: the table was left out
  std::vector<std::string> notes;  // what was exported only in part, and why
};

struct ExportReport {
  // Not ok: nothing was written (the output exists, cannot be written, or
  // the export was cancelled).
  engine::Status status;
  bool cancelled = false;
  std::vector<std::string> existing;  // outputs that exist, when not forced
  std::vector<TableOutcome> tables;
  std::vector<std::string> outputs;  // the files and folders written
  std::size_t Skipped() const;
};

// The data files (*.db, any case) of a folder, sorted by name.
std::vector<std::string> TablesOfFolder(const std::string& dir);

// Exports `tables`. With one table from a table argument, `out` is the file
// to write (or a folder to write it into). For a database folder
// (`whole_folder`), `out` is the SQLite file, or the folder that receives
// one CSV or JSON Lines file per table (made when missing).
ExportReport ExportTables(const std::vector<std::string>& tables, bool whole_folder,
                          const std::string& out, const ExportOptions& options);

// The outputs that ExportTables would replace (what it refuses without
// `force`), for a caller that asks first.
std::vector<std::string> ExistingOutputs(const std::vector<std::string>& tables, bool whole_folder,
                                         const std::string& out, ExportFormat format);

// The file extension of a format, without its dot ("csv", "jsonl", "sqlite").
const char* FormatExtension(ExportFormat format);
bool FormatFromName(const std::string& name, ExportFormat* format);

}  // namespace tableexport
