// A restructure after a reference loses nothing: records that break the new
// key and records whose values are cut, rounded or blanked are kept whole,
// as the source had them (checked through pxlib); a level 3.x .VAL comes
// from the reference; parked companions give way to the new files, whose
// names keep their case; a header's code page 0 stays 0.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <sstream>

#include "PxlibReader.h"
#include "Restructure.h"
#include "RestructureChecks.h"
#include "RestructureLike.h"
#include "TableFiles.h"
#include "TableWriter.h"
#include "TestTables.h"

namespace {

namespace fs = std::filesystem;
using engine::FieldType;
using restructuretest::OpenForTest;
using restructuretest::ReadFile;
using restructuretest::StructureOf;

const std::string kMtdemo = std::string(VARDEX_TEST_DATA_DIR) + "/paradox-mtdemo";

// A row as text, each cell by the member its pxlib type fills.
std::string RowText(const std::vector<int>& types, const std::vector<pxtest::Cell>& row) {
  std::ostringstream out;
  for (std::size_t i = 0; i < row.size(); ++i) {
    const pxtest::Cell& c = row[i];
    const int t = types[i];
    out << c.null << ':';
    if (c.null) {
    } else if (t == pxfNumber || t == pxfCurrency || t == pxfTimestamp) {
      out << c.d;
    } else if (t == pxfShort || t == pxfLong || t == pxfAutoInc || t == pxfLogical ||
               t == pxfDate || t == pxfTime) {
      out << c.l;
    } else {
      out << c.s;
    }
    out << '\x1f';
  }
  return out.str();
}

std::multiset<std::string> Rows(const pxtest::PxTable& t) {
  std::multiset<std::string> rows;
  for (const auto& row : t.rows) rows.insert(RowText(t.types, row));
  return rows;
}

std::set<std::string> FilesOf(const std::string& dir) {
  std::set<std::string> names;
  for (const auto& e : fs::directory_iterator(dir))
    if (e.is_regular_file()) names.insert(e.path().filename().string());
  return names;
}

// A reference for CUSTOMER with some fields changed, empty and keyed.
std::string MakeReference(const std::string& dir,
                          const std::vector<std::pair<int, engine::FieldDesc>>& changes) {
  auto live = OpenForTest(kMtdemo + "/CUSTOMER.DB");
  engine::TableDefinition def;
  def.fields = live->Fields();
  for (const auto& [at, field] : changes) def.fields[static_cast<std::size_t>(at)] = field;
  def.key_fields = 1;
  fs::create_directories(dir);
  const std::string path = dir + "/CUSTOMER.DB";
  EXPECT_TRUE(engine::CreateTable(engine::Env::Default(), path, def).ok());
  return path;
}

engine::Status RestructureLike(const std::string& live, const std::string& ref,
                               engine::RestructureReport* report) {
  engine::RestructureRequest request =
      engine::BuildLikeRequest(StructureOf(live), StructureOf(ref), "CUSTOMER.DB",
                               engine::DirName(live), ref);
  engine::RestructureOptions options;
  options.useHeaderKey = true;
  return engine::RestructureTable(live, request.desc, options, report);
}

struct LossCase {
  const char* what;
  std::vector<std::pair<int, engine::FieldDesc>> changes;
  std::uint32_t keyViolations;
  // Per original row (pxlib cells): the values it loses (cut, rounded or blanked).
  std::function<int(const std::vector<pxtest::Cell>&)> losses;
};

// mtdemo's CUSTOMER: Customer # A4 (the key), Last Name A15 ... Credit Card #
// A20 (field 9), Open Balance $ (field 10).
TEST(LosslessRestructureTest, RecordsSetAsideAreTheOriginals) {
  auto longer = [](const pxtest::Cell& c, std::size_t n) { return !c.null && c.s.size() > n; };
  const LossCase cases[] = {
      {"key A4 to A2: 17 of 28 repeat a kept key (11 distinct prefixes)",
       {{0, enginetest::Field("Customer #", FieldType::Alpha, 2)}},
       17,
       [&](const auto& row) { return longer(row[0], 2) ? 1 : 0; }},
      {"names and card numbers shortened are cut, not blanked",
       {{1, enginetest::Field("Last Name", FieldType::Alpha, 10)},
        {8, enginetest::Field("Credit Card #", FieldType::Alpha, 10)}},
       0,
       [&](const auto& row) { return (longer(row[1], 10) ? 1 : 0) + (longer(row[8], 10) ? 1 : 0); }},
      {"money to short rounds the cents",
       {{9, enginetest::Field("Open Balance", FieldType::Short)}},
       0,
       [&](const auto& row) {
         return !row[9].null && std::round(row[9].d) != row[9].d ? 1 : 0;
       }},
  };
  for (const LossCase& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir tmp;
    restructuretest::CopyFolder(kMtdemo, tmp.Dir());
    const std::string live = tmp / "CUSTOMER.DB";
    const pxtest::PxTable before = pxtest::ReadWithPxlibIsolated(live, "");
    ASSERT_TRUE(before.ok) << before.error;
    const std::multiset<std::string> originals = Rows(before);
    std::uint32_t lossy_rows = 0, lost_values = 0;
    for (const auto& row : before.rows) {
      const int n = c.losses(row);
      lossy_rows += n > 0;
      lost_values += static_cast<std::uint32_t>(n);
    }
    const std::string ref = MakeReference(tmp / "METADATA", c.changes);

    engine::RestructureReport report;
    const engine::Status s = RestructureLike(live, ref, &report);
    ASSERT_TRUE(s.ok()) << s.ToString();
    EXPECT_EQ(report.keyViolations, c.keyViolations);
    EXPECT_EQ(report.records, before.rows.size() - c.keyViolations);
    EXPECT_EQ(report.blanked, 0u);
    if (c.keyViolations == 0) {
      EXPECT_EQ(report.cut + report.rounded, lost_values);
      EXPECT_EQ(report.problems, lossy_rows);
    } else {
      // Every record kept has its key cut: each is also a problem.
      EXPECT_EQ(report.problems, report.records);
    }
    // Each set holds whole source records, with the source's fields.
    for (const auto& [count, table] : {std::pair{report.keyViolations, report.keyViolTable},
                                       std::pair{report.problems, report.problemsTable}}) {
      EXPECT_EQ(table.empty(), count == 0) << table;
      if (count == 0) continue;
      EXPECT_EQ(engine::DirName(table), tmp.Dir());
      const pxtest::PxTable kept = pxtest::ReadWithPxlibIsolated(table, "");
      ASSERT_TRUE(kept.ok) << table << ": " << kept.error;
      EXPECT_EQ(kept.types, before.types) << table;
      ASSERT_EQ(kept.rows.size(), count) << table;
      for (const auto& row : kept.rows)
        EXPECT_EQ(originals.count(RowText(kept.types, row)), 1u) << table << ": not a source record";
    }
    const pxtest::PxTable after = pxtest::ReadWithPxlibIsolated(live, "");
    ASSERT_TRUE(after.ok) << after.error;
    EXPECT_EQ(after.rows.size(), report.records);
  }
}

struct FileSetCase {
  const char* what;
  std::vector<std::pair<const char*, const char*>> liveRenames;  // before the run
  std::vector<const char*> refRemoved;
  std::set<std::string> expected;  // the table's files after it
};

// The tools park a table's companions while they work; a restructure from
// the reference installs the reference's checks (a level 3.x .VAL that is
// only ever carried), removes the parked files, and keeps every name's case.
TEST(LosslessRestructureTest, ChecksKeyAndFileNamesComeThrough) {
  const FileSetCase cases[] = {
      {"parked companions",
       {{"CUSTOMER.VAL", "CUSTOMER.VA$"}, {"CUSTOMER.PX", "CUSTOMER.P$"}},
       {},
       {"CUSTOMER.DB", "CUSTOMER.PX", "CUSTOMER.VAL"}},
      {"parked in lower case",
       {{"CUSTOMER.VAL", "CUSTOMER.va$"}, {"CUSTOMER.PX", "CUSTOMER.p$"}},
       {},
       {"CUSTOMER.DB", "CUSTOMER.px", "CUSTOMER.val"}},
      {"companions in mixed case keep it",
       {{"CUSTOMER.PX", "CUSTOMER.pX"}, {"CUSTOMER.VAL", "CUSTOMER.vaL"}},
       {},
       {"CUSTOMER.DB", "CUSTOMER.pX", "CUSTOMER.vaL"}},
      {"no checks of its own", {{"CUSTOMER.VAL", "GONE.VAL"}}, {}, {"CUSTOMER.DB", "CUSTOMER.PX", "CUSTOMER.VAL"}},
      {"a reference without checks drops the table's", {}, {"CUSTOMER.VAL"}, {"CUSTOMER.DB", "CUSTOMER.PX"}},
      {"a keyed reference without .PX keeps the key",
       {{"CUSTOMER.PX", "CUSTOMER.P$"}},
       {"CUSTOMER.PX"},
       {"CUSTOMER.DB", "CUSTOMER.PX", "CUSTOMER.VAL"}},
  };
  for (const FileSetCase& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir tmp;
    const std::string dir = tmp / "DB", meta = tmp / "METADATA";
    restructuretest::CopyFolder(kMtdemo, dir);
    restructuretest::CopyFolder(kMtdemo, meta);
    const std::string live = dir + "/CUSTOMER.DB", ref = meta + "/CUSTOMER.DB";
    const pxtest::PxTable before = pxtest::ReadWithPxlibIsolated(live, "");
    for (const auto& [from, to] : c.liveRenames)
      fs::rename(dir + "/" + from, std::string(to) == "GONE.VAL" ? tmp / to : dir + "/" + to);
    for (const char* name : c.refRemoved) fs::remove(meta + "/" + name);
    EXPECT_EQ(StructureOf(ref).indexes.size(), 1u);  // the key is in the header

    engine::RestructureReport report;
    const engine::Status s = RestructureLike(live, ref, &report);
    ASSERT_TRUE(s.ok()) << s.ToString();
    EXPECT_EQ(FilesOf(dir), c.expected);
    EXPECT_EQ(OpenForTest(live)->Header().key_fields, 1);
    const engine::TableStructure after = StructureOf(live);
    EXPECT_TRUE(after.hasPrimaryFile);
    const std::string ref_val = engine::CompanionPath(ref, ".VAL");
    ASSERT_EQ(after.hasVal, fs::exists(ref_val));
    if (after.hasVal) {
      EXPECT_FALSE(after.valDecoded);
      // The same checks; byte 0 pairs the file with its own data file.
      EXPECT_EQ(ReadFile(after.valPath).substr(1), ReadFile(ref_val).substr(1));
    }
    const pxtest::PxTable rows = pxtest::ReadWithPxlibIsolated(live, "");
    ASSERT_TRUE(rows.ok) << rows.error;
    EXPECT_EQ(Rows(rows), Rows(before));
    restructuretest::ExpectIndexesMatch(live);
  }
}

TEST(LosslessRestructureTest, CompanionNamesTakeTheCaseOfWhatIsThere) {
  struct Case {
    const char* data;
    std::vector<const char*> present;
    const char* ext;
    const char* expected;
  };
  const Case cases[] = {
      {"zakazky.db", {"zakazky.P$"}, ".PX", "zakazky.PX"},
      {"zakazky.db", {}, ".PX", "zakazky.px"},
      {"A.DB", {"A.pX"}, ".PX", "A.pX"},
      {"A.DB", {"a.va$"}, ".VAL", "A.val"},
      {"A.DB", {"A.vA$"}, ".VAL", "A.vAL"},
      {"A.db", {"A.3g0"}, ".XG0", "A.xg0"},
      {"A.db", {"A.106"}, ".X06", "A.X06"},  // the parked digit tells the case
      {"A.DB", {"A.206"}, ".Y06", "A.Y06"},
      {"A.DB", {"A.406"}, ".Y06", "A.y06"},
      {"A.db", {"A.px", "A.10a"}, ".X0A", "A.X0a"},
      {"A.db", {"A.PX"}, ".VAL", "A.VAL"},  // as the table's other companions
      {"A.DB", {"A.px", "A.mB"}, ".X02", "A.x02"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.data) + " " + c.ext);
    TempDir tmp;
    for (const char* name : c.present) std::ofstream(tmp / name) << "x";
    EXPECT_EQ(engine::CompanionPath(tmp / c.data, c.ext), tmp / c.expected);
  }
  // A table written from another one (a copy into SAFE, a table rebuilt
  // elsewhere) takes the case of the source's companions, parked or not.
  TempDir tmp;
  fs::create_directories(tmp / "new");
  fs::create_directories(tmp / "src");
  for (const char* name : {"src/A.P$", "src/A.val"}) std::ofstream(tmp / name) << "x";
  const std::string written = tmp / "new/A.db", source = tmp / "src/A.db";
  EXPECT_EQ(engine::CompanionPath(written, ".PX", source), tmp / "new/A.PX");
  EXPECT_EQ(engine::CompanionPath(written, ".VAL", source), tmp / "new/A.val");
  EXPECT_EQ(engine::CompanionPath(written, ".MB", source), tmp / "new/A.mb");
}

// db/ROMAN8.db names no code page in its header; a pack keeps it that way.
TEST(LosslessRestructureTest, CodePageZeroIsKept) {
  TempDir tmp;
  const std::string path = tmp / "ROMAN8.db";
  fs::copy_file(std::string(VARDEX_TEST_DATA_DIR) + "/paradox/ROMAN8.db", path);
  fs::permissions(path, fs::perms::owner_write, fs::perm_options::add);
  ASSERT_EQ(OpenForTest(path)->Header().code_page, 0);
  const pxtest::PxTable before = pxtest::ReadWithPxlibIsolated(path, "");
  ASSERT_TRUE(engine::PackTable(path, {}, nullptr).ok());
  EXPECT_EQ(OpenForTest(path)->Header().code_page, 0);
  EXPECT_EQ(Rows(pxtest::ReadWithPxlibIsolated(path, "")), Rows(before));
}

}  // namespace
