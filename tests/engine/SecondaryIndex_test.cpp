// Secondary indexes (.Xnn/.XGn with their .Ynn/.YGn): real files decoded,
// rebuilt files read back, the flags of each kind, and damaged files.
#include "SecondaryIndex.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "TestFiles.h"

namespace fs = std::filesystem;
using namespace engine;
using namespace enginetest;

namespace {

SecondaryIndex Decode(const std::string& bytes) {
  SecondaryIndex x;
  Status s = x.DecodeFrom(bytes);
  EXPECT_TRUE(s.ok()) << s.ToString();
  return x;
}

std::vector<IndexEntry> YLeaves(const std::string& bytes) {
  PrimaryIndex y;
  EXPECT_TRUE(y.DecodeFrom(bytes).ok());
  std::vector<IndexEntry> out;
  EXPECT_TRUE(y.Leaves(&out).ok());
  return out;
}

void ExpectSorted(const SecondaryIndex& x) {
  KeyOrder order = x.Order();
  for (std::size_t i = 1; i < x.Records().size(); ++i)
    EXPECT_TRUE(order.InOrder(x.Records()[i - 1], x.Records()[i])) << i;
}

}  // namespace

TEST(SecondaryIndexTest, DecodesEachKind) {
  SecondaryIndex city = Decode(ReadTestData("CUSTOMER.X06"));
  EXPECT_FALSE(city.Def().composite);
  EXPECT_TRUE(city.Def().maintained);
  EXPECT_FALSE(city.Def().descending);
  ASSERT_EQ(city.Def().fields.size(), 1u);
  EXPECT_EQ(city.Def().fields[0].number, 6);
  EXPECT_EQ(city.Def().fields[0].name, "City");
  ASSERT_EQ(city.Def().keyFields.size(), 1u);
  EXPECT_EQ(city.Def().keyFields[0].name, "CustNo");
  EXPECT_EQ(city.Params().sortOrderId, "ANSII850");
  ASSERT_EQ(city.Records().size(), 20u);
  EXPECT_EQ(city.Records()[0].substr(0, 5), "Aptos");
  EXPECT_EQ(city.BlockOf(city.Records()[0]), 3);
  ExpectSorted(city);

  SecondaryIndex fk = Decode(ReadTestData("fk4.XG0"));
  EXPECT_TRUE(fk.Def().composite);
  EXPECT_EQ(fk.Def().name, "reference");
  ASSERT_EQ(fk.Def().fields.size(), 2u);
  EXPECT_EQ(fk.Def().fields[0].number, 2);
  EXPECT_EQ(fk.Def().fields[1].number, 4);
  EXPECT_EQ(fk.Def().keyFields.size(), 1u);

  SecondaryIndex down = Decode(ReadTestData("indexed.xg0"));
  EXPECT_FALSE(down.Def().maintained);
  EXPECT_TRUE(down.Def().descending);
  EXPECT_EQ(down.Def().name, "Descending");
  ASSERT_EQ(down.Def().fields.size(), 1u);
  EXPECT_EQ(down.Def().fields[0].number, 1);
  EXPECT_TRUE(down.Def().keyFields.empty());
}

TEST(SecondaryIndexTest, ChecksRecordsAndTreeAgainstTheTable) {
  SecondaryIndex city = Decode(ReadTestData("CUSTOMER.X06"));
  std::vector<std::string> table(city.Records().rbegin(), city.Records().rend());
  EXPECT_TRUE(city.CheckRecords(table).ok());
  table[3][0] = 'Z';  // the table's record changed, the index did not follow
  EXPECT_FALSE(city.CheckRecords(table).ok());
  table.pop_back();
  EXPECT_FALSE(city.CheckRecords(table).ok());

  PrimaryIndex y;
  ASSERT_TRUE(y.DecodeFrom(ReadTestData("CUSTOMER.Y06")).ok());
  std::vector<IndexEntry> leaves;
  ASSERT_TRUE(y.Leaves(&leaves).ok());
  EXPECT_TRUE(CheckLeaves(leaves, city.Blocks(), city.Order()).ok());
}

TEST(SecondaryIndexTest, RebuiltFilesReadBackTheSame) {
  for (const char* name : {"CUSTOMER.X06", "fk4.XG0", "C.X02", "indexed.xg0"}) {
    std::string original = ReadTestData(name);
    SecondaryIndex x = Decode(original);
    SecondaryIndex::Files files =
        SecondaryIndex::Build(x.Def(), x.Params(), x.Records(), x.Header());
    SecondaryIndex back = Decode(files.x);
    EXPECT_EQ(back.Records(), x.Records()) << name;
    EXPECT_EQ(back.Def().name, x.Def().name);
    EXPECT_EQ(back.Def().fields.size(), x.Def().fields.size());
    EXPECT_EQ(back.Def().keyFields.size(), x.Def().keyFields.size());
    EXPECT_EQ(back.Def().descending, x.Def().descending);
    EXPECT_EQ(back.Params().sortOrderId, x.Params().sortOrderId);
    // The header the engine wrote comes out again, byte for byte.
    if (!x.Records().empty()) {
      EXPECT_TRUE(back.Header() == x.Header()) << name;
    }
    std::uint32_t inY = 0;
    for (const IndexEntry& e : YLeaves(files.y)) inY += e.count;
    EXPECT_EQ(inY, x.Records().size());
    PrimaryIndex y;
    ASSERT_TRUE(y.DecodeFrom(files.y).ok());
    EXPECT_EQ(y.Params().changeCount, x.Params().changeCount);  // what the engine checks
  }
}

