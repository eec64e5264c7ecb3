// Format directives of language texts: what fits is filled, what does not
// fit leaves the text unformatted (FormatArgs answers false), never a crash.
#include "clFormat.h"

#include <gtest/gtest.h>

namespace {
QString Format(const QString& pattern, const QVariantList& args) {
  QString out;
  return FormatArgs(pattern, args, out) ? out : QStringLiteral("<unfit>");
}
}  // namespace

TEST(FormatArgs, FillsTextsAndIntegersInOrder) {
  EXPECT_EQ(Format("Table %s", {QString("CUSTOMER.DB")}), "Table CUSTOMER.DB");
  EXPECT_EQ(Format("Insert disk %d of %d.", {3, 12}), "Insert disk 3 of 12.");
  EXPECT_EQ(Format("100%% of %s", {QString("x")}), "100% of x");
  EXPECT_EQ(Format("no directives", {}), "no directives");
  EXPECT_EQ(Format("spare %s", {QString("a"), QString("b"), 7}), "spare a");
  EXPECT_EQ(Format("%s", {QString()}), "");
}

TEST(FormatArgs, IndexWidthAndPrecision) {
  EXPECT_EQ(Format("%0:s then %0:s", {QString("Copy")}), "Copy then Copy");
  EXPECT_EQ(Format("%1:s %0:s %s", {QString("a"), QString("b")}), "b a b");
  EXPECT_EQ(Format("[%5s]", {QString("ab")}), "[   ab]");
  EXPECT_EQ(Format("[%-5s]", {QString("ab")}), "[ab   ]");
  EXPECT_EQ(Format("[%.2s]", {QString("abcdef")}), "[ab]");
  EXPECT_EQ(Format("[%.4d]", {-42}), "[-0042]");
  EXPECT_EQ(Format("[%*d]", {4, 7}), "[   7]");
  EXPECT_EQ(Format("%x", {255}), "FF");
  EXPECT_EQ(Format("%.2f", {3.14159}), "3.14");
}

TEST(FormatArgs, DirectivesThatDoNotFitAreRefused) {
  EXPECT_EQ(Format("code %d", {QString("")}), "<unfit>");       // text for a number
  EXPECT_EQ(Format("name %s", {42}), "<unfit>");                // number for a text
  EXPECT_EQ(Format("%s and %s", {QString("one")}), "<unfit>");  // too few arguments
  EXPECT_EQ(Format("%2:s", {QString("a")}), "<unfit>");         // index past the end
  EXPECT_EQ(Format("50%", {QString("a")}), "<unfit>");          // dangling percent
  EXPECT_EQ(Format("%q", {QString("a")}), "<unfit>");           // unknown directive
  EXPECT_EQ(Format("%p", {1}), "<unfit>");
  EXPECT_EQ(Format("%f", {1}), "<unfit>");  // integer for a float
  EXPECT_EQ(Format("%*d", {QString("x"), 1}), "<unfit>");
  EXPECT_LE(Format("%99999999999d", {1}).size(), 9999);  // an absurd width is bounded
}
