// The engine configuration file (engine.ini): one INI section per alias with
// TYPE= (the driver, STANDARD for Paradox folders) and PATH= lines. Reading
// never fails: a missing or unreadable file has no aliases and a malformed
// line is skipped.
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

  // Alias names sorted without regard to case.
  std::vector<std::string> AliasNames() const;
  // The alias of that name, matched without regard to case; nullptr if none.
  const AliasEntry* Find(const std::string& name) const;

 private:
  std::vector<AliasEntry> aliases_;
};

}  // namespace engine
