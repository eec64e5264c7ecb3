// Field encodings against bytes the Paradox engine wrote (sample tables),
// blank values, limits, and the date arithmetic.
#include "FieldCodec.h"
#include "FieldText.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace engine;

namespace {

FieldDesc Desc(FieldType type, int size = 0, int decimals = 0) {
  FieldDesc f;
  f.name = "F";
  f.type = type;
  f.size = size ? size : FixedSize(type);
  f.decimals = decimals;
  return f;
}

std::string Hex(const std::uint8_t* p, std::size_t n) {
  static const char* digits = "0123456789abcdef";
  std::string out;
  for (std::size_t i = 0; i < n; ++i) {
    out += digits[p[i] >> 4];
    out += digits[p[i] & 15];
  }
  return out;
}

std::string Encoded(const FieldDesc& f, const FieldValue& v) {
  std::uint8_t buf[64] = {};
  EXPECT_TRUE(EncodeField(f, v, buf).ok());
  return Hex(buf, static_cast<std::size_t>(f.size));
}

}  // namespace

TEST(FieldCodec, IntegersUseFlippedSignBigEndian) {
  const FieldDesc s = Desc(FieldType::Short), l = Desc(FieldType::Long);
  EXPECT_EQ(Encoded(s, FieldValue::Int(1)), "8001");
  EXPECT_EQ(Encoded(s, FieldValue::Int(256)), "8100");
  EXPECT_EQ(Encoded(s, FieldValue::Int(-1)), "7fff");
  EXPECT_EQ(Encoded(l, FieldValue::Int(-2)), "7ffffffe");
  EXPECT_EQ(Encoded(s, FieldValue{}), "0000");
  std::uint8_t buf[4] = {};
  // The lowest value would read back as blank, so it is refused.
  EXPECT_FALSE(EncodeField(s, FieldValue::Int(-32768), buf).ok());
  EXPECT_FALSE(EncodeField(s, FieldValue::Int(32768), buf).ok());
  for (std::int64_t v : {-32767LL, -1LL, 0LL, 32767LL}) {
    ASSERT_TRUE(EncodeField(s, FieldValue::Int(v), buf).ok());
    EXPECT_EQ(DecodeField(s, buf).i, v);
  }
  const std::uint8_t blank[4] = {};
  EXPECT_TRUE(DecodeField(l, blank).null);
}

TEST(FieldCodec, DoublesRoundTripWithTheirSign) {
  const FieldDesc n = Desc(FieldType::Number);
  EXPECT_EQ(Encoded(n, FieldValue::Float(100.5)), "c059200000000000");
  EXPECT_EQ(Encoded(n, FieldValue::Float(0.0)), "8000000000000000");  // zero is not blank
  std::uint8_t buf[8];
  for (double d : {-200.0, -1e-300, 0.0, -0.0, 1.0 / 3, 1e300}) {
    ASSERT_TRUE(EncodeField(n, FieldValue::Float(d), buf).ok());
    const FieldValue v = DecodeField(n, buf);
    EXPECT_FALSE(v.null);
    EXPECT_EQ(v.d, d);
    EXPECT_EQ(std::signbit(v.d), std::signbit(d));
  }
}

TEST(FieldCodec, DecimalsMatchTheEnginesBytes) {
  const FieldDesc a = Desc(FieldType::Bcd, 17, 2), b = Desc(FieldType::Bcd, 17, 0);
  // Bytes of fields/bcd.db as the Paradox engine wrote them.
  EXPECT_EQ(Encoded(a, FieldValue::Str("1.23")), "c200000000000000000000000000000123");
  EXPECT_EQ(Encoded(a, FieldValue::Str("-1.23")), "42fffffffffffffffffffffffffffffedc");
  EXPECT_EQ(Encoded(b, FieldValue::Str("-1")), "40fffffffffffffffffffffffffffffffe");
  EXPECT_EQ(Encoded(a, FieldValue::Str("0")), "c200000000000000000000000000000000");
  std::uint8_t buf[17];
  EXPECT_FALSE(EncodeField(a, FieldValue::Str("1.234"), buf).ok());  // more decimals than the field
  EXPECT_FALSE(EncodeField(a, FieldValue::Str("12a"), buf).ok());
  EXPECT_FALSE(EncodeField(a, FieldValue::Str(std::string(31, '9')), buf).ok());  // 30 digits fit
  // Junk after the engine's significant digits reads as zeros.
  const std::uint8_t junk[17] = {0xe0, 0x12, 0x29, 0x99, 0x99, 0x99, 0x99, 0x99, 0x99,
                                 0x98, 0x0b, 0x00, 0xe0, 0x00, 0x00, 0xbf, 0x4a};
  EXPECT_EQ(DecodeField(Desc(FieldType::Bcd, 17, 32), junk).s,
            "0.12299999999999999800000000000000");
}

