// Verify's index, check and link checks on a linked, indexed table (C.DB
// is a dependent of A.db and B.db, with a primary and two secondary
// indexes), and on damage anywhere in the index and check files.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>

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

namespace {

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void Spill(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

unsigned Le16(const std::string& b, std::size_t at) {
  return static_cast<std::uint8_t>(b[at]) | static_cast<std::uint8_t>(b[at + 1]) << 8;
}

}  // namespace

// Every page of every index and the whole .VAL are read: a cut or a changed
// byte in a part that reading a record never touches is damage too, named
// with its file. Level 3 files (RENTAL) and later ones (C, CUSTOMER).
TEST(TableVerifyIndexes, DamageAnywhereInIndexOrCheckFilesIsFound) {
  struct Case {
    const char* what;
    const char* folder;
    const char* table;
    const char* file;  // damaged
    std::function<void(std::string& bytes)> damage;
  };
  const auto flip = [](std::size_t at, char mask) {
    return [at, mask](std::string& b) { b[at] = static_cast<char>(b[at] ^ mask); };
  };
  const auto cut = [](std::size_t by) { return [by](std::string& b) { b.resize(b.size() - by); }; };
  const Case cases[] = {
      {".PX cut by a byte", "paradox-rental", "RENTAL.DB", "RENTAL.PX", cut(1)},
      {".PX cut after its header", "paradox-rental", "RENTAL.DB", "RENTAL.PX",
       [](std::string& b) { b.resize(Le16(b, 2)); }},
      {".PX entry count in the header", "paradox-rental", "RENTAL.DB", "RENTAL.PX", flip(0x06, 1)},
      {".PX back link of its block", "paradox-rental", "RENTAL.DB", "RENTAL.PX",
       [](std::string& b) { b[Le16(b, 2) + 2] = 1; }},
      {".PX record count of an entry", "paradox-rental", "RENTAL.DB", "RENTAL.PX",
       [](std::string& b) { b[Le16(b, 2) + 6 + 2 * Le16(b, 0) - 3] ^= 1; }},
      {".VAL change count", "paradox-rental", "RENTAL.DB", "RENTAL.VAL", flip(0, 1)},
      {".VAL cut by a byte", "paradox-rental", "RENTAL.DB", "RENTAL.VAL", cut(1)},
      {".VAL a byte longer", "paradox-rental", "RENTAL.DB", "RENTAL.VAL",
       [](std::string& b) { b.push_back('\0'); }},
      {".VAL picture length of the first check", "paradox-rental", "RENTAL.DB", "RENTAL.VAL",
       flip(0x36, 4)},
      {"level 11 .VAL field type in its footer", "paradox-restructure", "C.DB", "C.VAL",
       [](std::string& b) {
         const std::size_t footer = Le16(b, 0x09);
         b[footer + 6 + 2 * Le16(b, footer)] ^= 0x08;
       }},
      {"level 11 .VAL a byte longer", "paradox-restructure", "C.DB", "C.VAL",
       [](std::string& b) { b.push_back('x'); }},
      {".X06 an indexed value", "paradox-restructure", "CUSTOMER.DB", "CUSTOMER.X06",
       [](std::string& b) { b[Le16(b, 2) + 6 + 3] ^= 0x20; }},
      {".X06 cut by a kilobyte and a byte", "paradox-restructure", "CUSTOMER.DB", "CUSTOMER.X06",
       cut(1025)},
      {".Y06 back link of its block", "paradox-restructure", "CUSTOMER.DB", "CUSTOMER.Y06",
       [](std::string& b) { b[Le16(b, 2) + 2] = 1; }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    fs::copy(std::string(VARDEX_TEST_DATA_DIR) + "/" + c.folder, dir.Dir());
    const std::string db = dir / c.table;
    ASSERT_TRUE(VerifyTable(db).status.ok()) << VerifyTable(db).status.ToString();
    std::string bytes = Slurp(dir / c.file);
    c.damage(bytes);
    Spill(dir / c.file, bytes);
    const VerifyResult r = VerifyTable(db);
    EXPECT_EQ(r.status.category(), ERRCAT_DATACORRUPT) << r.status.ToString();
    EXPECT_NE(r.status.ToString().find(c.file), std::string::npos) << r.status.ToString();
  }
}

// An entry above level 1 of a tree of two levels (ZIPCODES.PX of the
// sample set) holds the sum of the counts of the block it names.
TEST(TableVerifyIndexes, AnUpperEntryThatDisagreesWithItsBlockIsFound) {
  const std::string from = std::string(VARDEX_SAMPLES_DIR) + "/areas/";
  if (!fs::exists(from + "ZIPCODES.PX")) GTEST_SKIP() << "no sample tables";
  TempDir dir;
  for (const std::string ext : {".DB", ".PX", ".VAL"})
    fs::copy_file(from + "ZIPCODES" + ext, dir / ("ZIPCODES" + ext));
  ASSERT_TRUE(VerifyTable(dir / "ZIPCODES.DB").status.ok());
  std::string px = Slurp(dir / "ZIPCODES.PX");
  ASSERT_EQ(px[0x20], 2);  // levels
  const std::size_t root = Le16(px, 2) + (Le16(px, 0x1E) - 1u) * 1024u * px[5];
  px[root + 6 + Le16(px, 0) - 3] ^= 1;  // the first entry's count
  Spill(dir / "ZIPCODES.PX", px);
  const VerifyResult r = VerifyTable(dir / "ZIPCODES.DB");
  EXPECT_EQ(r.status.code(), DBIERR_INDEXCORRUPT) << r.status.ToString();
  EXPECT_NE(r.status.ToString().find("does not match the block it names"), std::string::npos)
      << r.status.ToString();
}
