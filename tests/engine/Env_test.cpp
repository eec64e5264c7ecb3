// Writes that fail part-way leave the files that were there intact: the
// atomic replacement helpers and table creation over a failing file layer.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "Env.h"
#include "ParadoxTable.h"
#include "TableVerify.h"
#include "TestTables.h"

using namespace engine;
using namespace enginetest;

namespace {

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace

TEST(Env, AtomicReplacementKeepsTheOldFileWhenWritesFail) {
  TempDir dir;
  const std::string path = dir.File("DATA.BIN");
  ASSERT_TRUE(WriteFileAtomically(Env::Default(), path, "old contents").ok());
  FaultInjectionEnv env(Env::Default());
  for (std::int64_t budget : {0, 5, 1000}) {
    env.FailWritesAfter(budget);
    const std::string big(2000, 'n');
    EXPECT_FALSE(WriteFileAtomically(&env, path, big).ok()) << budget;
    EXPECT_EQ(ReadFile(path), "old contents");
    EXPECT_FALSE(Env::Default()->Exists(TempPathFor(path)));
  }
  env.FailWritesAfter(-1);
  env.FailRenames(true);
  EXPECT_FALSE(WriteFileAtomically(&env, path, "new").ok());
  EXPECT_EQ(ReadFile(path), "old contents");
  EXPECT_FALSE(Env::Default()->Exists(TempPathFor(path)));
  env.FailRenames(false);
  EXPECT_TRUE(WriteFileAtomically(&env, path, "new").ok());
  EXPECT_EQ(ReadFile(path), "new");
}

TEST(Env, FailedCreateLeavesTheOldTableReadable) {
  TempDir dir;
  const std::string path = dir.File("KEEP.DB");
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
  const std::string path = dir.File("FULL.DB");
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
