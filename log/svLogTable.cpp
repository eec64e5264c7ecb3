#include "svLogTable.h"

#include <strings.h>
#include <sys/stat.h>

#include "CodePage.h"
#include "ParadoxTable.h"
#include "TableFiles.h"

using engine::FieldDesc;
using engine::FieldType;
using engine::FieldValue;
using engine::Status;

namespace {

enum LogColumn { kAlias = 0, kTool = 1, kResult = 2, kMoment = 3, kColumnCount = 4 };

struct ExpectedField {
  const char* name;
  FieldType type;
  int size;
};
constexpr ExpectedField kLogFields[kColumnCount] = {
    {"Alias", FieldType::Alpha, TLogTable::kAliasSize},
    {"Tool", FieldType::Alpha, 1},
    {"Result", FieldType::Alpha, 1},
    {"Moment", FieldType::Timestamp, 8},
};

Status NotALog(const std::string& why, const std::string& path) {
  return Status(DBIERR_HEADERCORRUPT, "not a tool log table: " + why).WithContext(path);
}

// A table written by another program may size its text fields differently;
// what matters is that the four fields are there, in order, of their kinds.
Status CheckStructure(const engine::ParadoxTable& t, const std::string& path) {
  const std::vector<FieldDesc>& fields = t.Fields();
  if (fields.size() != kColumnCount)
    return NotALog("it has " + std::to_string(fields.size()) + " fields", path);
  for (int i = 0; i < kColumnCount; ++i) {
    const FieldDesc& f = fields[i];
    if (::strcasecmp(f.name.c_str(), kLogFields[i].name) != 0 || f.type != kLogFields[i].type)
      return NotALog("field " + std::to_string(i + 1) + " is not " + kLogFields[i].name, path);
  }
  if (t.Keyed()) return NotALog("it has a primary key", path);
  if (t.Protected()) return NotALog("it is password protected", path);
  return Status::OK();
}

std::string RecordText(const engine::ParadoxTable& t, const engine::TableCursor& cur, int field) {
  FieldValue v = cur.Value(field);
  return v.null ? std::string() : t.Text(v.s);
}

// A record's values in field order, its text in the log's code page.
Status LogValues(const std::vector<FieldDesc>& fields, int code_page, const TLogRecord& record,
                 std::vector<FieldValue>* out) {
  out->assign(kColumnCount, FieldValue());  // blank unless there is text
  const std::string* texts[] = {&record.Alias, &record.Tool, &record.Result};
  for (int i = kAlias; i <= kResult; ++i) {
    if (texts[i]->empty()) continue;
    std::string bytes;
    if (!engine::FromUtf8(*texts[i], code_page, &bytes))
      return Status::InvalidParam("the text cannot be stored in the log's code page")
          .WithContext(*texts[i]);
    (*out)[i] = FieldValue::Str(bytes);
  }
  if (record.HasMoment) (*out)[kMoment] = engine::FromDateTime(fields[kMoment], record.Moment);
  return Status::OK();
}

}  // namespace

engine::TableDefinition NewLogDefinition() {
  engine::TableDefinition def;
  for (const ExpectedField& f : kLogFields)
    def.fields.push_back(FieldDesc{f.name, f.type, f.size, 0, 0});
  def.code_page = 1252;
  def.block_size_kb = 4;
  return def;
}

Status WriteLogFile(engine::Env* env, const std::string& path,
                    const std::vector<TLogRecord>& records) {
  const engine::TableDefinition def = NewLogDefinition();
  Status s = engine::CreateTable(env, path, def);
  std::unique_ptr<engine::TableWriter> writer;
  if (s.ok()) s = engine::TableWriter::Open(env, path, 0, &writer);
  std::vector<FieldValue> values;
  for (std::size_t i = 0; s.ok() && i < records.size(); ++i) {
    s = LogValues(def.fields, 1252, records[i], &values);
    if (s.ok()) s = writer->Append(values);
  }
  if (s.ok()) s = writer->Sync();
  return s;
}

