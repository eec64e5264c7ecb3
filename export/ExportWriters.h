// The writers behind ExportTables, one per format, and the record counter
// they share. Internal to the export library.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Export.h"
#include "FieldText.h"
#include "ParadoxTable.h"

namespace tableexport {

// Counts the records written and reports them to the progress callback now
// and then; Tick() turns false once the callback cancelled.
// The text both CSV and SQLite write for a decimal, text, date, time or
// timestamp value; false for the kinds each writes in its own way.
inline bool TextOfValue(const engine::ParadoxTable& table, engine::FieldKind kind,
                        const engine::FieldValue& v, std::string* out) {
  switch (kind) {
    case engine::FieldKind::Decimal: *out = v.s; return true;
    case engine::FieldKind::Text: *out = table.Text(v.s); return true;
    case engine::FieldKind::Date: *out = engine::FormatDate(v.i); return true;
    case engine::FieldKind::Time: *out = engine::FormatTime(v.i); return true;
    case engine::FieldKind::Stamp: *out = engine::FormatTimestamp(v.d); return true;
    default: return false;
  }
}

class RecordTicker {
 public:
  RecordTicker(const ExportOptions& options, ExportProgress* progress)
      : options_(options), progress_(progress) {}
  bool Tick() {
    ++progress_->records_done;
    return (++since_report_ & 0xFFF) != 0 || Report();
  }
  // Counts n records at once (writers that see lines, not records).
  bool Add(std::uint64_t n) {
    progress_->records_done += n;
    return Report();
  }
  // Reports where the export stands; false when cancelled.
  bool Report();
  bool Cancelled() const { return cancelled_; }

 private:
  const ExportOptions& options_;
  ExportProgress* progress_;
  std::uint32_t since_report_ = 0;
  bool cancelled_ = false;
};

engine::Status CancelledStatus();

// Makes a folder for a table's blob files on first use and gives its path
// and the name by which the CSV's cells refer to it.
using BlobFolder = std::function<engine::Status(std::string* dir, std::string* name)>;

engine::Status WriteCsv(const engine::ParadoxTable& table, const std::string& path,
                        const BlobFolder& blobs, const ExportOptions& options,
                        RecordTicker* ticker);

engine::Status WriteJsonl(const engine::ParadoxTable& table, const std::string& path,
                          RecordTicker* ticker);

// One SQLite database written in one transaction: each table is added
// whole or not at all.
class SqliteWriter {
 public:
  static engine::Status Open(const std::string& path, std::unique_ptr<SqliteWriter>* out);
  ~SqliteWriter();
  // `passwords` open the masters of its referential links, whose fields the
  // links name. Notes tell what of the table's structure could not be carried.
  engine::Status AddTable(const engine::ParadoxTable& table,
                          const std::vector<std::string>& passwords, RecordTicker* ticker,
                          std::vector<std::string>* notes);
  engine::Status Commit();

 private:
  struct Db;
  explicit SqliteWriter(std::unique_ptr<Db> db);
  std::unique_ptr<Db> db_;
};

}  // namespace tableexport
