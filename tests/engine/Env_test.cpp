// Writes that fail part-way leave the files that were there intact: the
// atomic replacement helpers and table creation over a failing file layer.
#include "Env.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <memory>
#include <vector>

#include "FaultInjectionEnv.h"
#include "Journal.h"
#include "ParadoxTable.h"
#include "TableVerify.h"
#include "TestFiles.h"
#include "TestTables.h"

using namespace engine;
using namespace enginetest;

TEST(Env, AtomicReplacementKeepsTheOldFileWhenWritesFail) {
  TempDir dir;
  const std::string path = dir / "DATA.BIN";
  ASSERT_TRUE(WriteFileAtomically(Env::Default(), path, "old contents").ok());
  FaultInjectionEnv env(Env::Default());
  for (std::int64_t budget : {0, 5, 1000}) {
    env.FailWritesAfter(budget);
    const std::string big(2000, 'n');
    EXPECT_FALSE(WriteFileAtomically(&env, path, big).ok()) << budget;
    EXPECT_EQ(ReadAll(path), "old contents");
    EXPECT_FALSE(Env::Default()->Exists(TempPathFor(path)));
  }
  env.FailWritesAfter(-1);
  env.FailRenames(true);
  EXPECT_FALSE(WriteFileAtomically(&env, path, "new").ok());
  EXPECT_EQ(ReadAll(path), "old contents");
  EXPECT_FALSE(Env::Default()->Exists(TempPathFor(path)));
  env.FailRenames(false);
  EXPECT_TRUE(WriteFileAtomically(&env, path, "new").ok());
  EXPECT_EQ(ReadAll(path), "new");
}

TEST(Env, FailedCreateLeavesTheOldTableReadable) {
  TempDir dir;
  const std::string path = dir / "KEEP.DB";
  TableDefinition def;
  def.fields = {Field("A", FieldType::Alpha, 10), Field("M", FieldType::Memo, 11)};
  ASSERT_TRUE(CreateTable(Env::Default(), path, def).ok());
  {
    std::unique_ptr<TableWriter> w;
    ASSERT_TRUE(TableWriter::Open(Env::Default(), path, 0, &w).ok());
    ASSERT_TRUE(w->Append({FieldValue::Str("kept"), FieldValue::Str(std::string(5000, 'm'))}).ok());
    ASSERT_TRUE(w->Sync().ok());
  }
  FaultInjectionEnv env(Env::Default());
  env.FailWritesAfter(100);
  TableDefinition other;
  other.fields = {Field("B", FieldType::Long)};
  const Status s = CreateTable(&env, path, other);
  EXPECT_EQ(s.category(), ERRCAT_IO) << s.ToString();
  const VerifyResult r = VerifyTable(path);
  EXPECT_TRUE(r.status.ok()) << r.status.ToString();
  EXPECT_EQ(r.records, 1u);  // verify read the memo from the blob file, still there
  EXPECT_FALSE(Env::Default()->Exists(TempPathFor(path)));
}

TEST(Env, AppendReportsAFullDisk) {
  TempDir dir;
  const std::string path = dir / "FULL.DB";
  TableDefinition def;
  def.fields = {Field("A", FieldType::Alpha, 100)};
  ASSERT_TRUE(CreateTable(Env::Default(), path, def).ok());
  FaultInjectionEnv env(Env::Default());
  env.FailWritesAfter(3000);
  std::unique_ptr<TableWriter> w;
  ASSERT_TRUE(TableWriter::Open(&env, path, 0, &w).ok());
  Status s;
  for (int i = 0; i < 200 && s.ok(); ++i) {
    s = w->Append({FieldValue::Str("row " + std::to_string(i))});
    if (s.ok() && i % 10 == 9) s = w->Flush();
  }
  EXPECT_EQ(s.code(), DBIERR_DISKFULL) << s.ToString();
}

