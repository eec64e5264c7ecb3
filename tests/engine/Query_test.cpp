// TQuery as the tool log drives it: SQL line by line, date-time parameters,
// field 0 read as text or date-time, DELETE of a time window, and the
// errors it raises.
#include "Query.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <clocale>
#include <filesystem>

#include "FaultInjectionEnv.h"
#include "ParadoxTable.h"
#include "TableLock.h"
#include "TableWriter.h"
#include "TempDir.h"

using namespace engine;

namespace {

// An in-memory log table reached through the query's table opener.
class MemoryTable : public SqlTable {
 public:
  struct Row {
    std::string alias, tool, result;
    double moment;
  };
  explicit MemoryTable(std::vector<Row>* rows) : rows_(rows) {}
  std::vector<std::string> Columns() const override {
    return {"Alias", "Tool", "Result", "Moment"};
  }
  std::size_t RowCount() const override { return rows_->size(); }
  SqlValue Value(std::size_t r, std::size_t c) const override {
    const Row& row = (*rows_)[r];
    switch (c) {
      case 0:
        return SqlValue::Text(row.alias);
      case 1:
        return SqlValue::Text(row.tool);
      case 2:
        return SqlValue::Text(row.result);
      default:
        return SqlValue::DateTime(row.moment);
    }
  }
  Status DeleteRows(const std::vector<std::size_t>& rows) override {
    if (failDelete) return Status::IOError("disk full");
    std::vector<bool> gone(rows_->size(), false);
    for (std::size_t r : rows) gone[r] = true;
    std::vector<Row> kept;
    for (std::size_t r = 0; r < rows_->size(); ++r)
      if (!gone[r]) kept.push_back((*rows_)[r]);
    rows_->swap(kept);
    return Status::OK();
  }
  static inline bool failDelete = false;

 private:
  std::vector<Row>* rows_;
};

class QueryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TQuery::SetTableOpener([this](const std::string& dir, const std::string& file, bool,
                                  std::unique_ptr<SqlTable>* table) {
      if (dir != "/prog/" || file != "VdxLog.db") return Status::NotFound("no table " + file);
      *table = std::make_unique<MemoryTable>(&log);
      return Status::OK();
    });
    query.DatabaseName = "/prog/";
    MemoryTable::failDelete = false;
  }
  void TearDown() override { TQuery::SetTableOpener(nullptr); }

  void Ask(const std::string& column, const std::string& alias, char tool) {
    query.Close();
    query.SQL = {"SELECT",
                 column,
                 "FROM",
                 "\"VdxLog.db\"",
                 "WHERE Alias = \"" + alias + "\"",
                 std::string("AND Tool = \"") + tool + "\""};
  }

  std::vector<MemoryTable::Row> log;
  TQuery query;
};

}  // namespace

TEST_F(QueryTest, AnswersTheLogQuestions) {
  log = {{"SALES", "U", "S", 45000.25},
         {"SALES", "U", "E", 45001.5},
         {"SALES", "P", "S", 45002},
         {"STOCK", "U", "S", 45003}};
  Ask("MAX(Moment)", "SALES", 'U');
  query.SQL.push_back("AND Result = \"S\"");
  query.Open();
  EXPECT_DOUBLE_EQ(query.Fields(0).AsDateTime(), 45000.25);

  Ask("COUNT(Alias)", "SALES", 'U');
  query.SQL.push_back("AND Moment > :StartDate");
  query.SQL.push_back("AND Moment < :EndDate");
  query.ParamByName("StartDate").SetAsDateTime(45000);
  query.ParamByName("EndDate").SetAsDateTime(45002);
  query.Open();
  EXPECT_EQ(query.Fields(0).AsString(), "2");

  Ask("Result", "SALES", 'U');
  query.SQL.push_back("AND Moment > :StartDate");
  query.SQL.push_back("AND Moment < :EndDate");
  query.ParamByName("StartDate").SetAsDateTime(45001);
  query.ParamByName("EndDate").SetAsDateTime(45002);
  query.Open();
  EXPECT_EQ(query.Fields(0).AsString(), "E");
  query.Close();
  EXPECT_FALSE(query.Active());
}

TEST_F(QueryTest, EmptyAnswers) {
  Ask("MAX(Moment)", "NONE", 'U');
  query.Open();
  EXPECT_TRUE(query.Fields(0).IsNull());
  EXPECT_EQ(query.Fields(0).AsString(), "");
  EXPECT_EQ(query.Fields(0).AsDateTime(), 0);
  Ask("COUNT(Alias)", "NONE", 'U');
  query.Open();
  EXPECT_EQ(query.Fields(0).AsString(), "0");
  Ask("Result", "NONE", 'U');
  query.Open();
  EXPECT_TRUE(query.IsEmpty());
  EXPECT_EQ(query.Fields(0).AsString(), "");
}

