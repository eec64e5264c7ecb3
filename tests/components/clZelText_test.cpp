// Message filling and the replace helper whose input may come from a
// translator: a replacement that holds the word it replaces must end.
#include "clZelText.h"

#include <gtest/gtest.h>

TEST(FillIn, FillsEachPlaceholderInOrderAndLeavesSparePlaceholders) {
  EXPECT_EQ(FillIn("Item <%s> not found in container <%s>", {"A", "Lang"}),
            "Item <A> not found in container <Lang>");
  EXPECT_EQ(FillIn("%s and %s", {"one"}), "one and %s");
  EXPECT_EQ(FillIn("100%", {"x"}), "100%");
}

TEST(DeleteFirst, RemovesOnlyTheFirstExactOccurrence) {
  EXPECT_EQ(DeleteFirst("CUSTOMER.DB", ".DB"), "CUSTOMER");
  EXPECT_EQ(DeleteFirst("CUSTOMER.db", ".DB"), "CUSTOMER.db");
  EXPECT_EQ(DeleteFirst("LangLangX", "Lang"), "LangX");
  EXPECT_EQ(DeleteFirst("abc", ""), "abc");
}

TEST(ReplaceAllSafe, ReplacesEveryOccurrenceExactly) {
  EXPECT_EQ(ReplaceAllSafe("a/b/c", "/", "\\"), "a\\b\\c");
  EXPECT_EQ(ReplaceAllSafe("Item 3 of 12", "of", "von"), "Item 3 von 12");
  EXPECT_EQ(ReplaceAllSafe("Item OF", "of", "von"), "Item OF");
  EXPECT_EQ(ReplaceAllSafe("same", "same", "same"), "same");
  EXPECT_EQ(ReplaceAllSafe("text", "", "x"), "text");
}

TEST(ReplaceAllSafe, ReplacementFormingTheWordAgainIsReplacedToo) {
  // Removing "ab" from "aabb" forms "ab" again; the restart catches it.
  EXPECT_EQ(ReplaceAllSafe("aabb", "ab", ""), "");
  // Each round doubles the b's; the chain is long but ends, and is followed
  // to its end rather than cut off halfway.
  EXPECT_EQ(ReplaceAllSafe("aaaaaab", "ab", "bba"), QString(64, u'b') + QString(6, u'a'));
}

TEST(ReplaceAllSafe, TranslationHoldingTheWordEndsInOnePass) {
  // A translator writing "Items" for "Item", or "of the" for "of".
  EXPECT_EQ(ReplaceAllSafe("Item 3 of 12", "Item", "Items"), "Items 3 of 12");
  EXPECT_EQ(ReplaceAllSafe("3 of 12, profile", "of", "of the"), "3 of the 12, prof theile");
}
