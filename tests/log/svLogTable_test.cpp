#include "svLogTable.h"

#include <gtest/gtest.h>

#include "FaultInjectionEnv.h"
#include "FieldValue.h"
#include "LogTestSupport.h"
#include "PxlibReader.h"

namespace {

TLogRecord LogRun(const std::string& alias, double at) {
  TLogRecord r;
  r.Alias = alias;
  r.Tool = "P";
  r.Result = "S";
  r.Moment = at;
  r.HasMoment = true;
  return r;
}

class LogTableTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(Fresh(&table_)); }
  bool Fresh(TLogTable* table) {
    table->SetLocation(dir_.Path(), "VdxLog.db");
    return table->Create().ok() && table->Open().ok();
  }
  void Fill(TLogTable* table, int n) {
    for (int i = 0; i < n; ++i)
      ASSERT_TRUE(table->Insert(LogRun("DB" + std::to_string(i), base_ + i)).ok());
  }
  // What a fresh open finds in the file.
  std::vector<TLogRecord> Reread() {
    table_.Close();
    TLogTable again;
    again.SetLocation(dir_.Path(), "VdxLog.db");
    EXPECT_TRUE(again.Open().ok());
    return again.Records();
  }

  TempDir dir_;
  TLogTable table_;
  double base_ = Moment(2026, 6, 1, 12);
};

TEST_F(LogTableTest, FailedInsertLeavesTheFileAsItWas) {
  engine::FaultInjectionEnv faulty(engine::Env::Default());
  TLogTable table(&faulty);
  ASSERT_TRUE(Fresh(&table));
  // 81 records fill the first block exactly; then one more goes into the
  // last block's successor, and one after that into that block itself.
  const int per_block = 81;
  Fill(&table, per_block);
  for (int written : {0, 10, 60}) {  // fail inside the record, the block header, the file header
    faulty.FailWritesAfter(written);
    EXPECT_FALSE(table.Insert(LogRun("LOST", base_)).ok()) << written;
    faulty.FailWritesAfter(-1);
    EXPECT_EQ(table.Records().size(), static_cast<std::size_t>(per_block));
  }
  ASSERT_TRUE(table.Insert(LogRun("KEPT", base_)).ok());
  faulty.FailWritesAfter(0);
  EXPECT_FALSE(table.Insert(LogRun("LOST", base_)).ok());
  faulty.FailWritesAfter(-1);
  table.Close();
  const std::vector<TLogRecord> found = Reread();
  ASSERT_EQ(found.size(), static_cast<std::size_t>(per_block + 1));
  EXPECT_EQ(found.back().Alias, "KEPT");
  EXPECT_EQ(found[per_block - 1].Alias, "DB80");
}

TEST_F(LogTableTest, FailedDeletionKeepsRecordsFileAndLock) {
  engine::FaultInjectionEnv faulty(engine::Env::Default());
  TLogTable table(&faulty);
  ASSERT_TRUE(Fresh(&table));
  Fill(&table, 5);
  faulty.FailRenames(true);
  EXPECT_FALSE(table.Delete({1, 3}).ok());
  EXPECT_EQ(table.Records().size(), 5u);
  EXPECT_TRUE(table.Active());
  EXPECT_TRUE(engine::IsLockedByOther(dir_ / "VdxLog.db"));
  EXPECT_FALSE(dir_.Exists(engine::TempPathFor("VdxLog.db")));
  faulty.FailRenames(false);
  ASSERT_TRUE(table.Delete({1, 3}).ok());
  table.Close();
  const std::vector<TLogRecord> found = Reread();
  ASSERT_EQ(found.size(), 3u);
  EXPECT_EQ(found[0].Alias, "DB0");
  EXPECT_EQ(found[1].Alias, "DB2");
  EXPECT_EQ(found[2].Alias, "DB4");
}

TEST_F(LogTableTest, InsertsAfterADeletionContinueTheRewrittenFile) {
  Fill(&table_, 170);  // three blocks, the last one part full
  std::vector<std::size_t> drop;
  for (std::size_t i = 0; i < 170; i += 2) drop.push_back(i);
  ASSERT_TRUE(table_.Delete(drop).ok());
  ASSERT_TRUE(table_.Insert(LogRun("AFTER", base_)).ok());
  const std::vector<TLogRecord> found = Reread();
  ASSERT_EQ(found.size(), 86u);
  EXPECT_EQ(found[0].Alias, "DB1");
  EXPECT_EQ(found[84].Alias, "DB169");
  EXPECT_EQ(found[85].Alias, "AFTER");
}

TEST_F(LogTableTest, AnotherParadoxReaderReadsTheLog) {
  Fill(&table_, 120);
  TLogRecord blank;  // a record another program might leave: all blank
  ASSERT_TRUE(table_.Insert(blank).ok());
  table_.Close();
  const pxtest::PxTable px = pxtest::ReadWithPxlibIsolated(dir_ / "VdxLog.db", "");
  ASSERT_TRUE(px.ok) << px.error;
  ASSERT_EQ(px.rows.size(), 121u);
  const engine::FieldDesc moment = NewLogDefinition().fields[3];
  for (int i = 0; i < 120; ++i) {
    EXPECT_EQ(px.rows[i][0].s, "DB" + std::to_string(i));
    EXPECT_EQ(px.rows[i][1].s, "P");
    EXPECT_EQ(px.rows[i][2].s, "S");
    EXPECT_DOUBLE_EQ(px.rows[i][3].d, engine::FromDateTime(moment, base_ + i).d);
  }
  EXPECT_TRUE(px.rows[120][0].null);
  // pxlib reports a blank timestamp as null or as zero, depending on version.
  EXPECT_TRUE(px.rows[120][3].null || px.rows[120][3].d == 0);
  const std::vector<TLogRecord> found = Reread();
  EXPECT_FALSE(found.back().HasMoment);
  EXPECT_EQ(found.back().Alias, "");
}

}  // namespace
