// The one-run-per-database lock: refused in this process and in another one
// with another runtime folder, by the library and by vdx's writing commands;
// free again once the holder has ended, however it ended.
#include "RunLock.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "VdxRun.h"

namespace fs = std::filesystem;

namespace {

class RunLockTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("runlock-" + std::to_string(::getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_ / "DB" / "METADATA");
    fs::copy_file(fs::path(VARDEX_TEST_DATA_DIR) / "paradox" / "FILMS.DB", dir_ / "DB" / "FILMS.DB");
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::string Db() const { return (dir_ / "DB").string(); }

  // A child process with a runtime folder of its own that holds the lock
  // until it is killed.
  pid_t HoldInChild() {
    int ready[2];
    EXPECT_EQ(::pipe(ready), 0);
    const pid_t child = ::fork();
    if (child == 0) {
      ::setenv("XDG_RUNTIME_DIR", (dir_ / "runtime-child").c_str(), 1);
      toolrun::TRunLock lock(Db(), "test holder");
      const char state = lock.Held() ? 'H' : 'N';
      [[maybe_unused]] ssize_t w = ::write(ready[1], &state, 1);
      ::pause();
      std::_Exit(0);
    }
    char state = 0;
    EXPECT_EQ(::read(ready[0], &state, 1), 1);
    EXPECT_EQ(state, 'H');
    ::close(ready[0]);
    ::close(ready[1]);
    return child;
  }

  fs::path dir_;
};

TEST_F(RunLockTest, OneHolderPerDatabaseWhoeverAsks) {
  {
    toolrun::TRunLock first(Db() + "/", "first");
    ASSERT_TRUE(first.Held());
    toolrun::TRunLock second(Db(), "second");  // same process, another open file
    EXPECT_EQ(second.State(), toolrun::TRunLock::lsBusy);
    EXPECT_NE(second.Detail().find("first"), std::string::npos);
  }
  EXPECT_TRUE(toolrun::TRunLock(Db(), "again").Held());
  EXPECT_EQ(toolrun::TRunLock(Db() + "/NONE", "x").State(), toolrun::TRunLock::lsNoFolder);

  const pid_t child = HoldInChild();
  ::setenv("XDG_RUNTIME_DIR", (dir_ / "runtime-parent").c_str(), 1);
  fs::create_directories(dir_ / "runtime-parent");
  toolrun::TRunLock refused(Db(), "parent");
  EXPECT_EQ(refused.State(), toolrun::TRunLock::lsBusy);
  EXPECT_NE(refused.Detail().find("pid " + std::to_string(child) + ": test holder"),
            std::string::npos);
  // vdx's writing commands are refused with the busy code and change nothing;
  // reading ones are not held up.
  const std::string films = Db() + "/FILMS.DB";
  const auto before = fs::last_write_time(films);
  for (const std::string& command : {"pack " + films, "repair " + Db(),
                                     "borrow " + films + " " + Db() + "/METADATA/FILMS.DB"}) {
    const VdxRun run = Vdx(command);
    EXPECT_EQ(run.code, 10) << command << "\n" << run.out;
    EXPECT_NE(run.out.find("another run works on the database"), std::string::npos) << run.out;
  }
  EXPECT_EQ(fs::last_write_time(films), before);
  EXPECT_FALSE(fs::exists(Db() + "/METADATA/FILMS.DB"));
  EXPECT_EQ(Vdx("info " + films).code, 0);

  ::kill(child, SIGKILL);  // a holder that dies frees the database
  ::waitpid(child, nullptr, 0);
  EXPECT_TRUE(toolrun::TRunLock(Db(), "after").Held());
  EXPECT_EQ(Vdx("pack " + films).code, 0);
}

TEST(RunLockFolder, TablesInWorkFoldersBelongToTheDatabaseAbove) {
  const struct {
    const char* table;
    const char* folder;
  } cases[] = {
      {"/d/db/T.DB", "/d/db"},          {"/d/db/METADATA/T.DB", "/d/db"},
      {"/d/db/safe/T.DB", "/d/db"},     {"T.DB", "."},
      {"/T.DB", "/"},                   {"/METADATA/T.DB", "/"},
      {"/d/db/METADATA2/T.DB", "/d/db/METADATA2"},
  };
  for (const auto& c : cases) EXPECT_EQ(toolrun::DatabaseFolderOfTable(c.table), c.folder) << c.table;
}

}  // namespace
