// The journal that makes replacing a table's files one step: what a crash
// at each point of a commit leaves, and what the next open makes of it.
#include "Journal.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "RestructureChecks.h"
#include "TableLock.h"
#include "TestTables.h"

namespace {

using engine::FileSwap;

void Write(const std::string& path, const std::string& text) {
  ASSERT_TRUE(engine::WriteFileAtomically(engine::Env::Default(), path, text).ok());
}

std::string Read(const std::string& path) { return restructuretest::ReadFile(path); }

bool Exists(const std::string& path) { return std::filesystem::exists(path); }

TEST(JournalTest, OnlyAWholeJournalIsRead) {
  const std::vector<FileSwap> swaps = {{"/d/.T.DB.new~/T.DB", "/d/T.DB"}, {"", "/d/T.X02"}};
  const std::string text = engine::EncodeJournal(swaps);
  std::vector<FileSwap> back;
  ASSERT_TRUE(engine::DecodeJournal(text, &back));
  ASSERT_EQ(back.size(), 2u);
  EXPECT_EQ(back[0].staged, swaps[0].staged);
  EXPECT_EQ(back[1].target, "/d/T.X02");
  EXPECT_TRUE(back[1].staged.empty());
  EXPECT_FALSE(engine::DecodeJournal(text.substr(0, text.size() - 4), &back));  // no end line
  EXPECT_FALSE(engine::DecodeJournal("garbage\n", &back));
}

class JournalRecoveryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    db_ = tmp_ / "T.DB";
    staging_ = engine::RestructureStagingDir(db_);
    Write(db_, "old data");
    Write(tmp_ / "T.PX", "old index");
    Write(tmp_ / "T.X02", "old dropped index");
    ASSERT_TRUE(engine::PrepareStagingDir(engine::Env::Default(), staging_).ok());
    Write(staging_ + "/T.DB", "new data");
    Write(staging_ + "/T.PX", "new index");
    swaps_ = {{staging_ + "/T.DB", db_}, {staging_ + "/T.PX", tmp_ / "T.PX"}, {"", tmp_ / "T.X02"}};
  }
  TempDir tmp_;
  std::string db_, staging_;
  std::vector<FileSwap> swaps_;
};

TEST_F(JournalRecoveryTest, ACrashAfterTheJournalIsFinishedByTheNextOpen) {
  Write(engine::RestructureJournalPath(db_), engine::EncodeJournal(swaps_));
  // The crash came after the first rename: new data beside the old index.
  ASSERT_EQ(std::rename((staging_ + "/T.DB").c_str(), db_.c_str()), 0);
  ASSERT_TRUE(engine::RecoverTable(engine::Env::Default(), db_).ok());
  EXPECT_EQ(Read(db_), "new data");
  EXPECT_EQ(Read(tmp_ / "T.PX"), "new index");
  EXPECT_FALSE(Exists(tmp_ / "T.X02"));
  EXPECT_FALSE(Exists(engine::RestructureJournalPath(db_)));
  EXPECT_FALSE(Exists(staging_));
  // A second recovery has nothing to do.
  EXPECT_TRUE(engine::RecoverTable(engine::Env::Default(), db_).ok());
  EXPECT_EQ(Read(db_), "new data");
}

TEST_F(JournalRecoveryTest, ACrashBeforeTheJournalLeavesTheOldTable) {
  ASSERT_TRUE(engine::RecoverTable(engine::Env::Default(), db_).ok());
  EXPECT_EQ(Read(db_), "old data");
  EXPECT_EQ(Read(tmp_ / "T.X02"), "old dropped index");
  EXPECT_FALSE(Exists(staging_));
}

TEST_F(JournalRecoveryTest, WorkInProgressOfAnotherOpenIsLeftAlone) {
  engine::TableLock busy;
  ASSERT_TRUE(busy.Acquire(db_, true).ok());
  ASSERT_TRUE(engine::RecoverTable(engine::Env::Default(), db_).ok());
  EXPECT_TRUE(Exists(staging_ + "/T.DB"));
  busy.Release();
  // A journal being committed is locked by its writer: the opener waits its turn.
  Write(engine::RestructureJournalPath(db_), engine::EncodeJournal(swaps_));
  engine::TableLock committing;
  ASSERT_TRUE(committing.Acquire(engine::RestructureJournalPath(db_), true).ok());
  EXPECT_EQ(ErrCat(engine::RecoverTable(engine::Env::Default(), db_).code()), ERRCAT_LOCKCONFLICT);
  EXPECT_EQ(Read(db_), "old data");
}

TEST_F(JournalRecoveryTest, CommitSwapsReplacesAndRemovesInOneStep) {
  ASSERT_TRUE(
      engine::CommitSwaps(engine::Env::Default(), engine::RestructureJournalPath(db_), swaps_)
          .ok());
  EXPECT_EQ(Read(db_), "new data");
  EXPECT_FALSE(Exists(tmp_ / "T.X02"));
  EXPECT_FALSE(Exists(engine::RestructureJournalPath(db_)));
}

}  // namespace
