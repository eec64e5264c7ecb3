#include "tlString.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

TEST(ReplaceAll, ReplacesEveryOccurrence) {
  EXPECT_EQ(ReplaceAll("a/b/c", "/", "\\"), "a\\b\\c");
  EXPECT_EQ(ReplaceAll("a/b/c", "/", "/"), "a/b/c");
  EXPECT_EQ(ReplaceAll("abc", "", "x"), "abc");
  EXPECT_EQ(ReplaceAll("Copying %TABLE% of %TABLE%", "%TABLE%", "ORDERS"),
            "Copying ORDERS of ORDERS");
  EXPECT_EQ(ReplaceAll("Ab ab", "ab", "x"), "Ab x");  // exact case
}

TEST(ReplaceAll, RestartsSoNewOccurrencesFormedWithEarlierTextAreReplaced) {
  EXPECT_EQ(ReplaceAll("aab", "ab", "b"), "b");
  EXPECT_EQ(ReplaceAll("xaaaabyab", "ab", "b"), "xbyb");
  EXPECT_EQ(ReplaceAll("abab", "ab", "ba"), "bbaa");
}

TEST(ReplaceAll, EndsWhenNewContainsOld) {
  EXPECT_EQ(ReplaceAll("a.b", ".", ".."), "a..b");
  EXPECT_EQ(ReplaceAll("%s and %s", "%s", "[%s]"), "[%s] and [%s]");
  EXPECT_EQ(ReplaceAll("xx", "x", "xx"), "xxxx");
}

TEST(ReplaceAll, EndsWhenReplacementsGrowWithoutBound) {
  // Each round doubles the b's: restarting would need 2^40 characters.
  const std::string s = std::string(40, 'a') + "b";
  const std::string result = ReplaceAll(s, "ab", "bba");
  EXPECT_EQ(result, std::string(39, 'a') + "bba");
}

TEST(TextHelpers, DeleteFirstAndDrops) {
  EXPECT_EQ(DeleteFirst("CUSTOMER.DB", ".DB"), "CUSTOMER");
  EXPECT_EQ(DeleteFirst("CUSTOMER.db", ".DB"), "CUSTOMER.db");
  EXPECT_EQ(DeleteFirst("A.DB.DB", ".DB"), "A.DB");
  EXPECT_EQ(DropRight("\\METADATA\\", 1), "\\METADATA");
  EXPECT_EQ(DropRight("D/SAFE/", 2), "D/SAF");
  EXPECT_EQ(DropRight("abc", 3), "");
  EXPECT_EQ(DropRight("abc", 10), "");
  EXPECT_EQ(DropRight("abc", -1), "abc");
  EXPECT_EQ(DropLeft("abc", 1), "bc");
  EXPECT_EQ(DropLeft("abc", 4), "");
  std::string s = "D";
  AppendAll(s, {"/", "METADATA", "/"});
  EXPECT_EQ(s, "D/METADATA/");
  EXPECT_EQ(ChooseText(true, "a", "b"), "a");
  EXPECT_EQ(ChooseText(false, "a", "b"), "b");
}

TEST(StMerge, MergesAndRefuses) {
  EXPECT_EQ(StMerge("X01", "1??"), "101");
  EXPECT_EQ(StMerge("VAL", "VA$"), "VA$");
  EXPECT_EQ(StMerge("", ""), "");
  try {
    StMerge("X01", "1?");
    FAIL() << "lengths differ";
  } catch (const EStringTools& e) {
    EXPECT_STREQ(e.what(), "StMerge: Str and Mask must have = lengths");
  }
  try {
    StMerge("X?1", "1??");
    FAIL() << "question mark in Str";
  } catch (const EStringTools& e) {
    EXPECT_STREQ(e.what(), "StMerge: The char \"?\" cannot be used in Str");
  }
}

TEST(SameLists, ComparesAsSetsWithoutRegardToCase) {
  EXPECT_TRUE(SameLists({"CUSTOMER.DB", "orders.db"}, {"ORDERS.DB", "customer.db"}));
  EXPECT_TRUE(SameLists({}, {}));
  EXPECT_FALSE(SameLists({"A.DB"}, {"A.DB", "B.DB"}));
  EXPECT_FALSE(SameLists({"A.DB", "B.DB"}, {"A.DB", "C.DB"}));
  // Two names that differ only in case cannot both pair with one line.
  EXPECT_FALSE(SameLists({"A.DB", "a.db"}, {"A.DB", "B.DB"}));
  EXPECT_TRUE(SameLists({"A.DB", "a.db"}, {"a.DB", "A.db"}));
}

TEST(FreeObjects, FreesAttachmentsAndKeepsLines) {
  static int alive = 0;
  struct Item {
    Item() { ++alive; }
    ~Item() { --alive; }
  };
  std::vector<std::pair<std::string, Item*>> list = {
      {"a", new Item}, {"b", nullptr}, {"c", new Item}};
  FreeObjects(list);
  EXPECT_EQ(alive, 0);
  ASSERT_EQ(list.size(), 3u);
  EXPECT_EQ(list[2].first, "c");
  EXPECT_EQ(list[0].second, nullptr);
}

}  // namespace
