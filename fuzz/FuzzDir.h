// A scratch folder for fuzz targets that must work on real files: one per
// process, in memory where /dev/shm exists, emptied before each input.
#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <string>

namespace fuzz {

inline const std::string& ScratchDir() {
  static const std::string dir = [] {
    std::string base = std::filesystem::is_directory("/dev/shm") ? "/dev/shm" : "/tmp";
    if (const char* tmp = std::getenv("VARDEX_FUZZ_TMP")) base = tmp;
    std::string tmpl = base + "/vardex-fuzz-XXXXXX";
    if (!::mkdtemp(tmpl.data())) std::abort();
    return tmpl;
  }();
  return dir;
}

// Empties the scratch folder and answers its path.
inline std::string FreshScratchDir() {
  const std::string& dir = ScratchDir();
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator(dir, ec)) std::filesystem::remove_all(e.path(), ec);
  return dir;
}

// Removes the scratch folder at exit.
struct ScratchCleanup {
  // Made first, so that the folder's name outlives this.
  ScratchCleanup() { (void)ScratchDir(); }
  ~ScratchCleanup() {
    std::error_code ec;
    std::filesystem::remove_all(ScratchDir(), ec);
  }
};

}  // namespace fuzz
