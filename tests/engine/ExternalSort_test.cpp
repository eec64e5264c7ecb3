// The sort behind index builds: records come back in key order, equal keys
// in the order they came, whether they fitted one run or spilled many; a
// failing spill is reported and leaves no file. A restructure or pack whose
// sorts spill writes the same files as one whose sorts fit in memory, and
// leaves nothing behind when a write fails.
#include "ExternalSort.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <random>
#include <string_view>

#include "FaultInjectionEnv.h"
#include "Heartbeat.h"
#include "Restructure.h"
#include "RestructureChecks.h"
#include "TestTables.h"

namespace {

using engine::FieldType;
using engine::FieldValue;
using restructuretest::ReadFile;
using restructuretest::Snapshot;

constexpr std::uint8_t kAlpha = 0x01, kLong = 0x04;

// Records: a 6-letter alpha and a 4-byte number as the key, then the
// number of the record in the order it was added.
std::vector<std::string> MakeRecords(int count, int distinctKeys, unsigned seed) {
  std::mt19937 rng(seed);
  std::vector<std::string> out;
  for (int i = 0; i < count; ++i) {
    const int k = static_cast<int>(rng() % static_cast<unsigned>(distinctKeys));
    std::string r;
    for (int c = 0; c < 6; ++c) r += "aBbAcC"[(k >> c) % 6];
    const char number[4] = {char(0x80), 0, char(k >> 8), char(k)};
    r.append(number, 4);
    r.append(reinterpret_cast<const char*>(&i), 4);
    out.push_back(r);
  }
  return out;
}

struct SortCase {
  const char* name;
  int records;
  int distinctKeys;
  std::size_t budget;
  std::uint8_t sortOrder;  // 0 ascii, else a national order
  bool descending;
  bool spills;
  // The first ten bytes as one alpha field: in a national order its sort
  // key (20 bytes) runs past the prefixes the merge compares first.
  bool wide = false;
};

TEST(ExternalSortTest, RecordsComeBackInKeyOrderStably) {
  const SortCase cases[] = {
      {"nothing", 0, 1, 1 << 20, 0, false, false},
      {"one run", 3000, 500, 1 << 20, 0, false, false},
      {"runs of two records, merged in passes", 301, 7, 0, 0, false, true},
      {"many runs, ascii", 20000, 3000, 64 * 1024, 0, false, true},
      {"many runs, national order", 20000, 40, 64 * 1024, 0x62, false, true},
      {"many runs, descending", 20000, 3000, 64 * 1024, 0x62, true, true},
      {"one key for all", 5000, 1, 16 * 1024, 0, false, true},
      {"one key for all, many runs", 20000, 1, 16 * 1024, 0, false, true},
      {"two keys", 20000, 2, 64 * 1024, 0x62, false, true},
      // Long runs: piles of the radix sort dealt again by later bytes.
      {"long runs", 100000, 30000, 4 << 20, 0, false, true},
      {"long runs, a wide key", 100000, 3000, 4 << 20, 0x62, true, true, true},
      {"many runs, a wide key", 20000, 300, 64 * 1024, 0x62, false, true, true},
      {"many runs, a wide key, descending", 20000, 300, 64 * 1024, 0x62, true, true, true},
  };
  TempDir tmp;
  for (const SortCase& c : cases)
    for (const bool background : {false, true}) {
      SCOPED_TRACE(std::string(c.name) + (background ? ", in the background" : ""));
      const engine::KeyOrder order =
          c.wide
              ? engine::KeyOrder({{kAlpha, 10, 0}}, c.sortOrder, false, c.descending)
              : engine::KeyOrder({{kAlpha, 6, 0}, {kLong, 4, 0}}, c.sortOrder, false, c.descending);
      const std::string spill = tmp / "sort~";
      std::vector<std::string> records = MakeRecords(c.records, c.distinctKeys, 7);
      {
        engine::ExternalSorter sorter(engine::Env::Default(), spill, order, 14, c.budget);
        if (background) sorter.SortInBackground();
        for (const std::string& r : records) ASSERT_TRUE(sorter.Add(r.data()).ok());
        ASSERT_TRUE(sorter.Finish().ok());
        EXPECT_EQ(sorter.spilledRuns() > 0, c.spills) << sorter.spilledRuns();
        // A large merge in the background goes in parts, unless one
        // key is all there is.
        EXPECT_EQ(sorter.mergedInParts(),
                  background && c.spills && c.records >= 4096 && c.distinctKeys > 1);
        std::stable_sort(records.begin(), records.end(), [&](const auto& a, const auto& b) {
          return order.Compare(a.substr(0, 10), b.substr(0, 10)) < 0;
        });
        std::vector<std::string> got;
        while (const char* r = sorter.Next()) got.emplace_back(r, 14);
        EXPECT_TRUE(sorter.status().ok());
        EXPECT_EQ(sorter.Next(), nullptr);
        ASSERT_EQ(got.size(), records.size());
        EXPECT_TRUE(got == records);
      }
      EXPECT_FALSE(std::filesystem::exists(spill));
    }
}

// Keys whose sort key runs past the prefixes compared first, made of a
// name and a number: prefixes tie where the names fold to the same letters,
// and the keys are then ordered where they first differ, in a letter or in
// the number, or are equal (the same name and number, added apart).
TEST(ExternalSortTest, KeysTiedInTheirPrefixesOrderByTheRestStably) {
  struct TieCase {
    const char* name;
    std::uint8_t sortOrder;  // 0 ascii, else a national order
    bool caseInsensitive, descending;
    std::size_t budget;  // one run, or many merged
  };
  const TieCase cases[] = {
      {"ascii, one run", 0, false, false, 4 << 20},
      {"ascii, descending, many runs", 0, false, true, 64 * 1024},
      {"ascii without case, one run", 0, true, false, 4 << 20},
      {"ascii without case, descending, many runs", 0, true, true, 64 * 1024},
      {"national order, one run", 0x62, false, false, 4 << 20},
      {"national order, many runs", 0x62, false, false, 64 * 1024},
      {"national order, descending, one run", 0x62, false, true, 4 << 20},
  };
  constexpr std::size_t kName = 14, kKey = kName + 4, kRecord = kKey + 4;
  const char* const names[] = {"smith", "Smith", "SMITH", "smithson", "jones", "Jones"};
  std::mt19937 rng(11);
  std::vector<std::string> records;
  for (int i = 0; i < 30000; ++i) {
    std::string r(kRecord, '\0');
    const char* name = names[rng() % std::size(names)];
    std::memcpy(r.data(), name, std::strlen(name));
    const std::uint32_t number = rng() % 200;  // equal keys too
    for (int b = 0; b < 4; ++b) r[kName + b] = static_cast<char>(number >> (8 * (3 - b)));
    std::memcpy(r.data() + kKey, &i, 4);  // the order added
    records.push_back(r);
  }
  TempDir tmp;
  for (const TieCase& c : cases)
    for (const bool background : {false, true}) {
      SCOPED_TRACE(std::string(c.name) + (background ? ", in the background" : ""));
      const engine::KeyOrder order({{kAlpha, kName, 0}, {kLong, 4, 0}}, c.sortOrder,
                                   c.caseInsensitive, c.descending);
      ASSERT_GT(order.SortKeyLength(), 16u);
      std::vector<std::string> want = records;
      std::stable_sort(want.begin(), want.end(), [&](const auto& a, const auto& b) {
        return order.Compare(std::string_view(a).substr(0, kKey),
                             std::string_view(b).substr(0, kKey)) < 0;
      });
      engine::ExternalSorter sorter(engine::Env::Default(), tmp / "sort~", order, kRecord,
                                    c.budget);
      if (background) sorter.SortInBackground();
      for (const std::string& r : records) ASSERT_TRUE(sorter.Add(r.data()).ok());
      ASSERT_TRUE(sorter.Finish().ok());
      EXPECT_EQ(sorter.spilledRuns() > 0, c.budget < records.size() * kRecord);
      std::vector<std::string> got;
      while (const char* r = sorter.Next()) got.emplace_back(r, kRecord);
      EXPECT_TRUE(sorter.status().ok());
      EXPECT_TRUE(got == want);
    }
}

TEST(ExternalSortTest, TheArenaGrowsAChunkAtATimeUpToTheBudget) {
  TempDir tmp;
  const engine::KeyOrder order({{kAlpha, 6, 0}, {kLong, 4, 0}}, 0);
  engine::ExternalSorter sorter(engine::Env::Default(), tmp / "sort~", order, 14, 64u << 20);
  const std::vector<std::string> records = MakeRecords(200000, 100000, 3);
  EXPECT_EQ(sorter.chunks(), 0u);  // nothing taken before the first record
  for (std::size_t i = 0; i < records.size(); ++i) {
    ASSERT_TRUE(sorter.Add(records[i].data()).ok());
    if (i == 0) {
      EXPECT_EQ(sorter.chunks(), 1u);
    }
  }
  EXPECT_GT(sorter.chunks(), 2u);
  EXPECT_EQ(sorter.spilledRuns(), 0u);
  ASSERT_TRUE(sorter.Finish().ok());
  std::size_t n = 0;
  std::string last;
  while (const char* r = sorter.Next()) {
    const std::string key(r, 10);
    if (n++ > 0) {
      EXPECT_LE(order.Compare(last, key), 0);
    }
    last = key;
  }
  EXPECT_EQ(n, records.size());
}

TEST(ExternalSortTest, AFailedSpillIsReportedAndLeavesNoFile) {
  TempDir tmp;
  const engine::KeyOrder order({{kAlpha, 6, 0}, {kLong, 4, 0}}, 0);
  const std::vector<std::string> records = MakeRecords(20000, 5000, 5);
  engine::FaultInjectionEnv env(engine::Env::Default());
  for (std::int64_t budget : {0, 1000, 100000, 250000}) {
    SCOPED_TRACE(budget);
    env.FailWritesAfter(budget);
    {
      engine::ExternalSorter sorter(&env, tmp / "sort~", order, 14, 32 * 1024);
      engine::Status s;
      for (const std::string& r : records) {
        s = sorter.Add(r.data());
        if (!s.ok()) break;
      }
      if (s.ok()) s = sorter.Finish();
      EXPECT_FALSE(s.ok());
      EXPECT_EQ(sorter.Next(), nullptr);
      EXPECT_FALSE(sorter.Add(records[0].data()).ok());  // the failure sticks
    }
    EXPECT_TRUE(std::filesystem::is_empty(tmp.Dir()));
  }
}

// A keyed table with a secondary index on Name, its records not in the
// order of Name.
void MakeIndexedTable(const std::string& path, int records) {
  engine::TableDefinition def;
  def.fields = {enginetest::Field("Id", FieldType::Long),
                enginetest::Field("Name", FieldType::Alpha, 16),
                enginetest::Field("Qty", FieldType::Short)};
  def.key_fields = 1;
  engine::Env* env = engine::Env::Default();
  ASSERT_TRUE(engine::CreateTable(env, path, def).ok());
  std::unique_ptr<engine::TableWriter> w;
  ASSERT_TRUE(engine::TableWriter::Open(env, path, 0, &w).ok());
  for (int i = 0; i < records; ++i) {
    ASSERT_TRUE(
        w->Append({FieldValue::Int(i), FieldValue::Str("Name " + std::to_string(i * 7919 % 997)),
                   FieldValue::Int(i % 13)})
            .ok());
  }
  ASSERT_TRUE(w->Sync().ok());
  w.reset();
  IDXDesc x{};
  std::snprintf(x.szName, sizeof x.szName, "Name");
  x.iFldsInKey = 1;
  x.aiKeyFld[0] = 2;
  CROpType op = crADD;
  CRTblDesc desc{};
  desc.iIdxCount = 1;
  desc.pidxDesc = &x;
  desc.pecrIdxOp = &op;
  ASSERT_TRUE(engine::RestructureTable(path, desc, {}, nullptr).ok());
}

// A second index on Qty and the key moved to Qty + Name: the records must
// be reordered, and keys repeat.
engine::Status Rekey(const std::string& path, const engine::RestructureOptions& options) {
  std::vector<FLDDesc> fields(3);
  const char* names[] = {"Qty", "Name", "Id"};
  const char types[] = {'S', 'A', 'I'};
  const std::uint16_t from[] = {3, 2, 1};
  for (int i = 0; i < 3; ++i) {
    std::snprintf(fields[i].szName, sizeof fields[i].szName, "%s", names[i]);
    fields[i].iFldType = types[i];
    fields[i].iUnits1 = types[i] == 'A' ? 16 : 0;
    fields[i].iFldNum = from[i];
  }
  std::vector<CROpType> ops(3, crMODIFY);
  IDXDesc primary{};
  primary.bPrimary = true;
  primary.iFldsInKey = 2;
  primary.aiKeyFld[0] = 1;
  primary.aiKeyFld[1] = 2;
  IDXDesc byId{};
  std::snprintf(byId.szName, sizeof byId.szName, "Id");
  byId.iFldsInKey = 1;
  byId.aiKeyFld[0] = 3;
  std::vector<IDXDesc> indexes = {primary, byId};
  std::vector<CROpType> indexOps = {crADD, crADD};
  CRTblDesc desc{};
  desc.iFldCount = 3;
  desc.pfldDesc = fields.data();
  desc.pecrFldOp = ops.data();
  desc.iIdxCount = 2;
  desc.pidxDesc = indexes.data();
  desc.pecrIdxOp = indexOps.data();
  return engine::RestructureTable(path, desc, options, nullptr);
}

// The two rewrites that sort: a pack (the key's order kept) and a re-key.
using SortingStep =
    std::function<engine::Status(const std::string&, const engine::RestructureOptions&)>;
std::vector<std::pair<const char*, SortingStep>> SortingSteps() {
  return {{"pack",
           [](const std::string& p, const engine::RestructureOptions& o) {
             return engine::PackTable(p, o, nullptr);
           }},
          {"new key and index", Rekey}};
}

TEST(ExternalSortTest, SpillingSortsWriteTheSameFilesAndLeaveNothingBehind) {
  TempDir tmp;
  const std::string seed = tmp / "seed/T.DB";
  std::filesystem::create_directories(tmp / "seed");
  MakeIndexedTable(seed, 6000);
  for (const auto& [name, step] : SortingSteps()) {
    SCOPED_TRACE(name);
    std::map<std::string, std::string> results[2];
    for (int spill = 0; spill < 2; ++spill) {
      const std::string dir = tmp / (std::string(name).substr(0, 4) + std::to_string(spill));
      restructuretest::CopyFolder(tmp / "seed", dir);
      engine::RestructureOptions options;
      options.useHeaderKey = true;
      if (spill) options.sortMemory = 8 * 1024;  // a few hundred records a run
      ASSERT_TRUE(step(dir + "/T.DB", options).ok());
      results[spill] = Snapshot(dir);
      restructuretest::ExpectIndexesMatch(dir + "/T.DB");
    }
    ASSERT_EQ(results[0].size(), results[1].size());
    for (const auto& [file, bytes] : results[0]) EXPECT_TRUE(results[1][file] == bytes) << file;
  }
}

TEST(ExternalSortTest, AFullDiskWhileSortsSpillLeavesTheOriginalFiles) {
  TempDir tmp;
  const std::string path = tmp / "T.DB";
  MakeIndexedTable(path, 2000);
  engine::FaultInjectionEnv env(engine::Env::Default());
  engine::RestructureOptions options;
  options.env = &env;
  options.useHeaderKey = true;
  options.sortMemory = 8 * 1024;
  EXPECT_GT(restructuretest::FillTheDiskUntilDone(&env, tmp.Dir(), 9973,
                                                  [&] { return Rekey(path, options); }),
            5);
  restructuretest::ExpectIndexesMatch(path);
}

// Counts only the writes to files whose names end so against the budget,
// whatever thread makes them.
class FailingFilesEnv : public engine::FaultInjectionEnv {
 public:
  explicit FailingFilesEnv(std::string suffix)
      : FaultInjectionEnv(engine::Env::Default()), suffix_(std::move(suffix)) {}
  engine::Status OpenWrite(const std::string& path, bool create,
                           std::unique_ptr<engine::RandomFile>* file) override {
    if (path.ends_with(suffix_)) return FaultInjectionEnv::OpenWrite(path, create, file);
    return engine::Env::Default()->OpenWrite(path, create, file);
  }

