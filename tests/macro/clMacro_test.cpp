// The macro text operations and the regional date-times of the commands.
#include "clMacro.h"

#include <gtest/gtest.h>

#include <QLocale>

#include "clMacroDate.h"

namespace {

struct MacroTextCase {
  const char* text;
  bool valid;
  const char* name = "";
  QStringList params = {};
};

// Names hold no delimiter, parameters no parenthesis or comma, the closing
// parenthesis comes last; blanks belong to what they stand in.
const MacroTextCase kTexts[] = {
    {"USETOOL(Copy,SALES)", true, "USETOOL", {"Copy", "SALES"}},
    {"usetool( Copy)", true, "usetool", {" Copy"}},
    {"NAME()", true, "NAME", {""}},
    {"NAME(a,)", true, "NAME", {"a", ""}},
    {"NAME(,,)", true, "NAME", {"", "", ""}},
    {"(1)", true, "", {"1"}},
    {"A B(x y)", true, "A B", {"x y"}},
    {"USETOOL(Copy", false},
    {"USETOOL", false},
    {"USETOOL(", false},
    {"USETOOL(Copy))", false},
    {"USETOOL(Copy) ", false},
    {"USETOOL(Co(py)", false},
    {"USE,TOOL(Copy)", false},
    {")", false},
    {"(", false},
    {"A(b,", false},
};

TEST(MacroText, ValidityNameAndParameters) {
  for (const MacroTextCase& c : kTexts) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(IsValidMacro(c.text), c.valid);
    if (!c.valid) continue;
    EXPECT_EQ(MacroName(c.text), QString(c.name));
    EXPECT_EQ(MacroParams(c.text), c.params);
  }
}

TEST(MacroText, CommandTableInItsOrderAndUnknownNames) {
  EXPECT_EQ(MacroEngine().Commands(),
            (QStringList{"INIT", "USETOOL", "USEDAILY", "USEWEEKLY", "USEMONTHLY", "USEOFTEN",
                         "SELECTALIAS", "SETPASSWORD", "CLOSE", "LOCKUSER", "UNLOCKUSER",
                         "LASTTIME", "STATISTICS", "SETDRIVE", "SETOPTIONS"}));
  QStringList params{"1"};
  QString result = "kept";
  MacroEngine().Execute("FOO", params, result);
  EXPECT_EQ(result, "(cannot handle macro)");
}

// 2026-12-08 = day 46364 after 1899-12-30.
constexpr double kToday = 46364.0;
constexpr double kSecond = 1.0 / 86400;

struct DateCase {
  const char* text;
  bool ok;
  double value;  // days since 1899-12-30
};

void ExpectDates(const std::vector<DateCase>& cases) {
  for (const DateCase& c : cases) {
    SCOPED_TRACE(c.text);
    double value = -1;
    EXPECT_EQ(ReadMacroDateTime(c.text, kToday + 0.5, &value), c.ok);
    if (c.ok) {
      EXPECT_NEAR(value, c.value, kSecond / 10);
    }
  }
}

TEST(MacroDate, GermanDatesAndTimes) {
  QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
  ExpectDates({
      {"08.12.2026", true, kToday},
      {"8.12.26", true, kToday},
      {"08.12.", true, kToday},
      {"08.12.2026 10:30", true, kToday + 10.5 / 24},
      {"08.12.2026 10:30:15", true, kToday + 10.5 / 24 + 15 * kSecond},
      {"01.01.1999", true, 36161},
      {"31.02.2026", false, 0},  // no such day: never shifted into March
      {"29.02.2026", false, 0},
      {"08.12.2026 24:00", false, 0},
      {"08.12.2026 10:61", false, 0},
      {"12/08/2026", false, 0},
      {"2026", false, 0},
      {"", false, 0},
      {"08.12.2026 x", false, 0},
  });
  EXPECT_EQ(MacroDateTimeText(kToday + 9.25 / 24 + 0.4 * kSecond), "08.12.2026 09:15:00");
  // What LASTTIME writes, USEOFTEN reads back.
  double back = 0;
  ASSERT_TRUE(ReadMacroDateTime(MacroDateTimeText(kToday + 0.75), kToday, &back));
  EXPECT_NEAR(back, kToday + 0.75, kSecond / 10);
  QLocale::setDefault(QLocale::c());
}

TEST(MacroDate, UsDatesAndTimes) {
  QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
  ExpectDates({
      {"12/8/2026", true, kToday},
      {"12/08/26", true, kToday},
      {"12/8", true, kToday},
      {"12/8/2026 1:30 PM", true, kToday + 13.5 / 24},
      {"12/8/2026 12:00:05 am", true, kToday + 5 * kSecond},
      {"12/8/2026 13:00", true, kToday + 13.0 / 24},
      {"12/8/2026 13:00 PM", false, 0},
      {"2/30/2026", false, 0},
      {"08.12.2026", false, 0},
  });
  const QString text = MacroDateTimeText(kToday + 13.5 / 24);
  EXPECT_TRUE(text.startsWith("12/8/2026 1:30:00")) << text.toStdString();
  EXPECT_TRUE(text.endsWith("PM")) << text.toStdString();
  double back = 0;
  ASSERT_TRUE(ReadMacroDateTime(text, kToday, &back));
  EXPECT_NEAR(back, kToday + 13.5 / 24, kSecond / 10);
  QLocale::setDefault(QLocale::c());
}

// Locales whose short date names the month in words (C among them) write
// and read ISO dates, so what LASTTIME writes can always be read back.
TEST(MacroDate, WordedLocalesUseIsoDates) {
  QLocale::setDefault(QLocale::c());
  ExpectDates({{"2026-12-08", true, kToday},
               {"2026-12-08 10:30", true, kToday + 10.5 / 24},
               {"8 Dec 2026", false, 0}});
  const QString text = MacroDateTimeText(kToday + 10.5 / 24);
  EXPECT_EQ(text, "2026-12-08 10:30:00");
}

}  // namespace
