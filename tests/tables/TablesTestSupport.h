// Test helpers for the table tools: databases built in temporary folders
// from the sample tables, aliases pointing at them, a table's structure and
// records as plain values, and a deep copy of a restructure request.
#pragma once

#include <gtest/gtest.h>
#include <strings.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "DbiCalls.h"
#include "Restructure.h"
#include "Session.h"
#include "TTable.h"
#include "TempDir.h"

namespace tbtest {

namespace fs = std::filesystem;

inline std::string DataDir() { return std::string(VARDEX_TEST_DATA_DIR) + "/paradox-tables"; }

inline std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

inline std::string StemOf(const std::string& name) { return name.substr(0, name.find('.')); }

// Copies every file of `from` whose stem is `stem` (any case) into `to`.
inline void CopyTable(const std::string& from, const std::string& stem, const std::string& to) {
  fs::create_directories(to);
  for (const auto& e : fs::directory_iterator(from)) {
    if (!e.is_regular_file()) continue;
    const std::string name = e.path().filename().string();
    if (Lower(StemOf(name)) == Lower(stem)) {
      fs::copy_file(e.path(), fs::path(to) / name, fs::copy_options::overwrite_existing);
    }
  }
}

inline void CopyFiles(const std::string& from, const std::string& to) {
  fs::create_directories(to);
  for (const auto& e : fs::directory_iterator(from)) {
    if (!e.is_regular_file()) continue;
    const fs::path target = fs::path(to) / e.path().filename();
    fs::copy_file(e.path(), target, fs::copy_options::overwrite_existing);
    // Shipped samples may be read-only; a database's files are not.
    fs::permissions(target, fs::perms::owner_write, fs::perm_options::add);
  }
}

// An empty table with the whole structure of `src`, the way a reference copy
// is made.
inline void Borrow(const std::string& src, const std::string& dst) {
  engine::RestructureOptions options;
  options.useHeaderKey = true;
  options.copyRecords = false;
  options.saveAs = dst;
  const engine::Status s = engine::PackTable(src, options, nullptr);
  ASSERT_TRUE(s.ok()) << s.ToString();
}

// Points the session at an engine configuration with the given aliases.
class Aliases {
 public:
  explicit Aliases(const std::vector<std::pair<std::string, std::string>>& aliases) {
    std::ofstream ini(dir_ / "engine.ini");
    for (const auto& [name, path] : aliases) {
      ini << "[" << name << "]\nTYPE=STANDARD\nPATH=" << path << "\n";
    }
    ini.close();
    engine::TSession::Default().SetConfigFile(dir_ / "engine.ini");
  }
  ~Aliases() { engine::TSession::Default().SetConfigFile(dir_ / "none.ini"); }

 private:
  TempDir dir_;
};

struct Link {
  std::string name;
  int type;
  std::string table;  // the other table's file name
  bool operator==(const Link&) const = default;
};

// What the engine reports of a table, as plain values.
struct Shape {
  std::vector<std::string> fields;  // "name:type"
  std::vector<std::string> indexes;
  std::vector<int> checks;  // field numbers
  std::vector<Link> links;
  bool isProtected = false;
  int keyFields = 0;
};

inline std::string FileName(const std::string& path) {
  return path.substr(path.find_last_of('/') + 1);
}

inline Shape ShapeOf(engine::TTable& t) {
  Shape s;
  CURProps p{};
  EXPECT_EQ(DbiGetCursorProps(t.Handle(), p), 0);
  std::vector<FLDDesc> f(p.iFields);
  if (p.iFields) DbiGetFieldDescs(t.Handle(), f.data());
  for (const FLDDesc& d : f) s.fields.push_back(std::string(d.szName) + ":" + d.iFldType);
  for (std::uint16_t i = 1; i <= p.iIndexes; ++i) {
    IDXDesc d{};
    EXPECT_EQ(DbiGetIndexDesc(t.Handle(), i, d), 0);
    s.indexes.push_back(d.szName);
  }
  for (std::uint16_t i = 1; i <= p.iValChecks; ++i) {
    VCHKDesc d{};
    EXPECT_EQ(DbiGetVchkDesc(t.Handle(), i, d), 0);
    s.checks.push_back(d.iFldNum);
  }
  for (std::uint16_t i = 1; i <= p.iRefIntChecks; ++i) {
    RINTDesc d{};
    EXPECT_EQ(DbiGetRintDesc(t.Handle(), i, d), 0);
    s.links.push_back({d.szRintName, d.eType, Lower(FileName(d.szTblName))});
  }
  s.isProtected = p.bProtected;
  s.keyFields = p.iKeyFields;
  return s;
}

inline Shape ShapeOf(const std::string& dir, const std::string& table) {
  engine::TTable t;
  t.DatabaseName = dir;
  t.TableName = table;
  t.Open();
  return ShapeOf(t);
}

// Every record as its fields' texts joined by '|', in file order.
inline std::vector<std::string> Rows(const std::string& dir, const std::string& table) {
  engine::TTable t;
  t.DatabaseName = dir;
  t.TableName = table;
  t.Open();
  CURProps p{};
  DbiGetCursorProps(t.Handle(), p);
  std::vector<FLDDesc> f(p.iFields);
  if (p.iFields) DbiGetFieldDescs(t.Handle(), f.data());
  std::vector<std::string> rows;
  for (t.First(); !t.Eof(); t.Next()) {
    std::string row;
    for (const FLDDesc& d : f) row += t.FieldByName(d.szName).AsString() + "|";
    rows.push_back(row);
  }
  return rows;
}

inline std::vector<std::string> Sorted(std::vector<std::string> v) {
  std::sort(v.begin(), v.end());
  return v;
}

inline std::string OpName(CROpType op) {
  switch (op) {
    case crADD:
      return "add";
    case crMODIFY:
      return "modify";
    case crDROP:
      return "drop";
    default:
      return "op" + std::to_string(op);
  }
}

// A restructure request with its lists copied out of the caller's storage.
struct Request {
  CRTblDesc header{};
  std::vector<CROpType> fieldOps, checkOps, indexOps, linkOps;
  std::vector<FLDDesc> fields;
  std::vector<VCHKDesc> checks;
  std::vector<IDXDesc> indexes;
  std::vector<RINTDesc> links;

  void Take(const CRTblDesc& r) {
    header = r;
    fieldOps.assign(r.pecrFldOp, r.pecrFldOp + r.iFldCount);
    fields.assign(r.pfldDesc, r.pfldDesc + r.iFldCount);
    checkOps.assign(r.pecrValChkOp, r.pecrValChkOp + r.iValChkCount);
    checks.assign(r.pvchkDesc, r.pvchkDesc + r.iValChkCount);
    indexOps.assign(r.pecrIdxOp, r.pecrIdxOp + r.iIdxCount);
    indexes.assign(r.pidxDesc, r.pidxDesc + r.iIdxCount);
    linkOps.assign(r.pecrRintOp, r.pecrRintOp + r.iRintCount);
    links.assign(r.printDesc, r.printDesc + r.iRintCount);
  }
  // "op:name" of every index / link, in request order.
  std::vector<std::string> IndexOps() const {
    std::vector<std::string> out;
    for (std::size_t i = 0; i < indexes.size(); ++i) {
      out.push_back(OpName(indexOps[i]) + ":" + indexes[i].szName);
    }
    return out;
  }
  std::vector<std::string> LinkOps() const {
    std::vector<std::string> out;
    for (std::size_t i = 0; i < links.size(); ++i) {
      out.push_back(OpName(linkOps[i]) + ":" + links[i].szRintName);
    }
    return out;
  }
};

}  // namespace tbtest
