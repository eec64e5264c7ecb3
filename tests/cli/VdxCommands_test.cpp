// The table commands of `vdx`: create-demo builds sound databases, verify
// reports them (and damage) with its exit codes, dump and info describe them.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>

#include "Journal.h"
#include "ParadoxTable.h"
#include "PxlibReader.h"
#include "TableWriter.h"
#include "TestTables.h"
#include "VdxRun.h"

using namespace engine;

TEST(VdxCommands, DemoDatabasesAreSoundAndCoverEveryType) {
  TempDir dir;
  ASSERT_EQ(Vdx("create-demo " + dir.Dir()).code, 0);
  for (const char* db : {"/DEMO", "/SALES", "/DEMO/METADATA", "/SALES/METADATA"}) {
    const VdxRun v = Vdx("verify " + dir.Dir() + db);
    EXPECT_EQ(v.code, 0) << v.out;
    EXPECT_EQ(v.out.find("damaged"), std::string::npos) << v.out;
  }
  std::string types;
  for (const char* t : {"/DEMO/CUSTOMER.DB", "/DEMO/ORDERS.DB"}) {
    OpenOptions options;
    std::unique_ptr<ParadoxTable> table;
    ASSERT_TRUE(ParadoxTable::Open(dir.Dir() + t, options, &table).ok());
    EXPECT_GE(table->RecordCount(), 200u);
    for (const FieldDesc& f : table->Fields()) types += TypeLetter(f.type);
    EXPECT_TRUE(pxtest::ReadWithPxlibIsolated(dir.Dir() + t, "").ok);
  }
  for (char c : std::string("ADSI$NLMBFOGT@+#Y")) EXPECT_NE(types.find(c), std::string::npos) << c;
  // The reference folder's detail table has one field more than the live one.
  OpenOptions options;
  std::unique_ptr<ParadoxTable> live, reference;
  ASSERT_TRUE(ParadoxTable::Open(dir.Dir() + "/SALES/SALE.DB", options, &live).ok());
  ASSERT_TRUE(ParadoxTable::Open(dir.Dir() + "/SALES/METADATA/SALE.DB", options, &reference).ok());
  EXPECT_EQ(reference->Fields().size(), live->Fields().size() + 1);
  EXPECT_EQ(reference->RecordCount(), 0u);
}

