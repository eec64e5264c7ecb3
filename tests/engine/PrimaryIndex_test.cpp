// Index tree files (.PX, .Ynn): real files read down to their level-1
// entries, rebuilt files read back, trees of several levels, key order, and
// damaged files reported as such.
#include "PrimaryIndex.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <random>

#include "TestFiles.h"

namespace fs = std::filesystem;
using namespace engine;
using namespace enginetest;

namespace {

// A long-integer key as a record stores it.
std::string LongKey(std::int32_t v) {
  auto u = static_cast<std::uint32_t>(v) ^ 0x80000000u;
  return {static_cast<char>(u >> 24), static_cast<char>(u >> 16), static_cast<char>(u >> 8),
          static_cast<char>(u)};
}

std::vector<IndexEntry> Leaves(const std::string& bytes) {
  PrimaryIndex px;
  Status s = px.DecodeFrom(bytes);
  EXPECT_TRUE(s.ok()) << s.ToString();
  std::vector<IndexEntry> out;
  s = px.Leaves(&out);
  EXPECT_TRUE(s.ok()) << s.ToString();
  return out;
}

}  // namespace

TEST(PrimaryIndexTest, ReadsRealFilesOfOneAndTwoLevels) {
  PrimaryIndex zip;
  ASSERT_TRUE(zip.DecodeFrom(ReadTestData("ZIPCODES.PX")).ok());
  EXPECT_EQ(zip.Levels(), 2);
  EXPECT_EQ(zip.Root(), 3);
  EXPECT_EQ(zip.Params().changeCount, 133);  // the data file's change count
  std::vector<IndexEntry> leaves = Leaves(ReadTestData("ZIPCODES.PX"));
  ASSERT_EQ(leaves.size(), 686u);  // one per data block
  std::uint32_t records = 0;
  for (std::size_t i = 0; i < leaves.size(); ++i) {
    EXPECT_EQ(leaves[i].block, i + 1);
    records += leaves[i].count;
  }
  EXPECT_EQ(records, 43185u);  // the data file's record count
  EXPECT_EQ(leaves.front().key, "00401");
  KeyOrder order(zip.Params().keyFields, zip.Params().sortOrder);
  for (std::size_t i = 1; i < leaves.size(); ++i)
    EXPECT_LT(order.Compare(leaves[i - 1].key, leaves[i].key), 0) << i;

  std::vector<IndexEntry> customers = Leaves(ReadTestData("CUSTOMER.PX"));
  ASSERT_EQ(customers.size(), 4u);
  EXPECT_EQ(customers[1].key, LongKey(6));
  EXPECT_EQ(customers[1].count, 5);
  // An older file that ends right after the last entry of its last block.
  EXPECT_EQ(Leaves(ReadTestData("RENTAL.PX")).size(), 17u);
}

TEST(PrimaryIndexTest, RebuiltFilesReadBackTheSame) {
  for (const char* name : {"ZIPCODES.PX", "CUSTOMER.PX", "RENTAL.PX"}) {
    std::string original = ReadTestData(name);
    PrimaryIndex px;
    ASSERT_TRUE(px.DecodeFrom(original).ok());
    std::vector<IndexEntry> leaves = Leaves(original);
    std::string rebuilt = PrimaryIndex::Build(px.Params(), leaves, px.Header());
    PrimaryIndex back;
    ASSERT_TRUE(back.DecodeFrom(rebuilt).ok()) << name;
    EXPECT_EQ(Leaves(rebuilt), leaves) << name;
    EXPECT_EQ(back.Params().changeCount, px.Params().changeCount);
    EXPECT_EQ(back.Params().keyFields.size(), px.Params().keyFields.size());
    EXPECT_EQ(back.Params().tableName, px.Params().tableName);
  }
  // A one-block file comes out as the engine wrote it, header and entries.
  std::string customer = ReadTestData("CUSTOMER.PX");
  PrimaryIndex px;
  ASSERT_TRUE(px.DecodeFrom(customer).ok());
  std::string rebuilt = PrimaryIndex::Build(px.Params(), Leaves(customer), px.Header());
  EXPECT_EQ(rebuilt.substr(0, 0x800), customer.substr(0, 0x800));
  EXPECT_EQ(rebuilt.substr(0x800, 6 + 4 * 10), customer.substr(0x800, 6 + 4 * 10));
}

