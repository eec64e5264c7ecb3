// Helpers of the tests that write and read archives: files in and out of
// whole, and the drive table (drives.ini) that makes folders the drives of
// a spanned set. Plain C++, for the GoogleTest and the Qt tests alike.
#pragma once

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace ziptest {

inline std::string ReadFile(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

inline void WriteFile(const std::filesystem::path& p, const std::string& data) {
  std::filesystem::create_directories(p.parent_path());
  std::ofstream(p, std::ios::binary) << data;
}

// A drive of the drive table: a letter standing for a folder, whose disks
// hold `capacity` bytes each (0: as much as the folder takes).
struct TDrive {
  std::string letter;
  std::string folder;
  long long capacity = 0;
};

inline void WriteDrives(const std::filesystem::path& file, const std::vector<TDrive>& drives) {
  std::string text = "[Drives]\n";
  for (const TDrive& d : drives) {
    text += d.letter + "=" + d.folder + "\n";
    if (d.capacity > 0) text += d.letter + ".Capacity=" + std::to_string(d.capacity) + "\n";
  }
  WriteFile(file, text);
}

}  // namespace ziptest
