// Restructure on real tables: the request the merge builds and the table
// that results, in both modes, in place and under a save-as name, with the
// records a new key rejects kept aside.
#include <gtest/gtest.h>

#include <cstring>

#include "TablesTestSupport.h"
#include "cpKeyViol.h"
#include "cpTbTool.h"
#include "tlFile.h"

namespace {

using namespace tbtest;

template <typename Desc>
void Fill(const std::vector<Desc>& descs, std::vector<CROpType>& ops, std::uint16_t& count,
          CROpType*& opPtr, const Desc*& descPtr) {
  ops.assign(descs.size(), crDROP);
  count = static_cast<std::uint16_t>(descs.size());
  opPtr = ops.empty() ? nullptr : ops.data();
  descPtr = descs.empty() ? nullptr : descs.data();
}

// Drops an index, the check on a field and a link of a table, through the
// engine itself, so a reference (or a live table) differs from its twin.
void DropParts(const std::string& dir, const std::string& table, const char* index, int checkField,
               const char* link) {
  engine::TTable t;
  t.DatabaseName = dir;
  t.TableName = table;
  t.Open();
  CURProps p{};
  ASSERT_EQ(DbiGetCursorProps(t.Handle(), p), 0);
  std::vector<IDXDesc> idx;
  std::vector<VCHKDesc> chk;
  std::vector<RINTDesc> rint;
  for (std::uint16_t i = 1; i <= p.iIndexes; ++i) {
    IDXDesc d{};
    DbiGetIndexDesc(t.Handle(), i, d);
    if (std::strcmp(d.szName, index) == 0) idx.push_back(d);
  }
  for (std::uint16_t i = 1; i <= p.iValChecks; ++i) {
    VCHKDesc d{};
    DbiGetVchkDesc(t.Handle(), i, d);
    if (d.iFldNum == checkField) chk.push_back(d);
  }
  for (std::uint16_t i = 1; i <= p.iRefIntChecks; ++i) {
    RINTDesc d{};
    DbiGetRintDesc(t.Handle(), i, d);
    if (std::strcmp(d.szRintName, link) == 0) rint.push_back(d);
  }
  const std::string path = t.TablePath();
  t.Close();
  CRTblDesc r{};
  std::strcpy(r.szTblName, table.c_str());
  std::strcpy(r.szTblType, "PARADOX");
  std::vector<CROpType> o1, o2, o3;
  const IDXDesc* pi;
  const VCHKDesc* pc;
  const RINTDesc* pr;
  Fill(idx, o1, r.iIdxCount, r.pecrIdxOp, pi);
  Fill(chk, o2, r.iValChkCount, r.pecrValChkOp, pc);
  Fill(rint, o3, r.iRintCount, r.pecrRintOp, pr);
  r.pidxDesc = const_cast<IDXDesc*>(pi);
  r.pvchkDesc = const_cast<VCHKDesc*>(pc);
  r.printDesc = const_cast<RINTDesc*>(pr);
  const engine::Status s = engine::RestructureTable(path, r, {}, nullptr);
  ASSERT_TRUE(s.ok()) << s.ToString();
}

// The linked sample tables in a database folder, their references in
// METADATA; the tools point at the folder by an alias.
class Restructure : public ::testing::Test {
 protected:
  void SetUp() override {
    CopyFiles(DataDir(), dir);
    fs::create_directories(meta);
    for (const char* t : {"A.db", "B.db", "C.DB"}) Borrow(dir + "/" + t, meta + "/" + t);
    tools.DatabaseName = "SALES";
    tools.OnRestructureRequest = [this](const CRTblDesc& r) { request.Take(r); };
  }

  void Run(const std::string& table, const std::string& saveAs = "", bool strip = false) {
    tools.TableName = table;
    tools.Restructure(saveAs, strip);
    EXPECT_FALSE(tools.Active());
    EXPECT_FALSE(tools.MetaTable().Active());
  }