TLogTable::TLogTable(engine::Env* env) : env_(env ? env : engine::Env::Default()) {}
TLogTable::~TLogTable() { Close(); }

void TLogTable::SetLocation(const std::string& folder, const std::string& tableName) {
  Close();
  path_ = engine::FindNoCase(folder, tableName);
}

Status TLogTable::Open() {
  Close();
  // A file without any write bit is read-only on the platform the tables
  // come from, whoever runs the program.
  struct stat st {};
  if (::stat(path_.c_str(), &st) == 0 && (st.st_mode & 0222) == 0)
    return Status(DBIERR_NOTSUFFTABLERIGHTS, "the log table is read-only").WithContext(path_);
  auto lock = std::make_unique<engine::TableLock>();
  Status s = lock->Acquire(path_, true);
  if (!s.ok()) return s;
  s = LoadRecords();
  if (s.ok()) s = engine::TableWriter::Open(env_, path_, 0, &writer_);
  if (!s.ok()) {
    records_.clear();
    writer_.reset();
    return s;
  }
  lock_ = std::move(lock);
  return s;
}

Status TLogTable::LoadRecords() {
  engine::OpenOptions options;
  options.env = env_;
  options.lock = false;  // the exclusive lock is held by Open already
  std::unique_ptr<engine::ParadoxTable> table;
  Status s = engine::ParadoxTable::Open(path_, options, &table);
  if (!s.ok()) return s;
  s = CheckStructure(*table, path_);
  if (!s.ok()) return s;
  fields_ = table->Fields();
  code_page_ = table->TextCodePage();
  records_.clear();
  records_.reserve(table->RecordCount());
  engine::TableCursor cur = table->NewCursor();
  while (cur.Next()) {
    TLogRecord r;
    r.Alias = RecordText(*table, cur, kAlias);
    r.Tool = RecordText(*table, cur, kTool);
    r.Result = RecordText(*table, cur, kResult);
    FieldValue moment = cur.Value(kMoment);
    r.HasMoment = !moment.null;
    r.Moment = engine::ToDateTime(fields_[kMoment], moment);
    records_.push_back(std::move(r));
  }
  if (!cur.status().ok()) return cur.status();
  RebuildIndex();
  // The header's bookkeeping must agree with the chain, or appending would
  // write over records or leave them unreachable.
  if (!table->LastBlockEndsChain())
    return NotALog("its last block is not the end of the chain", path_);
  return Status::OK();
}

void TLogTable::Close() {
  writer_.reset();
  lock_.reset();
  records_.clear();
  by_alias_tool_.clear();
}

namespace {
std::string IndexKey(const std::string& alias, const std::string& tool) {
  return alias + '\t' + tool;
}
}  // namespace

void TLogTable::IndexRecord(std::size_t position) {
  const TLogRecord& r = records_[position];
  by_alias_tool_[IndexKey(r.Alias, r.Tool)].push_back(position);
}

void TLogTable::RebuildIndex() {
  by_alias_tool_.clear();
  for (std::size_t i = 0; i < records_.size(); ++i) IndexRecord(i);
}

const std::vector<std::size_t>& TLogTable::PositionsOf(const std::string& alias,
                                                       const std::string& tool) const {
  static const std::vector<std::size_t> kNone;
  auto it = by_alias_tool_.find(IndexKey(alias, tool));
  return it == by_alias_tool_.end() ? kNone : it->second;
}

Status TLogTable::Create() {
  Close();
  return WriteLogFile(env_, path_, {});
}

Status TLogTable::Insert(const TLogRecord& record) {
  if (!Active()) return Status::InvalidParam("the log table is not open");
  std::vector<FieldValue> values;
  Status s = LogValues(fields_, code_page_, record, &values);
  if (s.ok()) s = writer_->AppendSynced(std::move(values));
  if (!s.ok()) return s;
  records_.push_back(record);
  IndexRecord(records_.size() - 1);
  return s;
}

