// The field conversions of a restructure, case by case as the engine's
// restructure page lists them: what converts, how, and what becomes blank.
#include <gtest/gtest.h>

#include <map>
#include <sstream>

#include "FieldConvert.h"
#include "FieldText.h"
#include "Restructure.h"
#include "RestructureChecks.h"
#include "RestructureLike.h"
#include "TableWriter.h"
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

// Every ordered pair of field types, through a whole restructure: a table
// holding one value of the source type per record becomes one whose field
// has the target type. A value kept comes back unchanged when converted to
// its former type again (or, between blob kinds, byte for byte) and its
// record stays out of PROBLEMS; a value that loses anything (cut, rounded,
// blanked, a part dropped) has its record kept in PROBLEMS whole, as the
// source held it.
//
// Each row is a source type with its sample values; each token, in the
// order of kTargets, names the sample that must come through and the one
// that must be set aside ('-': none of that kind for the pair).
TEST(RestructureConvertTest, EveryPairOfTypesKeepsOrSetsAside) {
  using engine::FieldDesc;
  const std::string kTargets = "ADSI$NLMBFOGT@+#Y";
  auto target = [](char letter) {
    FieldType t{};
    EXPECT_TRUE(engine::TypeFromLetter(letter, &t));
    if (t == FieldType::Alpha) return Field("V", t, 10);
    if (t == FieldType::Bytes) return Field("V", t, 4);
    if (t == FieldType::Bcd) return Field("V", t, 17, 1);
    return Field("V", t, engine::IsBlobType(t) ? 11 : 0);
  };
  const double stamp = static_cast<double>(kDay) * kMsPerDay;
  const std::vector<FieldValue> texts = {FieldValue::Str("12"),
                                         FieldValue::Str("2024-02-29"),
                                         FieldValue::Str("01:02:03.004"),
                                         FieldValue::Str("True"),
                                         FieldValue::Str("too long for ten"),
                                         FieldValue::Str("2024-02-29T01:02:03.004"),
                                         FieldValue::Str("12.25"),
                                         FieldValue::Str("12.5")};
  const std::vector<FieldValue> integers = {FieldValue::Int(1), FieldValue::Int(100000),
                                            FieldValue::Int(-5)};
  const std::vector<FieldValue> floats = {FieldValue::Float(1), FieldValue::Float(12.25),
                                          FieldValue::Float(123456.789012)};
  const std::vector<FieldValue> blob = {
      FieldValue::Str(std::string("\x01\x02"
                                  "bin\0ary",
                                  9))};
  struct Row {
    FieldDesc from;
    std::vector<FieldValue> samples;
    const char* tokens;
  };
  using V = FieldValue;
  // clang-format off
  const Row rows[] = {
      // source                          samples                        A  D  S  I  $  N  L  M  B  F  O  G  T  @  +  #  Y
      {Field("V", FieldType::Alpha, 30),   texts,                      "04 14 04 04 04 04 34 4- -0 4- -0 -0 24 54 04 76 04"},
      {Field("V", FieldType::Memo, 11),    texts,                      "04 14 04 04 04 04 34 4- 4- 4- -4 -4 24 54 04 76 -0"},
      {Field("V", FieldType::FmtMemo, 11), texts,                      "04 14 04 04 04 04 34 4- 4- 4- -4 -4 24 54 04 76 -0"},
      {Field("V", FieldType::Date),        {V::Int(kDay)},             "0- 0- -0 -0 -0 -0 -0 0- -0 0- -0 -0 -0 0- -0 -0 -0"},
      {Field("V", FieldType::Short),       {V::Int(1), V::Int(-300)},  "0- -0 0- 0- 0- 0- 01 0- -0 0- -0 -0 -0 -0 0- 0- -0"},
      {Field("V", FieldType::Long),        integers,                   "0- -0 01 0- 0- 0- 02 0- -0 0- -0 -0 -0 -0 0- 0- -0"},
      {Field("V", FieldType::AutoInc),     integers,                   "0- -0 01 0- 0- 0- 02 0- -0 0- -0 -0 -0 -0 0- 0- -0"},
      {Field("V", FieldType::Currency),    floats,                     "12 -0 01 01 1- 1- 01 1- -0 1- -0 -0 -0 -0 01 01 -0"},
      {Field("V", FieldType::Number),      floats,                     "12 -0 01 01 1- 1- 01 1- -0 1- -0 -0 -0 -0 01 01 -0"},
      {Field("V", FieldType::Logical),     {V::Int(1)},                "0- -0 0- 0- 0- 0- 0- 0- -0 0- -0 -0 -0 -0 0- 0- -0"},
      {Field("V", FieldType::Blob, 11),    blob,                       "-0 -0 -0 -0 -0 -0 -0 -0 0- -0 -0 -0 -0 -0 -0 -0 -0"},
      {Field("V", FieldType::Ole, 11),     blob,                       "-0 -0 -0 -0 -0 -0 -0 -0 0- -0 0- -0 -0 -0 -0 -0 -0"},
      {Field("V", FieldType::Graphic, 11), blob,                       "-0 -0 -0 -0 -0 -0 -0 -0 0- -0 -0 0- -0 -0 -0 -0 -0"},
      // 01:02:03.004 is 12 wide, too wide for A10
      {Field("V", FieldType::Time),        {V::Int(3723004)},          "-0 -0 -0 -0 -0 -0 -0 0- -0 0- -0 -0 0- -0 -0 -0 -0"},
      {Field("V", FieldType::Timestamp),   {V::Float(stamp), V::Float(stamp + 3723004)},
                                                                       "-0 01 -0 -0 -0 -0 -0 1- -0 1- -0 -0 -1 1- -0 -0 -0"},
      {Field("V", FieldType::Bcd, 17, 2),  {V::Str("12.00"), V::Str("12.25"), V::Str("1.00"), V::Str("123456789012345678.12")},
                                                                       "13 -0 01 01 13 13 21 1- -0 1- -0 -0 -0 -0 01 01 -0"},
      {Field("V", FieldType::Bytes, 6),    {V::Str("abcd"), V::Str("abcdef")},
                                                                       "-0 -0 -0 -0 -0 -0 -0 -0 -0 -0 -0 -0 -0 -0 -0 -0 01"},
  };
  // clang-format on
  ASSERT_EQ(std::size(rows), kTargets.size());
  // A value as text; bytes without the zeros that pad them to their width.
  auto text = [](FieldType type, const FieldValue& v) {
    std::string t = engine::ValueText(type, v);
    if (type == FieldType::Bytes || engine::IsBlobType(type)) t.erase(t.find_last_not_of('\0') + 1);
    return t;
  };
  // One pair; a failed assertion ends that pair only.
  auto check = [&](const Row& row, char to_letter, const std::string& token) {
    const FieldDesc to = target(to_letter);
    SCOPED_TRACE(std::string(1, engine::TypeLetter(row.from.type)) + " -> " + to_letter);
    TempDir tmp;
    // Record 1 the value that must come through, record 2 the one that
    // must be set aside (each only where the pair has one).
    engine::TableDefinition def;
    def.fields = {Field("Id", FieldType::Long), row.from};
    const std::string live = tmp / "T.DB";
    ASSERT_TRUE(engine::CreateTable(engine::Env::Default(), live, def).ok());
    std::uint32_t records = 0;
    {
      std::unique_ptr<engine::TableWriter> w;
      ASSERT_TRUE(engine::TableWriter::Open(engine::Env::Default(), live, 0, &w).ok());
      for (int k = 0; k < 2; ++k) {
        if (token[k] == '-') continue;
        ASSERT_TRUE(w->Append({FieldValue::Int(k + 1), row.samples.at(token[k] - '0')}).ok());
        ++records;
      }
      ASSERT_TRUE(w->Flush().ok());
    }
    // The values as the source holds them, by Id.
    auto values = [](const std::string& path, FieldType type) {
      std::map<std::int64_t, FieldValue> out;
      auto table = restructuretest::OpenForTest(path);
      if (!table) return out;
      engine::TableCursor c = table->NewCursor();
      while (c.Next()) {
        FieldValue v = c.Value(1);
        if (engine::IsBlobType(type) && !v.null) EXPECT_TRUE(table->ReadBlob(1, v, &v.s).ok());
        out[c.Value(0).i] = v;
      }
      return out;
    };
    std::map<std::int64_t, FieldValue> before = values(live, row.from.type);
    ASSERT_EQ(before.size(), records);
    def.fields = {Field("Id", FieldType::Long), to};
    std::filesystem::create_directories(tmp / "METADATA");
    const std::string ref = tmp / "METADATA/T.DB";
    ASSERT_TRUE(engine::CreateTable(engine::Env::Default(), ref, def).ok());
    engine::RestructureRequest request =
        engine::BuildLikeRequest(restructuretest::StructureOf(live),
                                 restructuretest::StructureOf(ref), "T.DB", tmp.Dir(), ref);
    engine::RestructureOptions options;
    options.useHeaderKey = true;
    engine::RestructureReport report;
    const engine::Status s = engine::RestructureTable(live, request.desc, options, &report);
    ASSERT_TRUE(s.ok()) << s.ToString();
    EXPECT_EQ(report.records, records);

    // The kept value reads as the text did, or converted back is the
    // source's; blob kinds and bytes, which have no way back, keep their
    // bytes.
    std::map<std::int64_t, FieldValue> after = values(live, to.type);
    ASSERT_EQ(after.size(), records);
    const FieldValue& kept = after[1];
    const engine::FieldKind kind = engine::KindOf(row.from.type);
    if (token[0] != '-') {
      std::string got = text(to.type, kept);
      if (kind != engine::FieldKind::Text && kind != engine::FieldKind::Memo &&
          engine::CanConvert(to.type, row.from.type) && !engine::IsBlobType(row.from.type)) {
        FieldValue back;
        ASSERT_TRUE(engine::ConvertValue(to, row.from, kept, &back));
        got = text(row.from.type, back);
      }
      EXPECT_EQ(got, text(row.from.type, before[1])) << "kept as " << text(to.type, kept);
    }
    // PROBLEMS holds exactly the record that lost something, as it was.
    const bool lossy = token[1] != '-';
    EXPECT_EQ(report.problems, lossy ? 1u : 0u);
    ASSERT_EQ(report.problemsTable.empty(), !lossy) << report.problemsTable;
    if (!lossy) return;
    auto problems = restructuretest::OpenForTest(report.problemsTable);
    ASSERT_TRUE(problems);
    ASSERT_EQ(problems->Fields().size(), 2u);
    EXPECT_EQ(problems->Fields()[1].type, row.from.type);
    std::map<std::int64_t, FieldValue> set_aside = values(report.problemsTable, row.from.type);
    ASSERT_EQ(set_aside.size(), 1u);
    ASSERT_EQ(set_aside.begin()->first, 2);
    EXPECT_FALSE(before[2].null);
    EXPECT_EQ(engine::ValueText(row.from.type, set_aside[2]),
              engine::ValueText(row.from.type, before[2]));
  };
  int pairs = 0;
  for (const Row& row : rows) {
    std::istringstream tokens(row.tokens);
    for (const char to_letter : kTargets) {
      std::string token;
      ASSERT_TRUE(tokens >> token);
      check(row, to_letter, token);
      ++pairs;
    }
  }
  EXPECT_EQ(pairs, 17 * 17);
}

}  // namespace