TEST(PrimaryIndexTest, BuildsDeepTreesAndEmptyFiles) {
  IndexFileParams p;
  p.blockSizeCode = 1;
  p.versionId = 11;
  p.changeCount = 7;
  p.tableName = "big.PX";
  p.keyFields = {{0x01, 100, 0}, {0x04, 4, 0}};  // 106-byte entries: 9 to a block
  std::vector<IndexEntry> leaves;
  for (int i = 0; i < 5000; ++i) {
    std::string key(100, '\0');
    std::string text = "row" + std::to_string(100000 + i);
    text.copy(key.data(), text.size());
    leaves.push_back({key + LongKey(-i), static_cast<std::uint16_t>(i + 1), 60});
  }
  std::string file = PrimaryIndex::Build(p, leaves);
  PrimaryIndex px;
  ASSERT_TRUE(px.DecodeFrom(file).ok());
  EXPECT_EQ(px.Levels(), 4);  // 5000 -> 556 -> 62 -> 7 -> root
  EXPECT_EQ(Leaves(file), leaves);
  EXPECT_EQ(px.Params().changeCount, 7);

  // A key that leaves room for one entry a block could never narrow to a root.
  IndexFileParams wide = p;
  wide.keyFields = {{0x01, 255, 0}, {0x01, 255, 0}};
  EXPECT_FALSE(PrimaryIndex::CheckParams(wide).ok());
  EXPECT_TRUE(PrimaryIndex::Build(wide, leaves).empty());
  wide.blockSizeCode = 2;
  EXPECT_TRUE(PrimaryIndex::CheckParams(wide).ok());
  wide.blockSizeCode = 1;  // the smallest larger block size that holds two
  ASSERT_TRUE(PrimaryIndex::FitBlockCode(&wide).ok());
  EXPECT_EQ(wide.blockSizeCode, 2);
  ASSERT_TRUE(PrimaryIndex::FitBlockCode(&p).ok());  // a key that fits keeps its blocks
  EXPECT_EQ(p.blockSizeCode, 1);
  wide.keyFields.assign(65, {0x01, 255, 0});
  EXPECT_EQ(PrimaryIndex::FitBlockCode(&wide).code(), DBIERR_TABLEFULL);

  std::string empty = PrimaryIndex::Build(p, {});
  ASSERT_EQ(empty.size(), 0x800u);
  ASSERT_TRUE(px.DecodeFrom(empty).ok());
  EXPECT_EQ(px.Levels(), 0);
  EXPECT_EQ(px.Root(), 1);
  EXPECT_TRUE(Leaves(empty).empty());
}

TEST(PrimaryIndexTest, DamagedFilesAreReported) {
  std::string zip = ReadTestData("ZIPCODES.PX");
  auto fails = [](const std::string& bytes) {
    PrimaryIndex px;
    if (!px.DecodeFrom(bytes).ok()) return true;
    std::vector<IndexEntry> out;
    Status s = px.Leaves(&out);
    return !s.ok() && s.category() == ERRCAT_DATACORRUPT;
  };
  for (std::size_t n : {0u, 0x20u, 0x57u, 0x7FFu, 0x900u, 0x1800u})
    EXPECT_TRUE(fails(zip.substr(0, n))) << n;
  auto damaged = [&](std::size_t at, char value) {
    std::string b = zip;
    b[at] = value;
    return fails(b);
  };
  EXPECT_TRUE(damaged(0x1E, 9));           // root past the last block
  EXPECT_TRUE(damaged(0x00, 12));          // entry size does not fit the key
  EXPECT_TRUE(damaged(0x04, 0));           // not an index file
  EXPECT_TRUE(damaged(0x1800 + 4, 0x7F));  // root block claims too many entries
  // The root's second entry points back at the root: a loop.
  std::string loop = zip;
  loop[0x1800 + 6 + 11 + 5] = static_cast<char>(0x80);
  loop[0x1800 + 6 + 11 + 6] = 3;
  EXPECT_TRUE(fails(loop));
}

