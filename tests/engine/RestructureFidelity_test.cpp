// What a rewrite of a table must keep so the engine that made it still
// accepts it: the change counts its .VAL and index files repeat from the data
// file, and the data file's level.
#include <gtest/gtest.h>

#include <filesystem>

#include "Restructure.h"
#include "RestructureChecks.h"
#include "RestructureLike.h"
#include "TestTables.h"

namespace {

using restructuretest::CopyFolder;
using restructuretest::OpenForTest;
using restructuretest::ReadFile;
using restructuretest::StructureOf;
using restructuretest::TablesIn;

int ByteAt(const std::string& path, std::size_t at) {
  const std::string bytes = ReadFile(path);
  return at < bytes.size() ? static_cast<unsigned char>(bytes[at]) : -1;
}

// The companions of a table whose header repeats a count of the data file:
// the .VAL (byte 0 = data 0x2E), the primary index (0x2C = data 0x2D), each
// secondary index file (0x2E = data 0x2E) and its tree (0x2C = file's 0x2D).
void ExpectCountsAgree(const std::string& db, const std::string& what) {
  SCOPED_TRACE(what + ": " + db);
  const int count1 = ByteAt(db, 0x2D), count2 = ByteAt(db, 0x2E);
  for (const std::string& path : engine::CompanionFiles(db)) {
    const std::string ext = engine::UpperExtension(path);
    if (ext == "VAL") {
      EXPECT_EQ(ByteAt(path, 0x00), count2) << path;
    } else if (ext == "PX") {
      EXPECT_EQ(ByteAt(path, 0x2C), count1) << path;
    } else if (ext.size() == 3 && ext[0] == 'X' && ext != "XML") {
      EXPECT_EQ(ByteAt(path, 0x2E), count2) << path;
      std::string tree = path;
      tree[tree.size() - 3] = tree[tree.size() - 3] == 'x' ? 'y' : 'Y';
      if (std::filesystem::exists(tree)) EXPECT_EQ(ByteAt(tree, 0x2C), ByteAt(path, 0x2D)) << tree;
    }
  }
}

// Borrow, restructure like the borrowed copy, pack: the cycle a maintenance
// run puts a table through.
void RunCycle(const std::string& table, const std::string& ref_dir) {
  const std::string name = std::filesystem::path(table).filename().string();
  const int count2 = ByteAt(table, 0x2E);
  const bool has_val = StructureOf(table).hasVal;
  const std::string val_before = has_val ? ReadFile(StructureOf(table).valPath) : "";

  engine::RestructureOptions options;
  options.useHeaderKey = true;
  engine::RestructureOptions borrow = options;
  borrow.copyRecords = false;
  borrow.saveAs = ref_dir + "/" + name;
  engine::Status s = engine::PackTable(table, borrow, nullptr);
  ASSERT_TRUE(s.ok()) << name << ": borrow: " << s.ToString();
  EXPECT_EQ(ByteAt(borrow.saveAs, 0x2E), count2) << name << " (borrowed)";
  ExpectCountsAgree(borrow.saveAs, "borrow");

  engine::RestructureRequest request = engine::BuildLikeRequest(
      StructureOf(table), StructureOf(borrow.saveAs), name, engine::DirName(table));
  request.desc.bProtected = OpenForTest(table)->Protected();
  s = engine::RestructureTable(table, request.desc, options, nullptr);
  ASSERT_TRUE(s.ok()) << name << ": restructure: " << s.ToString();
  ExpectCountsAgree(table, "restructure");
  s = engine::PackTable(table, options, nullptr);
  ASSERT_TRUE(s.ok()) << name << ": pack: " << s.ToString();
  ExpectCountsAgree(table, "pack");

  EXPECT_EQ(ByteAt(table, 0x2E), count2) << name;
  if (has_val) EXPECT_EQ(ReadFile(StructureOf(table).valPath), val_before) << name;
}

void RunFolder(const std::string& folder) {
  enginetest::TempDir tmp;
  const std::string work = tmp.File("live"), ref = tmp.File("ref");
  CopyFolder(folder, work);
  std::filesystem::create_directories(ref);
  for (const std::string& table : TablesIn(work)) RunCycle(table, ref);
}

TEST(RestructureFidelityTest, BundledTablesKeepCountsAndLevel) {
  RunFolder(std::string(VARDEX_TEST_DATA_DIR) + "/paradox-restructure");
  RunFolder(std::string(VARDEX_TEST_DATA_DIR) + "/paradox");
}

TEST(RestructureFidelityTest, EverySampleTableKeepsCountsAndLevel) {
  const std::string root = VARDEX_SAMPLES_DIR;
  if (!std::filesystem::is_directory(root)) GTEST_SKIP() << "no sample tables at " << root;
  for (const auto& e : std::filesystem::directory_iterator(root)) {
    if (e.is_directory()) RunFolder(e.path().string());
  }
}

}  // namespace
