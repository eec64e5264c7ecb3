#include "Query.h"

#include <unistd.h>

#include <cctype>
#include <cmath>
#include <cstdio>
#include <ctime>

#include "DataFileHeader.h"
#include "FieldCodec.h"
#include "ParadoxTable.h"
#include "TableFiles.h"
#include "TableLock.h"
#include "TableWriter.h"

namespace engine {

namespace {

Env*& QueryEnvSlot() {
  static Env* env = nullptr;
  return env;
}
Env* QueryEnv() { return QueryEnvSlot() ? QueryEnvSlot() : Env::Default(); }

// A Paradox table as a query sees it: every record decoded once at open (the
// tables queried are small logs), and a DELETE that writes the surviving
// records to a new file beside the old one and renames it into place.
class ParadoxSqlTable : public SqlTable {
 public:
  static Status Open(const std::string& dir, const std::string& file, bool forWriting,
                     std::unique_ptr<SqlTable>* out);
  std::vector<std::string> Columns() const override { return columns_; }
  std::size_t RowCount() const override { return rows_.size(); }
  SqlValue Value(std::size_t row, std::size_t column) const override { return rows_[row][column]; }
  Status DeleteRows(const std::vector<std::size_t>& rows) override;

 private:
  SqlValue ToSql(const FieldDesc& field, const FieldValue& v) const;
  Status Rewrite(const std::string& temp, const std::vector<bool>& gone) const;

  std::unique_ptr<ParadoxTable> table_;
  std::vector<std::string> columns_;
  std::vector<std::vector<SqlValue>> rows_;
  std::vector<std::vector<FieldValue>> stored_;  // kept for a DELETE
};

Status ParadoxSqlTable::Open(const std::string& dir, const std::string& file, bool forWriting,
                             std::unique_ptr<SqlTable>* out) {
  auto t = std::make_unique<ParadoxSqlTable>();
  OpenOptions options;
  options.lock = false;  // the program may hold the table open itself
  options.env = QueryEnv();
  Status s = ParadoxTable::Open(DataFilePath(dir, file), options, &t->table_);
  if (!s.ok()) return s;
  const std::vector<FieldDesc>& fields = t->table_->Fields();
  for (const FieldDesc& f : fields) t->columns_.push_back(f.name);
  TableCursor cur = t->table_->NewCursor();
  while (cur.Next()) {
    std::vector<SqlValue> row;
    std::vector<FieldValue> stored;
    for (std::size_t i = 0; i < fields.size(); ++i) {
      FieldValue v = cur.Value(static_cast<int>(i));
      row.push_back(t->ToSql(fields[i], v));
      if (forWriting) stored.push_back(std::move(v));
    }
    t->rows_.push_back(std::move(row));
    if (forWriting) t->stored_.push_back(std::move(stored));
  }
  if (!cur.status().ok()) return cur.status();
  *out = std::move(t);
  return Status::OK();
}

SqlValue ParadoxSqlTable::ToSql(const FieldDesc& field, const FieldValue& v) const {
  if (v.null) return SqlValue::Null();
  switch (field.type) {
    case FieldType::Alpha:
      return SqlValue::Text(table_->Text(v.s));
    case FieldType::Date:
    case FieldType::Time:
    case FieldType::Timestamp:
      return SqlValue::DateTime(ToDateTime(field, v));
    case FieldType::Short:
    case FieldType::Long:
    case FieldType::AutoInc:
    case FieldType::Logical:
      return SqlValue::Number(static_cast<double>(v.i));
    case FieldType::Number:
    case FieldType::Currency:
      return SqlValue::Number(v.d);
    case FieldType::Bcd:
      return SqlValue::Number(std::strtod(v.s.c_str(), nullptr));
    default:
      return SqlValue::Null();  // blobs and bytes are not compared
  }
}

Status ParadoxSqlTable::DeleteRows(const std::vector<std::size_t>& rows) {
  const std::string& path = table_->Path();
  if (table_->Protected() || !StaleCompanions(path).empty()) {
    Status refused(DBIERR_NOTSUPPORTED,
                   "DELETE needs a table without password, blobs, indexes or validity checks");
    return refused.WithContext(path);
  }
  // Refused while another open holds the table: it would go on writing to
  // the file this one replaces.
  TableLock lock;
  Status s = lock.Acquire(path, true);
  if (!s.ok()) return s.WithContext(path);
  std::vector<bool> gone(rows_.size(), false);
  for (std::size_t r : rows) gone.at(r) = true;
  std::string temp = DirName(path) + "/_vdxdel_" + std::to_string(::getpid()) + ".DB";
  s = Rewrite(temp, gone);
  if (s.ok()) s = CommitReplacement(QueryEnv(), temp, path);
  if (!s.ok()) QueryEnv()->Remove(temp);
  return s;
}

// The surviving records, in their order, in a new table of the same shape,
// synced before it replaces the old file.
Status ParadoxSqlTable::Rewrite(const std::string& temp, const std::vector<bool>& gone) const {
  Env* env = QueryEnv();
  TableDefinition def;
  def.fields = table_->Fields();
  def.key_fields = table_->Header().key_fields;
  def.code_page = table_->Header().code_page;
  def.source = &table_->Header();
  Status s = CreateTable(env, temp, def);
  std::unique_ptr<TableWriter> writer;
  if (s.ok()) s = TableWriter::Open(env, temp, 0, &writer);
  for (std::size_t r = 0; s.ok() && r < stored_.size(); ++r)
    if (!gone[r]) s = writer->Append(stored_[r]);
  if (s.ok()) s = writer->Sync();
  return s;
}

Status OpenParadoxTable(const std::string& dir, const std::string& file, bool forWriting,
                        std::unique_ptr<SqlTable>* out) {
  return ParadoxSqlTable::Open(dir, file, forWriting, out);
}

SqlTableOpener& Opener() {
  static SqlTableOpener opener = &OpenParadoxTable;
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
  Opener() = opener ? std::move(opener) : SqlTableOpener(&OpenParadoxTable);
}
void TQuery::SetEnv(Env* env) { QueryEnvSlot() = env; }

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
