// .VAL files: byte-exact round trips of real files, what is decoded from
// them, edits as a restructure makes them, and damaged files.
#include "ValFile.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "DbiStructure.h"
#include "TestFiles.h"

namespace fs = std::filesystem;
using engine::Status;
using engine::ValFile;
using enginetest::ReadAll;
using enginetest::ReadTestData;
using enginetest::UpperExtension;

namespace {

ValFile Load(const std::string& name) {
  ValFile f;
  Status s = f.DecodeFrom(ReadTestData(name));
  EXPECT_TRUE(s.ok()) << name << ": " << s.ToString();
  return f;
}

ValFile Reload(const ValFile& f) {
  ValFile g;
  Status s = g.DecodeFrom(f.EncodeTo());
  EXPECT_TRUE(s.ok()) << s.ToString();
  return g;
}

std::vector<fs::path> ValFilesUnder(const fs::path& dir) {
  std::vector<fs::path> out;
  if (!fs::exists(dir)) return out;
  for (const auto& e : fs::recursive_directory_iterator(dir)) {
    const std::string ext = UpperExtension(e.path());
    if (ext == ".VAL") out.push_back(e.path());
  }
  return out;
}

void ExpectRoundTrip(const std::vector<fs::path>& files) {
  for (const fs::path& p : files) {
    std::string bytes = ReadAll(p);
    ValFile f;
    ASSERT_TRUE(f.DecodeFrom(bytes).ok()) << p;
    EXPECT_EQ(f.EncodeTo(), bytes) << p;
  }
}

}  // namespace

TEST(ValFileTest, RoundTripsEveryFileByteForByte) {
  auto local = ValFilesUnder(fs::path(VARDEX_TEST_DATA_DIR) / "paradox-val");
  ASSERT_GE(local.size(), 9u);
  ExpectRoundTrip(local);
}

TEST(ValFileTest, RoundTripsEverySampleByteForByte) {
  if (!fs::exists(VARDEX_SAMPLES_DIR)) GTEST_SKIP() << "no samples";
  ExpectRoundTrip(ValFilesUnder(VARDEX_SAMPLES_DIR));
}

TEST(ValFileTest, DecodesChecks) {
  ValFile zip = Load("ZIPCODES.VAL");
  ASSERT_EQ(zip.Checks().size(), 2u);
  EXPECT_EQ(zip.Fields().size(), 3u);
  EXPECT_EQ(zip.Fields()[2].name, "City");
  EXPECT_EQ(zip.Fields()[2].size, 25);
  VCHKDesc pic = CheckDescOf(zip, zip.Checks()[1]);
  EXPECT_EQ(pic.iFldNum, 2);
  EXPECT_STREQ(pic.szPict, "&&");
  EXPECT_FALSE(pic.bRequired);

  ValFile logical = Load("logical.val");
  VCHKDesc def = CheckDescOf(logical, logical.Checks().at(0));
  EXPECT_TRUE(def.bRequired);
  EXPECT_TRUE(def.bHasDefVal);
  EXPECT_FALSE(def.bHasMinVal);
  EXPECT_EQ(def.iValLen, 1);
  EXPECT_EQ(def.aDefVal[0], 0x81);  // true

  ValFile lookup = Load("joinb.val");
  VCHKDesc lk = CheckDescOf(lookup, lookup.Checks().at(0));
  EXPECT_EQ(lk.elkupType, lkupHELP);
  EXPECT_STREQ(lk.szLkupTblName, "joina.db");

  ValFile multiple = Load("multiple.val");
  ASSERT_EQ(multiple.Checks().size(), 2u);
  EXPECT_TRUE(CheckDescOf(multiple, multiple.Checks()[0]).bRequired);
  EXPECT_STREQ(CheckDescOf(multiple, multiple.Checks()[1]).szPict, "[(*3{#}) ]*3{#}-*4{#}");
}

