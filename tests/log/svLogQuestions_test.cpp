#include <vector>

#include "LogTestSupport.h"
#include "svLog.h"

namespace {

class LogQuestionTest : public LogFolderTest {
 protected:
  void SetUp() override {
    LogFolderTest::SetUp();
    ASSERT_TRUE(OpenLog());
  }
  std::string ResultBetween(const std::string& alias, TToolType tool, double start, double end) {
    SelectLogRange(alias, tool, "Result", start, end);
    return Answer();
  }
};

TEST_F(LogQuestionTest, BothWindowEndsCountToTheSecond) {
  ASSERT_TRUE(AddAt(Moment(2026, 12, 7, 10, 0, 0, 400), "SALES", ttPack, trSuccess));
  const double ten = Moment(2026, 12, 7, 10);
  // Windows starting and ending at the recorded second find it ...
  EXPECT_EQ(Count("SALES", ttPack, ten, Moment(2026, 12, 7, 11)), "1");
  EXPECT_EQ(Count("SALES", ttPack, Moment(2026, 12, 7, 9), ten), "1");
  EXPECT_EQ(Count("SALES", ttPack, ten, ten), "1");
  // ... as do ends given with a fraction of a second that rounds to it.
  EXPECT_EQ(Count("SALES", ttPack, Moment(2026, 12, 7, 10, 0, 0, 300), ten), "1");
  EXPECT_EQ(Count("SALES", ttPack, Moment(2026, 12, 7, 9), Moment(2026, 12, 7, 9, 59, 59, 600)),
            "1");
  // Each end reaches one second further out, so the neighbouring second
  // still counts but the one beyond it does not.
  EXPECT_EQ(Count("SALES", ttPack, Moment(2026, 12, 7, 10, 0, 1), Moment(2026, 12, 7, 11)), "1");
  EXPECT_EQ(Count("SALES", ttPack, Moment(2026, 12, 7, 10, 0, 2), Moment(2026, 12, 7, 11)), "0");
  EXPECT_EQ(Count("SALES", ttPack, Moment(2026, 12, 7, 9), Moment(2026, 12, 7, 9, 59, 59)), "0");
}

TEST_F(LogQuestionTest, TheRunJustMadeIsFoundBetweenTheMomentsAroundIt) {
  const double before = Moment(2026, 12, 7, 10, 0, 0, 900);
  ASSERT_TRUE(AddAt(Moment(2026, 12, 7, 10, 0, 1, 200), "SALES", ttCopy, trGiveUp));
  const double after = Moment(2026, 12, 7, 10, 0, 1, 300);
  EXPECT_EQ(ResultBetween("SALES", ttCopy, before, after), "G");
  EXPECT_EQ(ResultBetween("SALES", ttPack, before, after), "");
  EXPECT_EQ(ResultBetween("OTHER", ttCopy, before, after), "");
}

TEST_F(LogQuestionTest, AliasCaseDoesNotMatter) {
  ASSERT_TRUE(AddAt(Moment(2026, 12, 1, 8), "sales", ttUpdate, trSuccess));
  ASSERT_TRUE(AddAt(Moment(2026, 12, 2, 8), "SALES", ttUpdate, trSuccess));
  ASSERT_TRUE(AddAt(Moment(2026, 12, 3, 8), "Sales", ttUpdate, trCancel));
  for (const char* name : {"sales", "SALES", "sAlEs"}) {
    EXPECT_EQ(Count(name, ttUpdate, Moment(2026, 12, 1), Moment(2026, 12, 3, 23)), "3") << name;
    SelectLogResult(name, ttUpdate, "MAX(Moment)", trSuccess);
    EXPECT_NEAR(LogQueryField(0).AsDateTime(), Moment(2026, 12, 2, 8), kMs) << name;
    CloseLogQuery();
  }
  DeleteLogMoment("sAlEs", ttUpdate, Moment(2026, 12, 1, 8));
  EXPECT_EQ(Count("SALES", ttUpdate, Moment(2026, 12, 1), Moment(2026, 12, 3, 23)), "2");
}

TEST_F(LogQuestionTest, OwnStatementsInLogQuerySeeEveryRecord) {
  ASSERT_TRUE(AddAt(Moment(2026, 12, 1, 8), "SALES", ttPack, trSuccess));
  ASSERT_TRUE(AddAt(Moment(2026, 12, 1, 9), "STOCK", ttPack, trError));
  ASSERT_TRUE(AddAt(Moment(2026, 12, 1, 9), "STOCK", ttCopy, trError));
  EXPECT_EQ(Count("SALES", ttPack, Moment(2026, 12, 1), Moment(2026, 12, 2)), "1");
  engine::TQuery& q = LogQuery();
  q.SQL = {"SELECT COUNT(Alias) FROM \"VdxLog.db\" WHERE Tool = \"P\""};
  q.Open();
  EXPECT_EQ(Answer(), "2");
}

TEST_F(LogQuestionTest, EmptyAnswers) {
  ASSERT_TRUE(AddAt(Moment(2026, 12, 1, 8), "SALES", ttPack, trError));
  ASSERT_TRUE(AddAt(Moment(2026, 12, 1, 9), "SALES", ttPack, trBusy));
  SelectLogResult("SALES", ttPack, "MAX(Moment)", trSuccess);
  EXPECT_EQ(Answer(), "");
  EXPECT_EQ(LastSuccess("SALES", ttPack), 0);
  EXPECT_EQ(Count("SALES", ttPack, Moment(2026, 11, 1), Moment(2026, 11, 30)), "0");
  EXPECT_EQ(Count("NOBODY", ttPack, Moment(2026, 12, 1), Moment(2026, 12, 2)), "0");
}

TEST_F(LogQuestionTest, FutureRunsArePurgedLatestFirstBeforeTheLastSuccess) {
  // now_ is 2026-12-07 12:00.
  ASSERT_TRUE(AddAt(Moment(2026, 12, 6, 9), "SALES", ttPack, trSuccess));
  ASSERT_TRUE(AddAt(Moment(2026, 12, 8, 9), "SALES", ttPack, trSuccess));
  ASSERT_TRUE(AddAt(Moment(2026, 12, 9, 9), "SALES", ttPack, trError));
  ASSERT_TRUE(AddAt(Moment(2026, 12, 9, 9, 0, 0, 500), "SALES", ttPack, trSuccess));
  ASSERT_TRUE(AddAt(now_, "SALES", ttPack, trSuccess));                 // now: not future
  ASSERT_TRUE(AddAt(Moment(2026, 12, 9), "SALES", ttCopy, trSuccess));  // other tool
  ASSERT_TRUE(AddAt(Moment(2026, 12, 9), "OTHER", ttPack, trSuccess));  // other alias
  std::vector<bool> busy;
  SetLogBusyHandler([&busy](bool on) { busy.push_back(on); });
  EXPECT_NEAR(LastSuccess("sales", ttPack), now_, kMs);
  // One question per future second (9th, 8th) plus the one that ends the
  // purge, then the last-success question.
  EXPECT_EQ(busy.size(), 2u * 4);
  EXPECT_EQ(Count("SALES", ttPack, Moment(2026, 12, 1), Moment(2026, 12, 31)), "2");
  EXPECT_EQ(Count("SALES", ttCopy, Moment(2026, 12, 1), Moment(2026, 12, 31)), "1");
  EXPECT_EQ(Count("OTHER", ttPack, Moment(2026, 12, 1), Moment(2026, 12, 31)), "1");
}

TEST_F(LogQuestionTest, DeleteLogMomentTakesOneSecondEachWay) {
  for (int ms : {-1100, -900, 0, 900, 1100})
    ASSERT_TRUE(AddAt(Moment(2026, 12, 1, 8) + ms / 86400000.0, "SALES", ttPack, trSuccess));
  DeleteLogMoment("SALES", ttPack, Moment(2026, 12, 1, 8));
  EXPECT_EQ(LogQuery().RowsAffected(), 3);
  EXPECT_EQ(Count("SALES", ttPack, Moment(2026, 12, 1), Moment(2026, 12, 2)), "2");
}

TEST_F(LogQuestionTest, FailuresReachTheCallerWithTheCursorReset) {
  std::vector<bool> busy;
  SetLogBusyHandler([&busy](bool on) { busy.push_back(on); });
  EXPECT_THROW(SelectLog("SALES", ttPack, "Nonsense(Moment)"), engine::EDatabaseError);
  EXPECT_EQ(busy, (std::vector<bool>{true, false}));
  EXPECT_FALSE(LogQuery().Active());
  EXPECT_THROW(SelectLogResult("SALES", ttPack, "Result", trNotYet), EConvertTool);
  CloseLog();
  EXPECT_THROW(SelectLog("SALES", ttPack, "MAX(Moment)"), engine::EDatabaseError);
  EXPECT_THROW(PurgeFutureEntries("SALES", ttPack), engine::EDatabaseError);
  EXPECT_FALSE(LogQuery().Active());
  EXPECT_EQ(busy.back(), false);
}

TEST(LogDates, DaysBetweenCountsCalendarDays) {
  EXPECT_EQ(DaysBetween(Moment(2026, 12, 7, 23, 59), Moment(2026, 12, 8, 0, 1)), 1);
  EXPECT_EQ(DaysBetween(Moment(2026, 12, 7, 0, 1), Moment(2026, 12, 7, 23, 59)), 0);
  EXPECT_EQ(DaysBetween(Moment(2026, 12, 10, 8), Moment(2026, 12, 7, 20)), -3);
  EXPECT_EQ(DaysBetween(Moment(2026, 2, 28, 12), Moment(2026, 3, 1, 1)), 1);
  // Before 1899-12-30 the day numbers are negative; days still count whole.
  EXPECT_EQ(DaysBetween(Moment(1899, 12, 28, 18), Moment(1899, 12, 29, 6)), 1);
}

TEST(LogDates, ShiftSecondsRoundsTheTimeOfDayThenAdds) {
  auto shifted = [](double at, int seconds) {
    ShiftSeconds(at, seconds);
    return at;
  };
  const double tol = 1e-9;
  EXPECT_NEAR(shifted(Moment(2026, 12, 7, 10, 0, 0, 400), 0), Moment(2026, 12, 7, 10), tol);
  EXPECT_NEAR(shifted(Moment(2026, 12, 7, 10, 0, 0, 400), -1), Moment(2026, 12, 7, 9, 59, 59), tol);
  EXPECT_NEAR(shifted(Moment(2026, 12, 7, 10, 0, 0, 600), 1), Moment(2026, 12, 7, 10, 0, 2), tol);
  // Halves go to the even second.
  EXPECT_NEAR(shifted(Moment(2026, 12, 7, 10, 0, 0, 500), 0), Moment(2026, 12, 7, 10), tol);
  EXPECT_NEAR(shifted(Moment(2026, 12, 7, 10, 0, 1, 500), 0), Moment(2026, 12, 7, 10, 0, 2), tol);
  // Across midnight, both ways.
  EXPECT_NEAR(shifted(Moment(2026, 12, 7, 23, 59, 59), 1), Moment(2026, 12, 8), tol);
  EXPECT_NEAR(shifted(Moment(2026, 12, 8), -1), Moment(2026, 12, 7, 23, 59, 59), tol);
  EXPECT_NEAR(shifted(Moment(1899, 12, 29, 6), 1), Moment(1899, 12, 29, 6, 0, 1), tol);
}

}  // namespace
