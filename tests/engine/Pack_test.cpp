// Pack: deleted and stale space goes, every index and the blob file are
// rebuilt, the records, structure and protection stay.
#include <gtest/gtest.h>

#include <strings.h>

#include <filesystem>
#include <fstream>

#include "ParadoxCrypt.h"
#include "Restructure.h"
#include "RestructureChecks.h"
#include "TableVerify.h"
#include "TestTables.h"

namespace {

using engine::FieldType;
using engine::FieldValue;
using restructuretest::OpenForTest;

std::uintmax_t SizeOf(const std::string& path) { return std::filesystem::file_size(path); }

void MakeTable(const std::string& path, int records, const std::string& password = "") {
  engine::TableDefinition def;
  def.fields = {enginetest::Field("Id", FieldType::Long),
                enginetest::Field("Memo", FieldType::Memo, 11)};
  def.key_fields = 1;
  def.password = password;
  engine::Env* env = engine::Env::Default();
  ASSERT_TRUE(engine::CreateTable(env, path, def).ok());
  std::unique_ptr<engine::TableWriter> w;
  ASSERT_TRUE(engine::TableWriter::Open(env, path, engine::PasswordKey(password), &w).ok());
  for (int i = 0; i < records; ++i) {
    ASSERT_TRUE(
        w->Append({FieldValue::Int(i), FieldValue::Str(enginetest::BlobOfSize(100 + i * 37, i))})
            .ok());
  }
  ASSERT_TRUE(w->Sync().ok());
}

std::vector<std::string> Memos(const std::string& path) {
  std::vector<std::string> out;
  auto table = OpenForTest(path);
  engine::TableCursor c = table->NewCursor();
  while (c.Next()) {
    engine::FieldValue v = c.Value(1);
    std::string data;
    EXPECT_TRUE(table->ReadBlob(1, v, &data).ok());
    out.push_back(data);
  }
  return out;
}

engine::Status Pack(const std::string& path, engine::RestructureReport* report = nullptr) {
  engine::RestructureOptions options;
  options.useHeaderKey = true;
  return engine::PackTable(path, options, report);
}

TEST(PackTest, FreeBlocksAndStaleBlobSpaceGo) {
  TempDir tmp;
  const std::string path = tmp / "P.DB";
  MakeTable(path, 300);
  const std::vector<std::string> memos = Memos(path);
  // Two free blocks at the end of the data file, dead space in the blob file.
  {
    auto table = OpenForTest(path);
    const std::size_t block = table->Header().BlockSize();
    const std::uint16_t blocks = table->Header().file_blocks;
    table.reset();
    std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(0, std::ios::end);
    f << std::string(2 * block, '\0');
    const std::uint16_t more = blocks + 2;
    for (std::streamoff at : {0x0C, 0x3A}) {
      f.seekp(at);
      f.write(reinterpret_cast<const char*>(&more), 2);
    }
    std::ofstream mb(tmp / "P.MB", std::ios::app | std::ios::binary);
    mb << std::string(64 * 1024, '\0');
  }
  const auto db_before = SizeOf(path), mb_before = SizeOf(tmp / "P.MB");
  ASSERT_TRUE(Pack(path).ok());
  EXPECT_LT(SizeOf(path), db_before);
  EXPECT_LT(SizeOf(tmp / "P.MB"), mb_before);
  EXPECT_EQ(Memos(path), memos);
  EXPECT_TRUE(engine::VerifyTable(path).status.ok());
  restructuretest::ExpectIndexesMatch(path);
}

TEST(PackTest, AProtectedTableStaysProtectedWithItsPassword) {
  TempDir tmp;
  const std::string path = tmp / "S.DB";
  MakeTable(path, 40, "open sesame");
  const std::uint32_t key = OpenForTest(path)->Header().key;
  ASSERT_TRUE(Pack(path).ok());
  EXPECT_EQ(OpenForTest(path)->Header().key, key);
  engine::OpenOptions options;
  options.lock = false;
  options.passwords = {"open sesame"};
  std::unique_ptr<engine::ParadoxTable> table;
  ASSERT_TRUE(engine::ParadoxTable::Open(path, options, &table).ok());
  EXPECT_EQ(table->RecordCount(), 40u);
  table.reset();
  EXPECT_EQ(Memos(path).size(), 40u);
}

TEST(PackTest, MissingIndexesAreBuiltAndDamagedOnesDropped) {
  TempDir tmp;
  restructuretest::CopyFolder(std::string(VARDEX_TEST_DATA_DIR) + "/paradox-restructure",
                              tmp.Dir());
  const std::string path = tmp / "CUSTOMER.DB";
  std::filesystem::remove(tmp / "CUSTOMER.PX");
  {
    std::ofstream x(tmp / "CUSTOMER.X06", std::ios::binary | std::ios::trunc);
    x << "not an index";
  }
  // The key is in the header: the primary index is there without its .PX.
  EXPECT_EQ(restructuretest::StructureOf(path).indexes.size(), 1u);
  engine::RestructureReport report;
  ASSERT_TRUE(Pack(path, &report).ok());
  ASSERT_EQ(report.notes.size(), 1u);
  EXPECT_NE(report.notes[0].find("CUSTOMER.X06"), std::string::npos);
  EXPECT_TRUE(std::filesystem::exists(tmp / "CUSTOMER.PX"));
  EXPECT_FALSE(std::filesystem::exists(tmp / "CUSTOMER.X06"));
  EXPECT_FALSE(std::filesystem::exists(tmp / "CUSTOMER.Y06"));
  restructuretest::ExpectIndexesMatch(path);
}

TEST(PackTest, AStaleCompanionInAnotherLetterCaseGoes) {
  TempDir tmp;
  restructuretest::CopyFolder(std::string(VARDEX_TEST_DATA_DIR) + "/paradox-restructure",
                              tmp.Dir());
  const std::string path = tmp / "CUSTOMER.DB";
  std::ofstream(tmp / "customer.px", std::ios::binary) << "an older index";
  ASSERT_TRUE(Pack(path).ok());
  int indexes = 0;
  for (const auto& e : std::filesystem::directory_iterator(tmp.Dir()))
    indexes += ::strcasecmp(e.path().filename().c_str(), "CUSTOMER.PX") == 0;
  EXPECT_EQ(indexes, 1);
  EXPECT_TRUE(engine::VerifyTable(path).status.ok());
  restructuretest::ExpectIndexesMatch(path);
}

}  // namespace
