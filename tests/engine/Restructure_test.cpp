// Restructure requests on tables built here: fields kept by position and
// converted, key violations set aside, indexes, checks and links changed by
// operation (links mirrored in the master's .VAL), autoincrement numbering,
// protection and save-as.
#include "Restructure.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "DbiStructure.h"
#include "ParadoxCrypt.h"
#include "RestructureChecks.h"
#include "TableVerify.h"
#include "TestTables.h"

namespace {

using engine::FieldType;
using engine::FieldValue;
using enginetest::Field;
using restructuretest::ExpectIndexesMatch;
using restructuretest::OpenForTest;
using restructuretest::StructureOf;

void MakeTable(const std::string& path, const std::vector<engine::FieldDesc>& fields,
               int key_fields, const std::vector<std::vector<FieldValue>>& rows,
               const std::string& password = "") {
  engine::TableDefinition def;
  def.fields = fields;
  def.key_fields = key_fields;
  def.password = password;
  engine::Env* env = engine::Env::Default();
  ASSERT_TRUE(engine::CreateTable(env, path, def).ok());
  std::unique_ptr<engine::TableWriter> w;
  ASSERT_TRUE(engine::TableWriter::Open(env, path, engine::PasswordKey(password), &w).ok());
  for (const auto& r : rows) ASSERT_TRUE(w->Append(r).ok());
  ASSERT_TRUE(w->Sync().ok());
}

std::vector<std::vector<FieldValue>> ReadRows(const std::string& path) {
  std::vector<std::vector<FieldValue>> out;
  auto table = OpenForTest(path);
  engine::TableCursor c = table->NewCursor();
  while (c.Next()) {
    std::vector<FieldValue> row;
    for (std::size_t i = 0; i < table->Fields().size(); ++i) {
      FieldValue v = c.Value(static_cast<int>(i));
      if (engine::IsBlobType(table->Fields()[i].type) && !v.null)
        table->ReadBlob(static_cast<int>(i), v, &v.s);
      row.push_back(v);
    }
    out.push_back(row);
  }
  return out;
}

FLDDesc Fld(const std::string& name, char type, int units, std::uint16_t source, int decimals = 0) {
  FLDDesc d{};
  std::snprintf(d.szName, sizeof d.szName, "%s", name.c_str());
  d.iFldType = type;
  d.iUnits1 = static_cast<std::int16_t>(units);
  d.iUnits2 = static_cast<std::int16_t>(decimals);
  d.iFldNum = source;
  return d;
}

// A request over owned lists.
struct Request {
  CRTblDesc desc{};
  std::vector<FLDDesc> fields;
  std::vector<CROpType> fieldOps, indexOps, checkOps, linkOps;
  std::vector<IDXDesc> indexes;
  std::vector<VCHKDesc> checks;
  std::vector<RINTDesc> links;
  CRTblDesc& Bind() {
    desc.iFldCount = static_cast<std::uint16_t>(fields.size());
    desc.pfldDesc = fields.data();
    desc.pecrFldOp = fieldOps.empty() ? nullptr : fieldOps.data();
    desc.iIdxCount = static_cast<std::uint16_t>(indexes.size());
    desc.pidxDesc = indexes.data();
    desc.pecrIdxOp = indexOps.data();
    desc.iValChkCount = static_cast<std::uint16_t>(checks.size());
    desc.pvchkDesc = checks.data();
    desc.pecrValChkOp = checkOps.data();
    desc.iRintCount = static_cast<std::uint16_t>(links.size());
    desc.printDesc = links.data();
    desc.pecrRintOp = linkOps.data();
    return desc;
  }
};

IDXDesc Index(const std::string& name, std::vector<std::uint16_t> fields, bool primary = false) {
  IDXDesc d{};
  std::snprintf(d.szName, sizeof d.szName, "%s", name.c_str());
  d.iFldsInKey = static_cast<std::uint16_t>(fields.size());
  for (std::size_t i = 0; i < fields.size(); ++i) d.aiKeyFld[i] = fields[i];
  d.bPrimary = primary;
  d.bMaintained = true;
  return d;
}

engine::Status Restructure(const std::string& path, CRTblDesc& desc,
                           engine::RestructureReport* report = nullptr, std::string save_as = "") {
  engine::RestructureOptions options;
  options.useHeaderKey = true;
  options.saveAs = std::move(save_as);
  return engine::RestructureTable(path, desc, options, report);
}

class RestructureTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = tmp_ / "ITEMS.DB";
    MakeTable(path_,
              {Field("Id", FieldType::Long), Field("Name", FieldType::Alpha, 12),
               Field("Qty", FieldType::Short), Field("Price", FieldType::Number),
               Field("Note", FieldType::Memo, 11)},
              1,
              {{FieldValue::Int(1), FieldValue::Str("apple"), FieldValue::Int(5),
                FieldValue::Float(2.5), FieldValue::Str("red and round, a long memo text")},
               {FieldValue::Int(2), FieldValue::Str("pear"), FieldValue{}, FieldValue::Float(1e12),
                FieldValue{}},
               {FieldValue::Int(3), FieldValue::Str("plum"), FieldValue::Int(-7),
                FieldValue::Float(-0.4), FieldValue::Str("x")}});
  }
  TempDir tmp_;
  std::string path_;
};

