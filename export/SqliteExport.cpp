// The SQLite writer: one transaction for the whole file, one savepoint per
// table so a table that turns out damaged halfway leaves nothing behind.
// The file is a new one under a temporary name, so its rollback journal
// stays in memory and nothing is synced until the export is complete.
#include <sqlite3.h>

#include "Env.h"
#include "ExportWriters.h"
#include "FieldText.h"
#include "SqliteSchema.h"
#include "TableFiles.h"

namespace tableexport {

using engine::FieldKind;
using engine::FieldValue;
using engine::Status;

struct SqliteWriter::Db {
  sqlite3* db = nullptr;
  sqlite3_stmt* check_insert = nullptr;

  ~Db() {
    sqlite3_finalize(check_insert);
    sqlite3_close(db);
  }
  Status Error(const std::string& what) const {
    return Status::IOError(what + ": " + (db ? sqlite3_errmsg(db) : "out of memory"));
  }
  Status Exec(const std::string& sql) {
    return sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK
               ? Status::OK()
               : Error("SQLite refused \"" + sql.substr(0, 200) + "\"");
  }
  Status Prepare(const std::string& sql, sqlite3_stmt** stmt) {
    return sqlite3_prepare_v2(db, sql.c_str(), -1, stmt, nullptr) == SQLITE_OK
               ? Status::OK()
               : Error("SQLite refused \"" + sql.substr(0, 200) + "\"");
  }
  Status InsertRows(const engine::ParadoxTable& table, const std::string& name,
                    RecordTicker* ticker);
  Status AddLooseCheck(const std::string& table, const LooseCheck& c);
};

namespace {

// Binds one value; `text` keeps the bytes alive until the row is stepped.
Status Bind(const engine::ParadoxTable& table, sqlite3_stmt* stmt, int index, const FieldValue& v,
            std::string* text) {
  const int col = index + 1;
  if (v.null) return sqlite3_bind_null(stmt, col), Status::OK();
  const engine::FieldDesc& f = table.Fields()[static_cast<std::size_t>(index)];
  if (TextOfValue(table, engine::KindOf(f.type), v, text)) {
    sqlite3_bind_text64(stmt, col, text->data(), text->size(), SQLITE_STATIC, SQLITE_UTF8);
    return Status::OK();
  }
  switch (engine::KindOf(f.type)) {
    case FieldKind::Integer:
    case FieldKind::Logical:
      sqlite3_bind_int64(stmt, col, v.i);
      return Status::OK();
    case FieldKind::Float:
      sqlite3_bind_double(stmt, col, v.d);
      return Status::OK();
    case FieldKind::Bytes:
      *text = v.s;  // the value is a temporary; the row needs the bytes until it is stepped
      sqlite3_bind_blob64(stmt, col, text->data(), text->size(), SQLITE_STATIC);
      return Status::OK();
    case FieldKind::Memo:
    case FieldKind::Binary: {
      Status s = table.ReadBlob(index, v, text);
      if (!s.ok()) return s;
      if (engine::KindOf(f.type) == FieldKind::Binary) {
        sqlite3_bind_blob64(stmt, col, text->data(), text->size(), SQLITE_STATIC);
        return Status::OK();
      }
      *text = table.Text(*text);
      break;
    }
    default:
      break;  // bound above
  }
  sqlite3_bind_text64(stmt, col, text->data(), text->size(), SQLITE_STATIC, SQLITE_UTF8);
  return Status::OK();
}

// The field names of a link's master, read from its header.
std::vector<std::string> MasterFieldNames(const std::string& master,
                                          const std::vector<std::string>& passwords) {
  const std::string path =
      engine::DataFilePath(engine::DirName(master), engine::FileNameOf(master));
  engine::OpenOptions options;
  options.passwords = passwords;
  options.recover = false;
  std::unique_ptr<engine::ParadoxTable> table;
  std::vector<std::string> names;
  if (!engine::ParadoxTable::Open(path, options, &table).ok()) return names;
  for (const engine::FieldDesc& f : table->Fields()) names.push_back(table->Text(f.name));
  return names;
}

}  // namespace

Status SqliteWriter::Db::InsertRows(const engine::ParadoxTable& table, const std::string& name,
                                    RecordTicker* ticker) {
  const int fields = static_cast<int>(table.Fields().size());
  std::string sql = "INSERT INTO " + SqlName(name) + " VALUES (";
  for (int i = 0; i < fields; ++i) sql += i ? ",?" : "?";
  sqlite3_stmt* insert = nullptr;
  Status s = Prepare(sql + ")", &insert);
  std::vector<std::string> texts(static_cast<std::size_t>(fields));
  engine::TableCursor cursor = table.NewCursor();
  while (s.ok() && cursor.Next()) {
    for (int i = 0; s.ok() && i < fields; ++i) {
      s = Bind(table, insert, i, cursor.Value(i), &texts[static_cast<std::size_t>(i)]);
    }
    if (s.ok() && sqlite3_step(insert) != SQLITE_DONE) {
      s = Error("record " + std::to_string(cursor.RecordNumber() + 1));
    }
    sqlite3_reset(insert);
    if (s.ok() && !ticker->Tick()) s = CancelledStatus();
  }
  sqlite3_finalize(insert);
  return s.ok() ? cursor.status() : s;
}

Status SqliteWriter::Db::AddLooseCheck(const std::string& table, const LooseCheck& c) {
  const std::string* values[] = {&table, &c.field, &c.kind, &c.value, &c.detail};
  for (int i = 0; i < 5; ++i) {
    sqlite3_bind_text64(check_insert, i + 1, values[i]->data(), values[i]->size(), SQLITE_STATIC,
                        SQLITE_UTF8);
  }
  const bool done = sqlite3_step(check_insert) == SQLITE_DONE;
  sqlite3_reset(check_insert);
  return done ? Status::OK() : Error("the checks of " + table);
}

SqliteWriter::SqliteWriter(std::unique_ptr<Db> db) : db_(std::move(db)) {}
SqliteWriter::~SqliteWriter() = default;

Status SqliteWriter::Open(const std::string& path, std::unique_ptr<SqliteWriter>* out) {
  auto db = std::make_unique<Db>();
  if (sqlite3_open_v2(path.c_str(), &db->db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) !=
      SQLITE_OK) {
    return db->Error("cannot open " + path);
  }
  // The loaded records keep what Paradox kept, even where they break a
  // check or link added after them; the constraints hold for what follows.
  Status s = db->Exec(
      "PRAGMA journal_mode=MEMORY; PRAGMA synchronous=OFF; PRAGMA cache_size=-8192;"
      "PRAGMA ignore_check_constraints=ON; PRAGMA foreign_keys=OFF; BEGIN;"
      "CREATE TABLE _vardex_checks (table_name TEXT NOT NULL, field_name TEXT NOT NULL,"
      " kind TEXT NOT NULL, value TEXT, detail TEXT)");
  if (s.ok()) s = db->Prepare("INSERT INTO _vardex_checks VALUES (?,?,?,?,?)", &db->check_insert);
  if (!s.ok()) return s;
  out->reset(new SqliteWriter(std::move(db)));
  return Status::OK();
}

Status SqliteWriter::AddTable(const engine::ParadoxTable& table,
                              const std::vector<std::string>& passwords, RecordTicker* ticker,
                              std::vector<std::string>* notes) {
  engine::TableStructure st;
  Status s = engine::ReadTableStructure(engine::Env::Default(), table, &st);
  if (!s.ok()) notes->push_back("its structure is exported in part: " + s.ToString());
  const TableSchema schema = BuildSchema(
      table, st, [&](const std::string& master) { return MasterFieldNames(master, passwords); });
  notes->insert(notes->end(), schema.notes.begin(), schema.notes.end());
  s = db_->Exec("SAVEPOINT one_table");
  if (!s.ok()) return s;
  s = db_->Exec(schema.create);
  if (s.ok()) s = db_->InsertRows(table, schema.name, ticker);
  for (std::size_t i = 0; s.ok() && i < schema.indexes.size(); ++i)
    s = db_->Exec(schema.indexes[i]);
  for (std::size_t i = 0; s.ok() && i < schema.loose.size(); ++i) {
    s = db_->AddLooseCheck(schema.name, schema.loose[i]);
  }
  if (!s.ok()) {
    db_->Exec("ROLLBACK TO one_table");
    db_->Exec("RELEASE one_table");
    return s;
  }
  return db_->Exec("RELEASE one_table");
}

Status SqliteWriter::Commit() {
  Status s = db_->Exec("COMMIT; PRAGMA ignore_check_constraints=OFF");
  sqlite3_finalize(db_->check_insert);
  db_->check_insert = nullptr;
  if (s.ok() && sqlite3_close(db_->db) != SQLITE_OK) s = db_->Error("cannot close");
  if (s.ok()) db_->db = nullptr;
  return s;
}

}  // namespace tableexport
