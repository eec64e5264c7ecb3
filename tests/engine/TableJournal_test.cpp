// One journal per table for every replacement of its files: a file set and a
// restructure commit through the same journal, and a journal an earlier
// version left under its old name is still finished by the next open.
#include <gtest/gtest.h>

#include "Journal.h"
#include "FaultInjectionEnv.h"
#include "ParadoxTable.h"
#include "Restructure.h"
#include "RestructureChecks.h"
#include "TestTables.h"

namespace {

using namespace engine;
using enginetest::Field;
using restructuretest::ReadFile;

// A table SET.DB with an Alpha field, and a new version of it with a Long
// field staged at its temporary name.
struct StagedSet {
  TempDir dir;
  std::string db = dir / "SET.DB", px = dir / "SET.PX";
  StagedSet() {
    TableDefinition def;
    def.fields = {Field("A", FieldType::Alpha, 10)};
    EXPECT_TRUE(CreateTable(Env::Default(), db, def).ok());
    EXPECT_TRUE(WriteFileAtomically(Env::Default(), px, "old index").ok());
    def.fields = {Field("B", FieldType::Long)};
    EXPECT_TRUE(CreateTable(Env::Default(), dir / "NEW.DB", def).ok());
    EXPECT_TRUE(Env::Default()->Rename(dir / "NEW.DB", TempPathFor(db)).ok());
    EXPECT_TRUE(WriteFileAtomically(Env::Default(), TempPathFor(px), "new index").ok());
  }
  std::string FirstField() {
    std::unique_ptr<ParadoxTable> table;
    Status s = ParadoxTable::Open(db, OpenOptions(), &table);
    EXPECT_TRUE(s.ok()) << s.ToString();
    return table ? table->Fields()[0].name : "";
  }
};

TEST(TableJournalTest, FileSetAndRestructureShareTheTablesJournal) {
  StagedSet set;
  FaultInjectionEnv env(Env::Default());
  env.FailRenamesAfter(2);  // the journal and the data file, then it stops
  EXPECT_FALSE(
      CommitSwaps(&env, RestructureJournalPath(set.db), {{TempPathFor(set.db), set.db},
                                                   {TempPathFor(set.px), set.px}})
          .ok());
  // What a restructure runs first finishes the file set too.
  ASSERT_TRUE(RecoverTable(Env::Default(), set.db).ok());
  EXPECT_EQ(ReadFile(set.px), "new index");
  EXPECT_FALSE(Env::Default()->Exists(RestructureJournalPath(set.db)));
  EXPECT_EQ(set.FirstField(), "B");
  // And a pack right after works on the finished set.
  RestructureOptions options;
  EXPECT_TRUE(PackTable(set.db, options, nullptr).ok());
  EXPECT_EQ(set.FirstField(), "B");
}

TEST(TableJournalTest, JournalOfAnEarlierVersionIsFinishedOrReported) {
  {
    StagedSet set;
    // The earlier format: "temp<TAB>final" lines, at "<table>.jnl~".
    ASSERT_TRUE(Env::Default()->Rename(TempPathFor(set.db), set.db).ok());
    ASSERT_TRUE(WriteFileAtomically(Env::Default(), set.db + ".jnl~",
                                    TempPathFor(set.db) + "\t" + set.db + "\n" +
                                        TempPathFor(set.px) + "\t" + set.px + "\n")
                    .ok());
    EXPECT_EQ(set.FirstField(), "B");
    EXPECT_EQ(ReadFile(set.px), "new index");
    EXPECT_FALSE(Env::Default()->Exists(set.db + ".jnl~"));
  }
  {
    StagedSet set;
    ASSERT_TRUE(WriteFileAtomically(Env::Default(), set.db + ".jnl~", "no tab, no end").ok());
    std::unique_ptr<ParadoxTable> table;
    const Status s = ParadoxTable::Open(set.db, OpenOptions(), &table);
    EXPECT_EQ(s.code(), DBIERR_HEADERCORRUPT) << s.ToString();
    EXPECT_EQ(ReadFile(set.px), "old index");  // nothing replaced on a damaged journal
  }
  {
    // The same holds for the current format: the damaged journal is kept for
    // whoever repairs the table, never silently dropped.
    StagedSet set;
    const std::string journal = RestructureJournalPath(set.db);
    ASSERT_TRUE(WriteFileAtomically(Env::Default(), journal, "no tab, no end").ok());
    std::unique_ptr<ParadoxTable> table;
    const Status s = ParadoxTable::Open(set.db, OpenOptions(), &table);
    EXPECT_EQ(s.code(), DBIERR_HEADERCORRUPT) << s.ToString();
    EXPECT_TRUE(Env::Default()->Exists(journal));
    EXPECT_EQ(ReadFile(set.px), "old index");
  }
}

}  // namespace
