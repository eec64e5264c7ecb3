#include "DbiErrors.h"

#include <gtest/gtest.h>

#include <string>

#include "Status.h"

TEST(DbiErrors, LastErrorCarriesTextAndContextsAndIsPerThreadOverwritten) {
  engine::Status s = engine::Status::Corruption("block chain loops at block 7");
  s.WithContext("/data/CUSTOMER.DB").WithContext("Name");
  EXPECT_EQ(engine::RecordError(s), DBIERR_PHYSICALCORRUPT);
  EXPECT_EQ(ErrCat(s.code()), ERRCAT_DATACORRUPT);

  DBIErrInfo info{};
  ASSERT_EQ(DbiGetErrorInfo(false, info), DBIERR_NONE);
  EXPECT_EQ(info.iError, DBIERR_PHYSICALCORRUPT);
  EXPECT_STREQ(info.szErrCode, "block chain loops at block 7");
  EXPECT_STREQ(info.szContext1, "/data/CUSTOMER.DB");
  EXPECT_STREQ(info.szContext2, "Name");
  EXPECT_STREQ(info.szContext3, "");

  engine::RecordError(engine::Status::LockConflict("held"));
  DbiGetErrorInfo(false, info);
  EXPECT_EQ(ErrCat(info.iError), ERRCAT_LOCKCONFLICT);
  EXPECT_STREQ(info.szContext1, "");
}

TEST(DbiErrors, LongTextsAreCutToTheBufferAndContextsBeyondFourDropped) {
  engine::Status s(DBIERR_WRITEERR, std::string(500, 'x'));
  for (int i = 0; i < 6; ++i) s.WithContext("c" + std::to_string(i));
  engine::RecordError(s);
  DBIErrInfo info{};
  DbiGetErrorInfo(true, info);
  EXPECT_EQ(std::string(info.szErrCode).size(), static_cast<size_t>(DBIMAXMSGLEN));
  EXPECT_STREQ(info.szContext4, "c3");
  EXPECT_EQ(s.ToString().find("c4"), std::string::npos);
}

TEST(DbiErrors, ErrorStringKnowsTheAliasError) {
  DBIMSG text;
  DbiGetErrorString(DBIERR_UNKNOWNDB, text);
  EXPECT_NE(std::string(text).find("Invalid alias name"), std::string::npos);
  DbiGetErrorString(0x7777, text);
  EXPECT_STREQ(text, "");
}
