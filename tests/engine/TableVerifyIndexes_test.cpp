// Verify's index and link checks on a linked, indexed table (C.DB is a
// dependent of A.db and B.db, with a primary and two secondary indexes).
#include <gtest/gtest.h>

#include <filesystem>

#include "TableVerify.h"
#include "TestTables.h"

using namespace engine;
namespace fs = std::filesystem;

namespace {

const std::string kData = std::string(VARDEX_TEST_DATA_DIR) + "/paradox-restructure/";

void CopyFamily(const std::string& base, const std::string& dir) {
  for (const auto& e : fs::directory_iterator(kData)) {
    const std::string name = e.path().filename().string();
    if (name.rfind(base + ".", 0) == 0) fs::copy_file(e.path(), dir + "/" + name);
  }
}

}  // namespace

TEST(TableVerifyIndexes, SoundLinkedTableWithItsMastersPasses) {
  TempDir dir;
  for (const char* t : {"A", "B", "C"}) CopyFamily(t, dir.Dir());
  const VerifyResult r = VerifyTable(dir / "C.DB");
  EXPECT_TRUE(r.status.ok()) << r.status.ToString();
  EXPECT_EQ(r.records, 3u);
}

TEST(TableVerifyIndexes, MissingMasterIsReportedWithItsName) {
  TempDir dir;
  CopyFamily("C", dir.Dir());
  CopyFamily("B", dir.Dir());
  const VerifyResult r = VerifyTable(dir / "C.DB");
  ASSERT_FALSE(r.status.ok());
  EXPECT_EQ(r.status.category(), ERRCAT_DATACORRUPT);
  EXPECT_NE(r.status.ToString().find("A.db"), std::string::npos) << r.status.ToString();
}

TEST(TableVerifyIndexes, IndexesThatDisagreeWithTheRecordsAreDamage) {
  TempDir dir;
  for (const char* t : {"A", "B", "C"}) CopyFamily(t, dir.Dir());
  // A secondary index of an empty table: it misses all three records.
  fs::copy_file(kData + "fk1.x02", dir / "C.X02", fs::copy_options::overwrite_existing);
  VerifyResult r = VerifyTable(dir / "C.DB");
  ASSERT_FALSE(r.status.ok());
  EXPECT_EQ(r.status.code(), DBIERR_INDEXCORRUPT) << r.status.ToString();
  EXPECT_NE(r.status.ToString().find("C.X02"), std::string::npos);

  // The tree of another index: its entries do not hold this index's keys.
  fs::copy_file(kData + "C.X02", dir / "C.X02", fs::copy_options::overwrite_existing);
  fs::copy_file(kData + "C.Y03", dir / "C.Y02", fs::copy_options::overwrite_existing);
  r = VerifyTable(dir / "C.DB");
  ASSERT_FALSE(r.status.ok());
  EXPECT_EQ(r.status.code(), DBIERR_INDEXCORRUPT) << r.status.ToString();
  EXPECT_NE(r.status.ToString().find("C.Y02"), std::string::npos);

  // A primary index of another table: its blocks are not this table's.
  fs::copy_file(kData + "C.Y02", dir / "C.Y02", fs::copy_options::overwrite_existing);
  fs::copy_file(kData + "AREACODES.PX", dir / "C.PX", fs::copy_options::overwrite_existing);
  r = VerifyTable(dir / "C.DB");
  ASSERT_FALSE(r.status.ok());
  EXPECT_EQ(r.status.code(), DBIERR_INDEXCORRUPT) << r.status.ToString();
  EXPECT_NE(r.status.ToString().find("C.PX"), std::string::npos);
}
