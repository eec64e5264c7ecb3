// Export: every value of every sample table survives CSV and SQLite (read
// back and compared with the dump), keys, indexes and links arrive as SQLite
// schema, a damaged table is left out while the others go on, text of the
// DOS and Windows code pages arrives as UTF-8, and nothing is ever left
// half-written.
#include "Export.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>

#include "ExportReader.h"
#include "ParadoxCrypt.h"
#include "TableFiles.h"
#include "TableWriter.h"
#include "TempDir.h"
#include "TestTables.h"

using namespace engine;
using namespace exporttest;
using tableexport::ExportFormat;
using tableexport::ExportOptions;
using tableexport::ExportReport;
namespace fs = std::filesystem;

namespace {

void WriteFile(const std::string& path, const std::string& data) {
  std::ofstream(path, std::ios::binary) << data;
}

ExportReport Export(const std::string& source, const std::string& out, ExportFormat format,
                    ExportOptions options = {}) {
  options.format = format;
  const bool folder = fs::is_directory(source);
  return tableexport::ExportTables(
      folder ? tableexport::TablesOfFolder(source) : std::vector<std::string>{source}, folder, out,
      options);
}

std::unique_ptr<ParadoxTable> Open(const std::string& path) {
  std::unique_ptr<ParadoxTable> table;
  OpenOptions options;
  options.lock = false;
  options.passwords = {"secret"};
  EXPECT_TRUE(ParadoxTable::Open(path, options, &table).ok()) << path;
  return table;
}

// Every record of the table, each value in the dump's JSON form.
Rows DumpRows(const ParadoxTable& table) {
  Rows rows;
  TableCursor cursor = table.NewCursor();
  while (cursor.Next()) {
    rows.emplace_back();
    for (std::size_t i = 0; i < table.Fields().size(); ++i) {
      std::string json;
      EXPECT_TRUE(
          ValueJson(table, static_cast<int>(i), cursor.Value(static_cast<int>(i)), &json).ok());
      rows.back().push_back(json);
    }
  }
  EXPECT_TRUE(cursor.status().ok());
  return rows;
}

Rows CsvRows(const ParadoxTable& table, const std::string& csv_path) {
  Rows cells = ParseCsv(enginetest::ReadAll(csv_path));
  EXPECT_FALSE(cells.empty()) << csv_path;
  if (cells.empty()) return {};
  cells.erase(cells.begin());  // the field names
  const std::string dir = fs::path(csv_path).parent_path().string();
  for (auto& row : cells) {
    for (std::size_t i = 0; i < row.size() && i < table.Fields().size(); ++i) {
      row[i] = CsvCellJson(table, table.Fields()[i], row[i], dir);
    }
  }
  return cells;
}

Rows SqliteRows(const ParadoxTable& table, sqlite3* db) {
  Rows rows;
  sqlite3_stmt* q = nullptr;
  const std::string sql = "SELECT * FROM \"" + Stem(table.Path()) + "\" ORDER BY rowid";
  EXPECT_EQ(sqlite3_prepare_v2(db, sql.c_str(), -1, &q, nullptr), SQLITE_OK) << sql;
  while (q && sqlite3_step(q) == SQLITE_ROW) {
    rows.emplace_back();
    for (int i = 0; i < sqlite3_column_count(q); ++i) {
      rows.back().push_back(SqliteCellJson(table, table.Fields()[i], q, i));
    }
  }
  sqlite3_finalize(q);
  return rows;
}

// Blanks and empty text are one in CSV.
Rows BlanksAsNull(Rows rows) {
  for (auto& row : rows) {
    for (auto& v : row) {
      if (v == "\"\"") v = "null";
    }
  }
  return rows;
}

class SampleFolder : public ::testing::TestWithParam<const char*> {};

TEST_P(SampleFolder, EveryValueSurvivesCsvAndSqlite) {
  const std::string source = std::string(VARDEX_SAMPLES_DIR) + "/" + GetParam();
  if (!fs::is_directory(source)) GTEST_SKIP() << "no sample set at " << source;
  TempDir out;
  const ExportReport csv = Export(source, out / "csv", ExportFormat::Csv);
  const ExportReport sql = Export(source, out / "db.sqlite", ExportFormat::Sqlite);
  ASSERT_TRUE(csv.status.ok()) << csv.status.ToString();
  ASSERT_TRUE(sql.status.ok()) << sql.status.ToString();
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open_v2((out / "db.sqlite").c_str(), &db, SQLITE_OPEN_READONLY, nullptr),
            SQLITE_OK);
  for (std::size_t t = 0; t < sql.tables.size(); ++t) {
    const std::string& path = sql.tables[t].path;
    EXPECT_TRUE(sql.tables[t].status.ok()) << path << ": " << sql.tables[t].status.ToString();
    EXPECT_TRUE(csv.tables[t].status.ok()) << path << ": " << csv.tables[t].status.ToString();
    if (!sql.tables[t].status.ok() || !csv.tables[t].status.ok()) continue;
    auto table = Open(path);
    const Rows expected = DumpRows(*table);
    EXPECT_EQ(SqliteRows(*table, db), expected) << path;
    EXPECT_EQ(BlanksAsNull(CsvRows(*table, out / "csv/" + Stem(path) + ".csv")),
              BlanksAsNull(expected))
        << path;
  }
  sqlite3_close(db);
  EXPECT_EQ(Sqlite3Cli(out / "db.sqlite", "PRAGMA integrity_check"), "ok\n");
}

