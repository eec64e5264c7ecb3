// An in-memory file layer for the fuzz targets: files are byte strings held
// by name, so each input is read without touching the disk.
#pragma once

#include <cstring>
#include <map>
#include <memory>
#include <string>

#include "Env.h"

namespace fuzz {

class MemFile : public engine::RandomFile {
 public:
  MemFile(std::string path, const std::string* data) : path_(std::move(path)), data_(data) {}
  engine::Status ReadAt(std::uint64_t offset, std::size_t n, void* out) override {
    if (offset > data_->size() || n > data_->size() - offset) {
      return engine::Status::Corruption("unexpected end of file");
    }
    std::memcpy(out, data_->data() + offset, n);
    return engine::Status::OK();
  }
  engine::Status WriteAt(std::uint64_t, const void*, std::size_t) override {
    return engine::Status::IOError("read-only");
  }
  engine::Status Truncate(std::uint64_t) override { return engine::Status::IOError("read-only"); }
  engine::Status Sync() override { return engine::Status::OK(); }
  std::uint64_t Size() const override { return data_->size(); }
  const std::string& Path() const override { return path_; }

 private:
  std::string path_;
  const std::string* data_;
};

class MemEnv : public engine::Env {
 public:
  std::map<std::string, std::string> files;

  engine::Status OpenRead(const std::string& path,
                          std::unique_ptr<engine::RandomFile>* f) override {
    auto it = files.find(path);
    if (it == files.end()) return engine::Status(DBIERR_NOSUCHFILE, "no such file");
    f->reset(new MemFile(path, &it->second));
    return engine::Status::OK();
  }
  engine::Status OpenWrite(const std::string&, bool,
                           std::unique_ptr<engine::RandomFile>*) override {
    return engine::Status::IOError("read-only");
  }
  engine::Status Rename(const std::string&, const std::string&) override {
    return engine::Status::IOError("read-only");
  }
  engine::Status Remove(const std::string&) override {
    return engine::Status::IOError("read-only");
  }
  bool Exists(const std::string& path) override { return files.count(path) != 0; }
  engine::Status SyncDir(const std::string&) override { return engine::Status::OK(); }
  engine::Status ListDir(const std::string&, std::vector<std::string>* names) override {
    names->clear();  // holds files by path only
    return engine::Status::OK();
  }
  engine::Status CreateDir(const std::string&) override {
    return engine::Status::IOError("read-only");
  }
  engine::Status RemoveDir(const std::string&) override {
    return engine::Status::IOError("read-only");
  }
};

}  // namespace fuzz
