// vdx plan: the preview of an Update on a demo database whose reference
// narrows a field and shortens nothing else; the counts it prints are those
// the restructure then reports, and the database is left as it was.
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>

#include "ParadoxTable.h"
#include "RestructureChecks.h"
#include "TableWriter.h"
#include "TestTables.h"
#include "VdxRun.h"

using namespace engine;

namespace {

// The value of "key":N in one JSON line, -1 when missing.
long Count(const std::string& line, const std::string& key) {
  std::smatch m;
  return std::regex_search(line, m, std::regex("\"" + key + "\":([0-9]+)")) ? std::stol(m[1])
                                                                           : -1;
}

}  // namespace

TEST(VdxPlan, JsonPerTableWithTheRestructuresCounts) {
  TempDir dir;
  ASSERT_EQ(Vdx("create-demo " + dir.Dir()).code, 0);
  const std::string db = dir / "DEMO";
  // CUSTOMER's reference: its second field narrowed to two characters.
  std::unique_ptr<ParadoxTable> live;
  ASSERT_TRUE(ParadoxTable::Open(db + "/CUSTOMER.DB", OpenOptions{}, &live).ok());
  TableDefinition def;
  def.fields = live->Fields();
  ASSERT_EQ(def.fields[1].type, FieldType::Alpha);
  def.fields[1].size = 2;
  def.key_fields = live->Header().key_fields;
  live.reset();
  for (const auto& e : std::filesystem::directory_iterator(db + "/METADATA"))
    if (e.path().stem() == "CUSTOMER") std::filesystem::remove(e.path());
  ASSERT_TRUE(CreateTable(Env::Default(), db + "/METADATA/CUSTOMER.DB", def).ok());
  const auto before = restructuretest::Snapshot(db);

  const VdxRun plan = Vdx("plan " + db + " --json");
  ASSERT_EQ(plan.code, 0) << plan.out;
  EXPECT_EQ(restructuretest::Snapshot(db), before);
  std::string customer;
  int lines = 0;
  for (std::size_t at = 0, end; (end = plan.out.find('\n', at)) != std::string::npos;
       at = end + 1, ++lines) {
    const std::string line = plan.out.substr(at, end - at);
    EXPECT_EQ(line.front(), '{') << line;
    EXPECT_GE(Count(line, "keyviol"), 0) << line;
    if (line.find("\"table\":\"CUSTOMER.DB\"") != std::string::npos) customer = line;
  }
  EXPECT_GE(lines, 2);
  EXPECT_NE(customer.find("\"change\":\"field narrowed\""), std::string::npos) << customer;
  const long problems = Count(customer, "problems");
  ASSERT_GT(problems, 0) << customer;

  const VdxRun done = Vdx("restructure " + db + "/CUSTOMER.DB --like " + db +
                          "/METADATA/CUSTOMER.DB");
  ASSERT_EQ(done.code, 0) << done.out;
  EXPECT_NE(done.out.find(std::to_string(problems) + " records set aside in"), std::string::npos)
      << done.out;

  EXPECT_EQ(Vdx("plan").code, 2);
  EXPECT_EQ(Vdx("plan " + dir / "NONE").code, 1);
}