TEST_F(RestructureTest, FieldsAreKeptByPositionWithConversions) {
  Request r;
  // Reordered, retyped, one dropped (Note), one added at the end.
  r.fields = {Fld("Id", 'I', 0, 1), Fld("Label", 'A', 8, 2), Fld("Price", 'I', 0, 4),
              Fld("Qty", 'A', 6, 3), Fld("Flag", 'L', 0, 0)};
  engine::RestructureReport report;
  ASSERT_TRUE(Restructure(path_, r.Bind(), &report).ok());
  EXPECT_EQ(report.records, 3u);
  EXPECT_EQ(report.blanked, 1u);  // 1e12 has no 32-bit form
  auto rows = ReadRows(path_);
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0][1].s, "apple");  // a renamed field keeps its data
  EXPECT_EQ(rows[0][2].i, 3);        // 2.5 rounds away from zero
  EXPECT_TRUE(rows[1][2].null);
  EXPECT_EQ(rows[2][2].i, 0);
  EXPECT_EQ(rows[0][3].s, "5");
  EXPECT_EQ(rows[2][3].s, "-7");
  EXPECT_TRUE(rows[1][3].null);
  EXPECT_TRUE(rows[0][4].null);
  EXPECT_EQ(OpenForTest(path_)->Fields().size(), 5u);
  EXPECT_FALSE(engine::Env::Default()->Exists(tmp_ / "ITEMS.MB"));  // no blob field left
  ExpectIndexesMatch(path_);
  EXPECT_TRUE(engine::VerifyTable(path_).status.ok());
}

TEST_F(RestructureTest, BadRequestsChangeNothing) {
  const std::string before = restructuretest::ReadFile(path_);
  Request r;
  r.fields = {Fld("Id", 'I', 0, 9)};  // no ninth field
  EXPECT_EQ(Restructure(path_, r.Bind()).code(), DBIERR_INVALIDRESTRUCTURE);
  Request blobkey;
  blobkey.fields = {Fld("Note", 'M', 11, 5)};
  EXPECT_EQ(Restructure(path_, blobkey.Bind()).code(), DBIERR_INVALIDRESTRUCTURE);
  EXPECT_EQ(restructuretest::ReadFile(path_), before);
  EXPECT_FALSE(engine::Env::Default()->Exists(tmp_ / ".ITEMS.DB.new~"));
}

TEST(RestructureKeysTest, ViolationsGoAsideAndRecordsComeInKeyOrder) {
  TempDir tmp;
  const std::string path = tmp / "DUPS.DB";
  std::vector<std::vector<FieldValue>> rows;
  for (int id : {5, 3, 5, 1, 3, 4})
    rows.push_back({FieldValue::Int(id), FieldValue::Str("n" + std::to_string(rows.size()))});
  MakeTable(path, {Field("Id", FieldType::Long), Field("Name", FieldType::Alpha, 8)}, 0, rows);
  Request r;
  r.indexes = {Index("", {1}, true)};
  r.indexOps = {crADD};
  engine::RestructureReport report;
  ASSERT_TRUE(Restructure(path, r.Bind(), &report).ok());
  EXPECT_EQ(report.keyViolations, 2u);
  ASSERT_FALSE(report.keyViolTable.empty());
  std::vector<std::int64_t> ids;
  for (const auto& row : ReadRows(path)) ids.push_back(row[0].i);
  EXPECT_EQ(ids, (std::vector<std::int64_t>{1, 3, 4, 5}));
  auto kept = ReadRows(path);
  EXPECT_EQ(kept[1][1].s, "n1");  // the first of equal keys stays
  auto aside = ReadRows(report.keyViolTable);
  ASSERT_EQ(aside.size(), 2u);  // in key order, like the table
  EXPECT_EQ(aside[0][1].s, "n4");
  EXPECT_EQ(aside[1][1].s, "n2");
  EXPECT_TRUE(OpenForTest(path)->Header().Keyed());
  ExpectIndexesMatch(path);
}