  TempDir tmp;
  const std::string dir = tmp / "data";
  const std::string meta = dir + "/METADATA";
  Aliases aliases{{{"SALES", dir}}};
  TZelTableTools tools;
  Request request;
};

TEST_F(Restructure, AgainstItsOwnCopyEverythingKept) {
  const auto rows = Rows(dir, "C.DB");
  const Shape shape = ShapeOf(dir, "C.DB");
  Run("C.DB");

  EXPECT_STREQ(request.header.szTblName, "C.DB");
  EXPECT_TRUE(request.header.bPack);
  ASSERT_EQ(request.fields.size(), 3u);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(request.fieldOps[i], crMODIFY);
    EXPECT_EQ(request.fields[i].iFldNum, i + 1);
  }
  EXPECT_EQ(request.checkOps, (std::vector<CROpType>{crMODIFY, crMODIFY}));
  EXPECT_EQ(request.IndexOps(), (std::vector<std::string>{"modify:", "modify:A", "modify:B"}));
  EXPECT_EQ(request.LinkOps(), (std::vector<std::string>{"drop:Reference A", "drop:Reference B",
                                                         "add:Reference A", "add:Reference B"}));
  // The links point at the masters beside the live table, not at METADATA.
  for (const RINTDesc& link : request.links) {
    EXPECT_EQ(ExtractFilePath(link.szTblName), dir + "/") << link.szTblName;
  }
  EXPECT_EQ(Rows(dir, "C.DB"), rows);
  const Shape after = ShapeOf(dir, "C.DB");
  EXPECT_EQ(after.fields, shape.fields);
  EXPECT_EQ(after.indexes, shape.indexes);
  EXPECT_EQ(after.checks, shape.checks);
  EXPECT_EQ(after.links, shape.links);
  // The masters still know their dependent.
  EXPECT_EQ(ShapeOf(dir, "A.db").links, ShapeOf(meta, "A.db").links);
}

TEST_F(Restructure, ReferenceLackingPartsDropsThem) {
  DropParts(meta, "C.DB", "B", 2, "Reference B");
  const auto rows = Rows(dir, "C.DB");
  Run("C.DB");
  EXPECT_EQ(request.IndexOps(), (std::vector<std::string>{"modify:", "modify:A", "drop:B"}));
  ASSERT_EQ(request.checks.size(), 2u);
  EXPECT_EQ(request.checkOps, (std::vector<CROpType>{crMODIFY, crDROP}));
  EXPECT_EQ(request.checks[1].iFldNum, 2);
  EXPECT_EQ(request.LinkOps(),
            (std::vector<std::string>{"drop:Reference A", "add:Reference A", "drop:Reference B"}));
  const Shape after = ShapeOf(dir, "C.DB");
  EXPECT_EQ(after.indexes, (std::vector<std::string>{"", "A"}));
  EXPECT_EQ(after.checks, (std::vector<int>{1}));
  EXPECT_EQ(after.links, (std::vector<Link>{{"Reference A", rintDEPENDENT, "a.db"}}));
  EXPECT_EQ(Rows(dir, "C.DB"), rows);
  EXPECT_TRUE(ShapeOf(dir, "B.db").links.empty());  // the master lost its dependent
}

TEST_F(Restructure, LiveTableLackingPartsGetsThem) {
  DropParts(dir, "C.DB", "B", 2, "Reference B");
  const auto rows = Rows(dir, "C.DB");
  Run("C.DB");
  EXPECT_EQ(request.IndexOps(), (std::vector<std::string>{"modify:", "modify:A", "add:B"}));
  EXPECT_EQ(request.checkOps, (std::vector<CROpType>{crMODIFY, crADD}));
  EXPECT_EQ(request.LinkOps(),
            (std::vector<std::string>{"drop:Reference A", "add:Reference B", "add:Reference A"}));
  const Shape after = ShapeOf(dir, "C.DB");
  EXPECT_EQ(after.indexes, (std::vector<std::string>{"", "A", "B"}));
  EXPECT_EQ(after.checks, (std::vector<int>{1, 2}));
  EXPECT_EQ(after.links, ShapeOf(meta, "C.DB").links);
  EXPECT_EQ(Rows(dir, "C.DB"), rows);
}