TEST(ValFileTest, DecodesLinksOnBothSides) {
  ValFile c = Load("C.VAL");  // depends on A and B
  auto links = LinkDescsOf(c, "/data");
  ASSERT_EQ(links.size(), 2u);
  EXPECT_EQ(links[0].eType, rintDEPENDENT);
  EXPECT_STREQ(links[0].szRintName, "Reference A");
  EXPECT_STREQ(links[0].szTblName, "/data/A.db");
  EXPECT_EQ(links[0].aiThisTabFld[0], 2);
  EXPECT_EQ(links[0].aiOthTabFld[0], 1);
  EXPECT_EQ(links[1].aiThisTabFld[0], 3);

  ValFile a = Load("A.VAL");  // C depends on it
  auto master = LinkDescsOf(a, "/data/");
  ASSERT_EQ(master.size(), 1u);
  EXPECT_EQ(master[0].eType, rintMASTER);
  EXPECT_STREQ(master[0].szTblName, "/data/C.DB");
  EXPECT_EQ(master[0].aiOthTabFld[0], 2);

  ValFile composite = Load("fk4.val");
  auto two = LinkDescsOf(composite, "");
  ASSERT_EQ(two.size(), 1u);
  EXPECT_EQ(two[0].iFldCount, 2);
  EXPECT_EQ(two[0].aiThisTabFld[1], 4);
  EXPECT_EQ(two[0].aiOthTabFld[1], 2);
  EXPECT_EQ(two[0].eModOp, rintCASCADE);

  ValFile primary = Load("primary.val");
  EXPECT_EQ(primary.Dependents().size(), 5u);
  ValFile both = Load("multiple.val");  // a master and a dependent at once
  auto mixed = LinkDescsOf(both, "");
  ASSERT_EQ(mixed.size(), 3u);
  EXPECT_EQ(mixed[0].eType, rintDEPENDENT);
  EXPECT_EQ(mixed[2].eType, rintMASTER);
  EXPECT_STREQ(mixed[2].szTblName, "to_multiple.db");
}

TEST(ValFileTest, KeepsOlderLevelsWhole) {
  std::string bytes = ReadTestData("TAXRATE.VAL");
  ValFile f;
  ASSERT_TRUE(f.DecodeFrom(bytes).ok());
  EXPECT_FALSE(f.Decoded());
  EXPECT_EQ(f.LegacyCheckCount(), 2);
  f.SetChangeCount(0x22);
  std::string out = f.EncodeTo();
  EXPECT_EQ(static_cast<unsigned char>(out[0]), 0x22);
  EXPECT_EQ(out.substr(1), bytes.substr(1));
  VCHKDesc d{};
  d.iFldNum = 1;
  EXPECT_FALSE(PutCheck(&f, d).ok());
}

TEST(ValFileTest, EditedChecksSurviveEncoding) {
  ValFile zip = Load("ZIPCODES.VAL");
  VCHKDesc d{};
  d.iFldNum = 3;
  d.bRequired = true;
  d.bHasMinVal = d.bHasMaxVal = d.bHasDefVal = true;
  std::memcpy(d.aMinVal, "A", 1);
  std::memcpy(d.aMaxVal, "Zzz", 3);
  std::memcpy(d.aDefVal, "Paris", 5);
  std::strcpy(d.szPict, "*!");
  d.elkupType = lkupALLCORRESP;
  std::strcpy(d.szLkupTblName, "/x/CITIES.DB");
  ASSERT_TRUE(PutCheck(&zip, d).ok());
  EXPECT_TRUE(zip.DropCheck(1));
  ValFile back = Reload(zip);
  ASSERT_EQ(back.Checks().size(), 2u);
  VCHKDesc r = CheckDescOf(back, back.Checks()[1]);
  EXPECT_EQ(r.iFldNum, 3);
  EXPECT_TRUE(r.bRequired && r.bHasMinVal && r.bHasMaxVal && r.bHasDefVal);
  EXPECT_EQ(r.iValLen, 25);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(r.aDefVal), 6), std::string("Paris\0", 6));
  EXPECT_EQ(std::string(reinterpret_cast<char*>(r.aMaxVal), 3), "Zzz");
  EXPECT_STREQ(r.szPict, "*!");
  EXPECT_EQ(r.elkupType, lkupALLCORRESP);
  EXPECT_STREQ(r.szLkupTblName, "CITIES.DB");
  // Taking every check off leaves a file with nothing in it.
  EXPECT_TRUE(back.DropCheck(2));
  EXPECT_TRUE(back.DropCheck(3));
  EXPECT_TRUE(Reload(back).empty());

  VCHKDesc bad{};
  bad.iFldNum = 9;
  EXPECT_FALSE(PutCheck(&zip, bad).ok());
}

