// The components' named operations: a set written with WriteSet reads back
// through ReadComment, Check and Extract, and each failure a caller tells
// apart arrives as its own result, with the library's code kept.
#include "cpZip.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "TempDir.h"
#include "ZipTestSupport.h"

namespace fs = std::filesystem;

namespace {

using ziptest::WriteFile;

class CpZipTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteFile(db_ / "METADATA/CUSTOMER.DB", std::string(5000, 'm'));
    WriteFile(db_ / "SAFE/CUSTOMER.DB", std::string(9000, 's'));
    WriteFile(db_ / "SAFE/ORDERS.DB", "not named");
    fs::create_directories(tmp_ / "drive");
    SetDrive("A", tmp_ / "drive");
    zip_.OnMessage = unzip_.OnMessage = [this](int, int, long long, long long, const std::string&,
                                               const std::string&, int& reply) { reply = reply_; };
  }

  void SetDrive(const std::string& letter, const fs::path& folder) {
    ziptest::WriteDrives(drives_, {{letter, folder.string()}});
  }

  TZipSet Set(const std::string& comment = "SalesData") const {
    TZipSet set;
    set.archive = "A:\\SALESDAT.DBK";
    set.drivesFile = drives_.string();
    set.comment = comment;
    set.password = "secret";
    set.baseFolder = db_.string();
    set.patterns = {(db_ / "METADATA/CUST*.*").string(), (db_ / "SAFE/CUST*.*").string()};
    return set;
  }

  TUnzipSet ReadSet(std::vector<std::string> tops = {}) const {
    return {"A:\\SALESDAT.DBK", drives_.string(), "secret", std::move(tops)};
  }

  TempDir tmpdir_;
  fs::path tmp_ = tmpdir_.Path();
  fs::path db_ = tmp_ / "sales db";  // the item list quotes the blank
  fs::path drives_ = tmp_ / "drives.ini";
  int reply_ = kReplyOk;
  TZipFile zip_;
  TUnzipFile unzip_;
};

TEST_F(CpZipTest, AWrittenSetReadsBack) {
  ASSERT_EQ(zip_.WriteSet(Set()), TZipResult::Ok);
  std::string comment;
  EXPECT_EQ(unzip_.ReadComment(ReadSet(), comment), TUnzipResult::Ok);
  EXPECT_EQ(comment, "SalesData");
  EXPECT_EQ(unzip_.Check(ReadSet({"METADATA", "SAFE"})), TUnzipResult::Ok);

  const fs::path out = tmp_ / "out";
  ASSERT_EQ(unzip_.Extract(ReadSet({"METADATA"}), out.string()), TUnzipResult::Ok);
  EXPECT_EQ(fs::file_size(out / "METADATA/CUSTOMER.DB"), 5000u);
  EXPECT_FALSE(fs::exists(out / "SAFE"));
  EXPECT_EQ(unzip_.Skipped(), std::vector<std::string>{"SAFE/CUSTOMER.DB"});

  // A set without a comment answers an empty one, not a failure.
  ASSERT_EQ(zip_.WriteSet(Set("")), TZipResult::Ok);
  comment = "stale";
  EXPECT_EQ(unzip_.ReadComment(ReadSet(), comment), TUnzipResult::Ok);
  EXPECT_EQ(comment, "");
}

TEST_F(CpZipTest, FailuresArriveAsTheirResultWithTheCodeKept) {
  reply_ = kReplyCancel;
  EXPECT_EQ(zip_.WriteSet(Set()), TZipResult::DiskCancelled);
  EXPECT_EQ(zip_.ErrorCode(), ZE_DISKCANCEL);
  std::string comment;
  EXPECT_EQ(unzip_.ReadComment(ReadSet(), comment), TUnzipResult::Cancelled);
  EXPECT_EQ(unzip_.ErrorCode(), UE_CANCEL);

  // Nobody to ask for the disk: the missing set cannot be read.
  TUnzipFile alone;
  EXPECT_EQ(alone.ReadComment(ReadSet(), comment), TUnzipResult::CannotRead);
  EXPECT_EQ(alone.ErrorCode(), UE_OPEN);

  reply_ = kReplyOk;

  ASSERT_EQ(zip_.WriteSet(Set()), TZipResult::Ok);
  EXPECT_EQ(unzip_.Check(ReadSet({"ELSEWHERE"})), TUnzipResult::NoTopFolders);

  // Volumes never go into the database they hold.
  SetDrive("A", db_ / "SAFE");
  EXPECT_EQ(zip_.WriteSet(Set()), TZipResult::FolderRefused);
  EXPECT_EQ(zip_.ErrorCode(), ZE_CLEAR);
  EXPECT_EQ(zip_.RefusalReason(), "database");
  EXPECT_EQ(zip_.RefusalPath(), (db_ / "SAFE").string());
}

}  // namespace
