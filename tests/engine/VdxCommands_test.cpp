// The table commands of `vdx`: create-demo builds sound databases, verify
// reports them (and damage) with its exit codes, dump and info describe them.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <fstream>

#include "ParadoxTable.h"
#include "PxlibReader.h"
#include "TestTables.h"

using namespace engine;

namespace {

struct VdxRun {
  int code = -1;
  std::string out;
};

VdxRun Vdx(const std::string& args) {
  VdxRun r;
  FILE* p = ::popen((std::string(VDX_BINARY) + " " + args + " 2>&1").c_str(), "r");
  std::array<char, 4096> buf;
  std::size_t n;
  while ((n = std::fread(buf.data(), 1, buf.size(), p)) > 0) r.out.append(buf.data(), n);
  const int status = ::pclose(p);
  r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

}  // namespace

TEST(VdxCommands, DemoDatabasesAreSoundAndCoverEveryType) {
  enginetest::TempDir dir;
  ASSERT_EQ(Vdx("create-demo " + dir.path()).code, 0);
  for (const char* db : {"/DEMO", "/SALES", "/DEMO/METADATA", "/SALES/METADATA"}) {
    const VdxRun v = Vdx("verify " + dir.path() + db);
    EXPECT_EQ(v.code, 0) << v.out;
    EXPECT_EQ(v.out.find("damaged"), std::string::npos) << v.out;
  }
  std::string types;
  for (const char* t : {"/DEMO/CUSTOMER.DB", "/DEMO/ORDERS.DB"}) {
    OpenOptions options;
    std::unique_ptr<ParadoxTable> table;
    ASSERT_TRUE(ParadoxTable::Open(dir.path() + t, options, &table).ok());
    EXPECT_GE(table->RecordCount(), 200u);
    for (const FieldDesc& f : table->Fields()) types += TypeLetter(f.type);
    EXPECT_TRUE(pxtest::ReadWithPxlibIsolated(dir.path() + t, "").ok);
  }
  for (char c : std::string("ADSI$NLMBFOGT@+#Y")) EXPECT_NE(types.find(c), std::string::npos) << c;
  // The reference folder's detail table has one field more than the live one.
  OpenOptions options;
  std::unique_ptr<ParadoxTable> live, reference;
  ASSERT_TRUE(ParadoxTable::Open(dir.path() + "/SALES/SALE.DB", options, &live).ok());
  ASSERT_TRUE(ParadoxTable::Open(dir.path() + "/SALES/METADATA/SALE.DB", options, &reference).ok());
  EXPECT_EQ(reference->Fields().size(), live->Fields().size() + 1);
  EXPECT_EQ(reference->RecordCount(), 0u);
}

TEST(VdxCommands, DumpInfoAndVerifyExitCodes) {
  enginetest::TempDir dir;
  ASSERT_EQ(Vdx("create-demo " + dir.path()).code, 0);
  const std::string table = dir.path() + "/DEMO/customer";  // found without regard to case
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
  const VdxRun info = Vdx("info " + table);
  EXPECT_EQ(info.code, 0);
  EXPECT_NE(info.out.find("records:    240"), std::string::npos) << info.out;
  EXPECT_EQ(Vdx("verify").code, 2);
  EXPECT_EQ(Vdx("dump").code, 2);
  EXPECT_EQ(Vdx("verify " + dir.path() + "/nothing.db").code, 2);
  // Damage one block header: verify exits 1 and names the table.
  {
    std::fstream f(dir.path() + "/DEMO/CUSTOMER.DB",
                   std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(2048 + 4);
    f.put('\x7f');
  }
  const VdxRun v = Vdx("verify " + dir.path() + "/DEMO/");
  EXPECT_EQ(v.code, 1);
  EXPECT_NE(v.out.find(dir.path() + "/DEMO/CUSTOMER.DB: damaged"), std::string::npos) << v.out;
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

  enginetest::TempDir dir;
  ASSERT_EQ(Vdx("borrow " + table + " " + dir.path() + "/C.DB").code, 0);
  const VdxRun copy = Vdx("info " + dir.path() + "/C.DB");
  ASSERT_EQ(copy.code, 0) << copy.out;
  const auto structure = [](const std::string& text) {
    const std::size_t from = text.find("indexes:");
    const std::size_t to = text.find("links:");
    return text.substr(from, to - from);
  };
  EXPECT_EQ(structure(copy.out), structure(v.out));
  EXPECT_NE(copy.out.find("records:    0\n"), std::string::npos) << copy.out;
}
