// The tools of the run layer without a window, driven by a scripted driver:
// one table of tools and outcomes on copies of the demo database, each
// checked by its result, its end message and what it names, its log record
// and, for a run the Check step refuses, the database left as it was. The
// cases run in order: the restore reads the disks the backup before it
// wrote.
#include "ToolRun.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>

#include "RunLock.h"
#include "Session.h"
#include "TTable.h"
#include "VdxRun.h"
#include "ZipTestSupport.h"
#include "cpTbTool.h"
#include "svLog.h"

namespace fs = std::filesystem;

namespace {

// Answers the confirmation as told, has every disk ready, answers No to any
// other question, and keeps what it was shown.
class TScriptedDriver : public toolrun::TRunDriver {
 public:
  TScriptedDriver(QString path, bool confirm, bool ask)
      : path_(std::move(path)), confirm_(confirm), ask_(ask) {}
  QString Alias() const override { return "DEMO"; }
  QString Path() const override { return path_; }
  TToolType Tool() const override { return tool_; }
  void SetTool(TToolType tool) override { tool_ = tool; }
  bool Running() const override { return running_; }
  void SetRunning(bool running) override { running_ = running; }
  void SetAskPassword(bool) override {}
  bool Confirm() const override { return ask_; }
  bool EndMessages() const override { return true; }
  QString Text(const QString&, const QString& key) const override { return key; }
  QString Format(const QString&, const QString& key, const QStringList& args) const override {
    return key + '(' + args.join(',') + ')';
  }
  bool Message(const toolrun::TRunMessage& m) override {
    keys_ << m.Keys.value(0);
    shown_ << (m.Keys.value(0) + ' ' + m.Args.join(',')).trimmed();
    detail_ = m.Detail;
    return m.Keys.value(0) == "AreYouSure" ? confirm_ : m.Buttons != toolrun::rbYesNo;
  }
  void ProgressStart(const QString&, int, bool) override { progress_shown_ = true; }
  bool ProgressStep(const QString&, int) override {
    ++steps_;
    return true;
  }
  void ProgressResume() override { progress_shown_ = true; }
  void ProgressHide() override { progress_shown_ = false; }
  void RunStarted() override { controls_off_ = true; }
  void RunEnded() override { controls_off_ = false; }

  QStringList keys_;
  QStringList shown_;  // each message's first key and its arguments
  QString detail_;  // of the last message
  int steps_ = 0;
  bool progress_shown_ = false;
  bool controls_off_ = false;  // as a window's tool controls are during a run

 private:
  QString path_;
  bool confirm_;
  bool ask_;  // the option CONFIRM
  TToolType tool_ = ttUpdate;
  bool running_ = false;
};

class ToolRunTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    home_ = fs::temp_directory_path() / ("toolrun-" + std::to_string(::getpid()));
    fs::remove_all(home_);
    fs::create_directories(home_);
    ASSERT_EQ(Vdx("create-demo " + (home_ / "template").string()).code, 0);
    ::setenv("VARDEX_HOME", home_.c_str(), 1);
    std::ofstream(home_ / "engine.ini") << "[DEMO]\nPATH=" << (home_ / "DEMO").string() << "\n";
    fs::create_directories(home_ / "media");
    ziptest::WriteDrives(home_ / "drives.ini", {{"A", (home_ / "media").string()}});
    engine::TSession::Default().SetConfigFile((home_ / "engine.ini").string());
    ASSERT_TRUE(OpenLog());
  }
  static void TearDownTestSuite() {
    CloseLog();
    fs::remove_all(home_);
  }
  static fs::path home_;
};
fs::path ToolRunTest::home_;

struct TCase {
  const char* name;
  TToolType tool;
  bool confirm;
  std::function<void(const fs::path& db)> prepare;
  TToolResult result;
  const char* message;  // the first key of the end message
  const char* detail = "";  // what the end message names, when it names something
  bool ask = true;          // the option CONFIRM
  const char* shown = "";   // a message shown on the way, with what it names
};

// Every file of a folder with its contents.
std::map<std::string, std::string> Files(const fs::path& dir) {
  std::map<std::string, std::string> files;
  for (const auto& entry : fs::directory_iterator(dir)) {
    if (!entry.is_regular_file()) continue;
    std::ifstream in(entry.path(), std::ios::binary);
    files[entry.path().filename().string()] = std::string(std::istreambuf_iterator<char>(in), {});
  }
  return files;
}

