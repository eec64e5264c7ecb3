// The engine configuration file (engine.ini): one INI section per alias with
// TYPE= (the driver, STANDARD for Paradox folders) and PATH= lines; a value
// in double quotes (PATH="/srv/my data") stands without them. Reading never
// fails: a missing or unreadable file has no aliases (Found() tells it from
// an empty one) and a malformed line is skipped.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace engine {

struct AliasEntry {
  std::string name;                                         // as written in the file
  std::vector<std::pair<std::string, std::string>> params;  // in file order, keys upper-cased
  std::string Param(const std::string& key) const;          // "" when absent
  std::string Driver() const;                               // TYPE=, STANDARD when absent
};

class EngineConfig {
 public:
  static EngineConfig Load(const std::string& path);
  static EngineConfig Parse(const std::string& text);

  // False when Load found no file it could read.
  bool Found() const { return found_; }

  // Alias names sorted without regard to case.
  std::vector<std::string> AliasNames() const;
  // The alias of that name, matched without regard to case; nullptr if none.
  const AliasEntry* Find(const std::string& name) const;

 private:
  std::vector<AliasEntry> aliases_;
  bool found_ = true;
};

}  // namespace engine