// A set of files replaced together: an interruption after the journal is
// written is finished by the next open of the table.
TEST(Env, InterruptedFileSetIsFinishedByTheNextOpen) {
  TempDir dir;
  const std::string db = dir / "SET.DB", px = dir / "SET.PX", stale = dir / "SET.X02";
  TableDefinition def;
  def.fields = {Field("A", FieldType::Alpha, 10)};
  ASSERT_TRUE(CreateTable(Env::Default(), db, def).ok());
  ASSERT_TRUE(WriteFileAtomically(Env::Default(), px, "old index").ok());
  ASSERT_TRUE(WriteFileAtomically(Env::Default(), stale, "old secondary").ok());
  // New versions written beside.
  def.fields = {Field("B", FieldType::Long)};
  ASSERT_TRUE(CreateTable(Env::Default(), dir / "NEW.DB", def).ok());
  ASSERT_TRUE(Env::Default()->Rename(dir / "NEW.DB", TempPathFor(db)).ok());
  ASSERT_TRUE(WriteFileAtomically(Env::Default(), TempPathFor(px), "new index").ok());
  const std::vector<FileSwap> set = {
      {TempPathFor(db), db}, {TempPathFor(px), px}, {"", stale}};

  FaultInjectionEnv env(Env::Default());
  env.FailRenamesAfter(2);  // the journal and the data file are renamed, then it stops
  EXPECT_FALSE(CommitSwaps(&env, RestructureJournalPath(db), set).ok());
  ASSERT_TRUE(Env::Default()->Exists(RestructureJournalPath(db)));

  EXPECT_EQ(ReadAll(px), "old index");  // a new data file beside the old index, for now
  std::unique_ptr<ParadoxTable> table;
  OpenOptions options;
  ASSERT_TRUE(ParadoxTable::Open(db, options, &table).ok());
  EXPECT_EQ(table->Fields()[0].name, "B");
  EXPECT_EQ(ReadAll(px), "new index");
  EXPECT_FALSE(Env::Default()->Exists(stale));
  EXPECT_FALSE(Env::Default()->Exists(RestructureJournalPath(db)));

  // Without interruption the set is replaced at once and leaves no journal.
  ASSERT_TRUE(WriteFileAtomically(Env::Default(), TempPathFor(px), "newer").ok());
  EXPECT_TRUE(CommitSwaps(Env::Default(), RestructureJournalPath(db), {{TempPathFor(px), px}}).ok());
  EXPECT_EQ(ReadAll(px), "newer");
  EXPECT_FALSE(Env::Default()->Exists(RestructureJournalPath(db)));
}

TEST(Env, PathsJoinWithOneSlash) {
  const struct {
    const char* dir;
    const char* name;
    const char* joined;
  } cases[] = {{"/d", "T.DB", "/d/T.DB"},    {"/d/", "T.DB", "/d/T.DB"}, {"d//", "T.DB", "d/T.DB"},
               {"/", "T.DB", "/T.DB"},       {"//", "T.DB", "/T.DB"},    {"", "T.DB", "T.DB"},
               {"/d", "SAFE/T", "/d/SAFE/T"}};
  for (const auto& c : cases) EXPECT_EQ(JoinPath(c.dir, c.name), c.joined) << c.dir;
}

// Releases run on a thread of their own, started by the first one. A child
// forked while that thread starts or frees memory must still be able to
// allocate: under the address sanitizer a fork that caught the thread
// holding the allocator's lock left the child hanging at its first malloc.
TEST(Env, AChildForkedDuringBackgroundReleasesCanAllocate) {
  const auto churn = [] {
    std::vector<std::unique_ptr<char[]>> blocks;
    for (int i = 0; i < 2000; ++i) blocks.emplace_back(new char[16u << (i % 13)]);
  };
  for (int round = 0; round < 40; ++round) {
    Env::Default()->ReleaseLater(churn);
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      churn();
      ::_exit(0);
    }
    int status = 0;
    pid_t done = 0;
    for (int waited = 0; done == 0 && waited < 1000; ++waited) {
      done = ::waitpid(pid, &status, WNOHANG);
      if (done == 0) ::usleep(10000);
    }
    if (done == 0) ::kill(pid, SIGKILL), ::waitpid(pid, &status, 0);
    ASSERT_NE(done, 0) << "round " << round << ": the child hung";
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "round " << round;
  }
}
