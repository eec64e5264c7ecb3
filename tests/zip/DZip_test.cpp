// The compression library against real peers: archives it writes, single
// or spanned over a drive's volumes, pass 7-Zip's and Info-ZIP's tests and
// extract byte-equal; it restores what Info-ZIP and 7-Zip write; it asks for
// disks by number, refuses the wrong ones, and never leaves a damaged or
// half-written file under a real name.
#include "DZip.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <sstream>

#include "TempDir.h"
#include "ZipTestSupport.h"
#include "ZipVolumes.h"

namespace fs = std::filesystem;

namespace {

using ziptest::ReadFile;
using ziptest::WriteFile;

// Bytes that compress like table data: repeated records with varying fields.
std::string TableLike(size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  std::string s;
  while (s.size() < n) {
    s += "CUSTOMER " + std::to_string(rng() % 100000) + " Street " + std::to_string(rng() % 999);
    s.append(8, static_cast<char>(rng() % 4));
  }
  s.resize(n);
  return s;
}

std::string Random(size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  std::string s(n, '\0');
  for (char& c : s) c = static_cast<char>(rng());
  return s;
}

int Sh(const std::string& cmd) { return std::system((cmd + " >/dev/null 2>&1").c_str()); }

// Every file below `a` equals the file of the same name below `b`, and both
// hold the same names.
::testing::AssertionResult SameTree(const fs::path& a, const fs::path& b) {
  std::map<std::string, std::string> fa, fb;
  for (auto* side : {&fa, &fb}) {
    const fs::path& root = side == &fa ? a : b;
    if (!fs::exists(root)) return ::testing::AssertionFailure() << root << " missing";
    for (const auto& e : fs::recursive_directory_iterator(root)) {
      if (e.is_regular_file()) (*side)[fs::relative(e.path(), root).string()] = ReadFile(e.path());
    }
  }
  if (fa.size() != fb.size()) {
    return ::testing::AssertionFailure() << fa.size() << " files against " << fb.size();
  }
  for (const auto& [name, data] : fa) {
    if (!fb.count(name)) return ::testing::AssertionFailure() << name << " missing";
    if (fb[name] != data) return ::testing::AssertionFailure() << name << " differs";
  }
  return ::testing::AssertionSuccess();
}

class DZipTest : public ::testing::Test {
 protected:
  void SetUp() override {
    src_ = tmp_ / "db";
    WriteFile(src_ / "METADATA/CUSTOMER.DB", TableLike(40000, 1));
    WriteFile(src_ / "METADATA/ORDERS.DB", TableLike(30000, 2));
    WriteFile(src_ / "SAFE/CUSTOMER.DB", TableLike(2500000, 3));  // several chunks
    WriteFile(src_ / "SAFE/CUSTOMER.PX", Random(90000, 4));       // does not compress
    WriteFile(src_ / "SAFE/ORDERS.DB", TableLike(120000, 5));
    WriteFile(src_ / "SAFE/EMPTY.DB", "");
    WriteFile(src_ / "SAFE/\xc3\x84RGER.DB", "umlaut");
    fs::create_directories(drive());
    ziptest::WriteDrives(tmp_ / "drives.ini", {{"A", drive().string(), 65536}});
  }

  fs::path drive() const { return tmp_ / "drive"; }

  ZIPCMDSTRUCT AddCommand(const std::string& archive, unsigned mv = 0) {
    ZIPCMDSTRUCT cmd;
    cmd.function = kZipActionAdd;
    cmd.lpszZipFile = archive;
    cmd.lpszItemList = "\"" + src_.string() + "/*.*\" ";
    cmd.lpszComment = "SALESDATA";
    cmd.addCommentFlag = cmd.recurseFlag = cmd.noDirectoryEntriesFlag = true;
    cmd.wZipSubOptions = ZSO_RELATIVEPATH | ZSO_MINORCANCEL;
    cmd.wMultiVolControl = mv;
    cmd.compFactor = 5;
    cmd.lpszDrivesFile = (tmp_ / "drives.ini").string();
    return cmd;
  }

  UNZIPCMDSTRUCT ExtractCommand(const std::string& archive, const fs::path& dest) {
    UNZIPCMDSTRUCT cmd;
    cmd.function = kUnzipActionExtract;
    cmd.lpszZipFile = archive;
    cmd.overWriteFlag = cmd.recurseFlag = cmd.quietFlag = true;
    cmd.lpszFileSpec = "*.*";
    cmd.lpszDestination = dest.string();
    cmd.lpszDrivesFile = (tmp_ / "drives.ini").string();
    return cmd;
  }

