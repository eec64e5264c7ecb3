// A restructure that fails or dies part way leaves a whole table: a full
// disk at any byte leaves the original files as they were; a process killed
// at any moment, or between two renames of the commit, leaves a table that
// the next open finishes or rolls back, never a new data file beside an old
// index.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <mutex>
#include <set>

#include "Journal.h"
#include "FaultInjectionEnv.h"
#include "Restructure.h"
#include "RestructureChecks.h"
#include "TableVerify.h"
#include "TestTables.h"

namespace {

using engine::FieldType;
using engine::FieldValue;
using restructuretest::ReadFile;

void MakeKeyedTable(const std::string& path, int records) {
  engine::TableDefinition def;
  def.fields = {enginetest::Field("Id", FieldType::Long),
                enginetest::Field("Name", FieldType::Alpha, 20),
                enginetest::Field("Note", FieldType::Memo, 11)};
  def.key_fields = 1;
  engine::Env* env = engine::Env::Default();
  ASSERT_TRUE(engine::CreateTable(env, path, def).ok());
  std::unique_ptr<engine::TableWriter> w;
  ASSERT_TRUE(engine::TableWriter::Open(env, path, 0, &w).ok());
  for (int i = 0; i < records; ++i) {
    std::vector<FieldValue> v = {FieldValue::Int(i),
                                 FieldValue::Str("name " + std::to_string(i % 977)),
                                 i % 50 ? FieldValue{} : FieldValue::Str(std::string(300, 'm'))};
    ASSERT_TRUE(w->Append(v).ok());
  }
  ASSERT_TRUE(w->Sync().ok());
}

// Adds a field and a secondary index: afterwards the table is either the
// old one or the new one, whole.
struct AddFieldRequest {
  std::vector<FLDDesc> fields;
  std::vector<CROpType> ops;
  std::vector<IDXDesc> indexes;
  std::vector<CROpType> indexOps{crADD};
  CRTblDesc desc{};
  AddFieldRequest() {
    auto field = [](const char* name, char type, int units, std::uint16_t from) {
      FLDDesc d{};
      std::snprintf(d.szName, sizeof d.szName, "%s", name);
      d.iFldType = type;
      d.iUnits1 = static_cast<std::int16_t>(units);
      d.iFldNum = from;
      return d;
    };
    fields = {field("Id", 'I', 0, 1), field("Name", 'A', 20, 2), field("Note", 'M', 11, 3),
              field("Extra", 'S', 0, 0)};
    ops = {crMODIFY, crMODIFY, crMODIFY, crADD};
    IDXDesc x{};
    std::snprintf(x.szName, sizeof x.szName, "Name");
    x.iFldsInKey = 1;
    x.aiKeyFld[0] = 2;
    indexes = {x};
    desc.iFldCount = 4;
    desc.pfldDesc = fields.data();
    desc.pecrFldOp = ops.data();
    desc.iIdxCount = 1;
    desc.pidxDesc = indexes.data();
    desc.pecrIdxOp = indexOps.data();
  }
};

// The table opens (finishing any interrupted commit), verifies, holds every
// record and agrees with its index files.
void ExpectWhole(const std::string& path, std::uint32_t records) {
  auto table = restructuretest::OpenForTest(path);
  ASSERT_TRUE(table);
  EXPECT_EQ(table->RecordCount(), records);
  const std::size_t fields = table->Fields().size();
  EXPECT_TRUE(fields == 3 || fields == 4) << fields;
  table.reset();
  EXPECT_TRUE(engine::VerifyTable(path).status.ok());
  restructuretest::ExpectIndexesMatch(path);
  EXPECT_FALSE(engine::Env::Default()->Exists(engine::RestructureJournalPath(path)));
  EXPECT_FALSE(std::filesystem::exists(engine::RestructureStagingDir(path)));
}

TEST(RestructureFaultsTest, AFullDiskAtAnyByteLeavesTheOriginalFiles) {
  TempDir tmp;
  const std::string path = tmp / "T.DB";
  MakeKeyedTable(path, 700);
  engine::FaultInjectionEnv env(engine::Env::Default());
  engine::RestructureOptions options;
  options.env = &env;
  EXPECT_GT(restructuretest::FillTheDiskUntilDone(&env, tmp.Dir(), 1531, [&] {
              AddFieldRequest r;
              return engine::RestructureTable(path, r.desc, options, nullptr);
            }),
            20);
  ExpectWhole(path, 700);
  EXPECT_EQ(restructuretest::OpenForTest(path)->Fields().size(), 4u);
}

// Dies (as a killed process would) at the n-th rename.
class DyingEnv : public engine::FaultInjectionEnv {
 public:
  DyingEnv(int die_at) : FaultInjectionEnv(engine::Env::Default()), die_at_(die_at) {}
  engine::Status Rename(const std::string& from, const std::string& to) override {
    if (++renames_ == die_at_) ::_exit(9);
    return FaultInjectionEnv::Rename(from, to);
  }

