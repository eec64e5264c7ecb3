// The direct calls as the table tools make them: descriptors of a table
// opened through the dataset layer, database handles on a folder, the
// restructure and pack requests, and the last error they leave behind.
#include "DbiCalls.h"

#include <gtest/gtest.h>

#include <cstring>

#include "RestructureChecks.h"
#include "TTable.h"
#include "TableLock.h"
#include "TestTables.h"

namespace {

using restructuretest::CopyFolder;

std::string Data() { return std::string(VARDEX_TEST_DATA_DIR) + "/paradox-restructure"; }

class DbiCallsTest : public ::testing::Test {
 protected:
  void SetUp() override { CopyFolder(Data(), tmp_.Dir()); }
  hDBICur OpenTable(const char* name) {
    table_.DatabaseName = tmp_.Dir();
    table_.TableName = name;
    table_.Open();
    return table_.Handle();
  }
  TempDir tmp_;
  engine::TTable table_;
};

TEST_F(DbiCallsTest, ACursorDescribesFieldsIndexesChecksAndLinks) {
  hDBICur cur = OpenTable("C.DB");
  CURProps props{};
  ASSERT_EQ(DbiGetCursorProps(cur, props), DBIERR_NONE);
  EXPECT_EQ(props.iFields, 3);
  EXPECT_EQ(props.iIndexes, 3);
  EXPECT_EQ(props.iValChecks, 2);
  EXPECT_EQ(props.iRefIntChecks, 2);
  EXPECT_FALSE(props.bProtected);
  EXPECT_STREQ(props.szTableType, "PARADOX");

  std::vector<FLDDesc> fields(props.iFields);
  ASSERT_EQ(DbiGetFieldDescs(cur, fields.data()), DBIERR_NONE);
  for (std::uint16_t i = 0; i < props.iFields; ++i) EXPECT_EQ(fields[i].iFldNum, i + 1);

  IDXDesc index{};
  ASSERT_EQ(DbiGetIndexDesc(cur, 2, index), DBIERR_NONE);
  EXPECT_STREQ(index.szName, "A");
  EXPECT_EQ(index.aiKeyFld[0], 2);
  VCHKDesc check{};
  ASSERT_EQ(DbiGetVchkDesc(cur, 2, check), DBIERR_NONE);
  EXPECT_EQ(check.iFldNum, 2);
  EXPECT_TRUE(check.bRequired);
  RINTDesc link{};
  ASSERT_EQ(DbiGetRintDesc(cur, 1, link), DBIERR_NONE);
  EXPECT_EQ(link.eType, rintDEPENDENT);
  EXPECT_STREQ(link.szRintName, "Reference A");
  EXPECT_STRCASEEQ(link.szTblName, (tmp_.Dir() + "/A.db").c_str());
}

TEST_F(DbiCallsTest, AStructureOnlyOpenDescribesTheTableButReadsNoRecords) {
  CURProps full{};
  ASSERT_EQ(DbiGetCursorProps(OpenTable("C.DB"), full), DBIERR_NONE);
  table_.Close();
  table_.StructureOnly = true;
  CURProps bare{};
  hDBICur cur = OpenTable("C.DB");
  ASSERT_EQ(DbiGetCursorProps(cur, bare), DBIERR_NONE);
  EXPECT_EQ(std::memcmp(&full, &bare, sizeof full), 0);
  // Never an empty table in place of the records it was not opened for.
  EXPECT_THROW(table_.First(), engine::EDatabaseError);
  engine::TableCursor records = cur->NewCursor();
  EXPECT_FALSE(records.Next());
  EXPECT_FALSE(records.status().ok());
}

TEST_F(DbiCallsTest, AMasterListsItsDependentsAndAMissingNumberIsAnError) {
  hDBICur cur = OpenTable("primary.db");
  CURProps props{};
  ASSERT_EQ(DbiGetCursorProps(cur, props), DBIERR_NONE);
  ASSERT_EQ(props.iRefIntChecks, 5);
  for (std::uint16_t n = 1; n <= props.iRefIntChecks; ++n) {
    RINTDesc link{};
    ASSERT_EQ(DbiGetRintDesc(cur, n, link), DBIERR_NONE);
    EXPECT_EQ(link.eType, rintMASTER);
  }
  IDXDesc index{};
  const DBIResult r = DbiGetIndexDesc(cur, 2, index);
  EXPECT_EQ(r, DBIERR_NOSUCHINDEX);
  DBIErrInfo info{};
  DbiGetErrorInfo(false, info);
  EXPECT_EQ(info.iError, r);
  EXPECT_EQ(DbiGetCursorProps(nullptr, props), DBIERR_INVALIDHNDL);
}

TEST_F(DbiCallsTest, DatabaseHandlesFollowTheirFolder) {
  hDBIDb db = nullptr;
  ASSERT_EQ(DbiOpenDatabase(nullptr, "STANDARD", dbiREADWRITE, dbiOPENEXCL, nullptr, 0, nullptr,
                            nullptr, db),
            DBIERR_NONE);
  ASSERT_NE(db, nullptr);
  ASSERT_EQ(DbiSetDirectory(db, (tmp_.Dir() + "/").c_str()), DBIERR_NONE);
  DBIPATH dir{};
  ASSERT_EQ(DbiGetDirectory(db, false, dir), DBIERR_NONE);
  EXPECT_EQ(std::string(dir), tmp_.Dir());
  EXPECT_EQ(DbiSetDirectory(db, (tmp_.Dir() + "/none").c_str()), DBIERR_DIRNOTFOUND);
  EXPECT_EQ(std::string(dir), tmp_.Dir());
  EXPECT_EQ(DbiCloseDatabase(db), DBIERR_NONE);
  EXPECT_EQ(db, nullptr);

  EXPECT_EQ(ErrCat(DbiOpenDatabase(nullptr, "ODBC", dbiREADWRITE, dbiOPENEXCL, nullptr, 0, nullptr,
                                   nullptr, db)),
            ERRCAT_CONFIG);
  EXPECT_EQ(DbiOpenDatabase("NO SUCH ALIAS", nullptr, dbiREADWRITE, dbiOPENEXCL, nullptr, 0,
                            nullptr, nullptr, db),
            DBIERR_UNKNOWNDB);
  EXPECT_EQ(db, nullptr);

  // The dataset layer's table names its folder's shared handle.
  OpenTable("CUSTOMER.DB");
  ASSERT_EQ(DbiGetDirectory(engine::TableDatabase(table_.DatabasePath()), false, dir), DBIERR_NONE);
  EXPECT_EQ(std::string(dir), tmp_.Dir());
}

// The pack request of the table tools: a zero-filled request naming the
// table, on an exclusive handle set to its folder.
TEST_F(DbiCallsTest, APackRequestRewritesTheTableInItsFolder) {
  const std::string path = tmp_ / "CUSTOMER.DB";
  const std::uint32_t records = restructuretest::OpenForTest(path)->RecordCount();
  hDBIDb db = nullptr;
  ASSERT_EQ(DbiOpenDatabase(nullptr, "STANDARD", dbiREADWRITE, dbiOPENEXCL, nullptr, 0, nullptr,
                            nullptr, db),
            0);
  ASSERT_EQ(DbiSetDirectory(db, tmp_.Dir().c_str()), 0);
  CRTblDesc desc{};
  std::strcpy(desc.szTblName, "CUSTOMER.DB");
  std::strcpy(desc.szTblType, "PARADOX");
  desc.bPack = true;
  DBIPATH keyviol = "stale";
  ASSERT_EQ(DbiDoRestructure(db, 1, &desc, nullptr, keyviol, nullptr, false), DBIERR_NONE);
  EXPECT_STREQ(keyviol, "");
  EXPECT_EQ(restructuretest::OpenForTest(path)->RecordCount(), records);
  restructuretest::ExpectIndexesMatch(path);

  EXPECT_EQ(DbiDoRestructure(db, 2, &desc, nullptr, nullptr, nullptr, false), DBIERR_INVALIDPARAM);
  EXPECT_EQ(DbiDoRestructure(db, 1, &desc, nullptr, nullptr, nullptr, true), DBIERR_NOTSUPPORTED);
  std::strcpy(desc.szTblName, "MISSING.DB");
  EXPECT_EQ(ErrCat(DbiDoRestructure(db, 1, &desc, nullptr, nullptr, nullptr, false)),
            ERRCAT_NOTFOUND);

  // Another program holding the table is a lock conflict, reported with its text.
  engine::TableLock other;
  ASSERT_TRUE(other.Acquire(path, true).ok());
  std::strcpy(desc.szTblName, "CUSTOMER.DB");
  const DBIResult r = DbiDoRestructure(db, 1, &desc, nullptr, nullptr, nullptr, false);
  EXPECT_EQ(ErrCat(r), ERRCAT_LOCKCONFLICT);
  DBIErrInfo info{};
  DbiGetErrorInfo(false, info);
  EXPECT_EQ(info.iError, r);
  EXPECT_NE(std::string(info.szErrCode), "");
  DbiCloseDatabase(db);
}

}  // namespace
