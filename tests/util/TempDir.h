// A fresh folder under the system's temporary folder for one test, removed
// with everything in it when the test ends. Every test folder uses this one.
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

class TempDir {
 public:
  TempDir() {
    std::string templ = (std::filesystem::temp_directory_path() / "vardexXXXXXX").string();
    path_ = mkdtemp(templ.data());
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  // The folder without, and with, a trailing "/".
  const std::string& Dir() const { return path_; }
  std::string Path() const { return path_ + "/"; }
  // A name inside the folder.
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

  void Write(const std::string& name, const std::string& text = "x") const {
    std::ofstream(*this / name) << text;
  }
  void MakeDir(const std::string& name) const { mkdir((*this / name).c_str(), 0755); }
  bool Exists(const std::string& name) const {
    struct stat st {};
    return lstat((*this / name).c_str(), &st) == 0;
  }

 private:
  std::string path_;
};