TEST_F(QueryTest, DeletesATimeWindowOnly) {
  log = {{"SALES", "U", "S", 100},
         {"SALES", "U", "S", 101},
         {"SALES", "P", "S", 101},
         {"SALES", "U", "S", 102}};
  query.SQL = {"DELETE FROM \"VdxLog.db\"", "WHERE Alias = \"SALES\"", "AND Tool = \"U\"",
               "AND Moment > :StartDate AND Moment < :EndDate"};
  query.ParamByName("StartDate").SetAsDateTime(100.5);
  query.ParamByName("EndDate").SetAsDateTime(101.5);
  query.ExecSQL();
  EXPECT_EQ(query.RowsAffected(), 1);
  ASSERT_EQ(log.size(), 3u);
  EXPECT_EQ(log[1].tool, "P");

  MemoryTable::failDelete = true;
  query.ParamByName("StartDate").SetAsDateTime(0);
  query.ParamByName("EndDate").SetAsDateTime(1000);
  EXPECT_THROW(query.ExecSQL(), EDBEngineError);
  EXPECT_EQ(log.size(), 3u);
}

TEST_F(QueryTest, RaisesEngineErrors) {
  query.SQL = {"UPDATE \"VdxLog.db\" SET Tool = 'U'"};
  try {
    query.Open();
    FAIL() << "UPDATE ran";
  } catch (const EDBEngineError& e) {
    EXPECT_EQ(ErrCat(e.ErrorCode()), ERRCAT_QUERY);
  }
  Ask("Result", "SALES", 'U');
  query.SQL.push_back("AND Moment > :StartDate");
  EXPECT_THROW(query.ParamByName("Other"), EDatabaseError);
  try {
    query.Open();  // StartDate never set
    FAIL() << "ran without a parameter value";
  } catch (const EDBEngineError& e) {
    EXPECT_EQ(e.ErrorCode(), DBIERR_QRYPARAM);
  }
  query.DatabaseName = "/elsewhere/";
  Ask("Result", "SALES", 'U');
  EXPECT_THROW(query.Open(), EDBEngineError);
  EXPECT_THROW(query.Fields(0), EDatabaseError);  // not open
}

TEST_F(QueryTest, DateTimeText) {
  std::setlocale(LC_TIME, "C");
  // 45000.75 is 2023-03-15 18:00:00.
  EXPECT_EQ(TQuery::DefaultDateTimeText(45000.75), "03/15/23 18:00:00");
  EXPECT_EQ(TQuery::DefaultDateTimeText(2.0 - 1.0 / 86400 / 4), "01/01/00 00:00:00");
  log = {{"SALES", "U", "S", 45000.75}};
  TQuery::SetDateTimeFormatter([](double d) { return "day " + std::to_string(int(d)); });
  Ask("MAX(Moment)", "SALES", 'U');
  query.Open();
  EXPECT_EQ(query.Fields(0).AsString(), "day 45000");
  TQuery::SetDateTimeFormatter(&TQuery::DefaultDateTimeText);
}

TEST_F(QueryTest, HundredThousandRecords) {
  for (int i = 0; i < 100000; ++i)
    log.push_back({i % 3 ? "SALES" : "STOCK", i % 2 ? "U" : "P", i % 5 ? "S" : "E", 40000.0 + i});
  Ask("COUNT(Alias)", "SALES", 'U');
  query.Open();
  EXPECT_EQ(query.Fields(0).AsString(), "33333");  // odd i not divisible by 3
  Ask("MAX(Moment)", "STOCK", 'P');
  query.SQL.push_back("AND Result = \"S\"");
  query.Open();
  EXPECT_DOUBLE_EQ(query.Fields(0).AsDateTime(), 40000 + 99996);  // 99996: even, %3, not %5
  query.Close();
  query.SQL = {"DELETE FROM \"VdxLog.db\"", "WHERE Alias = \"STOCK\"", "AND Tool = \"P\"",
               "AND Moment > :StartDate AND Moment < :EndDate"};
  query.ParamByName("StartDate").SetAsDateTime(40000 + 50000 - 0.5);
  query.ParamByName("EndDate").SetAsDateTime(40000 + 100000);
  query.ExecSQL();
  EXPECT_EQ(query.RowsAffected(), 8333);  // i in 50004..99996 with i % 6 == 0
  EXPECT_EQ(log.size(), 100000u - 8333u);
}

namespace {

// A log table on disk, written through the engine's own table writer.
class LogFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path = dir / "VdxLog.db";
    TableDefinition def;
    def.fields = {{"Alias", FieldType::Alpha, 40, 0, 0},
                  {"Tool", FieldType::Alpha, 1, 0, 0},
                  {"Result", FieldType::Alpha, 1, 0, 0},
                  {"Moment", FieldType::Timestamp, 8, 0, 0}};
    ASSERT_TRUE(CreateTable(Env::Default(), path, def).ok());
  }

  void Write(int n) {
    std::unique_ptr<TableWriter> w;
    ASSERT_TRUE(TableWriter::Open(Env::Default(), path, 0, &w).ok());
    FieldDesc moment{"Moment", FieldType::Timestamp, 8, 0, 0};
    for (int i = 0; i < n; ++i) {
      std::vector<FieldValue> row = {
          FieldValue::Str(i % 3 ? "SALES" : "STOCK"), FieldValue::Str(i % 2 ? "U" : "P"),
          FieldValue::Str(i % 5 ? "S" : "E"), FromDateTime(moment, 40000 + i / 100.0)};
      ASSERT_TRUE(w->Append(row).ok());
    }
    ASSERT_TRUE(w->Sync().ok());
  }

  std::string Ask(const std::string& column, const std::string& alias, const char* tool,
                  std::vector<std::string> more = {}) {
    TQuery q;
    q.DatabaseName = dir.Path();
    q.SQL = {"SELECT",
             column,
             "FROM",
             "\"VdxLog.db\"",
             "WHERE Alias = \"" + alias + "\"",
             std::string("AND Tool = \"") + tool + "\""};
    for (const std::string& line : more) q.SQL.push_back(line);
    q.Open();
    std::string text = q.Fields(0).AsString();
    q.Close();
    return text;
  }

  TempDir dir;
  std::string path;
};

}  // namespace