TEST(RestructureKeysTest, KeysThatBecomeEqualInOrderedRecordsAreSetAside) {
  TempDir tmp;
  const std::string path = tmp / "RATES.DB";
  MakeTable(path, {Field("Rate", FieldType::Number), Field("Name", FieldType::Alpha, 4)}, 1,
            {{FieldValue::Float(1.2), FieldValue::Str("a")},
             {FieldValue::Float(1.4), FieldValue::Str("b")},
             {FieldValue::Float(2.0), FieldValue::Str("c")}});
  Request r;
  r.fields = {Fld("Rate", 'I', 0, 1), Fld("Name", 'A', 4, 2)};  // 1.2 and 1.4 both become 1
  engine::RestructureReport report;
  ASSERT_TRUE(Restructure(path, r.Bind(), &report).ok());
  EXPECT_EQ(report.records, 2u);
  EXPECT_EQ(report.keyViolations, 1u);
  EXPECT_EQ(ReadRows(report.keyViolTable)[0][1].s, "b");
  ExpectIndexesMatch(path);
}

TEST_F(RestructureTest, IndexesAreAddedAndDroppedByName) {
  Request add;
  add.indexes = {Index("Name", {2}), Index("ByQtyName", {3, 2})};
  add.indexOps = {crADD, crADD};
  ASSERT_TRUE(Restructure(path_, add.Bind()).ok());
  auto st = StructureOf(path_);
  ASSERT_EQ(st.indexes.size(), 3u);
  EXPECT_TRUE(st.indexes[0].bPrimary);
  EXPECT_EQ(std::string(st.indexes[1].szName), "Name");
  EXPECT_EQ(std::string(st.indexes[2].szName), "ByQtyName");
  EXPECT_TRUE(engine::Env::Default()->Exists(tmp_ / "ITEMS.X02"));
  EXPECT_TRUE(engine::Env::Default()->Exists(tmp_ / "ITEMS.YG0"));
  ExpectIndexesMatch(path_);

  Request drop;
  drop.indexes = {Index("Name", {2}), Index("", {1}, true)};
  drop.indexOps = {crDROP, crDROP};
  ASSERT_TRUE(Restructure(path_, drop.Bind()).ok());
  st = StructureOf(path_);
  ASSERT_EQ(st.indexes.size(), 1u);
  EXPECT_EQ(std::string(st.indexes[0].szName), "ByQtyName");
  EXPECT_FALSE(engine::Env::Default()->Exists(tmp_ / "ITEMS.X02"));
  EXPECT_FALSE(engine::Env::Default()->Exists(tmp_ / "ITEMS.PX"));
  EXPECT_FALSE(OpenForTest(path_)->Header().Keyed());
}

TEST_F(RestructureTest, IndexesBeyondTheMemoryBoundAreReadBackFromTheNewTable) {
  Request add;
  add.indexes = {Index("Name", {2}), Index("Qty", {3}), Index("ByPriceName", {4, 2})};
  add.indexOps = {crADD, crADD, crADD};
  engine::RestructureOptions options;
  options.useHeaderKey = true;
  options.indexRecordsHeld = 1;  // only the first index comes along with the copy
  ASSERT_TRUE(engine::RestructureTable(path_, add.Bind(), options, nullptr).ok());
  EXPECT_EQ(StructureOf(path_).indexes.size(), 4u);
  ExpectIndexesMatch(path_);
}