 private:
  int die_at_;
  int renames_ = 0;
};

// Fails the n-th rename, as a yanked medium or a permission change would.
class FailingRenameEnv : public engine::FaultInjectionEnv {
 public:
  explicit FailingRenameEnv(int fail_at)
      : FaultInjectionEnv(engine::Env::Default()), fail_at_(fail_at) {}
  engine::Status Rename(const std::string& from, const std::string& to) override {
    if (++renames_ == fail_at_) return engine::Status::IOError("rename failed on purpose");
    return FaultInjectionEnv::Rename(from, to);
  }

 private:
  int fail_at_;
  int renames_ = 0;
};

int RunInChild(const std::function<void()>& work, int kill_after_ms) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    work();
    ::_exit(0);
  }
  if (kill_after_ms >= 0) {
    ::usleep(static_cast<useconds_t>(kill_after_ms) * 1000);
    ::kill(pid, SIGKILL);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  return status;
}

// Watches what a power cut would lose: a file written or created since its
// last sync, a folder with entries added since its last sync. When the
// journal goes live, nothing staged may be in either state.
class DurabilityEnv : public engine::FaultInjectionEnv {
 public:
  explicit DurabilityEnv(std::string staging)
      : FaultInjectionEnv(engine::Env::Default()), staging_(std::move(staging)) {}
  engine::Status OpenWrite(const std::string& path, bool create,
                           std::unique_ptr<engine::RandomFile>* file) override {
    engine::Status s = FaultInjectionEnv::OpenWrite(path, create, file);
    if (s.ok() && create) Mark({path, engine::DirName(path) + "/"}, false);
    return s;
  }
  engine::Status Rename(const std::string& from, const std::string& to) override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (to.ends_with(".journal~")) {
      ++commits;
      for (const std::string& path : unsynced_)
        if (path.starts_with(staging_)) lost.push_back(path);
    }
    if (unsynced_.erase(from)) unsynced_.insert(to);
    unsynced_.insert(engine::DirName(to) + "/");
    return FaultInjectionEnv::Rename(from, to);
  }
  engine::Status SyncDir(const std::string& dir) override {
    Mark({dir + "/"}, true);
    return FaultInjectionEnv::SyncDir(dir);
  }
  std::vector<std::string> lost;  // staged files, or the staging folder, not durable
  int commits = 0;

 protected:
  void FileChanged(const std::string& path, bool synced) override { Mark({path}, synced); }

 private:
  // A folder is marked by its path and a "/".
  void Mark(std::initializer_list<std::string> paths, bool synced) {
    std::lock_guard<std::mutex> lock(mutex_);  // the data file syncs on its own thread
    for (const std::string& path : paths) {
      if (synced) unsynced_.erase(path);
      if (!synced) unsynced_.insert(path);
    }
  }

  std::string staging_;
  std::mutex mutex_;
  std::set<std::string> unsynced_;
};