  // Writes a spanned set onto drive A; each volume is taken out of the drive
  // as the next disk is asked for. Answers the volumes in order.
  std::vector<fs::path> Span(const std::string& prefix = "vol") {
    std::vector<fs::path> volumes;
    ZIPCMDSTRUCT cmd = AddCommand("A:\\SALESDAT.DBK", MV_USEMULTI | MV_SUBDIR | MV_SYSHIDE);
    auto takeOut = [&] {
      volumes.push_back(tmp_ / (prefix + std::to_string(volumes.size() + 1)));
      fs::rename(drive() / "SALESDAT.DBK", volumes.back());
    };
    cmd.callbacks.lpMessageDisplay = [&](int msg, int, long long p1, long long, const std::string&,
                                         const std::string&, int& reply) {
      EXPECT_EQ(msg, kMsgDisk);
      if (p1 >= 2) {
        EXPECT_EQ(p1, static_cast<long long>(volumes.size() + 2));
        takeOut();
      }
      reply = kReplyOk;
    };
    EXPECT_EQ(dzip(cmd), ZE_OK);
    takeOut();
    return volumes;
  }

  // Offers the volumes as disks when asked; `swap` may change what is
  // offered for a request (by its number in the list of requests).
  TMessageCallback Offer(const std::vector<fs::path>& volumes, const fs::path& archive,
                         std::vector<std::string>* asked,
                         std::function<fs::path(size_t, long long)> swap = nullptr) {
    return [=](int msg, int, long long p1, long long p2, const std::string&, const std::string&,
               int& reply) {
      asked->push_back(std::to_string(msg) + ":" + std::to_string(p1) + "/" + std::to_string(p2));
      reply = kReplyOk;
      long long disk = 0;
      if ((msg == kMsgDisk && p2 == -1) || msg == kMsgNotLastDisk) {
        disk = static_cast<long long>(volumes.size());
      }
      if (msg == kMsgDiskOfDisk) disk = p1;
      if (msg == kMsgWrongDisk) disk = p2;
      if (disk == 0) return;
      fs::path pick = volumes[static_cast<size_t>(disk - 1)];
      if (swap) {
        if (fs::path other = swap(asked->size(), disk); !other.empty()) pick = other;
      }
      if (asked->size() > 40) {
        reply = kReplyCancel;  // a loop: stop it
        return;
      }
      fs::copy_file(pick, archive, fs::copy_options::overwrite_existing);
    };
  }