 private:
  std::string suffix_;
};

// The index records are sorted on a thread of their own while the records
// are copied, and the copied records written on another. Either side failing ends the restructure with its error and
// leaves the table's files as they were, and nothing beside them.
TEST(ExternalSortTest, ASortThreadOrCopyThatFailsWhileTheOtherWorksLeavesTheTableWhole) {
  TempDir tmp;
  const std::string path = tmp / "T.DB";
  MakeIndexedTable(path, 20000);
  const std::map<std::string, std::string> before = Snapshot(tmp.Dir());
  const std::pair<const char*, std::int64_t> failures[] = {
      {"/index2.sort~", 0},   // the sort thread, at its first spill
      {"/T.DB", 100 * 1024},  // the data file's writing thread, while the sorts spill
  };
  for (const auto& [failing, budget] : failures) {
    SCOPED_TRACE(failing);
    FailingFilesEnv env(failing);
    env.FailWritesAfter(budget);
    engine::RestructureOptions options;
    options.env = &env;
    options.useHeaderKey = true;
    options.sortMemory = 8 * 1024;  // the sorts spill as the copy goes on
    const engine::Status s = Rekey(path, options);
    EXPECT_FALSE(s.ok());
    EXPECT_NE(s.ToString().find("injected"), std::string::npos) << s.ToString();
    EXPECT_TRUE(Snapshot(tmp.Dir()) == before);
  }
  restructuretest::ExpectIndexesMatch(path);
}

// Either every read of a sort's spill file fails once an index file is
// being written: the merge, which runs ahead on the sorter's thread while
// the index is written from what it merged, fails halfway; or every write
// to a spill file once it has been read from: the second thread of a merge
// in parts, which merges the highest parts into that file, fails.
class FailingSpillReadsEnv : public engine::FaultInjectionEnv {
 public:
  explicit FailingSpillReadsEnv(bool writes)
      : FaultInjectionEnv(engine::Env::Default()), writes_(writes) {}
  engine::Status OpenWrite(const std::string& path, bool create,
                           std::unique_ptr<engine::RandomFile>* file) override {
    const std::string ext = path.substr(path.find_last_of('.') + 1);
    if (ext.size() == 3 && (ext[0] == 'X' || ext[0] == 'x')) writing_ = true;
    engine::Status s = FaultInjectionEnv::OpenWrite(path, create, file);
    if (s.ok() && path.ends_with(".sort~"))
      *file = std::make_unique<FailingReads>(std::move(*file), writes_ ? nullptr : &writing_);
    return s;
  }

