// A table held exclusively is refused to every other open at once (lock
// conflict, category 0x28), in this process and in another one, whatever
// kind of lock the other program took; a read-only table is no conflict.
#include "TableLock.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>

#include "ParadoxTable.h"
#include "TTable.h"
#include "TestTables.h"

using namespace engine;
using namespace enginetest;

namespace {

std::string MakeTable(const TempDir& dir) {
  const std::string path = dir / "HELD.DB";
  TableDefinition def;
  def.fields = {Field("A", FieldType::Alpha, 10)};
  EXPECT_TRUE(CreateTable(Env::Default(), path, def).ok());
  return path;
}

Status OpenShared(const std::string& path) {
  std::unique_ptr<ParadoxTable> table;
  return ParadoxTable::Open(path, OpenOptions{}, &table);
}

}  // namespace

TEST(TableLock, ExclusiveHolderInAnotherProcessIsRefusedAtOnce) {
  TempDir dir;
  const std::string path = MakeTable(dir);
  int ready[2], release[2];
  ASSERT_EQ(::pipe(ready), 0);
  ASSERT_EQ(::pipe(release), 0);
  const pid_t child = ::fork();
  if (child == 0) {
    ::close(release[1]);  // so the parent's close reads as end of file here
    TableLock lock;
    const char ok = lock.Acquire(path, true).ok() ? '1' : '0';
    (void)!::write(ready[1], &ok, 1);
    char c;
    (void)!::read(release[0], &c, 1);  // hold until the parent is done
    ::_exit(0);
  }
  ::close(release[0]);
  char ok = 0;
  ASSERT_EQ(::read(ready[0], &ok, 1), 1);
  ASSERT_EQ(ok, '1');

  const auto start = std::chrono::steady_clock::now();
  const Status s = OpenShared(path);
  const auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(s.category(), ERRCAT_LOCKCONFLICT) << s.ToString();
  EXPECT_LT(elapsed, std::chrono::milliseconds(100));
  EXPECT_TRUE(IsLockedByOther(path));

  TTable t;
  t.DatabaseName = dir.Dir();
  t.TableName = "held";
  try {
    t.Open();
    ADD_FAILURE() << "opened a table held exclusively";
  } catch (const EDBEngineError& e) {
    EXPECT_EQ(ErrCat(e.ErrorCode()), ERRCAT_LOCKCONFLICT);
  }

  ::close(release[1]);
  int status = 0;
  ::waitpid(child, &status, 0);
  EXPECT_TRUE(OpenShared(path).ok());
  EXPECT_FALSE(IsLockedByOther(path));
}

TEST(TableLock, SharedOpensCoexistButExcludeAnExclusiveOne) {
  TempDir dir;
  const std::string path = MakeTable(dir);
  TableLock a, b, c;
  ASSERT_TRUE(a.Acquire(path, false).ok());
  ASSERT_TRUE(b.Acquire(path, false).ok());
  EXPECT_EQ(c.Acquire(path, true).category(), ERRCAT_LOCKCONFLICT);
  EXPECT_TRUE(IsLockedByOther(path));  // a reader blocks deleting the file too
  a.Release();
  b.Release();
  ASSERT_TRUE(c.Acquire(path, true).ok());
  EXPECT_EQ(a.Acquire(path, false).category(), ERRCAT_LOCKCONFLICT);
  // A table in use cannot be replaced by CreateTable.
  TTable t;
  t.DatabaseName = dir.Dir();
  t.TableName = "HELD";
  t.FieldDefs.Add("B", FieldType::Long);
  EXPECT_THROW(t.CreateTable(), EDBEngineError);
}

// Another program's lock of any kind makes the table busy; a table that
// cannot be written is read-only, which is no lock conflict.
TEST(TableLock, OtherProgramsLocksAndReadOnlyFiles) {
  struct Case {
    const char* what;
    std::function<bool(int fd)> hold;  // run in another process on the data file
  };
  const Case held[] = {
      {"flock exclusive", [](int fd) { return ::flock(fd, LOCK_EX) == 0; }},
      {"flock shared", [](int fd) { return ::flock(fd, LOCK_SH) == 0; }},
      {"fcntl record lock",
       [](int fd) {
         struct flock fl {};
         fl.l_type = F_WRLCK;
         fl.l_whence = SEEK_SET;
         return ::fcntl(fd, F_SETLK, &fl) == 0;
       }},
  };
  for (const Case& c : held) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    const std::string path = MakeTable(dir);
    int ready[2], release[2];
    ASSERT_EQ(::pipe(ready), 0);
    ASSERT_EQ(::pipe(release), 0);
    const pid_t child = ::fork();
    if (child == 0) {
      ::close(release[1]);
      const int fd = ::open(path.c_str(), O_RDWR);
      const char ok = fd >= 0 && c.hold(fd) ? '1' : '0';
      (void)!::write(ready[1], &ok, 1);
      char b;
      (void)!::read(release[0], &b, 1);
      ::_exit(0);
    }
    ::close(release[0]);
    char ok = 0;
    ASSERT_EQ(::read(ready[0], &ok, 1), 1);
    ASSERT_EQ(ok, '1');
    TableLock lock;
    EXPECT_EQ(lock.Acquire(path, true).category(), ERRCAT_LOCKCONFLICT);
    EXPECT_TRUE(IsLockedByOther(path));
    ::close(release[1]);
    ::waitpid(child, nullptr, 0);
    ::close(ready[0]);
    ::close(ready[1]);
    EXPECT_FALSE(IsLockedByOther(path));
    EXPECT_TRUE(lock.Acquire(path, true).ok());
  }

  struct ReadOnlyCase {
    const char* what;
    bool folder;
    DBIResult code;
  };
  for (const ReadOnlyCase& c : {ReadOnlyCase{"read-only file", false, DBIERR_READONLYFILE},
                                ReadOnlyCase{"read-only folder", true, DBIERR_READONLYDIR}}) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    const std::string path = MakeTable(dir);
    const std::string target = c.folder ? dir.Dir() : path;
    ::chmod(target.c_str(), c.folder ? 0555 : 0444);
    TableLock lock;
    const Status s = lock.Acquire(path, true);
    EXPECT_EQ(s.code(), c.code) << s.ToString();
    EXPECT_NE(s.category(), ERRCAT_LOCKCONFLICT);
    EXPECT_FALSE(IsLockedByOther(path));
    EXPECT_TRUE(OpenShared(path).ok());  // reading is fine
    ::chmod(target.c_str(), c.folder ? 0755 : 0644);
  }
}
