// The preview of an Update: the dry run counts what the restructure then
// sets aside, and writes nothing.
#include "RestructurePreview.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "RestructureChecks.h"
#include "RestructureLike.h"
#include "TableWriter.h"
#include "TestTables.h"

namespace {

using engine::FieldDesc;
using engine::FieldType;
using engine::FieldValue;
using enginetest::Field;
using restructuretest::Snapshot;

void MakeTable(const std::string& path, const std::vector<FieldDesc>& fields, int key_fields,
               int rows) {
  engine::TableDefinition def;
  def.fields = fields;
  def.key_fields = key_fields;
  engine::Env* env = engine::Env::Default();
  ASSERT_TRUE(engine::CreateTable(env, path, def).ok());
  std::unique_ptr<engine::TableWriter> w;
  ASSERT_TRUE(engine::TableWriter::Open(env, path, 0, &w).ok());
  // Ids 1,1,2,2,...: unique only with the code; every third name is long.
  for (int r = 0; r < rows; ++r) {
    const std::string name = r % 3 ? "n" + std::to_string(r) : "a long name " + std::to_string(r);
    ASSERT_TRUE(w->Append({FieldValue::Int(r / 2), FieldValue::Str("c" + std::to_string(r)),
                           FieldValue::Str(name), FieldValue::Int(r)})
                    .ok());
  }
  ASSERT_TRUE(w->Sync().ok());
}

std::vector<FieldDesc> LiveFields() {
  return {Field("Id", FieldType::Long), Field("Code", FieldType::Alpha, 6),
          Field("Name", FieldType::Alpha, 16), Field("Qty", FieldType::Short)};
}

// A database folder: ORDERS.DB and its reference in METADATA.
void MakeDatabase(const std::string& dir, const std::vector<FieldDesc>& ref, int ref_key) {
  std::filesystem::create_directories(dir + "/METADATA");
  MakeTable(dir + "/ORDERS.DB", LiveFields(), 2, 40);
  MakeTable(dir + "/METADATA/ORDERS.DB", ref, ref_key, 0);
}

TEST(RestructurePreviewTest, CountsAreThoseOfTheRestructure) {
  struct Case {
    const char* what;
    std::vector<FieldDesc> ref;
    int key;
    engine::PlanChange::Kind change;
    bool keyviol, problems;  // whether any record goes there
  };
  auto fields = LiveFields();
  auto cut = fields;
  cut.pop_back();
  auto narrow = fields;
  narrow[2].size = 8;
  auto retype = fields;
  retype[1] = Field("Code", FieldType::Short);
  const Case cases[] = {
      {"a field cut", cut, 2, engine::PlanChange::FieldRemoved, false, false},
      {"a field narrowed", narrow, 2, engine::PlanChange::FieldNarrowed, false, true},
      {"the key shortened", fields, 1, engine::PlanChange::KeyChanged, true, false},
      {"key shortened, field narrowed", narrow, 1, engine::PlanChange::KeyChanged, true, true},
      {"a key field retyped", retype, 2, engine::PlanChange::FieldRetyped, true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir tmp;
    MakeDatabase(tmp.Dir(), c.ref, c.key);
    const std::string live = tmp / "ORDERS.DB", ref = tmp / "METADATA/ORDERS.DB";
    const engine::TablePlan plan = engine::PlanLike(live, ref);
    ASSERT_TRUE(plan.status.ok()) << plan.status.ToString();
    bool listed = false;
    for (const auto& change : plan.changes) listed |= change.kind == c.change;
    EXPECT_TRUE(listed);

    engine::TableStructure live_s = restructuretest::StructureOf(live);
    engine::TableStructure ref_s = restructuretest::StructureOf(ref);
    engine::RestructureRequest request =
        engine::BuildLikeRequest(live_s, ref_s, "ORDERS.DB", tmp.Dir(), ref);
    engine::RestructureOptions options;
    options.useHeaderKey = true;
    engine::RestructureReport done;
    ASSERT_TRUE(engine::RestructureTable(live, request.desc, options, &done).ok());
    EXPECT_EQ(plan.report.records, done.records);
    EXPECT_EQ(plan.report.keyViolations, done.keyViolations);
    EXPECT_EQ(plan.report.problems, done.problems);
    EXPECT_EQ(done.keyViolations > 0, c.keyviol) << done.keyViolations;
    EXPECT_EQ(done.problems > 0, c.problems) << done.problems;
    EXPECT_EQ(plan.report.keyViolExamples.size(), std::min<std::uint32_t>(3, done.keyViolations));
    EXPECT_EQ(plan.report.problemExamples.size(), std::min<std::uint32_t>(3, done.problems));
    EXPECT_TRUE(plan.report.keyViolTable.empty() && plan.report.problemsTable.empty());
  }
}

TEST(RestructurePreviewTest, WritesNothing) {
  TempDir tmp, scratch;
  ASSERT_EQ(::setenv("TMPDIR", scratch.Dir().c_str(), 1), 0);
  auto ref = LiveFields();
  ref[2].size = 8;
  MakeDatabase(tmp.Dir(), ref, 1);
  // A table whose replacement was interrupted is refused, not finished.
  MakeTable(tmp / "HALF.DB", LiveFields(), 1, 3);
  MakeTable(tmp / "METADATA/HALF.DB", LiveFields(), 1, 0);
  tmp.Write(".HALF.DB.journal~", "interrupted");
  std::filesystem::create_directories(tmp / ".HALF.DB.new~");
  const auto before = Snapshot(tmp.Dir());
  const auto meta_before = Snapshot(tmp / "METADATA");

  const std::vector<engine::TablePlan> plans = engine::PlanDatabase(tmp.Dir());
  ::unsetenv("TMPDIR");
  ASSERT_EQ(plans.size(), 2u);
  EXPECT_FALSE(plans[0].status.ok());  // HALF.DB
  ASSERT_TRUE(plans[1].status.ok()) << plans[1].status.ToString();
  EXPECT_GT(plans[1].report.keyViolations, 0u);
  EXPECT_GT(plans[1].report.problems, 0u);
  EXPECT_EQ(Snapshot(tmp.Dir()), before);
  EXPECT_EQ(Snapshot(tmp / "METADATA"), meta_before);
  EXPECT_TRUE(std::filesystem::is_empty(scratch.Dir()));
}

}  // namespace
