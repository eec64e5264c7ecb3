#include "tlFile.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "TempDir.h"
#include "tlString.h"

namespace {

using Names = std::vector<std::string>;

void MakeReadOnly(const std::string& path) { chmod(path.c_str(), 0444); }

// Takes the engine's table lock on `path` through a new open file
// description; the lock lasts until the descriptor is closed.
int TakeTableLock(const std::string& path) {
  const int fd = open(path.c_str(), O_RDWR);
  struct flock fl {};
  fl.l_type = F_WRLCK;
  fl.l_whence = SEEK_SET;
  EXPECT_EQ(fcntl(fd, F_OFD_SETLK, &fl), 0);
  return fd;
}

// A child process holding the table lock on `path` until it is killed.
pid_t LockInChild(const std::string& path) {
  int ready[2];
  EXPECT_EQ(pipe(ready), 0);
  const pid_t pid = fork();
  if (pid == 0) {
    TakeTableLock(path);
    (void)!write(ready[1], "r", 1);
    pause();
    _exit(0);
  }
  char c;
  EXPECT_EQ(read(ready[0], &c, 1), 1);
  close(ready[0]);
  close(ready[1]);
  return pid;
}

void EndChild(pid_t pid) {
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
}

TEST(FileSearch, MatchesWithoutRegardToCaseInNameOrder) {
  TempDir d;
  for (auto n : {"orders.db", "CUSTOMER.DB", "Customer.PX", "notes.txt", "README"}) d.Write(n);
  d.MakeDir("SAFE");
  EXPECT_EQ(ListFiles(d / "*.db"), (Names{"CUSTOMER.DB", "orders.db"}));
  EXPECT_EQ(ListFiles(d / "customer.*"), (Names{"CUSTOMER.DB", "Customer.PX"}));
  EXPECT_EQ(ListFiles(d / "*.*"),
            (Names{"CUSTOMER.DB", "Customer.PX", "notes.txt", "orders.db", "README"}));
  EXPECT_EQ(ListFiles(d / "??????.DB"), (Names{"orders.db"}));
  EXPECT_EQ(ListFiles(d / "CUSTOMER.DB"), (Names{"CUSTOMER.DB"}));
  EXPECT_TRUE(ListFiles(d / "*.VAL").empty());
  EXPECT_TRUE(ListFiles(d / "missing/*.*").empty());
  EXPECT_TRUE(MatchesMask("README", "readme.*"));
  EXPECT_FALSE(MatchesMask("T.X1", "T.X??"));
  EXPECT_TRUE(MatchesMask("a.b.c", "*.c"));
}

TEST(FileSearch, HiddenSystemAndFolderEntriesAreNotListed) {
  TempDir d;
  for (auto n : {"A.DB", "B.DB", "C.DB", ".D.DB"}) d.Write(n);
  d.MakeDir("E.DB");
  ASSERT_TRUE(SetFilesAttr(d / "B.DB", faHidden, true));
  ASSERT_TRUE(SetFilesAttr(d / "C.DB", faSysFile, true));
  EXPECT_EQ(ListFiles(d / "*.DB"), (Names{"A.DB"}));
  EXPECT_TRUE(FileIsHidden(d / ".D.DB"));
  EXPECT_EQ(FileAttributes(d / "E.DB") & faDirectory, faDirectory);
  EXPECT_EQ(FileAttributes(d / "nothing"), -1);
}

TEST(SetFilesAttr, HidesAndShowsAgainOnlyTheMatchingEntries) {
  TempDir d;
  for (auto n : {"A.DB", "a.px", "B.DB"}) d.Write(n);
  d.MakeDir("METADATA");
  ASSERT_TRUE(SetFilesAttr(d.Path() + "*.*", faHidden, true));
  EXPECT_TRUE(FileIsHidden(d / "A.DB"));
  EXPECT_TRUE(FileIsHidden(d / "METADATA"));
  // "." and ".." never match: the folder itself stays visible.
  EXPECT_FALSE(FileIsHidden(d.Path() + "."));
  EXPECT_FALSE(FileIsHidden(d / ".."));
  EXPECT_FALSE(FileIsHidden(d / "."));
  EXPECT_TRUE(ListFiles(d / "*.*").empty());
  ASSERT_TRUE(SetFilesAttr(d / "a.*", faHidden, false));
  EXPECT_EQ(ListFiles(d / "*.*"), (Names{"A.DB", "a.px"}));
  EXPECT_TRUE(FileIsHidden(d / "B.DB"));
  // Clearing hidden keeps other stored bits.
  ASSERT_TRUE(SetFilesAttr(d / "B.DB", faArchive, true));
  ASSERT_TRUE(SetFilesAttr(d / "B.DB", faHidden, false));
  EXPECT_EQ(FileAttributes(d / "B.DB"), faArchive);
}

TEST(SetFilesAttr, ReadOnlyIsTheAbsenceOfWriteBits) {
  TempDir d;
  d.Write("T.DB");
  ASSERT_TRUE(SetFilesAttr(d / "t.db", faReadOnly, true));
  struct stat st {};
  stat((d / "T.DB").c_str(), &st);
  EXPECT_EQ(st.st_mode & 0222, 0u);
  EXPECT_EQ(FileAttributes(d / "T.DB"), faReadOnly);
  ASSERT_TRUE(SetFilesAttr(d / "T.DB", faReadOnly, false));
  EXPECT_EQ(FileAttributes(d / "T.DB"), 0);
}

TEST(SetFilesAttr, HidingWorksWhereExtendedAttributesAreRefused) {
  TempDir d;
  d.Write("A.DB");
  d.Write("B.DB");
  SetExtendedAttributesRefused(true);
  EXPECT_TRUE(SetFilesAttr(d / "A.DB", faHidden, true));
  EXPECT_TRUE(FileIsHidden(d / "A.DB"));
  EXPECT_EQ(ListFiles(d / "*.DB"), (Names{"B.DB"}));
  // The process's table follows the file, not its old name.
  ASSERT_EQ(rename((d / "A.DB").c_str(), (d / "C.DB").c_str()), 0);
  EXPECT_TRUE(FileIsHidden(d / "C.DB"));
  // A deleted file's successor does not inherit the bit.
  EXPECT_TRUE(DeleteFiles(d / "C.DB"));
  d.Write("C.DB");
  EXPECT_FALSE(FileIsHidden(d / "C.DB"));
  EXPECT_TRUE(SetFilesAttr(d / "B.DB", faHidden, true));
  EXPECT_TRUE(SetFilesAttr(d / "B.DB", faHidden, false));
  EXPECT_FALSE(FileIsHidden(d / "B.DB"));
  SetExtendedAttributesRefused(false);
}

TEST(DeleteFiles, DeletesMatchingFilesOnly) {
  TempDir d;
  for (auto n : {"T.X01", "t.x02", "T.Y01", "T.DB"}) d.Write(n);
  d.MakeDir("T.X03");
  EXPECT_TRUE(DeleteFiles(d / "T.X*"));
  EXPECT_FALSE(d.Exists("T.X01"));
  EXPECT_FALSE(d.Exists("t.x02"));
  EXPECT_TRUE(d.Exists("T.Y01"));
  EXPECT_TRUE(d.Exists("T.X03"));
  EXPECT_TRUE(DeleteFiles(d / "*.none"));
}

TEST(DeleteFiles, StopsAtAReadOnlyOrLockedFile) {
  TempDir d;
  for (auto n : {"A.DB", "B.DB", "C.DB"}) d.Write(n);
  MakeReadOnly(d / "B.DB");
  EXPECT_FALSE(DeleteFiles(d / "*.DB"));
  EXPECT_FALSE(d.Exists("A.DB"));
  EXPECT_TRUE(d.Exists("B.DB"));
  EXPECT_TRUE(d.Exists("C.DB"));  // search order: C comes after the refusal

  chmod((d / "B.DB").c_str(), 0644);
  const int fd = TakeTableLock(d / "B.DB");
  EXPECT_TRUE(FileIsLocked(d / "B.DB"));
  EXPECT_FALSE(DeleteFiles(d / "*.DB"));
  EXPECT_TRUE(d.Exists("B.DB"));
  close(fd);
  EXPECT_FALSE(FileIsLocked(d / "B.DB"));
  EXPECT_TRUE(DeleteFiles(d / "*.DB"));
  EXPECT_FALSE(d.Exists("C.DB"));
}

TEST(RemoveDirWithFiles, RemovesAFolderAndItsFiles) {
  TempDir d;
  d.MakeDir("SAFE");
  for (auto n : {"SAFE/A.DB", "SAFE/.hidden", "SAFE/b.px"}) d.Write(n);
  SetFilesAttr(d / "SAFE/A.DB", faHidden, true);
  EXPECT_TRUE(RemoveDirWithFiles(d / "SAFE/"));
  EXPECT_FALSE(d.Exists("SAFE"));
  EXPECT_TRUE(RemoveDirWithFiles(d / "SAFE"));  // already gone
  EXPECT_FALSE(RemoveDirWithFiles(""));
  EXPECT_FALSE(RemoveDirWithFiles("/"));
}

TEST(RemoveDirWithFiles, KeepsTheFolderWhenSomethingMustStay) {
  TempDir d;
  d.MakeDir("RO");
  d.Write("RO/A.DB");
  MakeReadOnly(d / "RO/A.DB");
  EXPECT_FALSE(RemoveDirWithFiles(d / "RO"));
  EXPECT_TRUE(d.Exists("RO/A.DB"));

  d.MakeDir("SUB");
  d.MakeDir("SUB/INNER");
  d.Write("SUB/B.DB");
  EXPECT_FALSE(RemoveDirWithFiles(d / "SUB"));
  EXPECT_FALSE(d.Exists("SUB/B.DB"));
  EXPECT_TRUE(d.Exists("SUB/INNER"));

  d.MakeDir("LOCKED");
  d.Write("LOCKED/ORDERS.DB");
  const pid_t child = LockInChild(d / "LOCKED/ORDERS.DB");
  EXPECT_TRUE(FileIsLocked(d / "LOCKED/ORDERS.DB"));
  EXPECT_FALSE(RemoveDirWithFiles(d / "LOCKED"));
  EXPECT_TRUE(d.Exists("LOCKED/ORDERS.DB"));
  EndChild(child);
  EXPECT_TRUE(RemoveDirWithFiles(d / "LOCKED"));
}

// A run's work folders hold folders of their own (KEYVIOL, PROBLEMS); a link
// inside one must not reach what lies outside it.
TEST(RemoveFolderTree, RemovesEverythingBelowButNothingALinkPointsAt) {
  TempDir d;
  for (auto n : {"OUTSIDE", "SAFE", "SAFE/KEYVIOL", "SAFE/.hidden", "SAFE/KEYVIOL/DEEP"}) {
    d.MakeDir(n);
  }
  for (auto n : {"OUTSIDE/KEEP.DB", "SAFE/A.DB", "SAFE/KEYVIOL/A_1.DB", "SAFE/.hidden/x",
                 "SAFE/KEYVIOL/DEEP/y"}) {
    d.Write(n);
  }
  ASSERT_EQ(symlink((d / "OUTSIDE").c_str(), (d / "SAFE/KEYVIOL/LINK").c_str()), 0);
  ASSERT_EQ(symlink((d / "OUTSIDE/KEEP.DB").c_str(), (d / "SAFE/FILELINK").c_str()), 0);
  EXPECT_TRUE(RemoveFolderTree(d / "SAFE/"));
  EXPECT_FALSE(d.Exists("SAFE"));
  EXPECT_TRUE(d.Exists("OUTSIDE/KEEP.DB"));
  EXPECT_TRUE(RemoveFolderTree(d / "SAFE"));  // already gone
  EXPECT_FALSE(RemoveFolderTree(""));
  EXPECT_FALSE(RemoveFolderTree("/"));

  d.MakeDir("RO");
  d.MakeDir("RO/SUB");
  d.Write("RO/SUB/A.DB");
  MakeReadOnly(d / "RO/SUB/A.DB");
  EXPECT_FALSE(RemoveFolderTree(d / "RO"));
  EXPECT_TRUE(d.Exists("RO/SUB/A.DB"));
}

// Whatever stands under a work folder's name goes: a folder with its
// contents, a file, a link (never what it points at); a read-only file stays.
TEST(RemoveEntry, RemovesFoldersFilesAndLinksItself) {
  TempDir d;
  d.MakeDir("OUTSIDE");
  d.Write("OUTSIDE/KEEP.DB");
  d.MakeDir("TREE");
  d.Write("TREE/A.DB");
  d.Write("FILE");
  d.Write("RO");
  MakeReadOnly(d / "RO");
  ASSERT_EQ(symlink((d / "OUTSIDE").c_str(), (d / "DIRLINK").c_str()), 0);
  ASSERT_EQ(symlink("/nowhere", (d / "DANGLING").c_str()), 0);
  for (auto n : {"TREE", "FILE", "DIRLINK", "DANGLING", "ABSENT"}) {
    EXPECT_TRUE(RemoveEntry(d / n)) << n;
    struct stat st {};
    EXPECT_NE(lstat((d / n).c_str(), &st), 0) << n;
  }
  EXPECT_TRUE(d.Exists("OUTSIDE/KEEP.DB"));
  EXPECT_FALSE(RemoveEntry(d / "RO"));
  EXPECT_TRUE(d.Exists("RO"));
  EXPECT_FALSE(IsRealDir(d / "DIRLINK"));
  EXPECT_TRUE(IsRealDir(d / "OUTSIDE"));
}

TEST(DirExists, FoldersOnly) {
  TempDir d;
  d.MakeDir("METADATA");
  d.Write("FILE");
  EXPECT_TRUE(DirExists(d / "METADATA"));
  EXPECT_TRUE(DirExists(d / "METADATA/"));
  EXPECT_FALSE(DirExists(d / "FILE"));
  EXPECT_FALSE(DirExists(d / "SAFE"));
  EXPECT_FALSE(DirExists(""));
}

TEST(RenameByMask, RenamesOneFamilyKeepingCase) {
  TempDir d;
  for (auto n : {"T.X01", "T.X0A", "T.Y01", "t.x02", "TT.X01"}) d.Write(n);
  RenameByMask(d / "T", "X??", "1??");
  for (auto n : {"T.101", "T.10A", "t.102", "T.Y01", "TT.X01"}) EXPECT_TRUE(d.Exists(n)) << n;
  EXPECT_FALSE(d.Exists("T.X01"));

  for (auto n : {"orders.val", "orders.px", "ORDERS.DB"}) d.Write(n);
  RenameByMask(d / "ORDERS", "VAL", "VA$");
  RenameByMask(d / "ORDERS", "PX", "P$");
  EXPECT_TRUE(d.Exists("orders.va$"));
  EXPECT_TRUE(d.Exists("orders.p$"));
  RenameByMask(d / "ORDERS", "VA$", "VAL");
  RenameByMask(d / "Orders", "P$", "PX");
  EXPECT_TRUE(d.Exists("orders.val"));
  EXPECT_TRUE(d.Exists("orders.px"));
  EXPECT_TRUE(d.Exists("ORDERS.DB"));
}

TEST(RenameByMask, NeverReplacesAnExistingFile) {
  TempDir d;
  d.Write("T.X01", "index");
  d.Write("t.101", "other");
  RenameByMask(d / "T", "X??", "1??");
  EXPECT_TRUE(d.Exists("T.X01"));
  std::ifstream in(d / "t.101");
  std::string text;
  in >> text;
  EXPECT_EQ(text, "other");
}

TEST(RenameByMask, AWrongLengthExtensionEndsTheRun) {
  TempDir d;
  for (auto n : {"T.X01", "T.XY"}) d.Write(n);
  EXPECT_THROW(RenameByMask(d / "T", "X*", "1??"), EStringTools);
  EXPECT_TRUE(d.Exists("T.101"));  // came before the refusal
  EXPECT_TRUE(d.Exists("T.XY"));
}

}  // namespace