TEST_F(LogFileTest, AnswersAndDeletesOnAHundredThousandRecords) {
  Write(100000);
  EXPECT_EQ(Ask("COUNT(Alias)", "SALES", "U"), "33333");
  EXPECT_EQ(Ask("COUNT(Alias)", "STOCK", "P", {"AND Result = \"S\""}), "13333");
  {
    TQuery q;
    q.DatabaseName = dir.Dir();
    q.SQL = {"SELECT MAX(Moment) FROM \"VdxLog.db\" WHERE Alias = \"STOCK\" AND Tool = \"P\""};
    q.Open();
    EXPECT_NEAR(q.Fields(0).AsDateTime(), 40000 + 99996 / 100.0, 1e-6);
  }
  TQuery del;
  del.DatabaseName = dir.Dir();
  del.SQL = {"DELETE FROM \"VdxLog.db\"", "WHERE Alias = \"STOCK\"", "AND Tool = \"P\"",
             "AND Moment > :StartDate AND Moment < :EndDate"};
  del.ParamByName("StartDate").SetAsDateTime(40000 + 500 - 0.001);
  del.ParamByName("EndDate").SetAsDateTime(40000 + 1000);
  del.ExecSQL();
  EXPECT_EQ(del.RowsAffected(), 8333);  // i in 50004..99996 with i % 6 == 0
  std::unique_ptr<ParadoxTable> t;
  OpenOptions options;
  ASSERT_TRUE(ParadoxTable::Open(path, options, &t).ok());
  EXPECT_EQ(t->RecordCount(), 100000u - 8333u);
  t.reset();
  EXPECT_EQ(Ask("COUNT(Alias)", "STOCK", "P"), std::to_string(16667 - 8333));
  EXPECT_EQ(Ask("COUNT(Alias)", "SALES", "U"), "33333");
  EXPECT_FALSE(std::filesystem::exists(dir / ("_vdxdel_" + std::to_string(::getpid()) + ".DB")));
}

TEST_F(LogFileTest, DeleteIsRefusedWhileTheTableIsHeld) {
  Write(10);
  TableLock held;
  ASSERT_TRUE(held.Acquire(path, false).ok());
  TQuery del;
  del.DatabaseName = dir.Dir();
  del.SQL = {"DELETE FROM \"VdxLog.db\" WHERE Tool = \"U\""};
  try {
    del.ExecSQL();
    FAIL() << "deleted under another open";
  } catch (const EDBEngineError& e) {
    EXPECT_EQ(ErrCat(e.ErrorCode()), ERRCAT_LOCKCONFLICT);
  }
  // Reading is not refused, and nothing was lost.
  EXPECT_EQ(Ask("COUNT(Alias)", "SALES", "U"), "3");  // i = 1, 5 and 7
}

TEST_F(LogFileTest, AFailedDeleteLeavesTheTableWhole) {
  Write(3000);
  std::string before;
  ASSERT_TRUE(ReadWholeFile(Env::Default(), path, &before).ok());
  FaultInjectionEnv failing(Env::Default());
  TQuery::SetEnv(&failing);
  TQuery del;
  del.DatabaseName = dir.Dir();
  del.SQL = {"DELETE FROM \"VdxLog.db\" WHERE Tool = \"U\""};
  // The disk fills at every point of the rewrite in turn, then the rename fails.
  for (std::int64_t budget : {0, 100, 2048, 4096, 30000}) {
    failing.FailWritesAfter(budget);
    EXPECT_THROW(del.ExecSQL(), EDBEngineError) << budget;
  }
  failing.FailWritesAfter(-1);
  failing.FailRenames(true);
  EXPECT_THROW(del.ExecSQL(), EDBEngineError);
  TQuery::SetEnv(nullptr);
  std::string after;
  ASSERT_TRUE(ReadWholeFile(Env::Default(), path, &after).ok());
  EXPECT_TRUE(after == before);
  int files = 0;
  for (const auto& e : std::filesystem::directory_iterator(dir.Dir())) files += e.is_regular_file();
  EXPECT_EQ(files, 1) << "temporary files left behind";
  del.ExecSQL();
  EXPECT_EQ(del.RowsAffected(), 1500);
}
