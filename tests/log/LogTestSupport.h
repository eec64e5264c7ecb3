// Test helpers for the tool log: a program folder of its own per test (the
// log lives there), a pinned clock, and moments built from calendar parts.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "FieldValue.h"
#include "TempDir.h"
#include "svLog.h"

// The log keeps moments to the millisecond; a day number read back may
// differ from the one stored in the last bits.
inline constexpr double kMs = 1.0 / 86400000.0;

// Day number (days since 1899-12-30) of a local date and time.
inline double Moment(int y, int mo, int d, int h = 0, int mi = 0, int s = 0, int ms = 0) {
  const double day =
      static_cast<double>(engine::DayNumber(y, mo, d) - engine::DayNumber(1899, 12, 30));
  return day + ((h * 3600.0 + mi * 60.0 + s) * 1000.0 + ms) / 86400000.0;
}

class LogFolderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ::setenv("VARDEX_HOME", dir_.Path().c_str(), 1);
    now_ = Moment(2026, 12, 7, 12, 0, 0);
    SetLogClock([this] { return now_; });
  }
  void TearDown() override {
    CloseLog();
    SetLogClock({});
    SetLogBusyHandler({});
    ::unsetenv("VARDEX_HOME");
  }

  std::string LogPath() const { return dir_ / kLogTableName; }

  // Stores a run as if the clock showed `at`.
  bool AddAt(double at, const std::string& alias, TToolType tool, TToolResult result) {
    const double keep = now_;
    now_ = at;
    const bool ok = AddLogEntry(alias, tool, result);
    now_ = keep;
    return ok;
  }

  // Field 0 of a question's answer as text, the query closed afterwards.
  static std::string Answer() {
    std::string text = LogQueryField(0).AsString();
    CloseLogQuery();
    return text;
  }
  std::string Count(const std::string& alias, TToolType tool, double start, double end) {
    SelectLogRange(alias, tool, "COUNT(Alias)", start, end);
    return Answer();
  }
  double LastSuccess(const std::string& alias, TToolType tool) {
    PurgeFutureEntries(alias, tool);
    SelectLogResult(alias, tool, "MAX(Moment)", trSuccess);
    const double at = LogQueryField(0).AsDateTime();
    CloseLogQuery();
    return at;
  }

  TempDir dir_;
  double now_ = 0;
};
