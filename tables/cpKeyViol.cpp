#include "cpKeyViol.h"

#include <sys/stat.h>

#include <cstdio>

#include "ParadoxTable.h"
#include "TableFiles.h"
#include "cpTbTool.h"
#include "tlFile.h"

namespace {

// The first of base, base_2, base_3 ... that names no file in the folder,
// so an earlier run's rejected records are never overwritten.
std::string FreeStem(const std::string& folder, const std::string& base) {
  std::string stem = base;
  for (int n = 2; !FindEntries(folder + "/" + stem + ".*").empty(); ++n) {
    stem = base + "_" + std::to_string(n);
  }
  return stem;
}

}  // namespace

std::string KeepSetAside(const std::string& path, const std::string& table,
                         const std::string& folderName, std::time_t moment) {
  const std::string dir = ExtractFilePath(path);
  const std::string name = ExtractFileName(path);
  const std::string stem = engine::Stem(name);
  const std::string folder = dir + folderName;
  if (::mkdir(folder.c_str(), 0777) != 0 && !DirExists(folder)) {
    throw ETableTools("Cannot create the folder " + folder + " for the records set aside");
  }
  const std::string kept =
      FreeStem(folder, engine::Stem(ExtractFileName(table)) + "_" + engine::KeptCopyStamp(moment));
  std::string keptData;
  for (const TSearchRec& file : FindEntries(dir + stem + ".*")) {
    if (file.Attr & faDirectory) continue;
    const std::string target = folder + "/" + kept + file.Name.substr(stem.size());
    if (std::rename((dir + file.Name).c_str(), target.c_str()) != 0) {
      throw ETableTools("Cannot move " + dir + file.Name + " to " + target);
    }
    if (file.Name == name) keptData = target;
  }
  return keptData;
}

std::uint32_t SetAsideCount(const std::string& path) {
  engine::OpenOptions open;
  open.lock = false;
  open.useHeaderKey = true;
  std::unique_ptr<engine::ParadoxTable> table;
  if (!engine::ParadoxTable::Open(path, open, &table).ok()) return 0;
  return table->RecordCount();
}