INSTANTIATE_TEST_SUITE_P(Samples, SampleFolder,
                         ::testing::Values("areas", "db", "fields", "geog", "joins", "mtdemo"));

// Every field type, blobs of every size, one blank record in seven.
void MakeEveryTypeTable(const std::string& path, int records, const std::string& password = "") {
  TableDefinition def = enginetest::EveryTypeDefinition();
  def.key_fields = 1;
  def.password = password;
  ASSERT_TRUE(CreateTable(Env::Default(), path, def).ok());
  std::unique_ptr<TableWriter> w;
  ASSERT_TRUE(TableWriter::Open(Env::Default(), path, PasswordKey(password), &w).ok());
  for (int r = 0; r < records; ++r) ASSERT_TRUE(w->Append(enginetest::EveryTypeRecord(r)).ok());
  ASSERT_TRUE(w->Sync().ok());
}

TEST(Export, DamagedTableIsLeftOutAndTheOthersGoOn) {
  TempDir dir;
  fs::create_directory(dir / "db");
  MakeEveryTypeTable(dir / "db/AGOOD.DB", 30);
  MakeEveryTypeTable(dir / "db/BROKEN.DB", 30);
  MakeEveryTypeTable(dir / "db/CGOOD.DB", 30);
  // A blob block cut off: the damage shows only once the records are read.
  const std::string mb = enginetest::ReadAll(dir / "db/BROKEN.MB");
  fs::resize_file(dir / "db/BROKEN.MB", mb.size() / 2);
  for (ExportFormat format : {ExportFormat::Sqlite, ExportFormat::Csv, ExportFormat::Jsonl}) {
    const std::string out = dir / (std::string("out.") + tableexport::FormatExtension(format));
    const ExportReport r = Export(dir / "db", out, format);
    ASSERT_TRUE(r.status.ok()) << r.status.ToString();
    ASSERT_EQ(r.tables.size(), 3u);
    EXPECT_EQ(r.Skipped(), 1u);
    EXPECT_EQ(r.tables[1].status.category(), ERRCAT_DATACORRUPT) << r.tables[1].status.ToString();
    EXPECT_EQ(r.tables[0].records, 30u);
    EXPECT_EQ(r.tables[2].records, 30u);
    if (format == ExportFormat::Sqlite) {
      EXPECT_EQ(Sqlite3Cli(out, "SELECT name FROM sqlite_master WHERE type='table' ORDER BY 1"),
                "AGOOD\nCGOOD\n_vardex_checks\n");
      EXPECT_EQ(Sqlite3Cli(out, "SELECT count(*) FROM CGOOD"), "30\n");
    } else {
      std::set<std::string> names;
      for (const auto& e : fs::directory_iterator(out)) names.insert(e.path().filename());
      const std::string ext = tableexport::FormatExtension(format);
      std::set<std::string> want = {"AGOOD." + ext, "CGOOD." + ext};
      if (format == ExportFormat::Csv) want.insert({"AGOOD.blobs", "CGOOD.blobs"});
      EXPECT_EQ(names, want);
    }
  }
}

// Keys, secondary indexes, links and checks of the sample set with links.
TEST(Export, KeysIndexesAndLinksBecomeSchema) {
  const std::string source = std::string(VARDEX_TEST_DATA_DIR) + "/paradox-joins";
  TempDir out;
  const std::string db = out / "joins.sqlite";
  ASSERT_TRUE(Export(source, db, ExportFormat::Sqlite).status.ok());
  EXPECT_EQ(Sqlite3Cli(db, "SELECT name FROM pragma_table_info('two') WHERE pk > 0"), "ID1\nID2\n");
  EXPECT_EQ(Sqlite3Cli(db, "SELECT name, origin FROM pragma_index_list('C') ORDER BY 1"),
            "C.A|c\nC.B|c\nsqlite_autoindex_C_1|pk\n");
  EXPECT_EQ(Sqlite3Cli(db, "SELECT name FROM pragma_index_info('indexed.Descending')"),
            "Indexed\n");
  const std::string links =
      "SELECT \\\"table\\\", \\\"from\\\", \\\"to\\\", on_update, on_delete FROM "
      "pragma_foreign_key_list('";
  EXPECT_EQ(Sqlite3Cli(db, links + "fk1')"), "primary|FK|ID|CASCADE|RESTRICT\n");
  EXPECT_EQ(Sqlite3Cli(db, links + "fk2')"), "primary|FK|ID|RESTRICT|RESTRICT\n");
  EXPECT_EQ(Sqlite3Cli(db, links + "fk4') ORDER BY seq"),
            "two|FK1|ID1|CASCADE|RESTRICT\ntwo|FK|ID2|CASCADE|RESTRICT\n");
  // A required field is a CHECK that holds for what is written later on.
  EXPECT_NE(Sqlite3Cli(db, "INSERT INTO C (C, B) VALUES (99, 1)").find("CHECK constraint failed"),
            std::string::npos);
  EXPECT_EQ(Sqlite3Cli(db, "SELECT * FROM _vardex_checks ORDER BY 1, 2, 3"),
            "joinb|Id|lookup|joina.db|just the current field, help\n"
            "multiple|A|picture|[(*3{#}) ]*3{#}-*4{#}|\n"
            "origin|FK|lookup|destination.db|just the current field, help\n");
}

