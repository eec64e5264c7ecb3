// The tool log's table file, VdxLog.db: an unkeyed Paradox table of four
// fields held open exclusively for the whole run. Only the log's own unit
// (svLog) uses it. Because nobody else can touch the file while it is open,
// its records are mirrored in memory, so every question the macro engine
// asks is answered without reading the file again.
#pragma once

#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "Env.h"
#include "FieldTypes.h"
#include "Query.h"
#include "Status.h"
#include "TableLock.h"
#include "TableWriter.h"

// One run as the log stores it. Text is UTF-8 here and in the table's code
// page on disk; a record written by another program may hold blanks.
struct TLogRecord {
  std::string Alias;
  std::string Tool;
  std::string Result;
  double Moment = 0;  // days since 1899-12-30
  bool HasMoment = false;
};

class TLogTable {
 public:
  explicit TLogTable(engine::Env* env = nullptr);
  ~TLogTable();
  TLogTable(const TLogTable&) = delete;
  TLogTable& operator=(const TLogTable&) = delete;

  static constexpr int kAliasSize = 40;

  // The data file: `folder` joined with the table name, the name matched
  // without regard to case against what is on disk.
  void SetLocation(const std::string& folder, const std::string& tableName);
  const std::string& Path() const { return path_; }

  // Opens exclusively and reads every record. Fails with a lock conflict when
  // another program holds the file, DBIERR_NOTSUFFTABLERIGHTS when it is
  // read-only, DBIERR_NOSUCHTABLE when there is none, and a corruption
  // status for a file that is damaged or is no log table.
  engine::Status Open();
  void Close();
  bool Active() const { return lock_ != nullptr; }

  // Writes an empty log table in place of whatever file has that name (the
  // new file is written beside it and renamed into place). Table closed.
  engine::Status Create();

  // Adds one record at the end of the file and syncs it. On failure the file
  // and the records in memory are as before.
  engine::Status Insert(const TLogRecord& record);
  // Removes the records at these positions (positions in Records()) by
  // writing the remaining ones to a new file that replaces the old one.
  engine::Status Delete(const std::vector<std::size_t>& positions);

  const std::vector<TLogRecord>& Records() const { return records_; }
  // Positions in Records() of the records of one alias and tool, in order.
  const std::vector<std::size_t>& PositionsOf(const std::string& alias,
                                              const std::string& tool) const;

  // The open table as a query sees it: every record, or only those at the
  // given positions. The view reads and deletes through this object and
  // must not outlive it or a change of the records.
  std::unique_ptr<engine::SqlTable> QueryView(const std::vector<std::size_t>* subset = nullptr);

 private:
  engine::Status LoadRecords();
  engine::Status ReplaceFile(const std::vector<TLogRecord>& records);
  void IndexRecord(std::size_t position);
  void RebuildIndex();

  engine::Env* env_;
  std::string path_;
  std::unique_ptr<engine::TableLock> lock_;
  std::unique_ptr<engine::TableWriter> writer_;  // appends to the open file
  std::vector<engine::FieldDesc> fields_;        // as the file has them
  int code_page_ = 437;                          // of the file's text
  std::vector<TLogRecord> records_;
  // Every question names one alias and one tool; this finds their records
  // without reading the whole log.
  std::unordered_map<std::string, std::vector<std::size_t>> by_alias_tool_;
};

// The table of a new, empty log: Alias A40, Tool A1, Result A1, Moment @,
// no key, code page 1252.
engine::TableDefinition NewLogDefinition();
// Writes a log table holding these records in place of whatever file has
// that name (the records are written together and synced once).
engine::Status WriteLogFile(engine::Env* env, const std::string& path,
                            const std::vector<TLogRecord>& records);
