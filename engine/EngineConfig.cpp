#include "EngineConfig.h"

#include <sys/stat.h>

#include <algorithm>
#include <fstream>
#include <sstream>

namespace engine {
namespace {

std::string Trim(const std::string& s) {
  const char* blanks = " \t\r\n";
  std::size_t b = s.find_first_not_of(blanks);
  if (b == std::string::npos) return "";
  std::size_t e = s.find_last_not_of(blanks);
  return s.substr(b, e - b + 1);
}

std::string Upper(std::string s) {
  for (char& c : s) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return s;
}

}  // namespace

std::string AliasEntry::Param(const std::string& key) const {
  const std::string k = Upper(key);
  for (const auto& [name, value] : params) {
    if (name == k) return value;
  }
  return "";
}

std::string AliasEntry::Driver() const {
  std::string type = Upper(Param("TYPE"));
  return type.empty() ? "STANDARD" : type;
}

EngineConfig EngineConfig::Load(const std::string& path) {
  struct stat st {};
  std::ifstream in(path, std::ios::binary);
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || !in) {
    EngineConfig none;
    none.found_ = false;
    return none;
  }
  std::ostringstream text;
  text << in.rdbuf();
  return Parse(text.str());
}

EngineConfig EngineConfig::Parse(const std::string& text) {
  EngineConfig config;
  std::istringstream lines(text);
  std::string line;
  AliasEntry* current = nullptr;
  while (std::getline(lines, line)) {
    line = Trim(line);
    if (line.empty() || line[0] == ';' || line[0] == '#') continue;
    if (line.front() == '[') {
      current = nullptr;
      if (line.back() != ']') continue;  // malformed header: skip its keys too
      std::string name = Trim(line.substr(1, line.size() - 2));
      if (name.empty() || config.Find(name)) continue;  // first section of a name wins
      config.aliases_.push_back({name, {}});
      current = &config.aliases_.back();
      continue;
    }
    std::size_t eq = line.find('=');
    if (!current || eq == std::string::npos || eq == 0) continue;
    std::string key = Upper(Trim(line.substr(0, eq)));
    if (key.empty() || !current->Param(key).empty()) continue;
    std::string value = Trim(line.substr(eq + 1));
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
      value = value.substr(1, value.size() - 2);
    current->params.emplace_back(key, value);
  }
  return config;
}

std::vector<std::string> EngineConfig::AliasNames() const {
  std::vector<std::string> names;
  for (const auto& a : aliases_) names.push_back(a.name);
  std::stable_sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
    return Upper(a) < Upper(b);
  });
  return names;
}

const AliasEntry* EngineConfig::Find(const std::string& name) const {
  const std::string wanted = Upper(Trim(name));
  for (const auto& a : aliases_) {
    if (Upper(a.name) == wanted) return &a;
  }
  return nullptr;
}

}  // namespace engine