TEST(RestructureFaultsTest, EveryStagedFileAndItsFolderAreDurableBeforeTheJournal) {
  TempDir tmp;
  // With blobs, and empty: then the new blob file is never written again.
  for (const int records : {3000, 0}) {
    const std::string path = tmp / ("T" + std::to_string(records) + ".DB");
    MakeKeyedTable(path, records);
    for (const bool pack : {true, false}) {
      SCOPED_TRACE(path + (pack ? " pack" : " restructure"));
      DurabilityEnv env(engine::RestructureStagingDir(path));
      engine::RestructureOptions options;
      options.env = &env;
      AddFieldRequest r;
      ASSERT_TRUE((pack ? engine::PackTable(path, options, nullptr)
                        : engine::RestructureTable(path, r.desc, options, nullptr))
                      .ok());
      EXPECT_EQ(env.commits, 1);
      EXPECT_TRUE(env.lost.empty()) << ::testing::PrintToString(env.lost);
    }
    ExpectWhole(path, static_cast<std::uint32_t>(records));
  }
}

TEST(RestructureFaultsTest, DyingBetweenRenamesIsFinishedByTheNextOpen) {
  TempDir tmp;
  const std::string seed = tmp / "SEED.DB";
  MakeKeyedTable(seed, 3000);
  ASSERT_TRUE(engine::PackTable(seed, {}, nullptr).ok());  // builds its primary index
  int interrupted_commits = 0;
  for (int die_at = 1; die_at <= 12; ++die_at) {
    SCOPED_TRACE(die_at);
    const std::string dir = tmp / ("run" + std::to_string(die_at));
    std::filesystem::create_directories(dir);
    std::filesystem::copy_file(seed, dir + "/T.DB");
    std::filesystem::copy_file(tmp / "SEED.MB", dir + "/T.MB");
    std::filesystem::copy_file(tmp / "SEED.PX", dir + "/T.PX");
    const int status = RunInChild(
        [&] {
          DyingEnv env(die_at);
          AddFieldRequest r;
          engine::RestructureOptions options;
          options.env = &env;
          engine::RestructureTable(dir + "/T.DB", r.desc, options, nullptr);
        },
        -1);
    const bool finished = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    const bool journal =
        engine::Env::Default()->Exists(engine::RestructureJournalPath(dir + "/T.DB"));
    interrupted_commits += journal ? 1 : 0;
    ExpectWhole(dir + "/T.DB", 3000);
    // Once the journal is written the new table wins; before, the old one.
    EXPECT_EQ(restructuretest::OpenForTest(dir + "/T.DB")->Fields().size(),
              finished || journal ? 4u : 3u);
  }
  EXPECT_GE(interrupted_commits, 3);
}

TEST(RestructureFaultsTest, AFailedRenameLeavesATableTheNextOpenMakesWhole) {
  TempDir tmp;
  const std::string path = tmp / "T.DB";
  MakeKeyedTable(path, 2000);
  ASSERT_TRUE(engine::PackTable(path, {}, nullptr).ok());
  for (int fail_at = 1; fail_at <= 12; ++fail_at) {
    SCOPED_TRACE(fail_at);
    FailingRenameEnv env(fail_at);
    AddFieldRequest r;
    engine::RestructureOptions options;
    options.env = &env;
    const engine::Status s = engine::RestructureTable(path, r.desc, options, nullptr);
    const bool journal = engine::Env::Default()->Exists(engine::RestructureJournalPath(path));
    EXPECT_TRUE(s.ok() || journal || restructuretest::OpenForTest(path)->Fields().size() == 3u);
    ExpectWhole(path, 2000);
    // Back to three fields for the next round.
    std::vector<FLDDesc> fields(r.fields.begin(), r.fields.begin() + 3);
    std::vector<CROpType> ops(3, crMODIFY);
    CRTblDesc back{};
    back.iFldCount = 3;
    back.pfldDesc = fields.data();
    back.pecrFldOp = ops.data();
    ASSERT_TRUE(engine::RestructureTable(path, back, {}, nullptr).ok());
  }
}

