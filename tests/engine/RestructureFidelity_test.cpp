// What a rewrite of a table must keep so the engine that made it still
// accepts it: the change counts its .VAL and index files repeat from the data
// file, and the data file's level.
#include <gtest/gtest.h>

#include <filesystem>

#include "PxlibReader.h"
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
      if (std::filesystem::exists(tree)) {
        EXPECT_EQ(ByteAt(tree, 0x2C), ByteAt(path, 0x2D)) << tree;
      }
    }
  }
}

// Borrow, restructure like the borrowed copy, pack: the cycle a maintenance
// run puts a table through.
void RunCycle(const std::string& table, const std::string& ref_dir) {
  const std::string name = std::filesystem::path(table).filename().string();
  const int count2 = ByteAt(table, 0x2E);
  const int level = ByteAt(table, 0x39);
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
  EXPECT_EQ(ByteAt(borrow.saveAs, 0x39), level) << name << " (borrowed)";
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
  EXPECT_EQ(ByteAt(table, 0x39), level) << name;
  if (has_val) {
    EXPECT_EQ(ReadFile(StructureOf(table).valPath), val_before) << name;
  }
}

void RunFolder(const std::string& folder) {
  TempDir tmp;
  const std::string work = tmp / "live", ref = tmp / "ref";
  CopyFolder(folder, work);
  std::filesystem::create_directories(ref);
  for (const std::string& table : TablesIn(work)) RunCycle(table, ref);
}

// Every record's bytes through our reader, cut to the first width bytes.
std::vector<std::string> Records(const std::string& path, std::size_t width) {
  std::vector<std::string> out;
  auto table = OpenForTest(path);
  if (!table) return out;
  engine::TableCursor c = table->NewCursor();
  while (c.Next()) out.emplace_back(reinterpret_cast<const char*>(c.Record()), width);
  EXPECT_TRUE(c.status().ok()) << path;
  return out;
}

FLDDesc Added(const std::string& name, char type, int units) {
  FLDDesc d{};
  std::snprintf(d.szName, sizeof d.szName, "%s", name.c_str());
  d.iFldType = type;
  d.iUnits1 = static_cast<std::int16_t>(units);
  return d;
}

struct LevelCase {
  const char* table;
  const char* added_type;  // "" for none, else a field type letter and units
  int units;
  int level_byte;          // expected at 0x39 afterwards
};

// A restructure that appends one field (or none) to a copy of a bundled
// table: the level stays unless the field needs a later one, the header has
// that level's layout, and the records read back the same through our
// reader and through pxlib.
void RunLevelCase(const LevelCase& c) {
  SCOPED_TRACE(std::string(c.table) + " + " + c.added_type);
  TempDir tmp;
  const std::string table = tmp / c.table;
  std::filesystem::copy_file(std::string(VARDEX_TEST_DATA_DIR) + "/paradox/" + c.table, table);
  std::filesystem::permissions(table, std::filesystem::perms::owner_write,
                               std::filesystem::perm_options::add);
  const engine::DataFileHeader before = OpenForTest(table)->Header();
  const std::vector<std::string> records = Records(table, before.record_size);
  const bool protect = before.key != 0;
  const pxtest::PxTable px_before = pxtest::ReadWithPxlibIsolated(table, "");

  std::vector<FLDDesc> fields;
  for (std::size_t i = 0; i < before.fields.size(); ++i) {
    fields.push_back(engine::ToFldDesc(before.fields[i], static_cast<int>(i + 1)));
  }
  if (*c.added_type) fields.push_back(Added("Extra", *c.added_type, c.units));
  CRTblDesc desc{};
  std::snprintf(desc.szTblType, sizeof desc.szTblType, "PARADOX");
  desc.bProtected = protect;
  desc.iFldCount = static_cast<std::uint16_t>(fields.size());
  desc.pfldDesc = fields.data();
  engine::RestructureOptions options;
  options.useHeaderKey = true;
  engine::Status s = engine::RestructureTable(table, desc, options, nullptr);
  ASSERT_TRUE(s.ok()) << s.ToString();

  const auto after = OpenForTest(table);
  ASSERT_TRUE(after);
  const engine::DataFileHeader& h = after->Header();
  EXPECT_EQ(h.version_id, c.level_byte);
  EXPECT_EQ(h.Extended(), c.level_byte >= 5);
  EXPECT_EQ(h.key != 0, protect);
  // 3.0 headers end with the names; later ones fill 2 KiB.
  EXPECT_EQ(h.header_size % 2048 == 0, c.level_byte > 3) << h.header_size;
  EXPECT_EQ(Records(table, before.record_size), records);
  if (!px_before.ok) return;  // protected: pxlib reads no records without the password
  const pxtest::PxTable px_after = pxtest::ReadWithPxlibIsolated(table, "");
  ASSERT_TRUE(px_after.ok) << px_after.error;
  ASSERT_EQ(px_after.rows.size(), px_before.rows.size());
  for (std::size_t r = 0; r < px_before.rows.size(); ++r) {
    for (std::size_t i = 0; i < px_before.rows[r].size(); ++i) {
      const pxtest::Cell &x = px_before.rows[r][i], &y = px_after.rows[r][i];
      EXPECT_EQ(x.null, y.null) << "row " << r << " field " << i;
      if (x.null || y.null) continue;
      const int t = static_cast<int>(before.fields[i].type);
      if (t == pxfNumber || t == pxfCurrency || t == pxfTimestamp) {
        EXPECT_EQ(x.d, y.d) << "row " << r << " field " << i;
      } else if (t == pxfShort || t == pxfLong || t == pxfDate || t == pxfTime) {
        EXPECT_EQ(x.l, y.l) << "row " << r << " field " << i;
      } else {
        EXPECT_EQ(x.s, y.s) << "row " << r << " field " << i;
      }
    }
  }
}

