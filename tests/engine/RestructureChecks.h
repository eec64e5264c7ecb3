// Test helper for restructure and pack: copies of sample folders, the
// structure of a table as the direct calls describe it, and a check that
// every index file of a table holds every record in key order and matches
// the data file's blocks.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "DataBlock.h"
#include "DataFileHeader.h"
#include "DbiStructure.h"
#include "FaultInjectionEnv.h"
#include "IndexKey.h"
#include "ParadoxTable.h"
#include "PrimaryIndex.h"
#include "SecondaryIndex.h"
#include "TableFiles.h"

namespace restructuretest {

inline std::unique_ptr<engine::ParadoxTable> OpenForTest(const std::string& path) {
  engine::OpenOptions options;
  options.useHeaderKey = true;
  options.lock = false;
  std::unique_ptr<engine::ParadoxTable> table;
  engine::Status s = engine::ParadoxTable::Open(path, options, &table);
  EXPECT_TRUE(s.ok()) << path << ": " << s.ToString();
  return table;
}

inline engine::TableStructure StructureOf(const std::string& path) {
  engine::TableStructure st;
  auto table = OpenForTest(path);
  if (table) {
    engine::Status s = engine::ReadTableStructure(engine::Env::Default(), *table, &st);
    EXPECT_TRUE(s.ok()) << path << ": " << s.ToString();
  }
  return st;
}

inline std::string ReadFile(const std::string& path) {
  std::string out;
  engine::ReadWholeFile(engine::Env::Default(), path, &out);
  return out;
}

// Every file of a folder with its bytes.
inline std::map<std::string, std::string> Snapshot(const std::string& dir) {
  std::map<std::string, std::string> out;
  for (const auto& e : std::filesystem::directory_iterator(dir))
    out[e.path().filename().string()] = e.is_regular_file() ? ReadFile(e.path().string()) : "<dir>";
  return out;
}

// Runs attempt with the disk full after 0, step, 2 step ... bytes until it
// succeeds; each failed attempt must leave the folder as it was. The
// number of failed attempts; the disk has room again afterwards.
inline int FillTheDiskUntilDone(engine::FaultInjectionEnv* env, const std::string& dir,
                                std::int64_t step, const std::function<engine::Status()>& attempt) {
  const auto before = Snapshot(dir);
  int failures = 0;
  for (std::int64_t budget = 0;; budget += step) {
    env->FailWritesAfter(budget);
    const engine::Status s = attempt();
    if (s.ok()) break;
    ++failures;
    if (Snapshot(dir) != before) {
      ADD_FAILURE() << "budget " << budget << " changed the files: " << s.ToString();
      break;
    }
  }
  env->FailWritesAfter(-1);
  return failures;
}

inline void CopyFolder(const std::string& from, const std::string& to) {
  namespace fs = std::filesystem;
  fs::create_directories(to);
  for (const auto& e : fs::directory_iterator(from)) {
    if (!e.is_regular_file()) continue;
    const fs::path dst = fs::path(to) / e.path().filename();
    fs::copy_file(e.path(), dst, fs::copy_options::overwrite_existing);
    fs::permissions(dst, fs::perms::owner_read | fs::perms::owner_write, fs::perm_options::add);
  }
}

// Every data file of a folder.
inline std::vector<std::string> TablesIn(const std::string& dir) {
  std::vector<std::string> out;
  for (const auto& e : std::filesystem::directory_iterator(dir)) {
    if (engine::UpperExtension(e.path().string()) == "DB") out.push_back(e.path().string());
  }
  std::sort(out.begin(), out.end());
  return out;
}

inline std::string KeyOfRecord(const engine::DataFileHeader& h, const std::uint8_t* rec) {
  std::size_t len = 0;
  for (int k = 0; k < h.key_fields; ++k)
    len += static_cast<std::size_t>(h.fields[static_cast<std::size_t>(k)].size);
  return std::string(reinterpret_cast<const char*>(rec), len);
}

inline void ExpectPrimaryIndexMatches(const engine::ParadoxTable& table,
                                      const std::string& px_path) {
  const engine::DataFileHeader& h = table.Header();
  engine::PrimaryIndex px;
  ASSERT_TRUE(px.DecodeFrom(ReadFile(px_path)).ok()) << px_path;
  EXPECT_EQ(px.Params().changeCount, h.change_count1) << px_path;
  std::vector<engine::IndexEntry> leaves;
  ASSERT_TRUE(px.Leaves(&leaves).ok()) << px_path;
  ASSERT_EQ(leaves.size(), table.Chain().size()) << px_path;
  std::vector<engine::KeyField> keys;
  for (int k = 0; k < h.key_fields; ++k) {
    const auto& f = h.fields[static_cast<std::size_t>(k)];
    keys.push_back({static_cast<std::uint8_t>(f.type), static_cast<std::uint16_t>(f.size),
                    static_cast<std::uint8_t>(f.decimals)});
  }
  engine::KeyOrder order(keys, h.sort_order);
  engine::TableCursor cursor = table.NewCursor();
  std::string previous;
  std::size_t block = 0;
  while (cursor.Next()) {
    const std::string key = KeyOfRecord(h, cursor.Record());
    if (!previous.empty()) {
      EXPECT_LT(order.Compare(previous, key), 0) << px_path << " record " << cursor.RecordNumber();
    }
    previous = key;
    while (block + 1 < table.Chain().size() &&
           table.Chain()[block + 1].first_record <= cursor.RecordNumber())
      ++block;
    if (table.Chain()[block].first_record == cursor.RecordNumber()) {
      EXPECT_EQ(leaves[block].key, key) << px_path << " block " << block;
      EXPECT_EQ(leaves[block].block, table.Chain()[block].number);
      EXPECT_EQ(leaves[block].count, table.Chain()[block].records);
    }
  }
}

inline void ExpectSecondaryIndexMatches(const engine::ParadoxTable& table,
                                        const std::string& x_path) {
  engine::SecondaryIndex x;
  ASSERT_TRUE(x.DecodeFrom(ReadFile(x_path)).ok()) << x_path;
  if (!x.Def().maintained) return;
  EXPECT_EQ(x.Records().size(), table.RecordCount()) << x_path;
  EXPECT_EQ(x.Params().tableChangeCount2, table.Header().change_count2) << x_path;
  const engine::KeyOrder order = x.Order();
  for (std::size_t i = 1; i < x.Records().size(); ++i) {
    EXPECT_LE(order.Compare(x.Records()[i - 1], x.Records()[i]), 0) << x_path << " record " << i;
  }
  for (const std::string& rec : x.Records()) {
    bool found = false;
    for (const auto& b : table.Chain()) found = found || b.number == x.BlockOf(rec);
    EXPECT_TRUE(found) << x_path << ": names a block outside the chain";
  }
}

// Every index file beside the table agrees with its data file.
inline void ExpectIndexesMatch(const std::string& db_path) {
  auto table = OpenForTest(db_path);
  if (!table) return;
  for (const std::string& path : engine::CompanionFiles(db_path)) {
    const std::string ext = engine::UpperExtension(path);
    if (ext == "PX" && table->Header().Keyed() && !table->Protected())
      ExpectPrimaryIndexMatches(*table, path);
    if (ext.size() == 3 && ext[0] == 'X' && !table->Protected())
      ExpectSecondaryIndexMatches(*table, path);
  }
}

inline std::string Name(const char* s) { return std::string(s, strnlen(s, 32)); }

// What `vdx info` compares: fields, indexes, checks and links.
inline void ExpectSameStructure(const engine::TableStructure& a, const engine::TableStructure& b,
                                const std::string& what) {
  ASSERT_EQ(a.fields.size(), b.fields.size()) << what;
  for (std::size_t i = 0; i < a.fields.size(); ++i) {
    EXPECT_EQ(Name(a.fields[i].szName), Name(b.fields[i].szName)) << what;
    EXPECT_EQ(a.fields[i].iFldType, b.fields[i].iFldType) << what;
    EXPECT_EQ(a.fields[i].iUnits1, b.fields[i].iUnits1) << what;
    EXPECT_EQ(a.fields[i].iUnits2, b.fields[i].iUnits2) << what;
  }
  ASSERT_EQ(a.indexes.size(), b.indexes.size()) << what;
  for (std::size_t i = 0; i < a.indexes.size(); ++i) {
    EXPECT_EQ(Name(a.indexes[i].szName), Name(b.indexes[i].szName)) << what;
    EXPECT_EQ(a.indexes[i].iFldsInKey, b.indexes[i].iFldsInKey) << what;
    EXPECT_EQ(a.indexes[i].bDescending, b.indexes[i].bDescending) << what;
    for (int k = 0; k < a.indexes[i].iFldsInKey; ++k)
      EXPECT_EQ(a.indexes[i].aiKeyFld[k], b.indexes[i].aiKeyFld[k]) << what;
  }
  EXPECT_EQ(a.checks.size(), b.checks.size()) << what;
  ASSERT_EQ(a.links.size(), b.links.size()) << what;
  for (std::size_t i = 0; i < a.links.size(); ++i) {
    EXPECT_EQ(Name(a.links[i].szRintName), Name(b.links[i].szRintName)) << what;
    EXPECT_EQ(a.links[i].eType, b.links[i].eType) << what;
  }
}

}  // namespace restructuretest
