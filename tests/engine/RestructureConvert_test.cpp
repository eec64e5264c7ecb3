// The field conversions of a restructure, case by case as the engine's
// restructure page lists them: what converts, how, and what becomes blank.
#include <gtest/gtest.h>

#include "FieldConvert.h"
#include "TestTables.h"

namespace {

using engine::FieldType;
using engine::FieldValue;
using enginetest::Field;

struct Case {
  const char* what;
  engine::FieldDesc from, to;
  FieldValue in;
  bool ok;
  FieldValue expected;  // compared by the member the target type uses
};

void ExpectConverts(const Case& c) {
  FieldValue out;
  const bool ok = engine::ConvertValue(c.from, c.to, c.in, &out);
  ASSERT_EQ(ok, c.ok) << c.what;
  if (!ok) {
    EXPECT_TRUE(out.null) << c.what;
    return;
  }
  EXPECT_EQ(out.null, c.expected.null) << c.what;
  EXPECT_EQ(out.i, c.expected.i) << c.what;
  EXPECT_DOUBLE_EQ(out.d, c.expected.d) << c.what;
  EXPECT_EQ(out.s, c.expected.s) << c.what;
}

const std::int64_t kDay = engine::DayNumber(2024, 2, 29);
constexpr double kMsPerDay = 86400000.0;

TEST(RestructureConvertTest, NumbersTextAndLogicals) {
  const Case cases[] = {
      {"text to short", Field("a", FieldType::Alpha, 8), Field("s", FieldType::Short),
       FieldValue::Str(" 12 "), true, FieldValue::Int(12)},
      {"text that is no number",
       Field("a", FieldType::Alpha, 8),
       Field("s", FieldType::Short),
       FieldValue::Str("12a"),
       false,
       {}},
      {"number rounds to long", Field("n", FieldType::Number), Field("i", FieldType::Long),
       FieldValue::Float(-2.5), true, FieldValue::Int(-3)},
      {"long too large for short",
       Field("i", FieldType::Long),
       Field("s", FieldType::Short),
       FieldValue::Int(40000),
       false,
       {}},
      {"number too large for long",
       Field("n", FieldType::Number),
       Field("i", FieldType::Long),
       FieldValue::Float(1e10),
       false,
       {}},
      {"long to money", Field("i", FieldType::Long), Field("m", FieldType::Currency),
       FieldValue::Int(7), true, FieldValue::Float(7)},
      {"decimal rounds to fewer places", Field("b", FieldType::Bcd, 17, 3),
       Field("b", FieldType::Bcd, 17, 2), FieldValue::Str("-12.345"), true,
       FieldValue::Str("-12.35")},
      {"long to decimal", Field("i", FieldType::Long), Field("b", FieldType::Bcd, 17, 2),
       FieldValue::Int(-4), true, FieldValue::Str("-4.00")},
      {"decimal to number", Field("b", FieldType::Bcd, 17, 2), Field("n", FieldType::Number),
       FieldValue::Str("1.25"), true, FieldValue::Float(1.25)},
      {"short to text", Field("s", FieldType::Short), Field("a", FieldType::Alpha, 4),
       FieldValue::Int(-7), true, FieldValue::Str("-7")},
      {"number too wide for text",
       Field("n", FieldType::Number),
       Field("a", FieldType::Alpha, 3),
       FieldValue::Float(1234.5),
       false,
       {}},
      {"logical to short", Field("l", FieldType::Logical), Field("s", FieldType::Short),
       FieldValue::Int(1), true, FieldValue::Int(1)},
      {"logical to decimal", Field("l", FieldType::Logical), Field("b", FieldType::Bcd, 17, 1),
       FieldValue::Int(1), true, FieldValue::Str("1.0")},
      {"two is no logical",
       Field("s", FieldType::Short),
       Field("l", FieldType::Logical),
       FieldValue::Int(2),
       false,
       {}},
      {"text to logical", Field("a", FieldType::Alpha, 6), Field("l", FieldType::Logical),
       FieldValue::Str("False"), true, FieldValue::Int(0)},
      {"logical to text", Field("l", FieldType::Logical), Field("a", FieldType::Alpha, 6),
       FieldValue::Int(1), true, FieldValue::Str("True")},
      {"shorter text that fits", Field("a", FieldType::Alpha, 20), Field("a", FieldType::Alpha, 5),
       FieldValue::Str("plum"), true, FieldValue::Str("plum")},
      {"shorter text that does not fit is cut", Field("a", FieldType::Alpha, 20),
       Field("a", FieldType::Alpha, 5), FieldValue::Str("apricot"), true, FieldValue::Str("apric")},
      {"blank stays blank", Field("a", FieldType::Alpha, 8), Field("d", FieldType::Date),
       FieldValue{}, true, FieldValue{}},
  };
  for (const Case& c : cases) ExpectConverts(c);
}

TEST(RestructureConvertTest, DatesTimesAndBlobs) {
  const double stamp = static_cast<double>(kDay) * kMsPerDay + 3723000.0;  // 01:02:03
  const Case cases[] = {
      {"date to timestamp", Field("d", FieldType::Date), Field("t", FieldType::Timestamp),
       FieldValue::Int(kDay), true, FieldValue::Float(static_cast<double>(kDay) * kMsPerDay)},
      {"timestamp to date", Field("t", FieldType::Timestamp), Field("d", FieldType::Date),
       FieldValue::Float(stamp), true, FieldValue::Int(kDay)},
      {"timestamp to time", Field("t", FieldType::Timestamp), Field("h", FieldType::Time),
       FieldValue::Float(stamp), true, FieldValue::Int(3723000)},
      {"time has no date",
       Field("h", FieldType::Time),
       Field("d", FieldType::Date),
       FieldValue::Int(5),
       false,
       {}},
      {"date to text", Field("d", FieldType::Date), Field("a", FieldType::Alpha, 10),
       FieldValue::Int(kDay), true, FieldValue::Str("2024-02-29")},
      {"text to date", Field("a", FieldType::Alpha, 10), Field("d", FieldType::Date),
       FieldValue::Str("2024-02-29"), true, FieldValue::Int(kDay)},
      {"date to number",
       Field("d", FieldType::Date),
       Field("n", FieldType::Number),
       FieldValue::Int(kDay),
       false,
       {}},
      {"memo to text", Field("m", FieldType::Memo, 11), Field("a", FieldType::Alpha, 10),
       FieldValue::Str("short"), true, FieldValue::Str("short")},
      {"long memo to text is cut", Field("m", FieldType::Memo, 11), Field("a", FieldType::Alpha, 4),
       FieldValue::Str("too long"), true, FieldValue::Str("too ")},
      {"text to formatted memo", Field("a", FieldType::Alpha, 10),
       Field("f", FieldType::FmtMemo, 10), FieldValue::Str("x y"), true, FieldValue::Str("x y")},
      {"graphic to binary", Field("g", FieldType::Graphic, 10), Field("b", FieldType::Blob, 10),
       FieldValue::Str("\x89PNG"), true, FieldValue::Str("\x89PNG")},
      {"binary is no graphic",
       Field("b", FieldType::Blob, 10),
       Field("g", FieldType::Graphic, 10),
       FieldValue::Str("xx"),
       false,
       {}},
      {"graphic is no text",
       Field("g", FieldType::Graphic, 10),
       Field("a", FieldType::Alpha, 10),
       FieldValue::Str("xx"),
       false,
       {}},
      {"text to bytes", Field("a", FieldType::Alpha, 4), Field("y", FieldType::Bytes, 4),
       FieldValue::Str("ab"), true, FieldValue::Str("ab")},
  };
  for (const Case& c : cases) ExpectConverts(c);
  EXPECT_TRUE(engine::CanConvert(FieldType::Timestamp, FieldType::Time));
  EXPECT_FALSE(engine::CanConvert(FieldType::Time, FieldType::Timestamp));
  EXPECT_FALSE(engine::CanConvert(FieldType::Ole, FieldType::Memo));
}

TEST(RestructureConvertTest, DecimalRounding) {
  EXPECT_EQ(engine::RoundDecimalText("9.995", 2), "10.00");
  EXPECT_EQ(engine::RoundDecimalText("-0.004", 2), "0.00");  // no negative zero
  EXPECT_EQ(engine::RoundDecimalText(".5", 0), "1");
  EXPECT_EQ(engine::RoundDecimalText("0.1230", 32), ".12300000000000000000000000000000");
}

// What each conversion tells its caller it lost: the restructure keeps the
// records concerned whole, so a loss must never go unreported.
TEST(RestructureConvertTest, LossesAreReported) {
  using engine::ConvertLoss;
  struct LossCase {
    const char* what;
    engine::FieldDesc from, to;
    FieldValue in;
    ConvertLoss loss;
  };
  const LossCase cases[] = {
      {"text cut", Field("a", FieldType::Alpha, 20), Field("a", FieldType::Alpha, 5),
       FieldValue::Str("apricot"), ConvertLoss::Cut},
      {"text that fits", Field("a", FieldType::Alpha, 20), Field("a", FieldType::Alpha, 5),
       FieldValue::Str("plum"), ConvertLoss::None},
      {"half rounds into a short", Field("n", FieldType::Number), Field("s", FieldType::Short),
       FieldValue::Float(1.5), ConvertLoss::Rounded},
      {"whole number into a short", Field("n", FieldType::Number), Field("s", FieldType::Short),
       FieldValue::Float(2), ConvertLoss::None},
      {"money into a short", Field("m", FieldType::Currency), Field("s", FieldType::Short),
       FieldValue::Float(12.25), ConvertLoss::Rounded},
      {"decimal given fewer places", Field("b", FieldType::Bcd, 17, 3),
       Field("b", FieldType::Bcd, 17, 2), FieldValue::Str("-12.345"), ConvertLoss::Rounded},
      {"trailing zero dropped only", Field("b", FieldType::Bcd, 17, 3),
       Field("b", FieldType::Bcd, 17, 2), FieldValue::Str("-12.340"), ConvertLoss::None},
      {"number into a decimal", Field("n", FieldType::Number), Field("b", FieldType::Bcd, 17, 2),
       FieldValue::Float(1.005), ConvertLoss::Rounded},
      {"text into a decimal", Field("a", FieldType::Alpha, 10), Field("b", FieldType::Bcd, 17, 1),
       FieldValue::Str("3.14"), ConvertLoss::Rounded},
      {"out of range", Field("i", FieldType::Long), Field("s", FieldType::Short),
       FieldValue::Int(40000), ConvertLoss::Blanked},
      {"number too wide for text", Field("n", FieldType::Number), Field("a", FieldType::Alpha, 3),
       FieldValue::Float(1234.5), ConvertLoss::Blanked},
      {"blank", Field("n", FieldType::Number), Field("s", FieldType::Short), FieldValue{},
       ConvertLoss::None},
  };
  for (const LossCase& c : cases) {
    FieldValue out;
    ConvertLoss loss = ConvertLoss::None;
    engine::ConvertValue(c.from, c.to, c.in, &out, &loss);
    EXPECT_EQ(loss, c.loss) << c.what;
  }
}

}  // namespace