TEST(ValFileTest, EditedLinksSurviveEncoding) {
  ValFile a = Load("A.VAL");
  RINTDesc d{};
  std::strcpy(d.szRintName, "Reference A");
  std::strcpy(d.szTblName, "/elsewhere/D.DB");
  d.eType = rintMASTER;
  d.iFldCount = 1;
  d.aiThisTabFld[0] = 1;
  d.aiOthTabFld[0] = 3;
  ASSERT_TRUE(PutDependent(&a, d, "A").ok());
  ValFile back = Reload(a);
  ASSERT_EQ(back.Dependents().size(), 2u);
  EXPECT_EQ(back.Dependents()[1].dependentTable, "D.DB");
  EXPECT_EQ(back.Dependents()[1].dependentFields[0], 3);
  // Same link name, another table: only that one goes.
  EXPECT_TRUE(back.DropDependent("Reference A", "c.db"));
  EXPECT_FALSE(back.DropDependent("Reference A", "c.db"));
  ASSERT_EQ(Reload(back).Dependents().size(), 1u);

  // A dependent's link added to a file that had none.
  ValFile zip = Load("ZIPCODES.VAL");
  RINTDesc link{};
  std::strcpy(link.szRintName, "State");
  std::strcpy(link.szTblName, "STATES.DB");
  link.eType = rintDEPENDENT;
  link.eModOp = rintRESTRICT;
  link.iFldCount = 1;
  link.aiThisTabFld[0] = 2;
  link.aiOthTabFld[0] = 1;
  ASSERT_TRUE(PutMasterLink(&zip, link, "State").ok());
  ValFile z = Reload(zip);
  auto descs = LinkDescsOf(z, "");
  ASSERT_EQ(descs.size(), 1u);
  EXPECT_EQ(descs[0].eModOp, rintRESTRICT);
  EXPECT_EQ(z.Checks().size(), 2u);
  EXPECT_TRUE(z.DropMasterLink("State"));
  EXPECT_EQ(Reload(z).EncodeTo(), ReadTestData("ZIPCODES.VAL"));

  link.aiThisTabFld[0] = 7;
  EXPECT_FALSE(PutMasterLink(&zip, link, "x").ok());
}

TEST(ValFileTest, NewFileForATable) {
  std::vector<engine::ValField> fields = {{1, 1, 10, "Name"}, {2, 4, 4, "Id"}};
  ValFile f = ValFile::Create(0x0B, fields, 1);
  VCHKDesc d{};
  d.iFldNum = 2;
  d.bRequired = true;
  ASSERT_TRUE(PutCheck(&f, d).ok());
  ValFile back = Reload(f);
  EXPECT_EQ(back.Level(), 0x0B);
  EXPECT_EQ(back.KeyFieldCount(), 1);
  EXPECT_EQ(back.Fields()[1].name, "Id");
  EXPECT_EQ(back.EncodeTo(), f.EncodeTo());
}

TEST(ValFileTest, DamagedFilesAreReportedNotTrusted) {
  for (const char* name : {"C.VAL", "primary.val", "multiple.val", "logical.val", "joinb.val"}) {
    std::string bytes = ReadTestData(name);
    for (std::size_t n = 0; n < bytes.size(); ++n) {
      ValFile f;
      Status s = f.DecodeFrom(bytes.substr(0, n));
      EXPECT_FALSE(s.ok()) << name << " cut at " << n;
      EXPECT_EQ(s.category(), ERRCAT_DATACORRUPT);
    }
  }
  std::string c = ReadTestData("C.VAL");
  auto damaged = [&](std::size_t at, char value) {
    std::string b = c;
    b[at] = value;
    ValFile f;
    return !f.DecodeFrom(b).ok();
  };
  EXPECT_TRUE(damaged(0x0A, 0x7F));  // footer far beyond the end
  EXPECT_TRUE(damaged(0x02, 9));     // more checks than there are bytes for
  EXPECT_TRUE(damaged(0x35, 40));    // a check on a field the table lacks
  EXPECT_TRUE(damaged(0x6D, 9));     // more links than there are bytes for
  EXPECT_TRUE(damaged(0x01, 0x0C));  // an unknown level
}