// Several tables committed as one batch: every staged file and folder is
// durable before the first journal is named, and a rename that fails or a
// process that dies at any rename of the batch leaves each table old or
// new (new exactly when its journal was named), never a mix.
TEST(RestructureFaultsTest, ABatchOfTablesEndsEachTableOldOrNew) {
  TempDir tmp;
  const std::vector<std::string> names = {"A.DB", "B.DB", "C.DB"};
  for (const std::string& name : names) {
    MakeKeyedTable(tmp / ("seed" + name), 800);
    ASSERT_TRUE(engine::PackTable(tmp / ("seed" + name), {}, nullptr).ok());
  }
  // Stages every table into the batch, then commits it.
  auto update = [&](const std::string& dir, engine::Env* env) {
    engine::CommitBatch batch;
    engine::RestructureOptions options;
    options.env = env;
    options.batch = &batch;
    for (const std::string& name : names) {
      AddFieldRequest r;
      EXPECT_TRUE(engine::RestructureTable(dir + "/" + name, r.desc, options, nullptr).ok());
    }
    return batch.Commit();
  };
  auto fresh = [&](const std::string& dir) {
    std::filesystem::create_directories(dir);
    for (const std::string& name : names) {
      for (const char* ext : {".DB", ".MB", ".PX"}) {
        const std::string stem = name.substr(0, 1);
        std::filesystem::copy_file(tmp / ("seed" + stem + ext), dir + "/" + stem + ext);
      }
    }
  };

  fresh(tmp / "durable");
  DurabilityEnv durable(tmp / "durable/.");
  ASSERT_TRUE(update(tmp / "durable", &durable).ok());
  EXPECT_EQ(durable.commits, 3);
  EXPECT_TRUE(durable.lost.empty()) << ::testing::PrintToString(durable.lost);

  int interrupted = 0;
  for (const bool die : {false, true}) {
    for (int at = 1; at <= 18; ++at) {
      SCOPED_TRACE((die ? "dies at rename " : "fails at rename ") + std::to_string(at));
      const std::string dir = tmp / ((die ? "die" : "fail") + std::to_string(at));
      fresh(dir);
      bool ok = false;
      if (die) {
        const int status = RunInChild(
            [&] {
              DyingEnv env(at);
              update(dir, &env);
            },
            -1);
        ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
      } else {
        FailingRenameEnv env(at);
        ok = update(dir, &env).ok();
      }
      for (std::size_t t = 0; t < names.size(); ++t) {
        const std::string path = dir + "/" + names[t];
        const bool journal = engine::Env::Default()->Exists(engine::RestructureJournalPath(path));
        interrupted += journal ? 1 : 0;
        ExpectWhole(path, 800);  // old or new
        const std::size_t fields = restructuretest::OpenForTest(path)->Fields().size();
        // The journals are named first, one per table: a table whose
        // journal was never named is old, one whose journal stands is new.
        if (ok || journal) EXPECT_EQ(fields, 4u) << names[t];
        if (static_cast<int>(t) + 1 >= at) EXPECT_EQ(fields, 3u) << names[t];
      }
    }
  }
  EXPECT_GE(interrupted, 6);
}

TEST(RestructureFaultsTest, AKilledProcessLeavesAWholeTable) {
  TempDir tmp;
  const std::string path = tmp / "BIG.DB";
  MakeKeyedTable(path, 30000);
  auto work = [&] {
    AddFieldRequest r;
    engine::RestructureTable(path, r.desc, engine::RestructureOptions{}, nullptr);
    engine::PackTable(path, engine::RestructureOptions{}, nullptr);
  };
  // Kill at fractions of the time the whole job takes on this machine.
  const auto start = std::chrono::steady_clock::now();
  RunInChild(work, -1);
  const auto whole = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::steady_clock::now() - start);
  ExpectWhole(path, 30000);
  for (int part = 1; part < 10; ++part) {
    const int ms = static_cast<int>(whole.count() * part / 10);
    SCOPED_TRACE(ms);
    const int status = RunInChild(work, ms);
    EXPECT_TRUE(WIFSIGNALED(status) || WIFEXITED(status));
    ExpectWhole(path, 30000);
  }
}

}  // namespace
