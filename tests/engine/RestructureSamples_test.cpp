// Real tables through the reference-copy cycle the tools run: an empty copy
// of each table's structure (borrow), a restructure of the table after that
// copy, and a pack. Afterwards the table verifies, every record reads back
// the same through pxlib, the structure is what it was, an untouched .VAL is
// byte-equal and every index agrees with the data.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>

#include "PxlibReader.h"
#include "Restructure.h"
#include "RestructureChecks.h"
#include "RestructureLike.h"
#include "TableVerify.h"
#include "TestTables.h"

namespace {

using namespace restructuretest;

// types: the table's field type codes, which are pxlib's too.
void ExpectSameRows(const pxtest::PxTable& a, const pxtest::PxTable& b,
                    const std::vector<int>& types, const std::string& what) {
  ASSERT_EQ(a.rows.size(), b.rows.size()) << what;
  for (std::size_t r = 0; r < a.rows.size(); ++r) {
    for (std::size_t i = 0; i < a.rows[r].size(); ++i) {
      const pxtest::Cell& x = a.rows[r][i];
      const pxtest::Cell& y = b.rows[r][i];
      EXPECT_EQ(x.null, y.null) << what << " row " << r << " field " << i;
      if (x.null || y.null) continue;
      const int t = types[i];
      const bool real = t == pxfNumber || t == pxfCurrency || t == pxfTimestamp;
      const bool whole = t == pxfShort || t == pxfLong || t == pxfAutoInc || t == pxfLogical ||
                         t == pxfDate || t == pxfTime;
      if (whole) {
        EXPECT_EQ(x.l, y.l) << what << " row " << r << " field " << i;
      } else if (real) {
        EXPECT_TRUE(x.d == y.d || (std::isnan(x.d) && std::isnan(y.d))) << what << " row " << r;
      } else {
        EXPECT_EQ(x.s, y.s) << what << " row " << r << " field " << i;
      }
    }
  }
}

// The cycle for one table; ref_dir receives the borrowed copy.
void RunCycle(const std::string& table, const std::string& ref_dir) {
  const std::string name = table.substr(table.find_last_of('/') + 1);
  const std::string blob = engine::CompanionPath(table, ".MB");
  const pxtest::PxTable before = pxtest::ReadWithPxlibIsolated(table, blob);
  const engine::TableStructure shape = StructureOf(table);
  const std::string val_before = shape.hasVal ? ReadFile(shape.valPath) : "";

  engine::RestructureOptions options;
  options.useHeaderKey = true;
  engine::RestructureOptions borrow = options;
  borrow.copyRecords = false;
  borrow.saveAs = ref_dir + "/" + name;
  engine::Status s = engine::PackTable(table, borrow, nullptr);
  ASSERT_TRUE(s.ok()) << name << ": borrow: " << s.ToString();

  engine::RestructureRequest request = engine::BuildLikeRequest(
      StructureOf(table), StructureOf(borrow.saveAs), name, engine::DirName(table));
  request.desc.bProtected = OpenForTest(table)->Protected();
  s = engine::RestructureTable(table, request.desc, options, nullptr);
  ASSERT_TRUE(s.ok()) << name << ": restructure: " << s.ToString();
  s = engine::PackTable(table, options, nullptr);
  ASSERT_TRUE(s.ok()) << name << ": pack: " << s.ToString();

  const engine::VerifyResult verified = engine::VerifyTable(table);
  EXPECT_TRUE(verified.status.ok()) << name << ": " << verified.status.ToString();
  const pxtest::PxTable after =
      pxtest::ReadWithPxlibIsolated(table, engine::CompanionPath(table, ".MB"));
  if (before.ok) {
    EXPECT_TRUE(after.ok) << name << ": " << after.error;
    std::vector<int> types;
    const auto reopened = OpenForTest(table);
    for (const auto& f : reopened->Fields()) types.push_back(static_cast<int>(f.type));
    ExpectSameRows(before, after, types, name);
  }
  engine::TableStructure shape_after = StructureOf(table);
  engine::TableStructure borrowed = StructureOf(borrow.saveAs);
  if (OpenForTest(table)->Header().Keyed() && !shape.hasPrimaryFile) {
    // A keyed table that came without its .PX gets one; its primary index
    // was reported all along (the key is in the header).
    ASSERT_TRUE(shape_after.hasPrimaryFile && borrowed.hasPrimaryFile) << name;
  }
  ExpectSameStructure(shape, shape_after, name);
  ExpectSameStructure(shape, borrowed, name + " (borrowed)");
  if (shape.hasVal) {
    EXPECT_EQ(ReadFile(shape_after.valPath), val_before) << name;
  }
  ExpectIndexesMatch(table);
  ExpectIndexesMatch(borrow.saveAs);
}

void RunFolder(const std::string& folder) {
  TempDir tmp;
  const std::string work = tmp / "live", ref = tmp / "ref";
  CopyFolder(folder, work);
  std::filesystem::create_directories(ref);
  for (const std::string& table : TablesIn(work)) {
    SCOPED_TRACE(table);
    RunCycle(table, ref);
  }
}

TEST(RestructureSamplesTest, BundledTablesSurviveBorrowRestructureAndPack) {
  RunFolder(std::string(VARDEX_TEST_DATA_DIR) + "/paradox-restructure");
}

TEST(RestructureSamplesTest, EverySampleTableSurvivesBorrowRestructureAndPack) {
  const std::string root = VARDEX_SAMPLES_DIR;
  if (!std::filesystem::is_directory(root)) GTEST_SKIP() << "no sample tables at " << root;
  for (const auto& e : std::filesystem::directory_iterator(root)) {
    if (e.is_directory()) RunFolder(e.path().string());
  }
}

}  // namespace
