// What a restructure keeps of the records: fields by position, stored
// autoincrement values, and the records a new key rejects, which are moved
// into KEYVIOL beside the table instead of being thrown away.
#include <gtest/gtest.h>

#include <ctime>

#include "TablesTestSupport.h"
#include "cpKeyViol.h"
#include "cpTbTool.h"
#include "tlFile.h"

namespace {

using namespace tbtest;
using engine::FieldType;

struct Col {
  const char* name;
  FieldType type;
  int size;
};

void Create(const std::string& dir, const std::string& table, const std::vector<Col>& cols,
            int keyFields, const std::vector<std::vector<std::string>>& rows = {}) {
  fs::create_directories(dir);
  engine::TTable t;
  t.DatabaseName = dir;
  t.TableName = table;
  for (const Col& c : cols) t.FieldDefs.Add(c.name, c.type, c.size);
  t.KeyFields = keyFields;
  t.CreateTable();
  if (rows.empty()) return;
  t.Open();
  for (const auto& row : rows) {
    t.Insert();
    for (std::size_t i = 0; i < row.size(); ++i) t.FieldByName(cols[i].name).SetAsString(row[i]);
    t.Post();
  }
  t.Close();
}

class Keep : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(meta);
    tools.DatabaseName = dir + "/";
    tools.OnRestructureRequest = [this](const CRTblDesc& r) { request.Take(r); };
  }
  void Run(const std::string& table) {
    tools.TableName = table;
    tools.Restructure("", false);
  }
  std::vector<std::string> Tables() { return Sorted(ListFiles(dir + "/*.db")); }

  TempDir tmp;
  const std::string dir = tmp / "db";
  const std::string meta = dir + "/METADATA";
  TZelTableTools tools;
  Request request;
};

TEST_F(Keep, LongerReferenceAddsFieldsKeepingDataByPosition) {
  Create(
      dir, "PEOPLE.DB",
      {{"Id", FieldType::Long, 0}, {"Name", FieldType::Alpha, 10}, {"City", FieldType::Alpha, 10}},
      1, {{"1", "Ann", "Bonn"}, {"2", "Bob", "Rome"}});
  Create(meta, "PEOPLE.DB",
         {{"Id", FieldType::Long, 0},
          {"Nom", FieldType::Alpha, 10},
          {"Town", FieldType::Alpha, 12},
          {"Zip", FieldType::Alpha, 5},
          {"Phone", FieldType::Alpha, 10}},
         1);
  Run("PEOPLE.DB");
  EXPECT_EQ(request.fieldOps, (std::vector<CROpType>{crMODIFY, crMODIFY, crMODIFY, crADD, crADD}));
  std::vector<int> numbers;
  for (const FLDDesc& f : request.fields) numbers.push_back(f.iFldNum);
  EXPECT_EQ(numbers, (std::vector<int>{1, 2, 3, 0, 0}));
  EXPECT_EQ(ShapeOf(dir, "PEOPLE.DB").fields,
            (std::vector<std::string>{"Id:I", "Nom:A", "Town:A", "Zip:A", "Phone:A"}));
  EXPECT_EQ(Rows(dir, "PEOPLE.DB"), (std::vector<std::string>{"1|Ann|Bonn|||", "2|Bob|Rome|||"}));
}

TEST_F(Keep, ShorterReferenceDropsTheLastFields) {
  Create(dir, "PEOPLE.DB",
         {{"Id", FieldType::Long, 0},
          {"Name", FieldType::Alpha, 10},
          {"City", FieldType::Alpha, 10},
          {"Zip", FieldType::Alpha, 5},
          {"Phone", FieldType::Alpha, 10}},
         1, {{"1", "Ann", "Bonn", "53111", "0228"}});
  Create(
      meta, "PEOPLE.DB",
      {{"Id", FieldType::Long, 0}, {"Name", FieldType::Alpha, 10}, {"City", FieldType::Alpha, 10}},
      1);
  Run("PEOPLE.DB");
  EXPECT_EQ(request.fields.size(), 3u);
  EXPECT_EQ(ShapeOf(dir, "PEOPLE.DB").fields.size(), 3u);
  EXPECT_EQ(Rows(dir, "PEOPLE.DB"), (std::vector<std::string>{"1|Ann|Bonn|"}));
}

// A reference autoincrement field over stored numbers keeps the numbers: an
// Update must never renumber the records others refer to.
TEST_F(Keep, AutoincrementValuesAreNotRenumbered) {
  Create(dir, "ITEMS.DB", {{"Id", FieldType::Long, 0}, {"Name", FieldType::Alpha, 10}}, 1,
         {{"10", "a"}, {"20", "b"}, {"35", "c"}});
  Create(meta, "ITEMS.DB", {{"Id", FieldType::AutoInc, 0}, {"Name", FieldType::Alpha, 10}}, 1);
  Run("ITEMS.DB");
  ASSERT_EQ(request.fields.size(), 2u);
  EXPECT_EQ(request.fields[0].iFldType, '+');
  EXPECT_EQ(request.fields[0].iSubType, fldstNONE);
  EXPECT_EQ(Rows(dir, "ITEMS.DB"), (std::vector<std::string>{"10|a|", "20|b|", "35|c|"}));
}

