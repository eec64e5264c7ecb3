// The order in which a run restructures the tables of a database: every
// master before the tables whose links refer to it, so that a detail's new
// links find their master already in its new form. A pure function over the
// table names and their links' masters, so that TZelTableTools reads the
// links and the order can be checked without tables on disk.
#pragma once

#include <string>
#include <vector>

namespace tborder {

// One table: its data file name ("ORDERS.DB") and the masters its dependent
// links name, as the links name them (a folder and ".db" may come with them).
struct TTableLinks {
  std::string Table;
  std::vector<std::string> Masters;
};

struct TTableOrder {
  // The tables in the order to work on them, masters first.
  std::vector<std::string> Ordered;
  // The tables no order exists for (a master missing among the tables,
  // masters that refer to each other, directly or through others, or a
  // name given twice), in their given order; empty when every table is
  // ordered.
  std::vector<std::string> Unordered;
};

// Tables and masters are matched by file name without folder and ".db",
// letters compared without regard to case; a link of a table to itself
// orders nothing. The tables without masters come first, in their given
// order; then, pass by pass in the given order, every table whose masters
// are all placed, a table placed in a pass counting for those after it.
TTableOrder MastersFirst(const std::vector<TTableLinks>& tables);

}  // namespace tborder