TEST(SecondaryIndexTest, RebuildsTheEnginesFilesByteForByte) {
  SecondaryIndex x = Decode(ReadTestData("fk4.XG0"));
  PrimaryIndex y;
  ASSERT_TRUE(y.DecodeFrom(ReadTestData("fk4.YG0")).ok());
  SecondaryIndex::Files files =
      SecondaryIndex::Build(x.Def(), x.Params(), x.Records(), x.Header(), y.Header());
  EXPECT_TRUE(files.x == ReadTestData("fk4.XG0"));
  EXPECT_TRUE(files.y == ReadTestData("fk4.YG0"));
  // Records handed over in any order come out in index order.
  std::vector<std::string> reversed(x.Records().rbegin(), x.Records().rend());
  EXPECT_TRUE(SecondaryIndex::Build(x.Def(), x.Params(), reversed, x.Header()).x == files.x);
}

TEST(SecondaryIndexTest, BuildsFromDataRecords) {
  SecondaryIndexDef def;
  def.fields = {{2, {0x01, 4, 0}, "Name"}};
  def.keyFields = {{1, {0x04, 4, 0}, "Id"}};
  SecondaryFileParams p;
  p.blockSizeCode = 1;
  p.fileName = "people.X02";
  std::vector<std::string> records;
  for (int i = 0; i < 1000; ++i) {
    // Data record: Id (long), Name (A4); names repeat so ties fall to the key.
    std::string rec = {char(0x80), 0, char(i >> 8), char(i & 0xFF)};
    rec += std::string(1, char('a' + i % 26)) + "xy" + std::string(1, '\0');
    records.push_back(SecondaryIndex::MakeRecord(def, {4, 0}, rec.data(),
                                                 static_cast<std::uint16_t>(1 + i / 50)));
  }
  SecondaryIndex::Files files = SecondaryIndex::Build(def, p, records);
  SecondaryIndex x = Decode(files.x);
  ASSERT_EQ(x.Records().size(), 1000u);
  KeyOrder order = x.Order();
  for (std::size_t i = 1; i < x.Records().size(); ++i)
    EXPECT_LT(order.Compare(x.Records()[i - 1], x.Records()[i]), 0);
  EXPECT_EQ(x.Records().front().substr(0, 4), std::string("axy\0", 4));
  EXPECT_EQ(x.BlockOf(x.Records().front()), 1);
  std::vector<IndexEntry> leaves = YLeaves(files.y);
  ASSERT_EQ(leaves.size(), 10u);  // 10-byte records, 101 to a 1K block
  EXPECT_EQ(leaves[1].key, x.Records()[101].substr(0, 8));

  SecondaryIndexDef wide = def;
  wide.fields = {{2, {0x01, 255, 0}, "Text"}, {3, {0x01, 255, 0}, "More"}};
  // 1K blocks hold one such record: the index takes 2K blocks.
  EXPECT_EQ(Decode(SecondaryIndex::Build(wide, p, {}).x).Params().blockSizeCode, 2);

  def.maintained = false;  // written empty, for the engine to refill
  SecondaryIndex empty = Decode(SecondaryIndex::Build(def, p, records).x);
  EXPECT_TRUE(empty.Records().empty());
  EXPECT_FALSE(empty.Def().maintained);
}