 private:
  class FailingReads : public engine::RandomFile {
   public:
    // fail: reads fail while it is set; nullptr: writes fail after a read.
    FailingReads(std::unique_ptr<engine::RandomFile> base, std::atomic<bool>* fail)
        : base_(std::move(base)), fail_(fail) {}
    engine::Status ReadAt(std::uint64_t offset, std::size_t n, void* out) override {
      if (fail_ && *fail_)
        return engine::Status(DBIERR_READERR, "read failed: injected fault").WithContext(Path());
      read_ = true;
      return base_->ReadAt(offset, n, out);
    }
    engine::Status WriteAt(std::uint64_t offset, const void* data, std::size_t n) override {
      if (!fail_ && read_)
        return engine::Status(DBIERR_WRITEERR, "write failed: injected fault").WithContext(Path());
      return base_->WriteAt(offset, data, n);
    }
    engine::Status Truncate(std::uint64_t size) override { return base_->Truncate(size); }
    engine::Status Sync() override { return base_->Sync(); }
    std::uint64_t Size() const override { return base_->Size(); }
    const std::string& Path() const override { return base_->Path(); }

   private:
    std::unique_ptr<engine::RandomFile> base_;
    std::atomic<bool>* fail_;
    std::atomic<bool> read_{false};
  };
  bool writes_;
  std::atomic<bool> writing_{false};
};

// A merge that fails on its own thread while the index (or, for a new key,
// the table) is being written from it ends the run with its error, without
// hanging, and leaves the table's files as they were and nothing beside them;
// so does the second thread of a merge in parts failing while the first
// one's parts are written.
TEST(ExternalSortTest, AMergeThatFailsWhileTheWriterWritesLeavesTheTableWhole) {
  TempDir tmp;
  const std::string path = tmp / "T.DB";
  MakeIndexedTable(path, 60000);  // far more than the merge runs ahead
  const std::map<std::string, std::string> before = Snapshot(tmp.Dir());
  for (const auto& [name, step] : SortingSteps())
    for (const bool helperWrites : {false, true}) {
      SCOPED_TRACE(std::string(name) +
                   (helperWrites ? ", the second thread's parts" : ", the runs"));
      FailingSpillReadsEnv env(helperWrites);
      engine::RestructureOptions options;
      options.env = &env;
      options.useHeaderKey = true;
      options.sortMemory = 256 * 1024;  // runs to merge, read back as the merge goes
      const engine::Status s = step(path, options);
      EXPECT_FALSE(s.ok());
      EXPECT_NE(
          s.ToString().find(helperWrites ? "write failed: injected" : "read failed: injected"),
          std::string::npos)
          << s.ToString();
      EXPECT_TRUE(Snapshot(tmp.Dir()) == before);
    }
  restructuretest::ExpectIndexesMatch(path);
}

TEST(ExternalSortTest, ALongRestructureBeatsTheCallersHeartbeat) {
  TempDir tmp;
  const std::string path = tmp / "T.DB";
  MakeIndexedTable(path, 60000);
  int beats = 0;
  {
    engine::ScopedHeartbeat heartbeat([&] { ++beats; });
    engine::RestructureOptions options;
    options.sortMemory = 64 * 1024;
    ASSERT_TRUE(Rekey(path, options).ok());
  }
  EXPECT_GT(beats, 0);
  const int before = beats;
  ASSERT_TRUE(engine::PackTable(path, {}, nullptr).ok());
  EXPECT_EQ(beats, before);  // the scope is over
}

}  // namespace
