#include "cpTbOrder.h"

#include <cctype>
#include <set>

#include "tlFile.h"

namespace tborder {

namespace {

// A table name as a link names its master, reduced to compare with a file
// name: no folder, no ".db", upper case.
std::string TableKey(const std::string& name) {
  std::string key = ExtractFileName(name);
  for (char& c : key) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (key.size() >= 3 && key.compare(key.size() - 3, 3, ".DB") == 0) key.resize(key.size() - 3);
  return key;
}

}  // namespace

TTableOrder MastersFirst(const std::vector<TTableLinks>& tables) {
  const std::size_t n = tables.size();
  std::vector<std::string> keys;
  std::vector<std::vector<std::string>> masters(n);
  for (std::size_t i = 0; i < n; ++i) {
    keys.push_back(TableKey(tables[i].Table));
    for (const std::string& name : tables[i].Masters) {
      const std::string key = TableKey(name);
      if (key != keys[i]) masters[i].push_back(key);
    }
  }
  TTableOrder order;
  std::vector<bool> done(n, false);
  std::set<std::string> placed;
  for (bool first = true; order.Ordered.size() < n; first = false) {
    const std::size_t before = order.Ordered.size();
    for (std::size_t i = 0; i < n; ++i) {
      if (placed.count(keys[i])) continue;
      bool ready = !first || masters[i].empty();
      for (const std::string& key : masters[i]) ready = ready && placed.count(key);
      if (!ready) continue;
      order.Ordered.push_back(tables[i].Table);
      done[i] = true;
      placed.insert(keys[i]);
    }
    if (!first && order.Ordered.size() == before) break;
  }
  for (std::size_t i = 0; i < n; ++i) {
    if (!done[i]) order.Unordered.push_back(tables[i].Table);
  }
  return order;
}

}  // namespace tborder
