// Every sample table restructured against a borrowed copy of itself, the
// way Update and the first phase of Copy treat a database whose reference
// matches: a full merge in place and a strip-mode copy into SA$$ both keep
// every record; the copy has the first index only and no dependent links;
// the full merge re-creates every dependent link as a drop and an add.
// The shared sample folders are walked when present; the tables kept with
// the tests always are.
#include <gtest/gtest.h>

#include <iostream>

#include "TablesTestSupport.h"
#include "cpTbTool.h"
#include "tlFile.h"

namespace {

using namespace tbtest;

std::vector<std::string> Folders() {
  std::vector<std::string> folders = {DataDir()};
  std::error_code ec;
  if (fs::is_directory(VARDEX_SAMPLES_DIR, ec)) {
    for (const auto& e : fs::directory_iterator(VARDEX_SAMPLES_DIR)) {
      if (e.is_directory()) folders.push_back(e.path().string());
    }
  } else {
    folders.push_back(std::string(VARDEX_SAMPLES_DIR) + "/(absent)");
  }
  std::sort(folders.begin() + 1, folders.end());
  return folders;
}

std::vector<std::string> SortedLinks(const std::vector<Link>& links) {
  std::vector<std::string> out;
  for (const Link& l : links) out.push_back(l.name + "/" + std::to_string(l.type) + "/" + l.table);
  return Sorted(out);
}

std::vector<std::string> Dependent(const std::vector<Link>& links) {
  std::vector<std::string> out;
  for (const Link& l : links) {
    if (l.type == rintDEPENDENT) out.push_back(l.name);
  }
  return out;
}

// A keyed table shipped without its primary index file reports no primary
// index until a restructure builds one.
std::vector<std::string> RebuiltIndexes(const Shape& shape) {
  std::vector<std::string> indexes = shape.indexes;
  if (shape.keyFields > 0 && (indexes.empty() || !indexes.front().empty())) {
    indexes.insert(indexes.begin(), "");
  }
  return indexes;
}

struct Before {
  std::vector<std::string> rows;
  Shape shape;
};

class EverySample : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    if (!fs::is_directory(GetParam())) GTEST_SKIP() << "no sample tables at " << GetParam();
    CopyFiles(GetParam(), dir);
    fs::create_directories(meta);
    fs::create_directories(dir + "/SA$$");
    for (const std::string& table : ListFiles(dir + "/*.db")) {
      try {
        before[table] = {Sorted(Rows(dir, table)), ShapeOf(dir, table)};
      } catch (const std::exception& e) {
        std::cout << "  skipped " << table << ": " << e.what() << "\n";  // protected
        continue;
      }
      Borrow(dir + "/" + table, meta + "/" + table);
    }
    tools.DatabaseName = dir + "/";
    tools.OnRestructureRequest = [this](const CRTblDesc& r) { request.Take(r); };
  }

  TempDir tmp;
  const std::string dir = tmp / "db";
  const std::string meta = dir + "/METADATA";
  std::map<std::string, Before> before;
  TZelTableTools tools;
  Request request;
};

TEST_P(EverySample, StripCopyKeepsRecordsFirstIndexNoDependentLinks) {
  for (const auto& [table, was] : before) {
    SCOPED_TRACE(table);
    tools.TableName = table;
    ASSERT_NO_THROW(tools.Restructure(dir + "/SA$$/" + table, true));
    EXPECT_EQ(Sorted(Rows(dir + "/SA$$", table)), was.rows);
    const Shape copy = ShapeOf(dir + "/SA$$", table);
    const std::vector<std::string> all = RebuiltIndexes(was.shape);
    EXPECT_EQ(copy.indexes, std::vector<std::string>(
                                all.begin(), all.begin() + std::min<std::size_t>(1, all.size())));
    EXPECT_TRUE(Dependent(copy.links).empty());
    EXPECT_EQ(copy.fields, was.shape.fields);
    EXPECT_EQ(copy.checks, was.shape.checks);
    EXPECT_EQ(request.links.size(), Dependent(was.shape.links).size());
  }
  // The live tables are as they were.
  for (const auto& [table, was] : before) {
    EXPECT_EQ(Sorted(Rows(dir, table)), was.rows) << table;
    EXPECT_EQ(SortedLinks(ShapeOf(dir, table).links), SortedLinks(was.shape.links)) << table;
  }
}

