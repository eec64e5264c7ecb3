#include "svLog.h"

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "LogTestSupport.h"
#include "ParadoxTable.h"
#include "TableLock.h"

namespace {

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

class OpenLogTest : public LogFolderTest {};

TEST_F(OpenLogTest, CreatesAnEmptyLogWithTheFourFields) {
  ASSERT_TRUE(OpenLog());
  EXPECT_EQ(LogSetAsidePath(), "");
  CloseLog();
  engine::OpenOptions options;
  std::unique_ptr<engine::ParadoxTable> table;
  ASSERT_TRUE(engine::ParadoxTable::Open(LogPath(), options, &table).ok());
  ASSERT_EQ(table->Fields().size(), 4u);
  const char* names[] = {"Alias", "Tool", "Result", "Moment"};
  const engine::FieldType types[] = {engine::FieldType::Alpha, engine::FieldType::Alpha,
                                     engine::FieldType::Alpha, engine::FieldType::Timestamp};
  const int sizes[] = {40, 1, 1, 8};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(table->Fields()[i].name, names[i]);
    EXPECT_EQ(table->Fields()[i].type, types[i]);
    EXPECT_EQ(table->Fields()[i].size, sizes[i]);
  }
  EXPECT_EQ(table->RecordCount(), 0u);
  EXPECT_FALSE(table->Keyed());
}

TEST_F(OpenLogTest, KeepsRecordsFromOneRunToTheNext) {
  ASSERT_TRUE(OpenLog());
  ASSERT_TRUE(AddAt(Moment(2026, 12, 1, 8), "sales", ttPack, trSuccess));
  ASSERT_TRUE(AddAt(Moment(2026, 12, 2, 8), "sales", ttPack, trError));
  CloseLog();
  ASSERT_TRUE(OpenLog());
  EXPECT_EQ(LogSetAsidePath(), "");
  EXPECT_EQ(Count("SALES", ttPack, Moment(2026, 12, 1), Moment(2026, 12, 3)), "2");
  SelectLogResult("SALES", ttPack, "MAX(Moment)", trSuccess);
  EXPECT_NEAR(LogQueryField(0).AsDateTime(), Moment(2026, 12, 1, 8), kMs);
  CloseLogQuery();
}

TEST_F(OpenLogTest, DamagedLogIsKeptAsideAndReplaced) {
  const std::string garbage = "this is no Paradox table, just bytes left by a crash";
  dir_.Write(kLogTableName, garbage);
  dir_.Write("VdxLog.PX", "stale index");
  ASSERT_TRUE(OpenLog());
  const std::string aside = LogSetAsidePath();
  ASSERT_NE(aside, "");
  EXPECT_EQ(ReadAll(aside), garbage);
  EXPECT_EQ(ReadAll(aside.substr(0, aside.size() - 3) + ".PX"), "stale index");
  EXPECT_FALSE(dir_.Exists("VdxLog.PX"));
  EXPECT_TRUE(AddAt(Moment(2026, 12, 1, 9), "SALES", ttCopy, trSuccess));
  EXPECT_EQ(Count("SALES", ttCopy, Moment(2026, 12, 1), Moment(2026, 12, 2)), "1");

  // A second damaged log in the same second never overwrites the first copy.
  CloseLog();
  dir_.Write(kLogTableName, "damaged again");
  ASSERT_TRUE(OpenLog());
  ASSERT_NE(LogSetAsidePath(), aside);
  EXPECT_EQ(ReadAll(LogSetAsidePath()), "damaged again");
  EXPECT_EQ(ReadAll(aside), garbage);
}

TEST_F(OpenLogTest, LogWithBrokenBlocksOrOtherFieldsIsReplaced) {
  ASSERT_TRUE(OpenLog());
  for (int i = 0; i < 100; ++i) ASSERT_TRUE(AddAt(Moment(2026, 11, 1) + i, "A", ttPack, trSuccess));
  CloseLog();
  std::filesystem::resize_file(LogPath(), 2048 + 4096 + 100);  // cut inside the second block
  ASSERT_TRUE(OpenLog());
  EXPECT_NE(LogSetAsidePath(), "");
  EXPECT_EQ(Count("A", ttPack, Moment(2026, 1, 1), Moment(2026, 12, 31)), "0");
  CloseLog();

  // A sound Paradox table that is not a log: its fields are other ones.
  std::string other = ReadAll(LogPath());
  const std::size_t at = other.find("Moment");
  ASSERT_NE(at, std::string::npos);
  other.replace(at, 6, "Remark");
  std::ofstream(LogPath(), std::ios::binary | std::ios::trunc) << other;
  ASSERT_TRUE(OpenLog());
  EXPECT_NE(LogSetAsidePath(), "");
}

TEST_F(OpenLogTest, LogHeldByAnotherProgramOrReadOnlyIsLeftAlone) {
  ASSERT_TRUE(OpenLog());
  ASSERT_TRUE(AddAt(Moment(2026, 12, 1, 8), "SALES", ttPack, trSuccess));
  CloseLog();
  const std::string before = ReadAll(LogPath());
  engine::TableLock other;
  ASSERT_TRUE(other.Acquire(LogPath(), true).ok());
  EXPECT_FALSE(OpenLog());
  EXPECT_EQ(LogSetAsidePath(), "");
  EXPECT_EQ(ReadAll(LogPath()), before);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_.Path()), {}), 1);
  other.Release();

  ::chmod(LogPath().c_str(), 0444);  // read-only: the engine could not overwrite it either
  EXPECT_FALSE(OpenLog());
  EXPECT_EQ(ReadAll(LogPath()), before);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_.Path()), {}), 1);
}