TEST(PrimaryIndexTest, ChecksEntriesAgainstTheBlocks) {
  PrimaryIndex zip;
  ASSERT_TRUE(zip.DecodeFrom(ReadTestData("ZIPCODES.PX")).ok());
  KeyOrder order(zip.Params().keyFields, zip.Params().sortOrder);
  std::vector<IndexEntry> leaves = Leaves(ReadTestData("ZIPCODES.PX"));
  std::vector<IndexEntry> blocks = leaves;  // what the data file's chain says
  for (IndexEntry& b : blocks) b.key += "rest of the first record";
  EXPECT_TRUE(CheckLeaves(leaves, blocks, order).ok());
  auto broken = [&](auto change) {
    std::vector<IndexEntry> b = blocks;
    change(b);
    Status s = CheckLeaves(leaves, b, order);
    return !s.ok() && s.code() == DBIERR_INDEXCORRUPT;
  };
  EXPECT_TRUE(broken([](auto& b) { b.pop_back(); }));      // a block not indexed
  EXPECT_TRUE(broken([](auto& b) { b[10].count -= 1; }));  // a record deleted
  EXPECT_TRUE(broken([](auto& b) { std::swap(b[3].block, b[4].block); }));
  EXPECT_TRUE(broken([](auto& b) { b[7].key[0] = '9'; }));  // first key changed
  std::vector<IndexEntry> unordered = leaves;
  std::swap(unordered[20], unordered[21]);
  EXPECT_FALSE(CheckLeaves(unordered, unordered, order).ok());
}

// Keys ordered by their bytes compare as memcmp does, at every length and
// wherever the first difference lies (they are compared a word at a time).
TEST(KeyOrderTest, ByteOrderedKeysCompareAsTheirBytes) {
  std::mt19937 random(15);
  for (std::uint16_t length = 1; length <= 20; ++length) {
    KeyOrder ascii({{0x01, length, 0}}, 0);
    for (int trial = 0; trial < 200; ++trial) {
      std::string a(length, '\0');
      for (char& c : a) c = static_cast<char>(random() & 0xFF);
      std::string b = a;
      const std::size_t at = random() % length;
      b[at] = static_cast<char>(random() & 0xFF);
      if (trial % 2) b[length - 1] = static_cast<char>(b[length - 1] ^ 0x80);
      const int bytes = std::memcmp(a.data(), b.data(), length);
      EXPECT_EQ(ascii.Compare(a, b), (bytes > 0) - (bytes < 0)) << length << " " << at;
    }
  }
}

