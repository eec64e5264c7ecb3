// The master-first order of a run's tables, on hand-made links: the shapes
// a database's links can take, including those no order exists for.
#include "cpTbOrder.h"

#include <gtest/gtest.h>

namespace {

using Names = std::vector<std::string>;

TEST(TablesOrder, MastersComeBeforeTheTablesThatReferToThem) {
  struct Case {
    const char* what;
    std::vector<tborder::TTableLinks> tables;
    Names ordered;
    Names unordered;
  };
  const Case cases[] = {
      {"no tables", {}, {}, {}},
      {"no links: the given order",
       {{"C.DB", {}}, {"A.DB", {}}, {"B.DB", {}}},
       {"C.DB", "A.DB", "B.DB"},
       {}},
      {"chain listed details first",
       {{"C.DB", {"B.DB"}}, {"B.DB", {"A.DB"}}, {"A.DB", {}}},
       {"A.DB", "B.DB", "C.DB"},
       {}},
      {"a table placed in a pass counts for the tables after it",
       {{"B.DB", {"A.DB"}}, {"C.DB", {"B.DB"}}, {"A.DB", {}}, {"D.DB", {"A.DB"}}},
       {"A.DB", "B.DB", "C.DB", "D.DB"},
       {}},
      {"tables without masters come first",
       {{"A.DB", {}}, {"B.DB", {"A.DB"}}, {"C.DB", {}}},
       {"A.DB", "C.DB", "B.DB"},
       {}},
      {"diamond",
       {{"D.DB", {"B.DB", "C.DB"}}, {"B.DB", {"A.DB"}}, {"C.DB", {"A.DB"}}, {"A.DB", {}}},
       {"A.DB", "B.DB", "C.DB", "D.DB"},
       {}},
      {"two links to one master", {{"B.DB", {"A.DB", "A.DB"}}, {"A.DB", {}}}, {"A.DB", "B.DB"}, {}},
      {"a link to itself orders nothing",
       {{"B.DB", {"A.DB", "B.DB"}}, {"A.DB", {"A.DB"}}},
       {"A.DB", "B.DB"},
       {}},
      {"names match without folder, \".db\" and case",
       {{"Items.db", {"/data/METADATA/ORDERS.DB", "items"}}, {"Orders.db", {"orders.DB"}}},
       {"Orders.db", "Items.db"},
       {}},
      {"two masters referring to each other",
       {{"A.DB", {"B.DB"}}, {"B.DB", {"A.DB"}}, {"C.DB", {}}},
       {"C.DB"},
       {"A.DB", "B.DB"}},
      {"a cycle through three, and a detail of it",
       {{"D.DB", {"A.DB"}},
        {"A.DB", {"C.DB"}},
        {"B.DB", {"A.DB"}},
        {"C.DB", {"B.DB"}},
        {"E.DB", {}}},
       {"E.DB"},
       {"D.DB", "A.DB", "B.DB", "C.DB"}},
      {"a master missing, and a detail of that table",
       {{"A.DB", {"GONE.DB"}}, {"B.DB", {}}, {"C.DB", {"A.DB"}}, {"D.DB", {"B.DB"}}},
       {"B.DB", "D.DB"},
       {"A.DB", "C.DB"}},
      {"one name twice, in two cases", {{"a.db", {}}, {"A.DB", {}}}, {"a.db"}, {"A.DB"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const tborder::TTableOrder order = tborder::MastersFirst(c.tables);
    EXPECT_EQ(order.Ordered, c.ordered);
    EXPECT_EQ(order.Unordered, c.unordered);
  }
}

}  // namespace