TEST_F(OpenLogTest, StaysLockedAgainstOtherProgramsAlsoAfterADeletion) {
  ASSERT_TRUE(OpenLog());
  EXPECT_TRUE(engine::IsLockedByOther(LogPath()));
  ASSERT_TRUE(AddAt(now_ + 1, "SALES", ttPack, trSuccess));
  PurgeFutureEntries("SALES", ttPack);  // rewrites the file
  EXPECT_TRUE(engine::IsLockedByOther(LogPath()));
  CloseLog();
  EXPECT_FALSE(engine::IsLockedByOther(LogPath()));
}

TEST_F(OpenLogTest, FolderThatCannotHoldTheLogFails) {
  ::setenv("VARDEX_HOME", (dir_ / "missing/deeper").c_str(), 1);
  EXPECT_FALSE(OpenLog());
  EXPECT_FALSE(AddLogEntry("SALES", ttPack, trSuccess));
}

class AddLogEntryTest : public LogFolderTest {
 protected:
  void SetUp() override {
    LogFolderTest::SetUp();
    ASSERT_TRUE(OpenLog());
  }
};

TEST_F(AddLogEntryTest, StoresUpperCasedAliasLettersAndTheMoment) {
  const double at = Moment(2026, 12, 7, 10, 0, 0, 400);
  ASSERT_TRUE(AddAt(at, "Sales_db", ttRestore, trCorrupted));
  CloseLog();
  engine::OpenOptions options;
  std::unique_ptr<engine::ParadoxTable> table;
  ASSERT_TRUE(engine::ParadoxTable::Open(LogPath(), options, &table).ok());
  engine::TableCursor cur = table->NewCursor();
  ASSERT_TRUE(cur.Next());
  EXPECT_EQ(cur.Value(0).s, "SALES_DB");
  EXPECT_EQ(cur.Value(1).s, "T");
  EXPECT_EQ(cur.Value(2).s, "X");
  EXPECT_NEAR(engine::ToDateTime(table->Fields()[3], cur.Value(3)), at, 1e-9);
}

TEST_F(AddLogEntryTest, RefusesWhatCannotBeStored) {
  EXPECT_FALSE(AddLogEntry("SALES", ttPack, trNotYet));
  EXPECT_FALSE(AddLogEntry("SALES", static_cast<TToolType>(9), trSuccess));
  CloseLog();
  EXPECT_FALSE(AddLogEntry("SALES", ttPack, trSuccess));
  ASSERT_TRUE(OpenLog());
  EXPECT_EQ(Count("SALES", ttPack, Moment(2000, 1, 1), Moment(2100, 1, 1)), "0");
}

TEST_F(AddLogEntryTest, NamesLongerThanTheFieldOrWithQuotesAreStillFound) {
  const std::string longName(55, 'q');
  ASSERT_TRUE(AddAt(Moment(2026, 12, 1, 9), longName, ttUpdate, trSuccess));
  ASSERT_TRUE(AddAt(Moment(2026, 12, 1, 9), "say \"cheese\"", ttUpdate, trSuccess));
  EXPECT_EQ(Count(longName, ttUpdate, Moment(2026, 12, 1), Moment(2026, 12, 2)), "1");
  EXPECT_EQ(Count("SAY \"CHEESE\"", ttUpdate, Moment(2026, 12, 1), Moment(2026, 12, 2)), "1");
}

TEST_F(AddLogEntryTest, ManyRecordsSpanBlocksAndReadBackInOrder) {
  for (int i = 0; i < 250; ++i)
    ASSERT_TRUE(
        AddAt(Moment(2026, 1, 1) + i / 1000.0, "DB" + std::to_string(i % 3), ttCopy, trSuccess));
  CloseLog();
  engine::OpenOptions options;
  std::unique_ptr<engine::ParadoxTable> table;
  ASSERT_TRUE(engine::ParadoxTable::Open(LogPath(), options, &table).ok());
  ASSERT_EQ(table->RecordCount(), 250u);
  engine::TableCursor cur = table->NewCursor();
  for (int i = 0; i < 250; ++i) {
    ASSERT_TRUE(cur.Next()) << i;
    EXPECT_EQ(cur.Value(0).s, "DB" + std::to_string(i % 3));
    EXPECT_NEAR(engine::ToDateTime(table->Fields()[3], cur.Value(3)),
                Moment(2026, 1, 1) + i / 1000.0, 1e-8);
  }
  EXPECT_FALSE(cur.Next());
  EXPECT_TRUE(cur.status().ok());
  table.reset();  // it holds a shared lock
  ASSERT_TRUE(OpenLog());
  EXPECT_EQ(Count("db1", ttCopy, Moment(2026, 1, 1), Moment(2026, 1, 2)), "83");
}

}  // namespace