// Index block numbers are 16 bits: 131,071 records of 681 bytes, two to a
// 2K block, need 65536 blocks; the new index takes 4K blocks and reads back.
TEST(RestructureIndexBlocksTest, IndexesThatOutgrowTheirBlocksTakeLargerOnes) {
  TempDir tmp;
  const std::string path = tmp / "WIDE.DB";
  std::vector<std::vector<FieldValue>> rows;
  for (int i = 0; i < 65535 * 2 + 1; ++i) {
    rows.push_back({FieldValue::Int(i), FieldValue::Str("n" + std::to_string(1000000 - i % 9973)),
                    FieldValue::Str(i % 2 ? "odd" : "even"), FieldValue::Str("x")});
  }
  MakeTable(path,
            {Field("Id", FieldType::Long), Field("A", FieldType::Alpha, 255),
             Field("B", FieldType::Alpha, 255), Field("C", FieldType::Alpha, 165)},
            1, rows);
  rows.clear();
  Request add;
  add.indexes = {Index("Wide", {2, 3, 4})};
  add.indexOps = {crADD};
  ASSERT_TRUE(Restructure(path, add.Bind()).ok());
  EXPECT_EQ(StructureOf(path).indexes.size(), 2u);
  const engine::VerifyResult verified = engine::VerifyTable(path);
  EXPECT_TRUE(verified.status.ok()) << verified.status.ToString();
  EXPECT_EQ(verified.records, 131071u);
  // 4K blocks, a size the format notes list, for the records and their tree.
  EXPECT_EQ(restructuretest::ReadFile(tmp / "WIDE.XG0").substr(0, 6)[5], 4);
  EXPECT_EQ(restructuretest::ReadFile(tmp / "WIDE.YG0").substr(0, 6)[5], 4);

  // A primary key of 1020 bytes does not fit two to the 2K index blocks of a
  // table in 2K blocks: its .PX takes 4K blocks.
  const std::string keyed = tmp / "LONGKEY.DB";
  engine::TableDefinition def;
  def.fields = {Field("A", FieldType::Alpha, 255), Field("B", FieldType::Alpha, 255),
                Field("C", FieldType::Alpha, 255), Field("D", FieldType::Alpha, 255)};
  def.key_fields = 4;
  def.block_size_kb = 2;
  ASSERT_TRUE(engine::CreateTable(engine::Env::Default(), keyed, def).ok());
  std::unique_ptr<engine::TableWriter> w;
  ASSERT_TRUE(engine::TableWriter::Open(engine::Env::Default(), keyed, 0, &w).ok());
  for (const char* v : {"b", "a", "c"})
    ASSERT_TRUE(
        w->Append({FieldValue::Str(v), FieldValue::Str(v), FieldValue{}, FieldValue{}}).ok());
  ASSERT_TRUE(w->Sync().ok());
  w.reset();
  ASSERT_TRUE(engine::PackTable(keyed, {}, nullptr).ok());
  const engine::VerifyResult packed = engine::VerifyTable(keyed);
  EXPECT_TRUE(packed.status.ok()) << packed.status.ToString();
  EXPECT_EQ(restructuretest::ReadFile(tmp / "LONGKEY.PX").substr(0, 6)[5], 4);
}

TEST(RestructureAutoIncTest, SubtypeChoosesBetweenKeepingAndRenumbering) {
  TempDir tmp;
  const std::string path = tmp / "SEQ.DB";
  MakeTable(
      path, {Field("N", FieldType::AutoInc), Field("T", FieldType::Alpha, 4)}, 0,
      {{FieldValue::Int(10), FieldValue::Str("a")}, {FieldValue::Int(20), FieldValue::Str("b")}});
  Request keep;
  keep.fields = {Fld("N", '+', 0, 1), Fld("T", 'A', 4, 2)};
  ASSERT_TRUE(Restructure(path, keep.Bind()).ok());
  EXPECT_EQ(ReadRows(path)[1][0].i, 20);
  Request renumber = keep;
  renumber.fields[0].iSubType = fldstAUTOINC;
  ASSERT_TRUE(Restructure(path, renumber.Bind()).ok());
  EXPECT_EQ(ReadRows(path)[0][0].i, 1);
  EXPECT_EQ(ReadRows(path)[1][0].i, 2);
  EXPECT_GE(OpenForTest(path)->Header().auto_inc, 20u);  // the counter never falls
}

TEST_F(RestructureTest, SaveAsLeavesTheSourceAndProtectsTheCopy) {
  const std::string before = restructuretest::ReadFile(path_);
  Request r;
  r.desc.bProtected = true;
  std::snprintf(r.desc.szPassword, sizeof r.desc.szPassword, "secret");
  const std::string copy = tmp_ / "COPY.DB";
  ASSERT_TRUE(Restructure(path_, r.Bind(), nullptr, copy).ok());
  EXPECT_EQ(restructuretest::ReadFile(path_), before);
  EXPECT_EQ(ReadRows(copy).size(), 3u);
  EXPECT_EQ(ReadRows(copy)[0][4].s, "red and round, a long memo text");
  engine::OpenOptions options;
  options.lock = false;
  std::unique_ptr<engine::ParadoxTable> t;
  EXPECT_FALSE(engine::ParadoxTable::Open(copy, options, &t).ok());
  options.passwords = {"secret"};
  ASSERT_TRUE(engine::ParadoxTable::Open(copy, options, &t).ok());
  EXPECT_TRUE(t->Protected());
  t.reset();
  ExpectIndexesMatch(copy);

  Request open;  // not protected: stored in the clear
  ASSERT_TRUE(Restructure(copy, open.Bind()).ok());
  EXPECT_FALSE(OpenForTest(copy)->Protected());
  EXPECT_EQ(ReadRows(copy)[0][1].s, "apple");
}

