// Which tables the vdx commands work on: a table is its exact file name, so
// two tables whose names differ only in case are refused by every command
// before anything is written, and borrow never replaces a table unasked.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "ParadoxTable.h"
#include "TempDir.h"
#include "VdxRun.h"

namespace fs = std::filesystem;

namespace {

const std::string kSamples = std::string(VARDEX_TEST_DATA_DIR) + "/paradox-tables/";

// Copies the files of sample table `from` (every extension) as table `to`.
void CopyTable(const std::string& from, const std::string& dir, const std::string& to) {
  for (const auto& e : fs::directory_iterator(kSamples)) {
    const std::string name = e.path().filename().string();
    if (name.rfind(from + ".", 0) != 0) continue;
    const fs::path target = fs::path(dir) / (to + name.substr(from.size()));
    fs::copy_file(e.path(), target);
    fs::permissions(target, fs::perms::owner_write, fs::perm_options::add);
  }
}

// Every file under dir with its bytes.
std::map<std::string, std::string> Snapshot(const std::string& dir) {
  std::map<std::string, std::string> files;
  for (const auto& e : fs::recursive_directory_iterator(dir)) {
    std::ostringstream bytes;
    if (e.is_regular_file()) bytes << std::ifstream(e.path(), std::ios::binary).rdbuf();
    files[fs::relative(e.path(), dir).string()] = bytes.str();
  }
  return files;
}

std::uint32_t Records(const std::string& path) {
  engine::OpenOptions options;
  options.useHeaderKey = true;
  std::unique_ptr<engine::ParadoxTable> table;
  EXPECT_TRUE(engine::ParadoxTable::Open(path, options, &table).ok()) << path;
  return table ? table->RecordCount() : 0;
}

}  // namespace

// STORE.DB (C's files) and store.db (primary's) in one folder: each command
// on either twin, on the folder, or writing into it, refuses with a message
// naming both, and no byte of the folder (nor of another one) changes.
TEST(VdxTables, TwinNamesAreRefusedByEveryCommandBeforeAnythingIsWritten) {
  TempDir tmp;
  tmp.MakeDir("db");
  tmp.MakeDir("out");
  const std::string db = tmp / "db";
  CopyTable("C", db, "STORE");
  CopyTable("primary", db, "store");
  const struct {
    std::string args;
    int code;
  } cases[] = {
      {"pack " + db + "/STORE.DB", 1},
      {"pack " + db + "/store", 1},
      {"restructure " + db + "/STORE.DB --like " + kSamples + "primary.db", 1},
      {"restructure " + kSamples + "primary.db --like " + db + "/store.db --save-as " +
           tmp / "out/P.DB",
       1},
      {"restructure " + kSamples + "primary.db --like " + kSamples + "primary.db --save-as " + db +
           "/store.db",
       1},
      {"verify " + db + "/store.db", 1},
      {"verify " + db, 1},
      {"repair " + db + "/STORE.DB", 2},
      {"repair " + db, 2},
      {"repair " + db + "/store.db --dry-run", 2},
      {"borrow " + db + "/STORE.DB " + tmp / "out/S.DB", 1},
      {"borrow " + kSamples + "primary.db " + db + "/store.db --force", 1},
      {"info " + db + "/STORE.DB", 1},
      {"dump " + db + "/store.db", 1},
  };
  const auto before = Snapshot(tmp.Dir());
  ASSERT_EQ(before.count("db/STORE.X02"), 1u);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args);
    const VdxRun v = Vdx(c.args);
    EXPECT_EQ(v.code, c.code) << v.out;
    EXPECT_NE(v.out.find("differ only in letter case"), std::string::npos) << v.out;
    EXPECT_NE(v.out.find("STORE.DB and store.db"), std::string::npos) << v.out;
    EXPECT_EQ(Snapshot(tmp.Dir()), before);
  }
}

// borrow refuses a destination that exists in any letter case; --force
// replaces it under its own name; the source itself is never replaced.
TEST(VdxTables, BorrowReplacesAnExistingTableOnlyWhenForced) {
  TempDir tmp;
  CopyTable("C", tmp.Dir(), "FILMS");
  const std::string films = tmp / "FILMS.DB";
  const std::uint32_t records = Records(films);
  ASSERT_GT(records, 0u);
  const auto before = Snapshot(tmp.Dir());
  for (const std::string& dst : {films, tmp / "films.db", tmp / "Films"}) {
    SCOPED_TRACE(dst);
    const VdxRun v = Vdx("borrow " + kSamples + "primary.db " + dst);
    EXPECT_EQ(v.code, 1) << v.out;
    EXPECT_NE(v.out.find(films + " exists"), std::string::npos) << v.out;
    EXPECT_NE(v.out.find("--force"), std::string::npos) << v.out;
    EXPECT_EQ(Snapshot(tmp.Dir()), before);
  }
  const VdxRun self = Vdx("borrow " + films + " " + tmp / "films.db --force");
  EXPECT_EQ(self.code, 1) << self.out;
  EXPECT_EQ(Snapshot(tmp.Dir()), before);

  const VdxRun forced = Vdx("borrow --force " + kSamples + "primary.db " + tmp / "films.db");
  ASSERT_EQ(forced.code, 0) << forced.out;
  EXPECT_NE(forced.out.find(films + ": structure of "), std::string::npos) << forced.out;
  EXPECT_FALSE(tmp.Exists("films.db"));
  EXPECT_EQ(Records(films), 0u);
  // The replaced table's indexes went with it; the new ones keep its case.
  EXPECT_FALSE(tmp.Exists("FILMS.X02"));
  EXPECT_TRUE(tmp.Exists("FILMS.PX"));
  const auto indexes = [](const std::string& table) {
    const std::string text = Vdx("info " + table).out;
    const std::size_t from = text.find("indexes:");
    return text.substr(from, text.find("checks:") - from);
  };
  EXPECT_EQ(indexes(films), indexes(kSamples + "primary.db"));
}
