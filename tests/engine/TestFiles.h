// Test helper: whole files read into memory, and the small sample files kept
// with the tests (tests/data/paradox-val).
#pragma once

#include <cctype>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace enginetest {

// The bytes of a file; empty when it cannot be read.
inline std::string ReadAll(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// One of the sample files kept with the tests.
inline std::string ReadTestData(const std::string& name) {
  return ReadAll(std::filesystem::path(VARDEX_TEST_DATA_DIR) / "paradox-val" / name);
}

// A file's extension in upper case (".PX", ".X02"), as the sample folders
// hold both spellings.
inline std::string UpperExtension(const std::filesystem::path& path) {
  std::string ext = path.extension().string();
  for (char& c : ext) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return ext;
}

}  // namespace enginetest
