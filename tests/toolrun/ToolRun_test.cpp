// The tools of the run layer without a window, driven by a scripted driver:
// one table of tools and outcomes on copies of the demo database, each
// checked by its result, its end message and its log record. The cases run
// in order: the restore reads the disks the backup before it wrote.
#include "ToolRun.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>

#include "RunLock.h"
#include "Session.h"
#include "VdxRun.h"
#include "cpTbTool.h"
#include "svLog.h"

namespace fs = std::filesystem;

namespace {

// Answers the confirmation as told, has every disk ready, answers No to any
// other question, and keeps what it was shown.
class TScriptedDriver : public toolrun::TRunDriver {
 public:
  TScriptedDriver(QString path, bool confirm) : path_(std::move(path)), confirm_(confirm) {}
  QString Alias() const override { return "DEMO"; }
  QString Path() const override { return path_; }
  TToolType Tool() const override { return tool_; }
  void SetTool(TToolType tool) override { tool_ = tool; }
  bool Running() const override { return running_; }
  void SetRunning(bool running) override { running_ = running; }
  void SetAskPassword(bool) override {}
  bool Confirm() const override { return true; }
  bool EndMessages() const override { return true; }
  QString Text(const QString&, const QString& key) const override { return key; }
  QString Format(const QString&, const QString& key, const QStringList& args) const override {
    return key + '(' + args.join(',') + ')';
  }
  bool Message(const toolrun::TRunMessage& m) override {
    keys_ << m.Keys.value(0);
    return m.Keys.value(0) == "AreYouSure" ? confirm_ : m.Buttons != toolrun::rbYesNo;
  }
  void ProgressStart(const QString&, int, bool) override {}
  bool ProgressStep(const QString&, int) override {
    ++steps_;
    return true;
  }
  void ProgressResume() override {}
  void ProgressHide() override {}

  QStringList keys_;
  int steps_ = 0;

 private:
  QString path_;
  bool confirm_;
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
    std::ofstream(home_ / "drives.ini") << "[Drives]\nA=" << (home_ / "media").string() << "\n";
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
};

TEST_F(ToolRunTest, ToolsAndOutcomes) {
  const auto none = [](const fs::path&) {};
  std::unique_ptr<toolrun::TRunLock> held;
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
      {"table sets differ", ttUpdate, true,
       [](const fs::path& db) { fs::remove(db / "METADATA" / "ORDERS.DB"); }, trNotMatch,
       "NotMatch"},
      {"damaged table", ttPack, true,
       [](const fs::path& db) { fs::resize_file(db / "ORDERS.DB", 10); }, trCorrupted, "Corrupted"},
      {"another run holds the database", ttUpdate, true,
       [&held](const fs::path& db) {
         held = std::make_unique<toolrun::TRunLock>(db.string(), "other");
       },
       trBusy, "Busy"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path db = home_ / "DEMO";
    fs::remove_all(db);
    fs::copy(home_ / "template" / "DEMO", db, fs::copy_options::recursive);
    c.prepare(db);
    TScriptedDriver driver(QString::fromStdString(db.string()), c.confirm);
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
    EXPECT_EQ(LogEntriesAdded(), logged + 1);
    EXPECT_EQ(LastLoggedResult(), c.result);
    // Every table is shown on its way; a restore shows the archive instead.
    if (c.result == trSuccess && c.tool != ttRestore) {
      EXPECT_GT(driver.steps_, 0);
    }
    if (c.tool == ttRestore) {
      EXPECT_TRUE(fs::exists(db / "SAFE" / "ORDERS.DB"));
    }
    // Nothing parked or half-built is left behind, whatever the outcome.
    for (const auto& entry : fs::directory_iterator(db)) {
      const std::string name = entry.path().filename().string();
      EXPECT_EQ(name.find('$'), std::string::npos) << name;
    }
  }
}

}  // namespace