TEST_P(EverySample, FullMergeInPlaceKeepsRecordsAndStructure) {
  for (const auto& [table, was] : before) {
    SCOPED_TRACE(table);
    tools.TableName = table;
    ASSERT_NO_THROW(tools.Restructure("", false));
    const std::vector<std::string> dependent = Dependent(was.shape.links);
    std::vector<std::string> dropAdd;
    for (const std::string& name : dependent) dropAdd.push_back("drop:" + name);
    for (const std::string& name : dependent) dropAdd.push_back("add:" + name);
    EXPECT_EQ(request.LinkOps(), dropAdd);
    EXPECT_EQ(tools.LastKeyViolations, "");
  }
  for (const auto& [table, was] : before) {
    SCOPED_TRACE(table);
    EXPECT_EQ(Sorted(Rows(dir, table)), was.rows);
    const Shape now = ShapeOf(dir, table);
    EXPECT_EQ(now.fields, was.shape.fields);
    EXPECT_EQ(Sorted(now.indexes), Sorted(RebuiltIndexes(was.shape)));
    EXPECT_EQ(now.checks, was.shape.checks);
    EXPECT_EQ(SortedLinks(now.links), SortedLinks(was.shape.links));
  }
  EXPECT_FALSE(DirExists(dir + "/KEYVIOL"));
}

INSTANTIATE_TEST_SUITE_P(Folders, EverySample, ::testing::ValuesIn(Folders()),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                           std::string name =
                               info.index == 0 ? "kept_with_tests" : FileName(info.param);
                           for (char& c : name) {
                             if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                           }
                           return name;
                         });

}  // namespace

namespace {

// The order Update works in: a table after the masters its reference
// names (masters outside the set count as placed).
std::vector<std::string> MastersFirst(TZelTableTools& tools, std::vector<std::string> tables) {
  std::vector<std::string> placed;
  auto known = [&](const std::string& name) {
    for (const auto& t : tables) {
      if (Lower(t) == name) return true;
    }
    return false;
  };
  while (!tables.empty()) {
    bool progress = false;
    for (auto it = tables.begin(); it != tables.end();) {
      tools.TableName = *it;
      tools.OpenMeta();
      bool ready = true;
      for (int i = 1; i <= tools.MasterCount(true); ++i) {
        const std::string master = Lower(tools.MasterName(true, i));
        ready = ready && (!known(master) || master == Lower(*it));
      }
      tools.CloseMeta();
      if (ready) {
        placed.push_back(*it);
        it = tables.erase(it);
        progress = true;
      } else {
        ++it;
      }
    }
    if (!progress) {
      ADD_FAILURE() << "tables whose masters never come first";
      break;
    }
  }
  return placed;
}

// Update deletes the live tables' index and .VAL files before restructuring
// them, masters first: the tables get every index, check and link back from
// their references, and keep every record.
TEST_P(EverySample, UpdateRebuildsWhatTheCompanionsHeld) {
  std::vector<std::string> tables;
  for (const auto& [table, was] : before) tables.push_back(table);
  const std::vector<std::string> order = MastersFirst(tools, tables);
  for (const std::string& table : tables) {
    const std::string base = dir + "/" + StemOf(table);
    for (const char* mask : {".VAL", ".PX", ".X??", ".Y??"}) ASSERT_TRUE(DeleteFiles(base + mask));
  }
  for (const std::string& table : order) {
    SCOPED_TRACE(table);
    tools.TableName = table;
    ASSERT_NO_THROW(tools.Restructure("", false));
  }
  for (const auto& [table, was] : before) {
    SCOPED_TRACE(table);
    EXPECT_EQ(Sorted(Rows(dir, table)), was.rows);
    const Shape now = ShapeOf(dir, table);
    const Shape ref = ShapeOf(meta, table);
    EXPECT_EQ(Sorted(now.indexes), Sorted(ref.indexes));
    EXPECT_EQ(now.checks, ref.checks);
    EXPECT_EQ(SortedLinks(now.links), SortedLinks(ref.links));
  }
}

}  // namespace
