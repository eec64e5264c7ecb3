// A database handle of the direct calls: a standard (Paradox) database is a
// folder, opened shared or exclusive. The table tools open one on a table's
// folder for a restructure; the dataset layer's tables share one handle per
// folder (TableDatabase).
#pragma once

#include <string>

namespace engine {

class Database {
 public:
  Database(std::string directory, bool exclusive)
      : directory_(std::move(directory)), exclusive_(exclusive) {}

  const std::string& Directory() const { return directory_; }
  void SetDirectory(std::string directory) { directory_ = std::move(directory); }
  bool Exclusive() const { return exclusive_; }
  // A table name of a request, resolved in this database's folder (an
  // absolute path stays as it is).
  std::string Resolve(const std::string& name) const;

 private:
  std::string directory_;
  bool exclusive_;
};

// The shared handle of the database a table of the dataset layer lives in
// (its folder). Owned by the engine; never closed by callers.
Database* TableDatabase(const std::string& directory);

// The folder a path names with trailing separators removed ("/" stays).
std::string NormalizeDirectory(const std::string& directory);

}  // namespace engine