TEST(Export, CodePageTextArrivesAsUtf8) {
  const struct {
    int code_page;
    const char* text;
  } cases[] = {{437,
                "Gr\xC3\xB6\xC3\x9F"
                "e \xC3\xA9l\xC3\xA8ve \xE2\x95\x94"},
               {850, "\xC3\x86r\xC3\xB8 caf\xC3\xA9 \xC3\x98"},
               {866, "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82 \xD0\x81\xD0\xB6"},
               {1252, "na\xC3\xAFve \xE2\x82\xAC \xC5\x93uvre"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.code_page);
    TempDir dir;
    TableDefinition def;
    def.fields = {enginetest::Field("Name", FieldType::Alpha, 40),
                  enginetest::Field("Note", FieldType::Memo, 20)};
    def.code_page = c.code_page;
    const std::string path = dir / "TEXT.DB";
    ASSERT_TRUE(CreateTable(Env::Default(), path, def).ok());
    std::string stored;
    ASSERT_TRUE(FromUtf8(c.text, c.code_page, &stored));
    ASSERT_NE(stored, c.text);
    std::unique_ptr<TableWriter> w;
    ASSERT_TRUE(TableWriter::Open(Env::Default(), path, 0, &w).ok());
    ASSERT_TRUE(w->Append({FieldValue::Str(stored), FieldValue::Str(stored + " " + stored)}).ok());
    ASSERT_TRUE(w->Sync().ok());
    w.reset();
    ASSERT_TRUE(Export(path, dir / "t.csv", ExportFormat::Csv).status.ok());
    ASSERT_TRUE(Export(path, dir / "t.sqlite", ExportFormat::Sqlite).status.ok());
    const std::string text = c.text;
    EXPECT_EQ(ParseCsv(enginetest::ReadAll(dir / "t.csv")),
              (Rows{{"Name", "Note"}, {text, text + " " + text}}));
    EXPECT_EQ(Sqlite3Cli(dir / "t.sqlite", "SELECT Name, Note FROM TEXT"),
              text + "|" + text + " " + text + "\n");
  }
}

TEST(Export, NothingIsHalfWrittenOrReplacedUnasked) {
  TempDir dir;
  fs::create_directory(dir / "db");
  MakeEveryTypeTable(dir / "db/LOCKED.DB", 20, "secret");
  MakeEveryTypeTable(dir / "db/OPEN.DB", 20);
  const std::string out = dir / "out.sqlite";
  WriteFile(out, "precious");
  // An existing output stays as it is without --force.
  ExportReport r = Export(dir / "db", out, ExportFormat::Sqlite);
  EXPECT_FALSE(r.status.ok());
  EXPECT_EQ(enginetest::ReadAll(out), "precious");
  // A cancel writes nothing, whenever it comes.
  ExportOptions cancel;
  cancel.force = true;
  cancel.progress = [](const tableexport::ExportProgress& p) { return p.table == 0; };
  r = Export(dir / "db", out, ExportFormat::Sqlite, cancel);
  EXPECT_TRUE(r.cancelled);
  EXPECT_EQ(enginetest::ReadAll(out), "precious");
  // The protected table is left out without its password, exported with it.
  ExportOptions force;
  force.force = true;
  r = Export(dir / "db", out, ExportFormat::Sqlite, force);
  ASSERT_TRUE(r.status.ok());
  EXPECT_EQ(r.tables[0].status.category(), ERRCAT_SECURITY) << r.tables[0].status.ToString();
  force.passwords = {"secret"};
  r = Export(dir / "db", out, ExportFormat::Sqlite, force);
  EXPECT_EQ(r.Skipped(), 0u);
  EXPECT_EQ(Sqlite3Cli(out, "SELECT count(*) FROM LOCKED"), "20\n");
  // No temporary file is left beside the outputs.
  std::set<std::string> names;
  for (const auto& e : fs::directory_iterator(dir.Dir())) names.insert(e.path().filename());
  EXPECT_EQ(names, (std::set<std::string>{"db", "out.sqlite"}));
}

}  // namespace