VCHKDesc Required(std::uint16_t field) {
  VCHKDesc d{};
  d.iFldNum = field;
  d.bRequired = true;
  return d;
}

TEST_F(RestructureTest, ChecksAndLinksChangeOnBothSides) {
  const std::string master = tmp_ / "SHOP.DB";
  MakeTable(master, {Field("Id", FieldType::Long), Field("City", FieldType::Alpha, 10)}, 1,
            {{FieldValue::Int(5), FieldValue::Str("Rome")}});
  Request r;
  r.checks = {Required(2)};
  r.checkOps = {crADD};
  RINTDesc link{};
  std::snprintf(link.szRintName, sizeof link.szRintName, "ToShop");
  link.eType = rintDEPENDENT;
  std::snprintf(link.szTblName, sizeof link.szTblName, "%s", master.c_str());
  link.eModOp = rintCASCADE;
  link.iFldCount = 1;
  link.aiThisTabFld[0] = 3;
  link.aiOthTabFld[0] = 1;
  r.links = {link};
  r.linkOps = {crADD};
  ASSERT_TRUE(Restructure(path_, r.Bind()).ok());
  auto st = StructureOf(path_);
  ASSERT_EQ(st.checks.size(), 1u);
  EXPECT_TRUE(st.checks[0].bRequired);
  ASSERT_EQ(st.links.size(), 1u);
  EXPECT_EQ(st.links[0].eType, rintDEPENDENT);
  auto ms = StructureOf(master);
  ASSERT_EQ(ms.links.size(), 1u);
  EXPECT_EQ(ms.links[0].eType, rintMASTER);
  EXPECT_STRCASEEQ(engine::DirName(ms.links[0].szTblName).c_str(), tmp_.Dir().c_str());

  // The same check again is no change: the file stays byte-equal.
  const std::string val = restructuretest::ReadFile(st.valPath);
  Request same;
  same.checks = {Required(2)};
  same.checkOps = {crMODIFY};
  ASSERT_TRUE(Restructure(path_, same.Bind()).ok());
  EXPECT_EQ(restructuretest::ReadFile(st.valPath), val);

  Request drop;
  drop.checks = {Required(2)};
  drop.checkOps = {crDROP};
  drop.links = {link};
  drop.linkOps = {crDROP};
  ASSERT_TRUE(Restructure(path_, drop.Bind()).ok());
  EXPECT_FALSE(StructureOf(path_).hasVal);  // nothing left to keep
  EXPECT_TRUE(StructureOf(master).links.empty());
}

// The safe copy of a dependent table drops its links; the live master keeps
// its own dependent, which is the live table and not the copy.
TEST(RestructureLinksTest, ACopyDroppingItsLinkLeavesTheLiveMasterAlone) {
  TempDir tmp;
  restructuretest::CopyFolder(std::string(VARDEX_TEST_DATA_DIR) + "/paradox-restructure",
                              tmp.Dir());
  const std::string master_val = restructuretest::ReadFile(tmp / "primary.val");
  std::filesystem::create_directories(tmp / "SA");
  auto live = StructureOf(tmp / "fk1.db");
  ASSERT_EQ(live.links.size(), 1u);
  Request r;
  r.links = {live.links[0]};
  r.linkOps = {crDROP};
  ASSERT_TRUE(Restructure(tmp / "fk1.db", r.Bind(), nullptr, tmp / "SA/fk1.db").ok());
  EXPECT_TRUE(StructureOf(tmp / "SA/fk1.db").links.empty());
  EXPECT_EQ(restructuretest::ReadFile(tmp / "primary.val"), master_val);
  EXPECT_EQ(StructureOf(tmp / "fk1.db").links.size(), 1u);
  // Adding it back to the copy would name a master in another folder.
  r.linkOps = {crADD};
  EXPECT_EQ(Restructure(tmp / "SA/fk1.db", r.Bind()).code(), DBIERR_INVALIDRESTRUCTURE);
}

TEST_F(RestructureTest, LinkToAMissingMasterIsRefused) {
  Request r;
  RINTDesc link{};
  std::snprintf(link.szRintName, sizeof link.szRintName, "Lost");
  link.eType = rintDEPENDENT;
  std::snprintf(link.szTblName, sizeof link.szTblName, "%s", (tmp_ / "NONE.DB").c_str());
  link.iFldCount = 1;
  link.aiThisTabFld[0] = 1;
  link.aiOthTabFld[0] = 1;
  r.links = {link};
  r.linkOps = {crADD};
  EXPECT_EQ(Restructure(path_, r.Bind()).code(), DBIERR_MASTERMISSING);
  EXPECT_FALSE(StructureOf(path_).hasVal);
}

}  // namespace