TEST(VdxCommands, DumpInfoAndVerifyExitCodes) {
  TempDir dir;
  ASSERT_EQ(Vdx("create-demo " + dir.Dir()).code, 0);
  const std::string table = dir.Dir() + "/DEMO/customer";  // found without regard to case
  const VdxRun dump = Vdx("dump " + table);
  ASSERT_EQ(dump.code, 0) << dump.out;
  EXPECT_EQ(dump.out.rfind("{\"table\":\"CUSTOMER.DB\",\"level\":7,\"codepage\":1252,\"fields\":[{"
                           "\"name\":\"CustNo\","
                           "\"type\":\"+\",\"size\":4},",
                           0),
            0u)
      << dump.out.substr(0, 200);
  EXPECT_NE(dump.out.find("\n[1,\"Atlantic Traders 1\",\"1985-01-01\",false,"), std::string::npos);
  EXPECT_NE(dump.out.find(",\"D\xC3\xBCnen Handel 4\","), std::string::npos);  // 1252 text as UTF-8
  EXPECT_EQ(Vdx("dump " + table + " >/dev/full").code, 1);  // output lost: not a success
  const VdxRun info = Vdx("info " + table);
  EXPECT_EQ(info.code, 0);
  EXPECT_NE(info.out.find("records:    240"), std::string::npos) << info.out;
  // Damage one block header: verify exits 1 and names the table.
  {
    std::fstream f(dir.Dir() + "/DEMO/CUSTOMER.DB",
                   std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(2048 + 4);
    f.put('\x7f');
  }
  const VdxRun v = Vdx("verify " + dir.Dir() + "/DEMO/");
  EXPECT_EQ(v.code, 1);
  EXPECT_NE(v.out.find(dir.Dir() + "/DEMO/CUSTOMER.DB: damaged"), std::string::npos) << v.out;
  EXPECT_NE(v.out.find("CUSTOMER.DB: damaged"), std::string::npos) << v.out;
  EXPECT_NE(v.out.find("ORDERS.DB: ok"), std::string::npos) << v.out;
}

TEST(VdxCommands, InfoShowsIndexesChecksAndLinksAndABorrowedCopyKeepsThem) {
  const std::string table = std::string(VARDEX_TEST_DATA_DIR) + "/paradox-restructure/C.DB";
  const VdxRun v = Vdx("info " + table);
  ASSERT_EQ(v.code, 0) << v.out;
  for (const char* line : {"indexes:    3\n", "  (primary)\tC unique\n", "  A\tA\n", "  B\tB\n",
                           "checks:     2\n", "  C required\n", "  A required\n", "links:      2\n",
                           "Reference A\tA cascade\n", "Reference B\tB cascade\n"}) {
    EXPECT_NE(v.out.find(line), std::string::npos) << "missing: " << line << "\n" << v.out;
  }

  TempDir dir;
  ASSERT_EQ(Vdx("borrow " + table + " " + dir.Dir() + "/C.DB").code, 0);
  const VdxRun copy = Vdx("info " + dir.Dir() + "/C.DB");
  ASSERT_EQ(copy.code, 0) << copy.out;
  const auto structure = [](const std::string& text) {
    const std::size_t from = text.find("indexes:");
    const std::size_t to = text.find("links:");
    return text.substr(from, to - from);
  };
  EXPECT_EQ(structure(copy.out), structure(v.out));
  EXPECT_NE(copy.out.find("records:    0\n"), std::string::npos) << copy.out;
}

// verify writes nothing and names what is not whole; info and dump, which
// only read too, report a pending replacement and leave it to a command
// that changes the table.
TEST(VdxCommands, VerifyReportsPendingAndIncompleteTablesWithoutWriting) {
  struct Case {
    const char* what;
    std::function<void(const std::string& dir)> damage;
    const char* says;
  };
  const Case cases[] = {
      {"pending journal",
       [](const std::string& dir) {
         std::ofstream(dir + "/.CUSTOMER.DB.journal~")
             << engine::EncodeJournal({{dir + "/.CUSTOMER.DB.new~/CUSTOMER.PX", dir + "/CUSTOMER.PX"}});
       },
       "CUSTOMER.DB: pending"},
      {"missing .PX", [](const std::string& dir) { std::remove((dir + "/CUSTOMER.PX").c_str()); },
       "CUSTOMER.DB: damaged"},
      {"truncated .PX",
       [](const std::string& dir) { std::filesystem::resize_file(dir + "/CUSTOMER.PX", 100); },
       "CUSTOMER.DB: damaged"},
      {"parked .PX",
       [](const std::string& dir) {
         std::filesystem::rename(dir + "/CUSTOMER.PX", dir + "/CUSTOMER.P$");
       },
       "CUSTOMER.DB: damaged"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    ASSERT_EQ(Vdx("create-demo " + dir.Dir()).code, 0);
    const std::string db = dir.Dir() + "/DEMO";
    c.damage(db);
    std::set<std::string> before;
    for (const auto& e : std::filesystem::directory_iterator(db)) before.insert(e.path().string());
    const VdxRun v = Vdx("verify " + db);
    EXPECT_EQ(v.code, 1) << v.out;
    EXPECT_NE(v.out.find(c.says), std::string::npos) << v.out;
    EXPECT_NE(v.out.find("ORDERS.DB: ok"), std::string::npos) << v.out;
    if (std::string(c.says).find("pending") != std::string::npos) {
      for (const char* command : {"info ", "dump "}) {
        const VdxRun r = Vdx(command + db + "/CUSTOMER.DB");
        EXPECT_EQ(r.code, 1) << command << r.out;
        EXPECT_NE(r.out.find("is pending"), std::string::npos) << command << r.out;
      }
    }
    std::set<std::string> after;
    for (const auto& e : std::filesystem::directory_iterator(db)) after.insert(e.path().string());
    EXPECT_EQ(after, before);
  }
}

// A command without what it works on, or named input that is not there,
// exits with 2 (and says what is missing where it names a file).
TEST(VdxCommands, MissingArgumentsAndInputExitWithTwo) {
  TempDir dir;
  const struct {
    std::string args;
    std::string says;
  } cases[] = {
      {"verify", ""},
      {"dump", ""},
      {"verify " + dir / "nothing.db", ""},
      {"aliases --config /nonexistent/engine.ini", "/nonexistent/engine.ini"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args);
    const VdxRun v = Vdx(c.args);
    EXPECT_EQ(v.code, 2) << v.out;
    EXPECT_NE(v.out.find(c.says), std::string::npos) << v.out;
  }
}

// Values cut by a shorter reference: the records are kept whole in
// PROBLEMS/ beside the table, one set per run, and vdx says so.
TEST(VdxCommands, RestructureKeepsAndNamesTheRecordsItSetAside) {
  TempDir dir;
  const std::string from = std::string(VARDEX_TEST_DATA_DIR) + "/paradox-mtdemo/";
  std::filesystem::create_directories(dir / "METADATA");
  std::unique_ptr<ParadoxTable> source;
  ASSERT_TRUE(ParadoxTable::Open(from + "CUSTOMER.DB", OpenOptions{}, &source).ok());
  TableDefinition def;
  def.fields = source->Fields();
  def.fields[1].size = 10;  // Last Name A15 -> A10
  def.key_fields = 1;
  ASSERT_TRUE(CreateTable(Env::Default(), dir / "METADATA/CUSTOMER.DB", def).ok());
  for (int run = 1; run <= 2; ++run) {
    for (const char* name : {"CUSTOMER.DB", "CUSTOMER.PX", "CUSTOMER.VAL"}) {
      std::filesystem::copy_file(from + name, dir / name,
                                 std::filesystem::copy_options::overwrite_existing);
      std::filesystem::permissions(dir / name, std::filesystem::perms::owner_write,
                                   std::filesystem::perm_options::add);
    }
    const VdxRun v =
        Vdx("restructure " + dir / "CUSTOMER.DB" + " --like " + dir / "METADATA/CUSTOMER.DB");
    ASSERT_EQ(v.code, 0) << v.out;
    EXPECT_NE(v.out.find("warning: CUSTOMER.DB: "), std::string::npos) << v.out;
    EXPECT_NE(v.out.find(" records set aside in " + dir / "PROBLEMS"), std::string::npos) << v.out;
    EXPECT_FALSE(std::filesystem::exists(dir / "PROBLEMS.DB"));
    int sets = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir / "PROBLEMS")) {
      const std::string name = e.path().filename().string();
      EXPECT_EQ(name.rfind("CUSTOMER_", 0), 0u) << name;
      if (name.ends_with(".DB")) {
        ++sets;
        EXPECT_TRUE(pxtest::ReadWithPxlibIsolated(e.path().string(), "").ok) << name;
      }
    }
    EXPECT_EQ(sets, run);  // an earlier set is never overwritten
  }
}