TEST(FieldCodec, DatesAndTimes) {
  EXPECT_EQ(DayNumber(1996, 5, 4), 728783);  // from the format notes
  EXPECT_EQ(DayNumber(100, 1, 1), 36160);
  EXPECT_EQ(DayNumber(1, 1, 1), 1);
  EXPECT_EQ(FormatDate(728783), "1996-05-04");
  EXPECT_EQ(FormatDate(DayNumber(2000, 2, 29)), "2000-02-29");
  const FieldDesc d = Desc(FieldType::Date), t = Desc(FieldType::Time),
                  ts = Desc(FieldType::Timestamp);
  EXPECT_DOUBLE_EQ(ToDateTime(d, FieldValue::Int(DayNumber(1899, 12, 30))), 0.0);
  EXPECT_DOUBLE_EQ(ToDateTime(d, FieldValue::Int(728783)), 35189.0);
  EXPECT_EQ(FromDateTime(d, 35189.75).i, 728783);
  EXPECT_EQ(FromDateTime(t, 0.5).i, 43200000);
  EXPECT_EQ(FormatTime(FromDateTime(t, 0.75).i), "18:00:00.000");
  const FieldValue stamp = FromDateTime(ts, 35189.5 + 1.5 / 86400);
  EXPECT_EQ(FormatTimestamp(stamp.d), "1996-05-04T12:00:01.500");
  EXPECT_NEAR(ToDateTime(ts, stamp), 35189.5 + 1.5 / 86400, 1e-9);
}

TEST(FieldCodec, TextParsingPerType) {
  FieldValue v;
  EXPECT_TRUE(ParseFieldText(Desc(FieldType::Date), "2020-02-29", &v).ok());
  EXPECT_EQ(FormatDate(v.i), "2020-02-29");
  EXPECT_FALSE(ParseFieldText(Desc(FieldType::Date), "2021-02-29", &v).ok());
  EXPECT_TRUE(ParseFieldText(Desc(FieldType::Timestamp), "2020-02-01 01:00:01", &v).ok());
  EXPECT_EQ(FormatTimestamp(v.d), "2020-02-01T01:00:01.000");
  EXPECT_TRUE(ParseFieldText(Desc(FieldType::Time), "23:59:59.999", &v).ok());
  EXPECT_EQ(v.i, 86399999);
  EXPECT_FALSE(ParseFieldText(Desc(FieldType::Time), "24:00", &v).ok());
  EXPECT_TRUE(ParseFieldText(Desc(FieldType::Logical), "False", &v).ok());
  EXPECT_EQ(v.i, 0);
  EXPECT_FALSE(ParseFieldText(Desc(FieldType::Long), "12x", &v).ok());
  EXPECT_TRUE(ParseFieldText(Desc(FieldType::Number), " -1.5e3 ", &v).ok());
  EXPECT_EQ(v.d, -1500.0);
  EXPECT_TRUE(ParseFieldText(Desc(FieldType::Short), "", &v).ok());
  EXPECT_TRUE(v.null);
  EXPECT_TRUE(ParseFieldText(Desc(FieldType::Alpha, 10), " padded ", &v).ok());
  EXPECT_EQ(v.s, " padded ");  // text keeps its spaces
}

TEST(FieldCodec, AlphaEndsAtTheFirstNul) {
  const FieldDesc a = Desc(FieldType::Alpha, 8);
  const std::uint8_t bytes[8] = {'a', 'b', 0, 'x', 'y', 0, 0, 0};
  EXPECT_EQ(DecodeField(a, bytes).s, "ab");
  std::uint8_t buf[8];
  EXPECT_FALSE(EncodeField(a, FieldValue::Str("123456789"), buf).ok());
}