TEST_F(ToolRunTest, ToolsAndOutcomes) {
  const auto none = [](const fs::path&) {};
  std::shared_ptr<void> held;  // what holds a table or the database during a run
  const TCase cases[] = {
      {"update", ttUpdate, true, none, trSuccess, "Success"},
      {"pack", ttPack, true, none, trSuccess, "Success"},
      {"copy", ttCopy, true, none, trSuccess, "Success"},
      {"retrieve after copy", ttRetrieve, true,
       [](const fs::path& db) { fs::copy(db / "METADATA", db / "SAFE"); }, trSuccess, "Success"},
      {"backup of the safe copy", ttBackup, true,
       [](const fs::path& db) { fs::copy(db / "METADATA", db / "SAFE"); }, trSuccess, "Success"},
      {"restore of that backup", ttRestore, true, none, trSuccess, "Success"},
      {"backup without a safe copy", ttBackup, true, none, trNoTables, "NoTables"},
      {"declined", ttPack, false, none, trGiveUp, "GiveUp"},
      {"no safe copy", ttRetrieve, true, none, trNoTables, "NoTables"},
      {"no question without CONFIRM", ttUpdate, true, none, trSuccess, "Success", "", false},
      {"table sets differ", ttUpdate, true,
       [](const fs::path& db) {
         fs::rename(db / "METADATA" / "ORDERS.DB", db / "METADATA" / "ORDERS2.DB");
       },
       trNotMatch, "NotMatch", "ORDERS.DB, METADATA/ORDERS2.DB"},
      {"damaged table", ttUpdate, true,
       [](const fs::path& db) {
         fs::resize_file(db / "CUSTOMER.DB", fs::file_size(db / "CUSTOMER.DB") - 700);
       },
       trCorrupted, "Corrupted", "CUSTOMER.DB"},
      // Found only while the table is rewritten: the end message names the
      // blob file itself, whole.
      {"missing blob file", ttPack, true,
       [](const fs::path& db) { fs::remove(db / "CUSTOMER.MB"); }, trCorrupted, "Corrupted",
       "/DEMO/CUSTOMER.MB"},
      {"a table another program holds open", ttPack, true,
       [&held](const fs::path& db) {
         auto table = std::make_shared<engine::TTable>();
         table->DatabaseName = db.string() + "/";
         table->TableName = "CUSTOMER.DB";
         table->Open();
         held = table;
       },
       trBusy, "Busy", "CUSTOMER.DB"},
      {"a table held with flock(2)", ttUpdate, true,
       [&held](const fs::path& db) {
         const int fd = ::open((db / "ORDERS.DB").c_str(), O_RDWR | O_CLOEXEC);
         ASSERT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
         held = std::shared_ptr<void>(nullptr, [fd](void*) { ::close(fd); });
       },
       trBusy, "Busy", "ORDERS.DB"},
      {"tables that cannot be ordered", ttUpdate, true,
       [](const fs::path& db) {
         // A table whose master is missing from the reference copy.
         fs::remove_all(db);
         fs::create_directories(db / "METADATA");
         const std::string fk1 = std::string(VARDEX_TEST_DATA_DIR) + "/paradox-tables/fk1.db";
         for (const fs::path& to : {db / "fk1.db", db / "METADATA" / "fk1.db"}) {
           ASSERT_EQ(Vdx("borrow " + fk1 + " " + to.string()).code, 0);
         }
       },
       trError, "Error", "", true, "CannotOrder fk1.db"},
      {"another run holds the database", ttUpdate, true,
       [&held](const fs::path& db) {
         held = std::make_shared<toolrun::TRunLock>(db.string(), "other");
       },
       trBusy, "Busy", "other"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path db = home_ / "DEMO";
    fs::remove_all(db);
    fs::copy(home_ / "template" / "DEMO", db, fs::copy_options::recursive);
    c.prepare(db);
    const auto before = Files(db);
    TScriptedDriver driver(QString::fromStdString(db.string()), c.confirm, c.ask);
    TZelTableTools tools;
    toolrun::TToolRun run(driver, tools);
    const long logged = LogEntriesAdded();
    try {
      switch (c.tool) {
        case ttUpdate: run.RunUpdate(); break;
        case ttPack: run.RunPack(); break;
        case ttCopy: run.RunCopy(); break;
        case ttBackup: run.RunBackup(); break;
        case ttRestore: run.RunRestore(); break;
        default: run.RunRetrieve(); break;
      }
    } catch (const EAbort&) {
    }
    held.reset();
    EXPECT_EQ(run.LastResult(), c.result);
    EXPECT_FALSE(driver.Running());
    ASSERT_FALSE(driver.keys_.isEmpty());
    EXPECT_EQ(driver.keys_.last(), c.message) << driver.keys_.join(' ').toStdString();
    EXPECT_NE(driver.detail_.toStdString().find(c.detail), std::string::npos)
        << driver.detail_.toStdString();
    if (!c.ask) {
      EXPECT_EQ(driver.keys_.size(), 1);
    }
    if (*c.shown) {
      EXPECT_TRUE(driver.shown_.contains(c.shown)) << driver.shown_.join(';').toStdString();
    }
    EXPECT_EQ(LogEntriesAdded(), logged + 1);
    EXPECT_EQ(LastLoggedResult(), c.result);
    // Every table is shown on its way; a restore shows the archive instead.
    if (c.result == trSuccess && c.tool != ttRestore) {
      EXPECT_GT(driver.steps_, 0);
    }
    if (c.tool == ttRestore) {
      EXPECT_TRUE(fs::exists(db / "SAFE" / "ORDERS.DB"));
    }
    // A run its Check step refuses changes no byte of the database, and every
    // table keeps its companions under their own names.
    if (c.result != trSuccess && c.result != trGiveUp) {
      auto after = Files(db);
      after.erase(toolrun::kRunLockFile);
      auto was = before;
      was.erase(toolrun::kRunLockFile);
      EXPECT_TRUE(after == was);
    }
    // Nothing parked or half-built is left behind, whatever the outcome.
    for (const auto& entry : fs::directory_iterator(db)) {
      const std::string name = entry.path().filename().string();
      EXPECT_EQ(name.find('$'), std::string::npos) << name;
    }
  }
}

// The work folders of a restore: the former ones set aside, put back, removed.
TEST_F(ToolRunTest, WorkFoldersAreSetAsideAndPutBack) {
  const fs::path db = home_ / "DEMO";
  fs::remove_all(db);
  fs::copy(home_ / "template" / "DEMO", db, fs::copy_options::recursive);
  fs::create_directories(db / "SAFE" / "KEYVIOL");
  TScriptedDriver driver(QString::fromStdString(db.string()), true, true);
  TZelTableTools tools;
  toolrun::TToolRun run(driver, tools);
  run.StartRun(ttRestore, 0);
  run.CreateWorkFolders();
  EXPECT_TRUE(fs::exists(db / "METADA$$" / "ORDERS.DB"));
  EXPECT_TRUE(fs::is_directory(db / "SA$$" / "KEYVIOL"));
  EXPECT_FALSE(fs::exists(db / "METADATA"));  // the restore makes it anew
  fs::create_directories(db / "METADATA");
  std::ofstream(db / "METADATA" / "PARTIAL.DB");
  run.RestoreWorkFolders();
  EXPECT_TRUE(fs::exists(db / "METADATA" / "ORDERS.DB"));
  EXPECT_FALSE(fs::exists(db / "METADATA" / "PARTIAL.DB"));
  EXPECT_FALSE(fs::exists(db / "METADA$$"));
  EXPECT_TRUE(fs::is_directory(db / "SAFE" / "KEYVIOL"));

  run.CreateWorkFolders();
  run.RemoveWorkFolders();
  EXPECT_FALSE(fs::exists(db / "METADA$$"));
  EXPECT_FALSE(fs::exists(db / "SA$$"));
  EXPECT_TRUE(driver.keys_.isEmpty());
  EXPECT_TRUE(driver.Running());
  EXPECT_TRUE(driver.controls_off_);
  // Success ends without the silent abort, and the run is over.
  EXPECT_NO_THROW(run.FinishRun(trSuccess));
  EXPECT_FALSE(driver.Running());
  EXPECT_FALSE(driver.controls_off_);
  EXPECT_FALSE(driver.progress_shown_);
}

}  // namespace
