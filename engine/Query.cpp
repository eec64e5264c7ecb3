#include "Query.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <ctime>

namespace engine {

namespace {

Status NoTables(const std::string& dir, const std::string& file, bool, std::unique_ptr<SqlTable>*) {
  Status s(DBIERR_NOTSUPPORTED, "No table reader for queries");
  s.WithContext(dir + "/" + file);
  return s;
}

SqlTableOpener& Opener() {
  static SqlTableOpener opener = &NoTables;
  return opener;
}

SqlDateTimeFormatter& Formatter() {
  static SqlDateTimeFormatter formatter = &TQuery::DefaultDateTimeText;
  return formatter;
}

std::string UpperAscii(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

[[noreturn]] void Raise(const Status& s) { throw EDBEngineError(s); }

// Civil date of a day count from 1970-01-01 (proleptic Gregorian).
void CivilFromDays(long long z, int* y, unsigned* m, unsigned* d) {
  z += 719468;
  long long era = (z >= 0 ? z : z - 146096) / 146097;
  unsigned doe = static_cast<unsigned>(z - era * 146097);
  unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  unsigned mp = (5 * doy + 2) / 153;
  *d = doy - (153 * mp + 2) / 5 + 1;
  *m = mp < 10 ? mp + 3 : mp - 9;
  *y = static_cast<int>(yoe + era * 400 + (*m <= 2));
}

}  // namespace

std::string TQueryField::AsString() const {
  switch (value_.kind) {
    case SqlValue::kNull:
      return "";
    case SqlValue::kText:
      return value_.text;
    case SqlValue::kDateTime:
      return (*format_)(value_.number);
    case SqlValue::kNumber: {
      char buf[64];
      if (value_.number == std::floor(value_.number) && std::fabs(value_.number) < 1e15)
        std::snprintf(buf, sizeof buf, "%.0f", value_.number);
      else
        std::snprintf(buf, sizeof buf, "%.15g", value_.number);
      return buf;
    }
  }
  return "";
}

double TQueryField::AsDateTime() const {
  if (value_.isNull()) return 0;
  if (value_.kind != SqlValue::kDateTime)
    throw EDatabaseError("'" + AsString() + "' is not a valid date and time");
  return value_.number;
}

TQuery::TQuery() = default;

void TQuery::SetTableOpener(SqlTableOpener opener) {
  Opener() = opener ? std::move(opener) : SqlTableOpener(&NoTables);
}
void TQuery::SetDateTimeFormatter(SqlDateTimeFormatter formatter) {
  Formatter() = std::move(formatter);
}

// The C library's date and time of the current locale (%x %X).
std::string TQuery::DefaultDateTimeText(double dateTime) {
  double days = std::floor(dateTime);
  long long seconds = std::llround((dateTime - days) * 86400.0);
  if (seconds >= 86400) {
    days += 1;
    seconds -= 86400;
  }
  std::tm tm{};
  int y = 0;
  unsigned m = 0, d = 0;
  CivilFromDays(static_cast<long long>(days) - 25569, &y, &m, &d);  // 25569: 1970-01-01
  tm.tm_year = y - 1900;
  tm.tm_mon = static_cast<int>(m) - 1;
  tm.tm_mday = static_cast<int>(d);
  tm.tm_hour = static_cast<int>(seconds / 3600);
  tm.tm_min = static_cast<int>(seconds / 60 % 60);
  tm.tm_sec = static_cast<int>(seconds % 60);
  char buf[128];
  std::size_t n = std::strftime(buf, sizeof buf, "%x %X", &tm);
  return std::string(buf, n);
}

SqlStatement TQuery::Prepare() const {
  std::string text;
  for (const std::string& line : SQL) text += line + "\n";
  SqlStatement st;
  Status s = ParseSql(text, &st);
  if (!s.ok()) Raise(s);
  return st;
}

TQueryParam& TQuery::ParamByName(const std::string& name) {
  for (const std::string& used : SqlParamNames(Prepare()))
    if (UpperAscii(used) == UpperAscii(name)) return params_[UpperAscii(name)];
  throw EDatabaseError("Parameter '" + name + "' not found");
}

// Parameter names are matched without regard to case; one never set stays
// unbound and the statement is refused.
SqlParams TQuery::BoundParams(const SqlStatement& st) const {
  SqlParams params;
  for (const std::string& used : SqlParamNames(st)) {
    auto it = params_.find(UpperAscii(used));
    if (it != params_.end() && !it->second.Value().isNull()) params[used] = it->second.Value();
  }
  return params;
}

std::unique_ptr<SqlTable> TQuery::OpenTable(const SqlStatement& st, bool forWriting) const {
  std::unique_ptr<SqlTable> table;
  Status s = Opener()(DatabaseName, st.table, forWriting, &table);
  if (!s.ok()) Raise(s);
  return table;
}

void TQuery::Open() {
  Close();
  SqlStatement st = Prepare();
  if (st.kind != SqlStatement::kSelect)
    Raise(Status(DBIERR_QRYSYNTAX, "Only a SELECT statement returns a result; use ExecSQL"));
  SqlParams params = BoundParams(st);
  std::unique_ptr<SqlTable> table = OpenTable(st, false);
  Status s = RunSelect(st, *table, params, &rows_);
  if (!s.ok()) Raise(s.WithContext(st.table));
  active_ = true;
}

void TQuery::ExecSQL() {
  Close();
  SqlStatement st = Prepare();
  rows_affected_ = 0;
  SqlParams params = BoundParams(st);
  std::unique_ptr<SqlTable> table = OpenTable(st, st.kind == SqlStatement::kDelete);
  std::vector<std::size_t> matched;
  Status s = MatchRows(st, *table, params, &matched);
  if (s.ok() && st.kind == SqlStatement::kDelete && !matched.empty())
    s = table->DeleteRows(matched);
  if (!s.ok()) Raise(s.WithContext(st.table));
  rows_affected_ = static_cast<int>(matched.size());
}

void TQuery::Close() {
  rows_.clear();
  active_ = false;
}

TQueryField TQuery::Fields(int index) const {
  if (!active_) throw EDatabaseError("Query is not open");
  if (index != 0) throw EDatabaseError("Field index out of range");
  return TQueryField(rows_.empty() ? SqlValue::Null() : rows_.front(), &Formatter());
}

}  // namespace engine
