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
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <regex>
#include <set>
#include <thread>

#include "Env.h"
#include "Restructure.h"
#include "RunLock.h"
#include "Session.h"
#include "TableLock.h"
#include "TableWriter.h"
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
  void ProgressStart(const QString& caption, int, bool) override {
    progress_shown_ = true;
    caption_ = caption;
  }
  bool ProgressStep(const QString& text, int) override {
    ++steps_;
    if (!caption_.startsWith("Update(") || text != cancel_at_) return true;
    cancel_at_.clear();  // pressed once
    return false;
  }
  void ProgressResume() override { progress_shown_ = true; }
  void ProgressHide() override { progress_shown_ = false; }
  void RunStarted() override { controls_off_ = true; }
  void RunEnded() override { controls_off_ = false; }

  QStringList keys_;
  QStringList shown_;  // each message's first key and its arguments
  QString detail_;  // of the last message
  int steps_ = 0;
  QString cancel_at_;  // the step of the Update at which Cancel is pressed
  QString caption_;
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

// Three tables without links: an Update takes them two at a time, the
// second of a pair on a thread of its own. Whatever happens to the table
// taken ahead, the run ends as one that takes the tables one by one (a hook
// on each request keeps it to that): the same result, the same messages
// and the same bytes in every file; a table found faulty only while it is
// rewritten is reported, keeps its files and holds nothing.
TEST_F(ToolRunTest, TablesTakenAheadEndAsTablesTakenInTurn) {
  using engine::FieldType;
  using engine::FieldValue;
  const auto field = [](const char* name, FieldType type, int size) {
    engine::FieldDesc f;
    f.name = name;
    f.type = type;
    f.size = size;
    return f;
  };
  // T1 is the one taken ahead; `cut` gives its reference a shorter name.
  const auto make = [&](const fs::path& db, const std::string& password, bool cut) {
    fs::remove_all(db);
    fs::create_directories(db / "METADATA");
    engine::Env* env = engine::Env::Default();
    for (int t = 0; t < 3; ++t) {
      const std::string name = "T" + std::to_string(t) + ".DB";
      engine::TableDefinition def;
      def.fields = {field("Id", FieldType::Long, 4), field("Name", FieldType::Alpha, 20),
                    field("Note", FieldType::Memo, 11)};
      def.key_fields = 1;
      ASSERT_TRUE(engine::CreateTable(env, (db / name).string(), def).ok());
      std::unique_ptr<engine::TableWriter> w;
      ASSERT_TRUE(engine::TableWriter::Open(env, (db / name).string(), 0, &w).ok());
      for (int i = 0; i < 300; ++i) {
        ASSERT_TRUE(w->Append({FieldValue::Int(i), FieldValue::Str("Name number " + std::to_string(i)),
                               FieldValue::Str(std::string(40, static_cast<char>('a' + i % 26)))})
                        .ok());
      }
      ASSERT_TRUE(w->Sync().ok());
      w.reset();
      // A pack writes the primary index, and protects T1 when told to.
      CRTblDesc pack{};
      std::snprintf(pack.szTblType, sizeof pack.szTblType, "PARADOX");
      pack.bPack = true;
      pack.bProtected = t == 1 && !password.empty();
      std::snprintf(pack.szPassword, sizeof pack.szPassword, "%s", pack.bProtected ? password.c_str() : "");
      ASSERT_TRUE(engine::RestructureTable((db / name).string(), pack, {}, nullptr).ok());
      if (t == 1 && cut) def.fields[1].size = 8;
      def.fields.push_back(field("Remark", FieldType::Alpha, 10));
      ASSERT_TRUE(engine::CreateTable(env, (db / "METADATA" / name).string(), def).ok());
    }
  };
  struct TAheadCase {
    const char* name;
    std::string password;
    bool cut;
    std::function<void(const fs::path&)> damage;
    TToolResult result;
    const char* message;
    const char* detail;
    const char* cancel_at = "";
  };
  const TAheadCase cases[] = {
      {"every table", "", false, nullptr, trSuccess, "Success", ""},
      {"the table ahead sets records aside", "", true, nullptr, trSuccess, "RecordsSetAside",
       "T1.DB"},
      {"the table ahead is protected", "secret", false, nullptr, trSuccess, "Success", ""},
      {"the table ahead fails while rewritten", "", false,
       [](const fs::path& db) { fs::remove(db / "T1.MB"); }, trCorrupted, "Corrupted", "T1.MB"},
      // The table ahead is staged when the question comes, and let go.
      {"cancelled before the table ahead", "", false, nullptr, trRepeat, "NotFinished", "",
       "Table(T1.DB)"},
  };
  const std::thread::id run_thread = std::this_thread::get_id();
  std::vector<std::thread::id> asked;
  engine::TSession::Default().SetOnPassword([&](const std::string&, bool& go_on) {
    asked.push_back(std::this_thread::get_id());
    engine::TSession::Default().AddPassword("secret");
    go_on = true;
  });
  for (const TAheadCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::map<std::string, std::string> files[2];
    QStringList shown[2];
    const fs::path made = home_ / "AHEAD";
    make(made, c.password, c.cut);
    if (c.damage) c.damage(made);
    for (const bool in_turn : {true, false}) {
      const fs::path db = home_ / "DEMO";
      fs::remove_all(db);
      fs::copy(made, db, fs::copy_options::recursive);
      engine::TSession::Default().RemoveAllPasswords();
      asked.clear();
      TScriptedDriver driver(QString::fromStdString(db.string()), true, true);
      driver.cancel_at_ = c.cancel_at;
      TZelTableTools tools;
      if (in_turn) tools.OnRestructureRequest = [](const CRTblDesc&) {};
      toolrun::TToolRun run(driver, tools);
      try {
        run.RunUpdate();
      } catch (const EAbort&) {
      }
      EXPECT_EQ(run.LastResult(), c.result);
      EXPECT_EQ(driver.keys_.last(), c.message) << driver.keys_.join(' ').toStdString();
      EXPECT_NE(driver.detail_.toStdString().find(c.detail), std::string::npos);
      EXPECT_EQ(asked.size(), c.password.empty() ? 0u : 1u);
      for (const std::thread::id& id : asked) EXPECT_EQ(id, run_thread);
      // Nothing staged, parked or locked stays behind.
      for (const auto& entry : fs::directory_iterator(db)) {
        const std::string name = entry.path().filename().string();
        EXPECT_EQ(name.find('$'), std::string::npos) << name;
        EXPECT_EQ(name.find('~'), std::string::npos) << name;
      }
      for (const char* name : {"T0.DB", "T1.DB", "T2.DB"}) {
        EXPECT_FALSE(engine::IsLockedByOther((db / name).string())) << name;
      }
      files[in_turn] = Files(db);
      files[in_turn].erase(toolrun::kRunLockFile);
      for (const char* sub : {"KEYVIOL", "PROBLEMS"}) {
        if (!fs::exists(db / sub)) continue;
        // Named after the moment of the run.
        for (const auto& [name, bytes] : Files(db / sub)) {
          files[in_turn][sub + ("/" + std::regex_replace(name, std::regex("_[0-9_]+"), ""))] = bytes;
        }
      }
      shown[in_turn] = driver.shown_;
    }
    EXPECT_EQ(shown[0], shown[1]);
    EXPECT_TRUE(files[0] == files[1]);
    if (c.cut) EXPECT_TRUE(files[0].count("PROBLEMS/T1.DB")) << shown[0].join(';').toStdString();
    if (c.damage) EXPECT_TRUE(files[0].count("T1.DB") && !files[0].count("T1.MB"));
  }
  engine::TSession::Default().SetOnPassword(nullptr);
  engine::TSession::Default().RemoveAllPasswords();
  fs::remove_all(home_ / "AHEAD");
}

