// TQuery, the dataset layer's query: local SQL given as lines against the
// tables of one directory, `:name` parameters set as date-time values, a
// result read from column 0 of the first row. Failures are raised as
// EDBEngineError carrying the engine's code (category 0x2E for SQL the
// engine does not run).
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "DbExceptions.h"
#include "Env.h"
#include "LocalSql.h"

namespace engine {

// A table as a query sees it: rows to read, and the deletion of some of
// them (written back whole or not at all).
class SqlTable : public SqlRowSource {
 public:
  virtual Status DeleteRows(const std::vector<std::size_t>& rows) = 0;
};

// Opens the table `file` of directory `dir` for a query; `forWriting` is set
// for a DELETE.
using SqlTableOpener = std::function<Status(const std::string& dir, const std::string& file,
                                            bool forWriting, std::unique_ptr<SqlTable>* table)>;

// Text of a date-time value (days since 1899-12-30).
using SqlDateTimeFormatter = std::function<std::string(double)>;

class TQueryParam {
 public:
  void SetAsDateTime(double value) { value_ = SqlValue::DateTime(value); }
  const SqlValue& Value() const { return value_; }

 private:
  SqlValue value_;
};

// One column of the current row.
class TQueryField {
 public:
  explicit TQueryField(SqlValue value, const SqlDateTimeFormatter* format)
      : value_(std::move(value)), format_(format) {}
  // "" for null; a count as a whole number; a date-time in the formatter's form.
  std::string AsString() const;
  // 0 for null; raises EDatabaseError for a value that is no date-time.
  double AsDateTime() const;
  bool IsNull() const { return value_.isNull(); }

 private:
  SqlValue value_;
  const SqlDateTimeFormatter* format_;
};

class TQuery {
 public:
  TQuery();

  std::string DatabaseName;      // a directory
  std::vector<std::string> SQL;  // the statement, line by line

  // The parameter of that name (no colon); raises EDatabaseError when the
  // statement has no such parameter.
  TQueryParam& ParamByName(const std::string& name);

  void Open();     // runs a SELECT and keeps its result
  void ExecSQL();  // runs a DELETE (or a SELECT, dropping its result)
  void Close();
  bool Active() const { return active_; }

  // The current row: the first after Open.
  bool IsEmpty() const { return rows_.empty(); }
  int RecordCount() const { return static_cast<int>(rows_.size()); }
  TQueryField Fields(int index) const;
  // Rows deleted by the last ExecSQL.
  int RowsAffected() const { return rows_affected_; }

  // How every query reaches tables and prints date-times; the table layer
  // installs its opener when it is linked in.
  static void SetTableOpener(SqlTableOpener opener);
  static void SetDateTimeFormatter(SqlDateTimeFormatter formatter);
  // The file layer the built-in table access uses (null: the default one);
  // tests put one there that fails on purpose.
  static void SetEnv(Env* env);
  static std::string DefaultDateTimeText(double dateTime);

 private:
  SqlStatement Prepare() const;
  SqlParams BoundParams(const SqlStatement& st) const;
  std::unique_ptr<SqlTable> OpenTable(const SqlStatement& st, bool forWriting) const;

  std::map<std::string, TQueryParam> params_;
  std::vector<SqlValue> rows_;
  bool active_ = false;
  int rows_affected_ = 0;
};

}  // namespace engine
