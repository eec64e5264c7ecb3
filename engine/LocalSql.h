// Local SQL as the tool log asks it: SELECT of one column, MAX(col) or
// COUNT(col), and DELETE, each with conditions `col = | < | > operand`
// joined by AND, operands being literals or `:name` date-time parameters.
// Parser and evaluator work over an abstract row source; anything outside
// this language is refused with a query error, never guessed at.
#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <vector>

#include "Status.h"

namespace engine {

// A value of a row or of a statement. Date-times are days since 1899-12-30
// with the time as the fraction.
struct SqlValue {
  enum Kind { kNull, kText, kNumber, kDateTime };
  Kind kind = kNull;
  std::string text;
  double number = 0;  // kNumber and kDateTime

  static SqlValue Null() { return {}; }
  static SqlValue Text(std::string t) { return {kText, std::move(t), 0}; }
  static SqlValue Number(double n) { return {kNumber, {}, n}; }
  static SqlValue DateTime(double d) { return {kDateTime, {}, d}; }
  bool isNull() const { return kind == kNull; }
};

// The rows a statement runs over: one table.
class SqlRowSource {
 public:
  virtual ~SqlRowSource() = default;
  virtual std::vector<std::string> Columns() const = 0;
  virtual std::size_t RowCount() const = 0;
  virtual SqlValue Value(std::size_t row, std::size_t column) const = 0;
};

struct SqlCondition {
  std::string column;
  char op = '=';  // '=', '<' or '>'
  SqlValue literal;
  std::string param;  // set when the operand is :param (without the colon)
};

struct SqlStatement {
  enum Kind { kSelect, kDelete };
  enum Aggregate { kNone, kMax, kCount };
  Kind kind = kSelect;
  Aggregate aggregate = kNone;
  std::string column;  // "*" only with COUNT
  std::string table;   // as written, quotes removed
  std::vector<SqlCondition> where;
};

using SqlParams = std::map<std::string, SqlValue>;

// Parses one statement. Category 0x2E errors: DBIERR_QRYSYNTAX for text that
// is no statement, DBIERR_QRYNOTSUPPORTED for SQL this engine does not run.
Status ParseSql(const std::string& text, SqlStatement* out);

// The names of the parameters a statement uses, in order of appearance.
std::vector<std::string> SqlParamNames(const SqlStatement& statement);

// The rows that meet every condition. Column names are matched without
// regard to case; a condition on a null value is never met.
Status MatchRows(const SqlStatement& statement, const SqlRowSource& rows, const SqlParams& params,
                 std::vector<std::size_t>* matched);

// A SELECT's result: one value per row (one row for an aggregate; MAX of no
// rows is null, COUNT counts the values that are not null).
Status RunSelect(const SqlStatement& statement, const SqlRowSource& rows, const SqlParams& params,
                 std::vector<SqlValue>* result);

}  // namespace engine