// The work folders of a restore: the former ones set aside, put back, removed.
// Companions an interrupted run left parked come back under their own
// names, whatever the table's name holds, and only the table's own.
TEST_F(ToolRunTest, ParkedCompanionsComeBackWhateverTheTableIsCalled) {
  const fs::path db = home_ / "PARKED";
  fs::create_directories(db);
  const auto put = [&](const std::string& name) { std::ofstream(db / name) << name; };
  for (const std::string stem : {"T[2]", "a*b", "q?", "T2"}) {
    put(stem + ".DB");
    put(stem + ".P$");
    put(stem + ".VA$");
  }
  put("T22.P$");  // another table's, whose data file is gone
  put("Cased.DB");
  put("CASED.P$");  // a companion's name in another case
  put("b\\s.DB");
  put("b\\s.P$");
  TScriptedDriver driver(QString::fromStdString(db.string()), true, true);
  TZelTableTools tools;
  toolrun::TToolRun(driver, tools).UnparkTables(QString::fromStdString(db.string()));
  std::set<std::string> names;
  for (const auto& [name, bytes] : Files(db)) names.insert(name);
  const std::set<std::string> expected = {"T[2].DB", "T[2].PX", "T[2].VAL", "a*b.DB",   "a*b.PX",
                                          "a*b.VAL", "q?.DB",   "q?.PX",    "q?.VAL",   "T2.DB",
                                          "T2.PX",   "T2.VAL",  "T22.P$",   "Cased.DB", "CASED.PX",
                                          "b\\s.DB", "b\\s.PX"};
  EXPECT_EQ(names, expected);
}

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