// The safe copy: the first index only, no dependent links, the live table
// untouched.
TEST_F(Restructure, StripModeIntoASaveAsFolder) {
  const auto rows = Rows(dir, "C.DB");
  const Shape shape = ShapeOf(dir, "C.DB");
  fs::create_directories(dir + "/SA$$");
  Run("C.DB", dir + "/SA$$/C.DB", true);
  EXPECT_EQ(request.IndexOps(), (std::vector<std::string>{"modify:", "drop:A", "drop:B"}));
  EXPECT_EQ(request.LinkOps(), (std::vector<std::string>{"drop:Reference A", "drop:Reference B"}));
  EXPECT_EQ(request.checkOps, (std::vector<CROpType>{crMODIFY, crMODIFY}));

  const Shape copy = ShapeOf(dir + "/SA$$", "C.DB");
  EXPECT_EQ(copy.indexes, (std::vector<std::string>{""}));
  EXPECT_TRUE(copy.links.empty());
  EXPECT_EQ(copy.checks, shape.checks);
  EXPECT_EQ(Rows(dir + "/SA$$", "C.DB"), rows);
  const Shape live = ShapeOf(dir, "C.DB");
  EXPECT_EQ(live.indexes, shape.indexes);
  EXPECT_EQ(live.links, shape.links);
  // Dropping the copy's links must not make the live masters forget their
  // dependent: the drops name the masters beside the copy.
  for (const RINTDesc& link : request.links) {
    EXPECT_EQ(ExtractFilePath(link.szTblName), dir + "/SA$$/");
  }
  EXPECT_EQ(ShapeOf(dir, "A.db").links, (std::vector<Link>{{"Reference A", rintMASTER, "c.db"}}));
  EXPECT_EQ(ShapeOf(dir, "B.db").links, (std::vector<Link>{{"Reference B", rintMASTER, "c.db"}}));
}

// The Retrieve shape: the safe copy is the live side, the result is written
// into the database folder, and the links point there.
TEST_F(Restructure, FullMergeIntoASaveAsFolderPointsLinksThere) {
  const std::string safe = dir + "/SAFE";
  const std::string out = tmp / "restored";
  CopyFiles(dir, safe);
  fs::create_directories(out);
  const auto rows = Rows(safe, "C.DB");
  tools.DatabaseName = safe + "/";
  tools.SetMetaDatabaseName(meta + "/");
  for (const char* t : {"A.db", "B.db", "C.DB"}) Run(t, out + "/" + t);
  ASSERT_EQ(request.links.size(), 4u);
  for (const RINTDesc& link : request.links) EXPECT_EQ(ExtractFilePath(link.szTblName), out + "/");
  EXPECT_EQ(Rows(out, "C.DB"), rows);
  EXPECT_EQ(ShapeOf(out, "C.DB").links, ShapeOf(safe, "C.DB").links);
  EXPECT_EQ(ShapeOf(out, "A.db").links, ShapeOf(safe, "A.db").links);
}

TEST_F(Restructure, MissingReferenceChangesNothing) {
  const auto rows = Rows(dir, "fk1.db");
  tools.TableName = "fk1.db";
  EXPECT_ANY_THROW(tools.Restructure("", false));
  EXPECT_FALSE(tools.Active());
  EXPECT_FALSE(tools.MetaTable().Active());
  EXPECT_EQ(Rows(dir, "fk1.db"), rows);
}

// A request the engine refuses: the engine's text comes back, the database
// handle and both tables are closed and the live table is whole.
TEST_F(Restructure, RefusedRequestLeavesTheTableWhole) {
  const auto rows = Rows(dir, "C.DB");
  tools.OnRestructureRequest = [](const CRTblDesc& r) { r.pfldDesc[0].iFldType = '?'; };
  tools.TableName = "C.DB";
  EXPECT_THROW(tools.Restructure("", false), EBdeApi);
  EXPECT_FALSE(tools.Active());
  EXPECT_FALSE(tools.MetaTable().Active());
  EXPECT_EQ(Rows(dir, "C.DB"), rows);
  EXPECT_EQ(ShapeOf(dir, "C.DB").indexes.size(), 3u);
  tools.OnRestructureRequest = nullptr;
  Run("C.DB");  // the folder is free again
}

}  // namespace