// A new key that rejects records: the rejected ones are kept in KEYVIOL,
// named after the table, and the database's own tables stay as they were.
TEST_F(Keep, RejectedRecordsKeptInKeyviol) {
  Create(dir, "ORDERS.DB", {{"Id", FieldType::Long, 0}, {"Item", FieldType::Alpha, 10}}, 0,
         {{"1", "first"}, {"1", "again"}, {"2", "second"}, {"2", "twice"}});
  // A reference copy as the tools make them: borrowed, primary index and all.
  Create(tmp / "keyed", "ORDERS.DB", {{"Id", FieldType::Long, 0}, {"Item", FieldType::Alpha, 10}},
         1);
  Borrow(tmp / "keyed/ORDERS.DB", meta + "/ORDERS.DB");
  const auto tables = Tables();
  Run("ORDERS.DB");

  EXPECT_EQ(Rows(dir, "ORDERS.DB").size(), 2u);
  EXPECT_EQ(Tables(), tables);
  ASSERT_NE(tools.LastKeyViolations, "");
  EXPECT_EQ(ExtractFilePath(tools.LastKeyViolations), dir + "/KEYVIOL/");
  EXPECT_EQ(ExtractFileName(tools.LastKeyViolations).rfind("ORDERS_", 0), 0u);
  const auto kept = Rows(dir + "/KEYVIOL", ExtractFileName(tools.LastKeyViolations));
  auto all = Rows(dir, "ORDERS.DB");
  all.insert(all.end(), kept.begin(), kept.end());
  EXPECT_EQ(Sorted(all), Sorted({"1|first|", "1|again|", "2|second|", "2|twice|"}));

  // A second run's rejects never replace the first's.
  Create(dir, "ORDERS.DB", {{"Id", FieldType::Long, 0}, {"Item", FieldType::Alpha, 10}}, 0,
         {{"3", "x"}, {"3", "y"}});
  const std::string first = tools.LastKeyViolations;
  Run("ORDERS.DB");
  EXPECT_NE(tools.LastKeyViolations, first);
  EXPECT_EQ(Rows(dir + "/KEYVIOL", ExtractFileName(first)).size(), 2u);
  EXPECT_EQ(Rows(dir + "/KEYVIOL", ExtractFileName(tools.LastKeyViolations)).size(), 1u);

  // A run whose records all fit reports nothing kept.
  Run("ORDERS.DB");
  EXPECT_EQ(tools.LastKeyViolations, "");
  EXPECT_EQ(Tables(), tables);
}

TEST(KeepKeyViolations, CompanionsMovedUnderAFreeName) {
  TempDir tmp;
  tmp.Write("KEYVIOL.DB", "data");
  tmp.Write("KEYVIOL.MB", "blobs");
  tmp.Write("KEYVIOLX.DB", "another table");
  tmp.MakeDir("KEYVIOL");
  tmp.Write("KEYVIOL/orders_20240131_142501.DB", "earlier");
  std::tm when{};
  when.tm_year = 124, when.tm_mon = 0, when.tm_mday = 31, when.tm_hour = 14, when.tm_min = 25,
  when.tm_sec = 1, when.tm_isdst = -1;

  const std::string kept = KeepKeyViolations(tmp / "KEYVIOL.DB", "orders.db", std::mktime(&when));
  EXPECT_EQ(kept, tmp / "KEYVIOL/orders_20240131_142501_2.DB");
  EXPECT_TRUE(tmp.Exists("KEYVIOL/orders_20240131_142501_2.MB"));
  EXPECT_FALSE(tmp.Exists("KEYVIOL.DB"));
  EXPECT_FALSE(tmp.Exists("KEYVIOL.MB"));
  EXPECT_TRUE(tmp.Exists("KEYVIOLX.DB"));
  EXPECT_TRUE(tmp.Exists("KEYVIOL/orders_20240131_142501.DB"));
}

}  // namespace

namespace {

// The restructured table is protected exactly when a password is given and
// its reference is protected; the records stay readable either way.
TEST_F(Keep, ProtectionFollowsTheReferenceWhenAPasswordIsGiven) {
  engine::TSession::Default().AddPassword("Geheim7");
  Create(dir, "CARDS.DB", {{"Id", FieldType::Long, 0}, {"Owner", FieldType::Alpha, 10}}, 0,
         {{"1", "Ann"}, {"2", "Bob"}});
  engine::TTable ref;
  ref.DatabaseName = meta;
  ref.TableName = "CARDS.DB";
  ref.FieldDefs.Add("Id", FieldType::Long);
  ref.FieldDefs.Add("Owner", FieldType::Alpha, 10);
  ref.Password = "Geheim7";
  ref.CreateTable();

  Run("CARDS.DB");  // no password given
  EXPECT_FALSE(request.header.bProtected);
  EXPECT_STREQ(request.header.szPassword, "");
  EXPECT_FALSE(ShapeOf(dir, "CARDS.DB").isProtected);

  tools.Password = "Geheim7";
  Run("CARDS.DB");
  EXPECT_TRUE(request.header.bProtected);
  EXPECT_STREQ(request.header.szPassword, "Geheim7");
  EXPECT_TRUE(ShapeOf(dir, "CARDS.DB").isProtected);
  EXPECT_EQ(Rows(dir, "CARDS.DB"), (std::vector<std::string>{"1|Ann|", "2|Bob|"}));
  engine::TSession::Default().RemoveAllPasswords();
}

}  // namespace
