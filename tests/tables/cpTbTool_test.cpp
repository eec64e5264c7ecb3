// The component's own rules: where the reference folder is, the link
// questions on real linked tables, the engine's error text, and packing.
#include "cpTbTool.h"

#include <gtest/gtest.h>

#include "DbiErrors.h"
#include "Status.h"
#include "TablesTestSupport.h"

namespace {

using namespace tbtest;

// A database folder holding copies of the linked sample tables, with their
// reference copies in METADATA.
class Database : public ::testing::Test {
 protected:
  void SetUp() override {
    CopyFiles(DataDir(), dir);
    fs::create_directories(meta);
    for (const char* t : {"primary.db", "multiple.db", "to_multiple.db", "A.db", "B.db", "C.DB"}) {
      Borrow(dir + "/" + t, meta + "/" + t);
    }
  }

  TempDir tmp;
  const std::string dir = tmp / "data";
  const std::string meta = dir + "/METADATA";
  Aliases aliases{{{"SALES", dir}, {"NOPATH", ""}, {"OTHER", tmp / "other"}}};
  TZelTableTools tools;
};

TEST_F(Database, ReferenceFolderFollowsTheDatabaseName) {
  tools.DatabaseName = "SALES";
  EXPECT_EQ(tools.MetaDatabaseName(), dir + "/METADATA");
  tools.DatabaseName = "sales";  // alias names ignore case
  EXPECT_EQ(tools.MetaDatabaseName(), dir + "/METADATA");
  tools.DatabaseName = dir + "/SAFE/";  // a folder in place of an alias
  EXPECT_EQ(tools.MetaDatabaseName(), dir + "/SAFE/METADATA");
  tools.DatabaseName = dir;  // no trailing separator: the folder is taken whole
  EXPECT_EQ(tools.MetaDatabaseName(), dir + "/METADATA");

  for (const char* bad : {"NOPATH", ""}) {
    tools.DatabaseName = bad;
    try {
      tools.MetaDatabaseName();
      ADD_FAILURE() << "no error for '" << bad << "'";
    } catch (const ETableTools& e) {
      EXPECT_STREQ(e.what(), "Invalid alias name");
    }
  }
}

TEST_F(Database, ReferenceFolderSetExplicitlyStaysUntilCleared) {
  tools.DatabaseName = "SALES";
  tools.SetMetaDatabaseName(dir + "/SAFE/METADATA/");
  tools.DatabaseName = "OTHER";
  EXPECT_EQ(tools.MetaDatabaseName(), dir + "/SAFE/METADATA/");
  tools.SetMetaDatabaseName("");
  EXPECT_EQ(tools.MetaDatabaseName(), tmp / "other/METADATA");
}

// Opening a reference must not pin the default to that database: the next
// database's tables are paired with its own METADATA.
TEST_F(Database, DefaultReferenceFolderIsNotKeptFromAnEarlierOpen) {
  tools.DatabaseName = "SALES";
  tools.TableName = "A.db";
  tools.OpenMeta();
  tools.CloseMeta();
  tools.DatabaseName = "OTHER";
  EXPECT_EQ(tools.MetaDatabaseName(), tmp / "other/METADATA");
}

TEST_F(Database, MastersOfDependentLinksOnly) {
  tools.DatabaseName = "SALES";
  struct Case {
    const char* table;
    int count;
    std::vector<std::string> masters;
  };
  // multiple.db: two dependent links to primary, one master link from
  // to_multiple; primary.db is master only.
  for (const Case& c : {Case{"multiple.db", 2, {"primary.db", "primary.db"}},
                        Case{"to_multiple.db", 1, {"multiple.db"}},
                        Case{"C.DB", 2, {"a.db", "b.db"}}, Case{"primary.db", 0, {}}}) {
    tools.TableName = c.table;
    for (bool useMeta : {false, true}) {
      SCOPED_TRACE(std::string(c.table) + (useMeta ? " reference" : " live"));
      useMeta ? tools.OpenMeta() : tools.Open();
      EXPECT_EQ(tools.MasterCount(useMeta), c.count);
      for (int i = 1; i <= c.count; ++i) {
        EXPECT_EQ(Lower(tools.MasterName(useMeta, i)), c.masters[i - 1]);
      }
      for (int bad : {0, c.count + 1, -1}) {
        EXPECT_THROW(tools.MasterName(useMeta, bad), ETableTools) << bad;
      }
      useMeta ? tools.CloseMeta() : tools.Close();
    }
  }
}

TEST_F(Database, MasterNamePastTheLastDependentLink) {
  tools.DatabaseName = "SALES";
  tools.TableName = "multiple.db";  // three links, the third master-type
  tools.Open();
  try {
    tools.MasterName(false, 3);
    ADD_FAILURE() << "no error";
  } catch (const ETableTools& e) {
    EXPECT_STREQ(e.what(), "Table index out of range");
  }
}

TEST(Check, EngineTextWithItsContextLines) {
  TZelTableTools tools;
  EXPECT_EQ(tools.Check(0), 0);

  engine::RecordError(
      engine::Status(DBIERR_KEYVIOL, "Key violation.").WithContext("ORDERS.DB").WithContext("Key"));
  try {
    tools.Check(DBIERR_KEYVIOL);
    ADD_FAILURE() << "no error";
  } catch (const EBdeApi& e) {
    EXPECT_STREQ(e.what(), "Key violation.\nORDERS.DB\nKey");
  }
  // A result that is not the last error recorded: the code's own text.
  try {
    tools.Check(DBIERR_NOSUCHTABLE);
    ADD_FAILURE() << "no error";
  } catch (const EBdeApi& e) {
    DBIMSG text{};
    DbiGetErrorString(DBIERR_NOSUCHTABLE, text);
    EXPECT_STREQ(e.what(), text);
    EXPECT_NE(std::string(text), "");
  }
}

TEST_F(Database, PackRequestsNothingButThePack) {
  tools.DatabaseName = "SALES";
  tools.TableName = "C.DB";
  const auto before = Rows(dir, "C.DB");
  const Shape shape = ShapeOf(dir, "C.DB");
  Request request;
  tools.OnRestructureRequest = [&](const CRTblDesc& r) { request.Take(r); };
  std::vector<bool> busy;
  tools.OnBusyCursor = [&](bool b) { busy.push_back(b); };
  tools.Pack(true);

  EXPECT_STREQ(request.header.szTblName, "C.DB");
  EXPECT_STREQ(request.header.szTblType, "PARADOX");
  EXPECT_TRUE(request.header.bPack);
  EXPECT_FALSE(request.header.bProtected);
  EXPECT_EQ(request.header.iFldCount + request.header.iIdxCount + request.header.iValChkCount +
                request.header.iRintCount,
            0);
  EXPECT_EQ(busy, (std::vector<bool>{true, false}));
  EXPECT_FALSE(tools.Active());
  EXPECT_FALSE(tools.MetaTable().Active());
  EXPECT_EQ(Rows(dir, "C.DB"), before);
  const Shape after = ShapeOf(dir, "C.DB");
  EXPECT_EQ(after.indexes, shape.indexes);
  EXPECT_EQ(after.links, shape.links);
  EXPECT_EQ(after.checks, shape.checks);
}

TEST_F(Database, PackWithoutReferenceClosesEverything) {
  tools.DatabaseName = "SALES";
  tools.TableName = "fk1.db";  // no reference copy
  std::vector<bool> busy;
  tools.OnBusyCursor = [&](bool b) { busy.push_back(b); };
  EXPECT_ANY_THROW(tools.Pack(true));
  EXPECT_EQ(busy, (std::vector<bool>{true, false}));
  EXPECT_FALSE(tools.Active());
  EXPECT_FALSE(tools.MetaTable().Active());
  busy.clear();
  EXPECT_ANY_THROW(tools.Pack(false));
  EXPECT_TRUE(busy.empty());
}

// A protected reference: the request carries the password only when one
// was given; without one the request says unprotected.
TEST(Pack, PasswordOnlyWhenGiven) {
  TempDir tmp;
  const std::string dir = tmp / "db";
  fs::create_directories(dir + "/METADATA");
  for (const std::string& folder : {dir, dir + "/METADATA"}) {
    engine::TTable t;
    t.DatabaseName = folder;
    t.TableName = "SECRET.DB";
    t.FieldDefs.Add("Id", engine::FieldType::Long);
    t.FieldDefs.Add("Name", engine::FieldType::Alpha, 10);
    t.KeyFields = 1;
    t.Password = "Geheim7";
    t.CreateTable();
  }
  engine::TSession::Default().AddPassword("Geheim7");
  TZelTableTools tools;
  tools.DatabaseName = dir + "/";
  tools.TableName = "SECRET.DB";
  Request request;
  tools.OnRestructureRequest = [&](const CRTblDesc& r) { request.Take(r); };
  tools.Pack(false);
  EXPECT_FALSE(request.header.bProtected);
  EXPECT_STREQ(request.header.szPassword, "");

  tools.Password = "Geheim7";
  tools.Pack(false);
  EXPECT_TRUE(request.header.bProtected);
  EXPECT_STREQ(request.header.szPassword, "Geheim7");
  engine::TSession::Default().RemoveAllPasswords();
}

}  // namespace
