#include "TTable.h"

#include <cmath>

#include "CodePage.h"
#include "DataFileHeader.h"
#include "FieldText.h"
#include "Session.h"
#include "TableDump.h"
#include "TableFiles.h"

namespace engine {

namespace {

FieldDesc ToDesc(const TFieldDef& def) {
  FieldDesc f;
  f.name = def.Name;
  f.type = def.DataType;
  if (def.DataType == FieldType::Bcd) {
    f.size = 17;
    f.decimals = def.Size;
  } else if (IsBlobType(def.DataType)) {
    f.size = def.Size + 10;
  } else if (FixedSize(def.DataType)) {
    f.size = FixedSize(def.DataType);
  } else {
    f.size = def.Size;
  }
  return f;
}

}  // namespace

TTable::~TTable() {
  try {
    Close();
  } catch (...) {
  }
}

void TTable::Raise(Status status) const {
  if (status.contexts()[0].empty()) status.WithContext(path_.empty() ? TableName : path_);
  throw EDBEngineError(status);
}

std::string TTable::DatabasePath() const {
  if (DatabaseName.empty()) return ".";
  const std::string alias_path = TSession::Default().AliasPath(DatabaseName);
  return alias_path.empty() ? DatabaseName : alias_path;
}

std::string TTable::ResolvePath() const {
  if (TableName.empty()) throw EDatabaseError("Missing TableName property");
  if (TableType != ttParadox && TableType != ttDefault)
    throw EDatabaseError("Only Paradox tables are supported");
  if (TableName.find('/') != std::string::npos) return ResolveTablePath(TableName);
  return DataFilePath(DatabasePath(), TableName);
}

void TTable::Open() {
  if (Active()) return;
  path_ = ResolvePath();
  Status s = lock_.Acquire(path_, Exclusive);
  if (!s.ok()) Raise(s);
  Reopen();
  state_ = dsBrowse;
  LoadFields();
  if (!structure_only_) First();
}

void TTable::Reopen() {
  TSession& session = TSession::Default();
  OpenOptions options;
  options.lock = false;  // this table holds the lock itself
  options.structureOnly = structure_only_ = StructureOnly;
  options.passwords = session.Passwords();
  const std::string path = path_;
  if (AskPassword) {
    options.request_password = [&session, path](std::vector<std::string>* passwords) {
      if (!session.RequestPassword(path)) return false;
      *passwords = session.Passwords();
      return true;
    };
  }
  cursor_.reset();
  table_.reset();
  Status s = ParadoxTable::Open(path_, options, &table_);
  if (!s.ok()) {
    lock_.Release();
    state_ = dsInactive;
    Raise(s);
  }
}

void TTable::LoadFields() {
  fields_.clear();
  for (int i = 0; i < FieldCount(); ++i) fields_.emplace_back(this, i);
}

void TTable::Close() {
  if (!Active()) return;
  Status s = writer_ ? writer_->Sync() : Status::OK();
  writer_.reset();
  cursor_.reset();
  table_.reset();
  lock_.Release();
  state_ = dsInactive;
  fields_.clear();
  buffer_.clear();
  if (!s.ok()) Raise(s);
}

void TTable::CreateTable() {
  if (Active()) throw EDatabaseError("Cannot perform this operation on an open dataset");
  path_ = ResolvePath();
  TableDefinition def;
  for (int i = 0; i < FieldDefs.Count(); ++i) def.fields.push_back(ToDesc(FieldDefs[i]));
  def.key_fields = KeyFields;
  def.password = Password;
  TableLock guard;  // refuse to replace a table someone has open
  if (Env::Default()->Exists(path_)) {
    Status s = guard.Acquire(path_, true);
    if (!s.ok()) Raise(s);
  }
  Status s = engine::CreateTable(Env::Default(), path_, def);
  if (!s.ok()) Raise(s);
}

void TTable::Insert() {
  if (!Active()) throw EDatabaseError("Cannot perform this operation on a closed dataset");
  if (state_ == dsInsert) Post();
  buffer_.assign(static_cast<std::size_t>(FieldCount()), FieldValue{});
  state_ = dsInsert;
}

void TTable::Post() {
  if (state_ != dsInsert) return;
  Status s;
  if (!writer_) s = TableWriter::Open(Env::Default(), path_, table_->Header().key, &writer_);
  if (s.ok()) s = writer_->Append(buffer_);
  if (s.ok()) s = writer_->Flush();
  if (!s.ok()) {
    writer_.reset();
    Raise(s);
  }
  buffer_.clear();
  state_ = dsBrowse;
  Reopen();  // the reader's view of the block chain is stale now
  eof_ = true;
}

void TTable::Cancel() {
  buffer_.clear();
  if (state_ == dsInsert) state_ = dsBrowse;
}

void TTable::First() {
  if (!Active()) throw EDatabaseError("Cannot perform this operation on a closed dataset");
  if (structure_only_) throw EDatabaseError("The table was opened for its structure only");
  cursor_ = std::make_unique<TableCursor>(table_->NewCursor());
  Next();
}

void TTable::Next() {
  if (!cursor_) throw EDatabaseError("Cannot perform this operation on a closed dataset");
  eof_ = !cursor_->Next();
  if (eof_ && !cursor_->status().ok()) Raise(cursor_->status());
}

int TTable::RecordCount() const {
  if (!Active()) throw EDatabaseError("Cannot perform this operation on a closed dataset");
  return static_cast<int>(table_->RecordCount());
}

int TTable::FieldCount() const { return table_ ? static_cast<int>(table_->Fields().size()) : 0; }

TField* TTable::FindField(const std::string& name) {
  if (!table_) return nullptr;
  const int i = table_->FieldIndex(name);
  return i < 0 ? nullptr : &fields_[static_cast<std::size_t>(i)];
}

TField& TTable::FieldByName(const std::string& name) {
  TField* f = FindField(name);
  if (!f) {
    throw EDBEngineError(
        Status(DBIERR_NOSUCHFIELD, "Field '" + name + "' not found").WithContext(path_));
  }
  return *f;
}

ParadoxTable* TTable::Handle() { return table_.get(); }

const FieldDesc& TTable::Desc(int index) const {
  return table_->Fields()[static_cast<std::size_t>(index)];
}

FieldValue TTable::CurrentValue(int index) const {
  if (state_ == dsInsert) return buffer_[static_cast<std::size_t>(index)];
  if (eof_ || !cursor_ || !cursor_->Record()) return FieldValue{};
  FieldValue v = cursor_->Value(index);
  if (IsBlobType(Desc(index).type) && !v.null) {
    std::string data;
    Status s = table_->ReadBlob(index, v, &data);
    if (!s.ok()) Raise(s);
    v.s = data;
  }
  return v;
}

const std::string& TField::FieldName() const { return table_->Desc(index_).name; }
FieldType TField::DataType() const { return table_->Desc(index_).type; }
bool TField::IsNull() const { return table_->CurrentValue(index_).null; }

std::string TField::AsString() const {
  const FieldDesc& f = table_->Desc(index_);
  const FieldValue v = table_->CurrentValue(index_);
  if (v.null) return "";
  const FieldKind kind = KindOf(f.type);
  if (kind == FieldKind::Text || kind == FieldKind::Memo) return table_->table_->Text(v.s);
  return ValueText(f.type, v);
}

void TField::SetAsString(const std::string& text) {
  if (table_->state_ != dsInsert) throw EDatabaseError("Dataset not in edit or insert mode");
  const FieldDesc& f = table_->Desc(index_);
  std::string stored = text;
  if (f.type == FieldType::Alpha || f.type == FieldType::Memo || f.type == FieldType::FmtMemo) {
    if (!FromUtf8(text, table_->table_->TextCodePage(), &stored)) {
      table_->Raise(
          Status(DBIERR_INVALIDFIELDVALUE, "text has characters the table's code page lacks")
              .WithContext(f.name));
    }
  }
  FieldValue v;
  Status s = ParseFieldText(f, stored, &v);
  if (!s.ok()) table_->Raise(s);
  table_->buffer_[static_cast<std::size_t>(index_)] = v;
}

double TField::AsDateTime() const {
  return ToDateTime(table_->Desc(index_), table_->CurrentValue(index_));
}

void TField::SetAsDateTime(double value) {
  if (table_->state_ != dsInsert) throw EDatabaseError("Dataset not in edit or insert mode");
  const FieldDesc& f = table_->Desc(index_);
  if (f.type != FieldType::Date && f.type != FieldType::Time && f.type != FieldType::Timestamp) {
    table_->Raise(
        Status(DBIERR_INVALIDFIELDVALUE, "field is not a date or time field").WithContext(f.name));
  }
  table_->buffer_[static_cast<std::size_t>(index_)] = FromDateTime(f, value);
}

namespace {

bool StoredAsDouble(FieldType type) {
  return type == FieldType::Number || type == FieldType::Currency || type == FieldType::Timestamp;
}

}  // namespace

std::int64_t TField::AsInteger() const {
  const FieldValue v = table_->CurrentValue(index_);
  if (v.null) return 0;
  return StoredAsDouble(DataType()) ? static_cast<std::int64_t>(std::llround(v.d)) : v.i;
}

double TField::AsFloat() const {
  const FieldValue v = table_->CurrentValue(index_);
  if (v.null) return 0;
  return StoredAsDouble(DataType()) ? v.d : static_cast<double>(v.i);
}

void TField::Clear() {
  if (table_->state_ == dsInsert) table_->buffer_[static_cast<std::size_t>(index_)] = FieldValue{};
}

}  // namespace engine