Status TLogTable::Delete(const std::vector<std::size_t>& positions) {
  if (!Active()) return Status::InvalidParam("the log table is not open");
  std::vector<bool> drop(records_.size(), false);
  for (std::size_t pos : positions) {
    if (pos >= records_.size()) return Status::InvalidParam("no such log record");
    drop[pos] = true;
  }
  std::vector<TLogRecord> kept;
  kept.reserve(records_.size());
  for (std::size_t i = 0; i < records_.size(); ++i)
    if (!drop[i]) kept.push_back(records_[i]);
  Status s = ReplaceFile(kept);
  if (s.ok()) {
    records_ = std::move(kept);
    RebuildIndex();
  }
  return s;
}

// The remaining records go to a new file beside the old one. The new file
// is locked before it is renamed into place, so the log is never unlocked
// for another program to grab; a failure leaves the old file and its lock.
Status TLogTable::ReplaceFile(const std::vector<TLogRecord>& records) {
  std::vector<std::vector<FieldValue>> rows(records.size());
  for (std::size_t i = 0; i < records.size(); ++i) {
    Status s = LogValues(fields_, code_page_, records[i], &rows[i]);
    if (!s.ok()) return s;
  }
  std::string data;
  Status s = engine::EncodeTableFile(writer_->Header(), rows, &data);
  if (!s.ok()) return s;
  const std::string temp = engine::TempPathFor(path_);
  std::unique_ptr<engine::RandomFile> file;
  s = env_->OpenWrite(temp, true, &file);
  if (s.ok()) s = file->WriteAt(0, data.data(), data.size());
  if (s.ok()) s = file->Sync();
  file.reset();
  auto lock = std::make_unique<engine::TableLock>();
  if (s.ok()) s = lock->Acquire(temp, true);
  if (s.ok()) s = engine::CommitReplacement(env_, temp, path_);
  if (!s.ok()) {
    env_->Remove(temp);
    return s;
  }
  // The lock moved with the file; the writer continues the new file.
  std::unique_ptr<engine::TableWriter> writer;
  s = engine::TableWriter::Open(env_, path_, 0, &writer);
  if (!s.ok()) return s;
  writer_ = std::move(writer);
  lock_ = std::move(lock);
  return s;
}

namespace {

// The log as local SQL reads it: blank text and a blank moment are nulls,
// as the engine reports blank fields.
class LogView : public engine::SqlTable {
 public:
  LogView(TLogTable* table, std::vector<std::string> columns,
          const std::vector<std::size_t>* subset)
      : table_(table), columns_(std::move(columns)), subset_(subset) {}
  std::vector<std::string> Columns() const override { return columns_; }
  std::size_t RowCount() const override {
    return subset_ ? subset_->size() : table_->Records().size();
  }
  engine::SqlValue Value(std::size_t row, std::size_t column) const override {
    const TLogRecord& r = table_->Records()[Position(row)];
    if (column == kMoment)
      return r.HasMoment ? engine::SqlValue::DateTime(r.Moment) : engine::SqlValue();
    const std::string& text = column == kAlias ? r.Alias : column == kTool ? r.Tool : r.Result;
    return text.empty() ? engine::SqlValue() : engine::SqlValue::Text(text);
  }
  Status DeleteRows(const std::vector<std::size_t>& rows) override {
    std::vector<std::size_t> positions;
    for (std::size_t row : rows) positions.push_back(Position(row));
    return table_->Delete(positions);
  }

 private:
  std::size_t Position(std::size_t row) const { return subset_ ? (*subset_)[row] : row; }

  TLogTable* table_;
  std::vector<std::string> columns_;
  const std::vector<std::size_t>* subset_;
};

}  // namespace

std::unique_ptr<engine::SqlTable> TLogTable::QueryView(const std::vector<std::size_t>* subset) {
  std::vector<std::string> columns;
  for (const FieldDesc& f : fields_) columns.push_back(f.name);
  return std::make_unique<LogView>(this, std::move(columns), subset);
}