  TempDir tmpdir_;
  fs::path tmp_ = tmpdir_.Path();
  fs::path src_;
};

TEST_F(DZipTest, SingleArchivePassesPeersAndComesBackWhole) {
  const fs::path archive = tmp_ / "single.zip";
  ZIPCMDSTRUCT add = AddCommand(archive.string());
  std::vector<std::string> major;
  add.callbacks.lpMajorStatus = [&](const std::string& item, int, bool&) { major.push_back(item); };
  ASSERT_EQ(dzip(add), ZE_OK);
  EXPECT_EQ(add.returnCount, 7);
  EXPECT_EQ(major.front(), "Please wait.");
  EXPECT_NE(std::find(major.begin(), major.end(), "Item 7 of 7"), major.end());
  EXPECT_NE(ReadFile(archive).substr(0, 2), "PK\x07");  // no split signature
  EXPECT_EQ(Sh("7z t " + archive.string()), 0);
  EXPECT_EQ(Sh("unzip -tq " + archive.string()), 0);
  EXPECT_EQ(Sh("cd " + tmp_.string() + " && mkdir iz && cd iz && unzip -q ../single.zip"), 0);
  EXPECT_TRUE(SameTree(src_, tmp_ / "iz"));

  UNZIPCMDSTRUCT x = ExtractCommand(archive.string(), tmp_ / "ours");
  ASSERT_EQ(dunzip(x), UE_OK);
  EXPECT_TRUE(SameTree(src_, tmp_ / "ours"));
  x.function = kUnzipActionCommentLength;
  ASSERT_EQ(dunzip(x), UE_OK);
  EXPECT_EQ(x.returnCount, 9);
  x.function = kUnzipActionComment;
  ASSERT_EQ(dunzip(x), UE_OK);
  EXPECT_EQ(x.lpszReturnString, "SALESDATA");
}

// Large files are written past the page cache where the file system allows
// (the temporary folder's, above); tmpfs does not, and takes them through
// the cache.
TEST_F(DZipTest, ComesBackWholeOnAFileSystemWithoutDirectWrites) {
  if (!fs::is_directory("/dev/shm")) GTEST_SKIP() << "no /dev/shm";
  const fs::path archive = tmp_ / "single.zip";
  ASSERT_EQ(dzip(*std::make_unique<ZIPCMDSTRUCT>(AddCommand(archive.string()))), ZE_OK);
  std::string templ = "/dev/shm/vardexXXXXXX";
  ASSERT_NE(::mkdtemp(templ.data()), nullptr);
  UNZIPCMDSTRUCT x = ExtractCommand(archive.string(), fs::path(templ) / "out");
  EXPECT_EQ(dunzip(x), UE_OK);
  EXPECT_TRUE(SameTree(src_, fs::path(templ) / "out"));
  fs::remove_all(templ);
}

TEST_F(DZipTest, SpannedSetPasses7ZipAndRestoresDiskByDisk) {
  const std::vector<fs::path> volumes = Span();
  ASSERT_GE(volumes.size(), 3u);
  for (const fs::path& v : volumes) EXPECT_LE(fs::file_size(v), 65536u) << v;
  // 7-Zip reads the set as x.z01, x.z02 ... x.zip.
  fs::create_directories(tmp_ / "7z");
  for (size_t i = 0; i < volumes.size(); ++i) {
    char ext[32];
    std::snprintf(ext, sizeof ext, ".z%02zu", i + 1);
    fs::copy_file(volumes[i],
                  tmp_ / "7z" / (i + 1 == volumes.size() ? "x.zip" : "x" + std::string(ext)));
  }
  EXPECT_EQ(Sh("cd " + (tmp_ / "7z").string() + " && 7z t x.zip"), 0);
  EXPECT_EQ(Sh("cd " + (tmp_ / "7z").string() + " && 7z x -oout x.zip"), 0);
  EXPECT_TRUE(SameTree(src_, tmp_ / "7z/out"));

  std::vector<std::string> asked;
  UNZIPCMDSTRUCT x = ExtractCommand("A:\\SALESDAT.DBK", tmp_ / "ours");
  x.callbacks.lpMessageDisplay = Offer(volumes, drive() / "SALESDAT.DBK", &asked);
  ASSERT_EQ(dunzip(x), UE_OK);
  EXPECT_TRUE(SameTree(src_, tmp_ / "ours"));
  const std::string n = std::to_string(volumes.size());
  ASSERT_GE(asked.size(), volumes.size());
  EXPECT_EQ(asked[0], "0:0/-1");  // the last disk first, for the directory
  EXPECT_EQ(asked[1], "1:1/" + n);
  EXPECT_EQ(asked.back(), "1:" + n + "/" + n);
}

// OK pressed without swapping the medium must not overwrite the volume just
// written: the disk is asked for again.
TEST_F(DZipTest, AnUnchangedMediumIsAskedForAgain) {
  ZIPCMDSTRUCT cmd = AddCommand("A:\\SALESDAT.DBK", MV_USEMULTI | MV_SUBDIR | MV_SYSHIDE);
  std::vector<long long> asked;
  cmd.callbacks.lpMessageDisplay = [&](int, int, long long p1, long long, const std::string&,
                                       const std::string&, int& reply) {
    asked.push_back(p1);
    reply = kReplyOk;
    if (p1 == 2 && std::count(asked.begin(), asked.end(), 2) == 1) return;  // not swapped
    if (p1 >= 2) fs::rename(drive() / "SALESDAT.DBK", tmp_ / ("vol" + std::to_string(p1 - 1)));
  };
  ASSERT_EQ(dzip(cmd), ZE_OK);
  ASSERT_GE(asked.size(), 4u);
  EXPECT_EQ(asked[0], -1);
  EXPECT_EQ(asked[1], 2);
  EXPECT_EQ(asked[2], 2);
  EXPECT_EQ(asked[3], 3);
  EXPECT_EQ(ReadFile(tmp_ / "vol1").substr(0, 4), std::string("PK\x07\x08"));
}

// Every disk is checked before it is read, also one that holds only the
// middle of a file: a disk of the same set under the wrong number, a disk
// of another backup and random bytes of the right size are named as wrong
// and asked for again; the archive is never called damaged for them.
TEST_F(DZipTest, WrongDisksAreNamedAndNeverRead) {
  const std::vector<fs::path> volumes = Span();
  ASSERT_GE(volumes.size(), 4u);
  size_t middle = 0;  // a disk on which no entry begins
  for (size_t i = 1; i + 1 < volumes.size() && !middle; ++i) {
    if (ReadFile(volumes[i]).find("PK\x03\x04") == std::string::npos) middle = i;
  }
  ASSERT_NE(middle, 0u);
  size_t twin = middle + 1;  // another full disk of the same size
  ASSERT_EQ(fs::file_size(volumes[twin]), fs::file_size(volumes[middle]));
  WriteFile(tmp_ / "random", Random(fs::file_size(volumes[middle]), 11));
  // Another backup: its first file (the largest goes first) differs, so
  // every disk does.
  const std::string first = ReadFile(src_ / "SAFE/CUSTOMER.DB");
  WriteFile(src_ / "SAFE/CUSTOMER.DB", TableLike(2500000, 77));
  const std::vector<fs::path> others = Span("other");
  WriteFile(src_ / "SAFE/CUSTOMER.DB", first);
  std::string cut = ReadFile(volumes.back());
  WriteFile(tmp_ / "cut", cut.substr(0, cut.size() / 2));

  const struct {
    fs::path offered;     // instead of the disk asked for, once
    long long disk;       // when this disk is asked for
    std::string message;  // the message that follows
  } cases[] = {
      {volumes[twin], static_cast<long long>(middle + 1),
       std::to_string(kMsgWrongDisk) + ":" + std::to_string(twin + 1) + "/" +
           std::to_string(middle + 1)},
      {tmp_ / "random", static_cast<long long>(middle + 1), std::to_string(kMsgNotOwned) + ":"},
      {others[std::min(middle, others.size() - 1)], static_cast<long long>(middle + 1),
       std::to_string(kMsgNotOwned) + ":"},
      {volumes.back(), 1, std::to_string(kMsgWrongDisk) + ":" + std::to_string(volumes.size())},
      {tmp_ / "cut", static_cast<long long>(volumes.size()), std::to_string(kMsgNotLastDisk) + ":"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.offered.string());
    std::vector<std::string> asked;
    fs::remove_all(tmp_ / "ours");
    fs::remove(drive() / "SALESDAT.DBK");
    bool swapped = false;
    UNZIPCMDSTRUCT x = ExtractCommand("A:\\SALESDAT.DBK", tmp_ / "ours");
    x.callbacks.lpMessageDisplay =
        Offer(volumes, drive() / "SALESDAT.DBK", &asked, [&](size_t, long long disk) {
          if (swapped || disk != c.disk) return fs::path();
          swapped = true;
          return c.offered;
        });
    ASSERT_EQ(dunzip(x), UE_OK);
    EXPECT_TRUE(SameTree(src_, tmp_ / "ours"));
    const auto it = std::find_if(asked.begin(), asked.end(), [&](const std::string& a) {
      return a.rfind(c.message, 0) == 0;
    });
    std::string all;
    for (const std::string& a : asked) all += a + " ";
    EXPECT_NE(it, asked.end()) << all;
  }
}

TEST_F(DZipTest, ReadsInfoZipSplitAndSingleArchivesOf7ZipAndInfoZip) {
  fs::create_directories(tmp_ / "split");
  ASSERT_EQ(Sh("cd " + src_.string() + " && zip -q -s 64k -r ../split/x.zip METADATA SAFE"), 0);
  std::vector<fs::path> volumes;
  for (int i = 1; fs::exists(tmp_ / "split" / ("x.z0" + std::to_string(i))); ++i) {
    volumes.push_back(tmp_ / "split" / ("x.z0" + std::to_string(i)));
  }
  volumes.push_back(tmp_ / "split/x.zip");
  ASSERT_GE(volumes.size(), 3u);
  std::vector<std::string> asked;
  UNZIPCMDSTRUCT x = ExtractCommand("A:\\X.DBK", tmp_ / "split-out");
  x.callbacks.lpMessageDisplay = Offer(volumes, drive() / "X.DBK", &asked);
  ASSERT_EQ(dunzip(x), UE_OK);
  EXPECT_TRUE(SameTree(src_, tmp_ / "split-out"));

  const struct {
    const char* name;
    const char* command;
  } singles[] = {{"stored.zip", "zip -q -0 -r ../stored.zip METADATA SAFE"},
                 {"deflated.zip", "zip -q -9 -r ../deflated.zip METADATA SAFE"},
                 {"7z.zip", "7z a -tzip ../7z.zip METADATA SAFE"},
                 {"7zstored.zip", "7z a -tzip -mx=0 ../7zstored.zip METADATA SAFE"}};
  for (const auto& s : singles) {
    SCOPED_TRACE(s.name);
    ASSERT_EQ(Sh("cd " + src_.string() + " && " + s.command), 0);
    UNZIPCMDSTRUCT one =
        ExtractCommand((tmp_ / s.name).string(), tmp_ / (std::string(s.name) + ".out"));
    ASSERT_EQ(dunzip(one), UE_OK);
    EXPECT_TRUE(SameTree(src_, tmp_ / (std::string(s.name) + ".out")));
  }
}

TEST_F(DZipTest, DamagedDataIsReportedAndLeavesNoFileBehind) {
  const fs::path archive = tmp_ / "single.zip";
  ZIPCMDSTRUCT add = AddCommand(archive.string());
  add.compFactor = 0;  // stored: a flipped byte inflates fine but fails the CRC
  ASSERT_EQ(dzip(add), ZE_OK);
  std::string data = ReadFile(archive);
  const size_t at = data.find("CUSTOMER 1");
  ASSERT_NE(at, std::string::npos);
  data[at + 3] ^= 0x20;
  WriteFile(archive, data);
  UNZIPCMDSTRUCT x = ExtractCommand(archive.string(), tmp_ / "out");
  EXPECT_EQ(dunzip(x), UE_CRC);
  for (const auto& e : fs::recursive_directory_iterator(tmp_ / "out")) {
    EXPECT_EQ(e.path().string().find(".vdxpart"), std::string::npos) << e.path();
  }

  // Deflated: the damage breaks the stream or the CRC, either way code 3/39.
  add = AddCommand(archive.string());
  ASSERT_EQ(dzip(add), ZE_OK);
  data = ReadFile(archive);
  data[data.size() / 2] ^= 0x01;
  WriteFile(archive, data);
  fs::remove_all(tmp_ / "out");
  x = ExtractCommand(archive.string(), tmp_ / "out");
  const int rc = dunzip(x);
  EXPECT_TRUE(rc == UE_CRC || rc == UE_FORM) << rc;

  // Cut short, or garbage: refused, never a crash or a loop.
  for (const std::string& broken : {data.substr(0, data.size() / 2), data.substr(data.size() / 3),
                                    Random(5000, 9)}) {
    WriteFile(archive, broken);
    x = ExtractCommand(archive.string(), tmp_ / "out");
    EXPECT_NE(dunzip(x), UE_OK);
  }
}

// Extracts `archive` into `out` in a child process whose files may not
// grow past `limit` bytes (as if the disk were full there); its answer.
int ExtractWithFileLimit(const UNZIPCMDSTRUCT& cmd, rlim_t limit) {
  const pid_t child = ::fork();
  if (child == 0) {
    std::signal(SIGXFSZ, SIG_IGN);
    const rlimit rl{limit, limit};
    ::setrlimit(RLIMIT_FSIZE, &rl);
    UNZIPCMDSTRUCT x = cmd;
    ::_exit(dunzip(x));
  }
  int status = 0;
  if (::waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

// Every file below `out` is whole, equal to its original below `src`.
void ExpectOnlyWholeFiles(const fs::path& out, const fs::path& src) {
  for (const auto& e : fs::recursive_directory_iterator(out)) {
    EXPECT_EQ(e.path().string().find(".vdxpart"), std::string::npos) << e.path();
    if (e.is_regular_file()) {
      EXPECT_EQ(ReadFile(e.path()), ReadFile(src / fs::relative(e.path(), out))) << e.path();
    }
  }
}

// Files are written on a thread of their own while the next one inflates:
// when a write fails there (here: past the process's file size limit, as a
// full disk would), the extraction ends with the write error, the file
// never takes its name and no part is left behind.
TEST_F(DZipTest, AWriteFailingBesideTheInflatingEndsTheExtractCleanly) {
  const fs::path archive = tmp_ / "single.zip";
  ASSERT_EQ(dzip(*std::make_unique<ZIPCMDSTRUCT>(AddCommand(archive.string()))), ZE_OK);
  const fs::path out = tmp_ / "out";
  // Below SAFE/CUSTOMER.DB only.
  EXPECT_EQ(ExtractWithFileLimit(ExtractCommand(archive.string(), out), 1 << 20), UE_WRITE);
  EXPECT_FALSE(fs::exists(out / "SAFE/CUSTOMER.DB"));
  ExpectOnlyWholeFiles(out, src_);
}

// Files too large to compress or inflate whole, and stored ones, are
// written a piece at a time, past the page cache from a megabyte up: they
// come back whole, or fail cleanly at a full disk.
TEST_F(DZipTest, FilesWrittenAPieceAtATimeComeBackWholeOrNotAtAll) {
  WriteFile(src_ / "SAFE/BIG.DB", TableLike((size_t{17} << 20) + 1234, 6));
  WriteFile(src_ / "SAFE/BIG.MB", Random((size_t{3} << 19) + 77, 7));  // stored
  const fs::path archive = tmp_ / "single.zip";
  ASSERT_EQ(dzip(*std::make_unique<ZIPCMDSTRUCT>(AddCommand(archive.string()))), ZE_OK);
  // The large file's pieces, compressed apart, join into one stream.
  EXPECT_EQ(Sh("unzip -tq " + archive.string()), 0);
  UNZIPCMDSTRUCT x = ExtractCommand(archive.string(), tmp_ / "ours");
  ASSERT_EQ(dunzip(x), UE_OK);
  EXPECT_TRUE(SameTree(src_, tmp_ / "ours"));

  const fs::path out = tmp_ / "out";
  EXPECT_EQ(ExtractWithFileLimit(ExtractCommand(archive.string(), out), 9 << 20), UE_WRITE);
  EXPECT_FALSE(fs::exists(out / "SAFE/BIG.DB"));
  ExpectOnlyWholeFiles(out, src_);
}

// A volume folder is refused, before anything on it is touched, when it is
// or holds a system, home or program folder, is, holds or lies in a
// database's folder, or holds tables. Clearing a medium removes the volumes
// of earlier backups and nothing else; what stays leaves less room.
TEST_F(DZipTest, VolumeFoldersAreRefusedByWhatTheyHoldAndLoseOnlyBackups) {
  WriteFile(tmp_ / "prog/engine.ini", "[SALES]\n");
  WriteFile(tmp_ / "other/db/METADATA/X.DB", "x");  // a database not in the list
  WriteFile(tmp_ / "loose/ORDERS.DB", "x");
  setenv("VARDEX_HOME", (tmp_ / "prog").c_str(), 1);
  const std::string home = getenv("HOME") ? getenv("HOME") : "/root";
  const struct {
    fs::path folder;
    std::string reason;
  } refused[] = {
      {"/", "system"},           {"/etc", "system"},         {"/usr", "system"},
      {"/lib", "system"},        {"/var", "system"},         {"/home", "home"},
      {home, "home"},            {tmp_ / "prog", "program"}, {tmp_, "program"},
      {src_, "database"},        {src_ / "SAFE", "database"}, {tmp_ / "other", "tables"},
      {tmp_ / "loose", "tables"}, {tmp_ / "elsewhere", "database"},
  };
  for (const auto& r : refused) {
    SCOPED_TRACE(r.folder.string());
    ziptest::WriteDrives(tmp_ / "drives.ini", {{"B", r.folder.string()}});
    ZIPCMDSTRUCT add = AddCommand("B:\\SALESDAT.DBK", MV_USEMULTI | MV_SUBDIR | MV_SYSHIDE);
    add.protectedFolders = {(tmp_ / "elsewhere").string()};
    fs::create_directories(tmp_ / "elsewhere");
    EXPECT_EQ(dzip(add), ZE_CLEAR);
    EXPECT_EQ(add.lpszReturnString, r.reason);
  }
  unsetenv("VARDEX_HOME");
  ziptest::WriteDrives(tmp_ / "drives.ini", {{"A", drive().string(), 65536}});
  EXPECT_TRUE(fs::exists(src_ / "SAFE/CUSTOMER.DB"));
  EXPECT_TRUE(fs::exists(tmp_ / "prog/engine.ini"));

  // Beside the volumes: a file, a folder, a link named like a volume and a
  // name too long for one stay; an earlier backup's volume goes.
  WriteFile(tmp_ / "target.txt", "t");
  WriteFile(drive() / "notes.txt", std::string(20000, 'n'));
  WriteFile(drive() / "SUB/keep.txt", "k");
  WriteFile(drive() / "OLD.DBK", Random(1000, 9));
  WriteFile(drive() / "TOOLONGNAME.DBK", "x");
  fs::create_symlink(tmp_ / "target.txt", drive() / "LINK.DBK");
  const std::vector<fs::path> volumes = Span();
  for (const char* kept : {"notes.txt", "SUB/keep.txt", "TOOLONGNAME.DBK", "LINK.DBK"}) {
    EXPECT_TRUE(fs::exists(fs::symlink_status(drive() / kept))) << kept;
  }
  EXPECT_FALSE(fs::exists(drive() / "OLD.DBK"));
  EXPECT_EQ(ReadFile(tmp_ / "target.txt"), "t");
  for (const fs::path& v : volumes) EXPECT_LE(fs::file_size(v), 65536u - 20000u - 2u) << v;
}

// A volume renamed in place for 7-Zip as the next disk is asked for stays:
// the medium, now without room, is asked to be swapped. The set reads in
// 7-Zip.
TEST_F(DZipTest, VolumesRenamedInPlaceSurviveTheNextVolume) {
  ZIPCMDSTRUCT cmd = AddCommand("A:\\SALESDAT.DBK", MV_USEMULTI);
  int renamed = 0, noRoom = 0;
  fs::create_directories(tmp_ / "set");
  cmd.callbacks.lpMessageDisplay = [&](int msg, int, long long p1, long long, const std::string&,
                                       const std::string&, int& reply) {
    reply = kReplyOk;
    if (msg == kMsgNoRoom) {  // swap the medium: what it holds goes to the set
      ++noRoom;
      for (const auto& e : fs::directory_iterator(drive())) {
        fs::rename(e.path(), tmp_ / "set" / e.path().filename());
      }
    } else if (p1 >= 2) {
      char name[32];
      std::snprintf(name, sizeof name, "x.z%02d", ++renamed);
      fs::rename(drive() / "SALESDAT.DBK", drive() / name);
    }
  };
  ASSERT_EQ(dzip(cmd), ZE_OK);
  ASSERT_GE(renamed, 2);
  EXPECT_EQ(noRoom, renamed);
  fs::rename(drive() / "SALESDAT.DBK", tmp_ / "set/x.zip");
  EXPECT_EQ(Sh("cd " + (tmp_ / "set").string() + " && 7z t x.zip"), 0);
}

TEST_F(DZipTest, CancelAndRefusedActionsLeaveNothing) {
  int calls = 0;
  ZIPCMDSTRUCT add = AddCommand((tmp_ / "c.zip").string());
  add.callbacks.lpMinorStatus = [&](const std::string&, int, bool& cancel) {
    cancel = ++calls == 2;
  };
  EXPECT_EQ(dzip(add), ZE_ABORT);
  EXPECT_FALSE(fs::exists(tmp_ / "c.zip"));
  EXPECT_FALSE(fs::exists(tmp_ / "c.zip.tmp"));

  // Volumes: the second disk's request answered Cancel.
  add = AddCommand("A:\\SALESDAT.DBK", MV_USEMULTI);
  add.callbacks.lpMessageDisplay = [](int, int, long long p1, long long, const std::string&,
                                      const std::string&,
                                      int& reply) { reply = p1 >= 2 ? kReplyCancel : kReplyOk; };
  EXPECT_EQ(dzip(add), ZE_DISKCANCEL);

  ASSERT_EQ(dzip(*std::make_unique<ZIPCMDSTRUCT>(AddCommand((tmp_ / "c.zip").string()))), ZE_OK);
  UNZIPCMDSTRUCT x = ExtractCommand((tmp_ / "c.zip").string(), tmp_ / "out");
  x.callbacks.lpMajorStatus = [](const std::string& item, int, bool& cancel) {
    cancel = item.rfind("Item 2", 0) == 0;
  };
  EXPECT_EQ(dunzip(x), UE_CANCEL);
  for (int action : {0, 10, -1}) {
    ZIPCMDSTRUCT bad = AddCommand((tmp_ / "c.zip").string());
    bad.function = action;
    bad.callbacks.lpMajorStatus = [](const std::string&, int, bool&) { FAIL(); };
    EXPECT_EQ(dzip(bad), ZE_PARMS);
    UNZIPCMDSTRUCT badx = ExtractCommand((tmp_ / "c.zip").string(), tmp_ / "out");
    badx.function = action;
    EXPECT_EQ(dunzip(badx), UE_PARMS);
  }
}

// A file the workers cannot read, among others they compress at the same
// time, stops the add with that file's name and leaves no archive. Run as
// another user when the tests run as root, for whom no mode bars a read.
TEST_F(DZipTest, AnUnreadableFileFailsTheAddByNameAndLeavesNoArchive) {
  WriteFile(src_ / "METADATA/LOCKED.DB", TableLike(50000, 6));
  for (const auto& e : fs::recursive_directory_iterator(tmp_)) {
    fs::permissions(e.path(), fs::perms::all);
  }
  fs::permissions(tmp_, fs::perms::all);
  fs::permissions(src_ / "METADATA/LOCKED.DB", fs::perms::none);
  const fs::path archive = tmp_ / "locked.zip";
  const pid_t child = fork();
  if (child == 0) {
    if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(100);
    ZIPCMDSTRUCT add = AddCommand(archive.string());
    const int rc = dzip(add);
    std::ofstream(tmp_ / "failed") << add.lpszReturnPath;
    _exit(rc);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  ASSERT_NE(WEXITSTATUS(status), 100) << "cannot become another user";
  EXPECT_EQ(WEXITSTATUS(status), ZE_OPEN);
  EXPECT_EQ(ReadFile(tmp_ / "failed"), (src_ / "METADATA/LOCKED.DB").string());
  EXPECT_FALSE(fs::exists(archive));
  EXPECT_FALSE(fs::exists(archive.string() + ".tmp"));
}

}  // namespace

namespace {

// More entries than the end record can count: the Zip64 end records carry
// them, and both peers and our reader agree.
TEST(DZipZip64Test, MoreThan65535EntriesUseTheZip64EndRecords) {
  TempDir tmp;
  const fs::path src = fs::path(tmp.Path()) / "many";
  fs::create_directories(src);
  constexpr int kEntries = 65600;
  // Links to a few empty files: no inode each, so the folder fills quickly
  // (ext4 allows 65,000 links to one file).
  for (int i = 0; i < kEntries; ++i) {
    const fs::path name = src / ("F" + std::to_string(i));
    if (i % 40000 == 0) {
      std::ofstream(name).close();
    } else {
      fs::create_hard_link(src / ("F" + std::to_string(i - i % 40000)), name);
    }
  }
  WriteFile(src / "LAST.DB", "the last one");
  ZIPCMDSTRUCT add;
  add.function = kZipActionAdd;
  add.lpszZipFile = tmp / "many.zip";
  add.lpszItemList = "\"" + src.string() + "/*.*\" ";
  add.lpszComment = "MANY";
  add.addCommentFlag = true;
  add.wZipSubOptions = ZSO_RELATIVEPATH;
  ASSERT_EQ(dzip(add), ZE_OK);
  EXPECT_EQ(add.returnCount, kEntries + 1);
  EXPECT_EQ(Sh("7z t " + tmp / "many.zip"), 0);
  EXPECT_EQ(Sh("unzip -tq " + tmp / "many.zip"), 0);
  UNZIPCMDSTRUCT x;
  x.function = kUnzipActionExtract;
  x.lpszZipFile = tmp / "many.zip";
  x.lpszFileSpec = "LAST.DB";
  x.lpszDestination = tmp / "out";
  ASSERT_EQ(dunzip(x), UE_OK);
  EXPECT_EQ(x.returnCount, 1);
  EXPECT_EQ(ReadFile(tmp / "out/LAST.DB"), "the last one");
  x.function = kUnzipActionComment;
  ASSERT_EQ(dunzip(x), UE_OK);
  EXPECT_EQ(x.lpszReturnString, "MANY");
}

}  // namespace