// Block numbers are 16 bits: an index whose records need more than 65535
// blocks moves to the next larger block size; one that fits keeps its own.
TEST(SecondaryIndexTest, ChoosesTheSmallestBlockSizeThatHoldsTheIndex) {
  SecondaryIndexDef name;  // Alpha 30 and a Long key: 36-byte records
  name.fields = {{2, {0x01, 30, 0}, "Name"}};
  name.keyFields = {{1, {0x04, 4, 0}, "Id"}};
  SecondaryIndexDef loose = name;
  loose.maintained = false;
  SecondaryIndexDef wide = name;  // 2301-byte records: one to a 4K block
  wide.composite = true;
  wide.fields.clear();
  for (std::uint16_t i = 0; i < 9; ++i) wide.fields.push_back({i, {0x01, 255, 0}, "T"});
  SecondaryIndexDef huge = wide;  // more than half of 32K
  for (std::uint16_t i = 9; i < 65; ++i) huge.fields.push_back({i, {0x01, 255, 0}, "T"});
  struct Case {
    const char* what;
    const SecondaryIndexDef& def;
    std::uint8_t code;
    std::uint64_t count;
    std::uint8_t templateY;           // 0: no earlier .Ynn
    SecondaryIndex::BlockCodes want;  // {0, 0}: refused
  };
  const Case cases[] = {
      {"fits", name, 2, 1000, 0, {2, 2}},
      {"65535 blocks of 56", name, 2, 65535u * 56, 0, {2, 2}},
      {"one record more", name, 2, 65535u * 56 + 1, 0, {4, 4}},
      {"beyond 4K", name, 2, 65535u * 113 + 1, 0, {16, 2}},
      {"beyond 16K", name, 2, 65535u * 454 + 1, 0, {32, 2}},
      {"beyond 32K", name, 2, 65535u * 910 + 1, 0, {0, 0}},
      {"1K fits", name, 1, 65535u * 28, 0, {1, 1}},
      {"1K full", name, 1, 65535u * 28 + 1, 0, {2, 2}},
      {"3K full", name, 3, 65535u * 85 + 1, 0, {4, 4}},
      {"16K as the engine leaves it", name, 16, 1000, 2, {16, 2}},
      {"earlier tree kept", name, 2, 1000, 4, {2, 4}},
      {"earlier tree left with its index", name, 2, 65535u * 56 + 1, 1, {4, 4}},
      {"not maintained: no records", loose, 2, 65535u * 900, 0, {2, 2}},
      {"wide records and key", wide, 2, 10, 0, {16, 16}},
      {"record over half of 32K", huge, 2, 0, 0, {0, 0}},
  };
  for (const Case& c : cases) {
    SecondaryFileParams p;
    p.blockSizeCode = c.code;
    p.fileName = "T.X02";
    std::string templateY;
    if (c.templateY) {
      templateY.assign(0x800, '\0');
      templateY[5] = static_cast<char>(c.templateY);
    }
    SecondaryIndex::BlockCodes got;
    Status s = SecondaryIndex::ChooseBlockCodes(c.def, p, c.count, templateY, &got);
    EXPECT_EQ(got, c.want) << c.what << ": " << int(got.x) << "/" << int(got.y);
    EXPECT_EQ(s.ok(), c.want.x != 0) << c.what;
    if (!s.ok()) {
      EXPECT_EQ(s.code(), DBIERR_TABLEFULL) << c.what;
      EXPECT_NE(s.message().find("T.X02"), std::string::npos) << s.message();
    }
  }
  SecondaryFileParams p;
  EXPECT_TRUE(SecondaryIndex::Build(huge, p, {}).x.empty());  // refused: nothing written
}

TEST(SecondaryIndexTest, DamagedFilesAreReported) {
  std::string city = ReadTestData("CUSTOMER.X06");
  auto fails = [](const std::string& b) {
    SecondaryIndex x;
    Status s = x.DecodeFrom(b);
    return !s.ok() && s.category() == ERRCAT_DATACORRUPT;
  };
  for (std::size_t n : {0u, 0x40u, 0x100u, 0x7FFu, 0x806u, 0x900u})
    EXPECT_TRUE(fails(city.substr(0, n))) << n;
  auto damaged = [&](std::size_t at, char v) {
    std::string b = city;
    b[at] = v;
    return fails(b);
  };
  EXPECT_TRUE(damaged(0x04, 1));          // not a secondary index
  EXPECT_TRUE(damaged(0x06, 21));         // more records than the blocks hold
  EXPECT_TRUE(damaged(0x800, 1));         // the only block points at itself
  EXPECT_TRUE(damaged(0x800 + 4, 0x7F));  // impossible record count
  EXPECT_TRUE(damaged(0x21, 40));         // more fields than the header has room for
}

TEST(SecondaryIndexTest, EverySampleIndexDecodes) {
  if (!fs::exists(VARDEX_SAMPLES_DIR)) GTEST_SKIP() << "no samples";
  int seen = 0;
  for (const auto& e : fs::recursive_directory_iterator(VARDEX_SAMPLES_DIR)) {
    const std::string ext = UpperExtension(e.path());
    if (ext.rfind(".X", 0) != 0) continue;
    SecondaryIndex x;
    Status s = x.DecodeFrom(ReadAll(e.path()));
    ASSERT_TRUE(s.ok()) << e.path() << ": " << s.ToString();
    ExpectSorted(x);
    // Its tree file names every block of it.
    fs::path yPath = e.path();
    std::string yExt = e.path().extension().string();
    yExt[1] = yExt[1] == 'x' ? 'y' : 'Y';
    yPath.replace_extension(yExt);
    PrimaryIndex y;
    std::vector<IndexEntry> leaves;
    ASSERT_TRUE(y.DecodeFrom(ReadAll(yPath)).ok()) << yPath;
    ASSERT_TRUE(y.Leaves(&leaves).ok()) << yPath;
    if (x.Def().maintained) {
      Status s = CheckLeaves(leaves, x.Blocks(), x.Order());
      EXPECT_TRUE(s.ok()) << yPath << ": " << s.ToString();
    }
    ++seen;
  }
  EXPECT_GE(seen, 12);
}