TEST(KeyOrderTest, OrdersFieldsAsTheEngineDoes) {
  KeyOrder longs({{0x04, 4, 0}}, 0);
  EXPECT_LT(longs.Compare(LongKey(-5), LongKey(3)), 0);
  EXPECT_LT(longs.Compare(std::string(4, '\0'), LongKey(-100000)), 0);  // blank first
  EXPECT_EQ(longs.Compare(LongKey(7), LongKey(7)), 0);

  KeyOrder ascii({{0x01, 3, 0}}, 0);
  EXPECT_LT(ascii.Compare("B\0\0", "a\0\0"), 0);  // by code
  KeyOrder intl({{0x01, 3, 0}}, 0x11);
  EXPECT_GT(intl.Compare("B\0\0", "a\0\0"), 0);  // by letter
  EXPECT_LT(intl.Compare("a\0\0", "A\0\0"), 0);  // lower case first on a tie
  EXPECT_TRUE(intl.InOrder("A\0\0", "a\0\0"));   // ties may come either way
  EXPECT_FALSE(intl.InOrder("b\0\0", "A\0\0"));

  KeyOrder folded({{0x01, 3, 0}}, 0, true);
  EXPECT_EQ(folded.Compare("ab\0", "AB\0"), 0);
  KeyOrder down({{0x01, 3, 0}, {0x04, 4, 0}}, 0, false, true);
  EXPECT_GT(down.Compare(std::string("ab\0", 3) + LongKey(1), std::string("ac\0", 3) + LongKey(0)),
            0);
  EXPECT_TRUE(
      down.InOrder(std::string("b\0\0", 3) + LongKey(1), std::string("a\0\0", 3) + LongKey(9)));

  // Sort keys order exactly as Compare does, in every mode.
  const char letters[] = {'a', 'A', 'b', 'B', 'z', '\0', '\x84', '1'};
  std::vector<std::string> keys;
  for (int i = 0; i < 300; ++i) {
    std::string k;
    for (int j = 0; j < 3; ++j) k += letters[(i * 7 + j * 13 + i / 5) % 8];
    keys.push_back(k + LongKey(i % 11 - 5));
  }
  for (std::uint8_t sort : {0, 0x11})
    for (bool fold : {false, true})
      for (bool desc : {false, true}) {
        KeyOrder o({{0x01, 3, 0}, {0x04, 4, 0}}, sort, fold, desc);
        for (std::size_t i = 0; i + 1 < keys.size(); ++i) {
          std::string a, b;
          o.AppendSortKey(keys[i], &a);
          o.AppendSortKey(keys[i + 1], &b);
          int viaKeys = (a > b) - (a < b);
          EXPECT_EQ(viaKeys, o.Compare(keys[i], keys[i + 1]))
              << i << " " << int(sort) << fold << desc;
          EXPECT_EQ(a.size(), o.SortKeyLength());
        }
      }

  // Long alpha fields go eight bytes at a time: every byte value, at every
  // place in a word and in the tail, folds as the letter table says.
  for (int shift : {0, 1}) {
    std::string key;
    for (int c = 0; c < 255; ++c) key += static_cast<char>(c + shift);
    std::string folded_key, national_key;
    KeyOrder({{0x01, 255, 0}}, 0, true).AppendSortKey(key, &folded_key);
    KeyOrder({{0x01, 255, 0}}, 0x11).AppendSortKey(key, &national_key);
    ASSERT_EQ(national_key.size(), 510u);
    for (std::size_t i = 0; i < key.size(); ++i) {
      const auto c = static_cast<unsigned char>(key[i]);
      const auto letter = static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
      EXPECT_EQ(folded_key[i], letter) << int(c);
      EXPECT_EQ(national_key[i], letter) << int(c);
      EXPECT_EQ(static_cast<unsigned char>(national_key[255 + i]), 255 - c) << int(c);
    }
  }

  char buf[2];
  PutIndexShort(buf, 686);
  EXPECT_EQ(static_cast<unsigned char>(buf[0]), 0x82);
  EXPECT_EQ(GetIndexShort(buf), 686);
  for (std::uint16_t block : {0, 32767, 32768, 65535}) {  // 32768 is stored as 00 00
    PutIndexShort(buf, block);
    EXPECT_EQ(GetIndexShort(buf), block);
  }
}

TEST(PrimaryIndexTest, EverySampleIndexIsInKeyOrder) {
  if (!fs::exists(VARDEX_SAMPLES_DIR)) GTEST_SKIP() << "no samples";
  int seen = 0;
  for (const auto& e : fs::recursive_directory_iterator(VARDEX_SAMPLES_DIR)) {
    const std::string ext = UpperExtension(e.path());
    if (ext != ".PX" && ext.rfind(".Y", 0) != 0) continue;
    PrimaryIndex px;
    ASSERT_TRUE(px.DecodeFrom(ReadAll(e.path())).ok()) << e.path();
    std::vector<IndexEntry> leaves;
    ASSERT_TRUE(px.Leaves(&leaves).ok()) << e.path();
    KeyOrder order(px.Params().keyFields, px.Params().sortOrder);
    for (std::size_t i = 1; i < leaves.size(); ++i)
      EXPECT_TRUE(order.InOrder(leaves[i - 1].key, leaves[i].key)) << e.path() << " " << i;
    ++seen;
  }
  EXPECT_GT(seen, 40);
}