TEST(RestructureFidelityTest, LevelKeptUnlessAFieldNeedsALaterOne) {
  const LevelCase cases[] = {
      {"FILMS.DB", "", 0, 3},          // 3.0 stays 3.0
      {"FILMS.DB", "N", 0, 3},         // a type 3.0 has
      {"FILMS.DB", "M", 1, 9},         // blobs came with 4.x
      {"FILMS.DB", "I", 0, 11},        // long integers with 5.x
      {"date35.db", "$", 0, 4},        // 3.5 stays 3.5
      {"date35.db", "G", 1, 9},
      {"encrypted35.db", "", 0, 4},    // protected 3.5: key stays at 0x25
      {"encrypted35.db", "@", 0, 11},  // raised: key moves to 0x5C
      {"date7.db", "A", 5, 11},        // 5.x is not raised to 7
  };
  for (const LevelCase& c : cases) RunLevelCase(c);
}

// Indexes added to a 3.0 table take its level's layout and match its records.
TEST(RestructureFidelityTest, IndexesAddedToAnOldTableKeepItsLevel) {
  TempDir tmp;
  const std::string table = tmp / "FILMS.DB";
  std::filesystem::copy_file(std::string(VARDEX_TEST_DATA_DIR) + "/paradox/FILMS.DB", table);
  std::filesystem::permissions(table, std::filesystem::perms::owner_write,
                               std::filesystem::perm_options::add);
  std::vector<IDXDesc> indexes(2);
  std::snprintf(indexes[0].szName, sizeof indexes[0].szName, "Title");
  indexes[0].iFldsInKey = 1;
  indexes[0].aiKeyFld[0] = 2;
  indexes[0].bMaintained = true;
  std::snprintf(indexes[1].szName, sizeof indexes[1].szName, "ByTypeTitle");
  indexes[1].iFldsInKey = 2;
  indexes[1].aiKeyFld[0] = 5;
  indexes[1].aiKeyFld[1] = 2;
  indexes[1].bMaintained = true;
  std::vector<CROpType> ops(2, crADD);
  CRTblDesc desc{};
  std::snprintf(desc.szTblType, sizeof desc.szTblType, "PARADOX");
  desc.iIdxCount = 2;
  desc.pidxDesc = indexes.data();
  desc.pecrIdxOp = ops.data();
  engine::RestructureOptions options;
  options.useHeaderKey = true;
  const engine::Status s = engine::RestructureTable(table, desc, options, nullptr);
  ASSERT_TRUE(s.ok()) << s.ToString();
  EXPECT_EQ(ByteAt(table, 0x39), 3);
  int files = 0;
  for (const std::string& path : engine::CompanionFiles(table)) {
    const std::string ext = engine::UpperExtension(path);
    if (ext[0] != 'X' && ext[0] != 'Y' && ext != "PX") continue;
    ++files;
    EXPECT_EQ(ByteAt(path, 0x39), 3) << path;
  }
  EXPECT_EQ(files, 5);  // .PX, .X02/.Y02, .XG0/.YG0
  restructuretest::ExpectIndexesMatch(table);
  ExpectCountsAgree(table, "indexes added");
  EXPECT_EQ(StructureOf(table).indexes.size(), 3u);
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
