#include "Database.h"

#include <map>
#include <memory>
#include <mutex>

namespace engine {

std::string NormalizeDirectory(const std::string& directory) {
  std::string dir = directory;
  while (dir.size() > 1 && (dir.back() == '/' || dir.back() == '\\')) dir.pop_back();
  return dir.empty() ? "." : dir;
}

std::string Database::Resolve(const std::string& name) const {
  if (name.empty() || name[0] == '/') return name;
  return directory_ + "/" + name;
}

Database* TableDatabase(const std::string& directory) {
  static std::mutex mutex;
  static std::map<std::string, std::unique_ptr<Database>> shared;
  const std::string dir = NormalizeDirectory(directory);
  std::lock_guard<std::mutex> hold(mutex);
  auto& slot = shared[dir];
  if (!slot) slot = std::make_unique<Database>(dir, false);
  return slot.get();
}

}  // namespace engine
