// The local SQL language: what it accepts, what it refuses and how, and the
// answers of SELECT, MAX and COUNT over rows held in memory.
#include "LocalSql.h"

#include <gtest/gtest.h>

using namespace engine;

namespace {

class Rows : public SqlRowSource {
 public:
  std::vector<std::string> Columns() const override { return {"Alias", "Tool", "Moment"}; }
  std::size_t RowCount() const override { return rows.size(); }
  SqlValue Value(std::size_t r, std::size_t c) const override { return rows[r][c]; }
  void Add(const std::string& alias, const std::string& tool, double moment) {
    rows.push_back({SqlValue::Text(alias), SqlValue::Text(tool),
                    moment < 0 ? SqlValue::Null() : SqlValue::DateTime(moment)});
  }
  std::vector<std::vector<SqlValue>> rows;
};

SqlStatement Parse(const std::string& text) {
  SqlStatement st;
  Status s = ParseSql(text, &st);
  EXPECT_TRUE(s.ok()) << text << ": " << s.ToString();
  return st;
}

DBIResult ParseError(const std::string& text) {
  SqlStatement st;
  return ParseSql(text, &st).code();
}

std::vector<SqlValue> Select(const std::string& text, const Rows& rows, SqlParams params = {}) {
  std::vector<SqlValue> out;
  Status s = RunSelect(Parse(text), rows, params, &out);
  EXPECT_TRUE(s.ok()) << s.ToString();
  return out;
}

}  // namespace

TEST(LocalSqlTest, ParsesTheLogStatements) {
  SqlStatement st = Parse(
      "SELECT\nMAX(Moment)\nFROM\n\"VdxLog.db\"\nWHERE Alias = \"SALES\"\nAND Tool = \"U\"\n"
      "AND Moment > :StartDate\nAND Moment < :EndDate\n");
  EXPECT_EQ(st.kind, SqlStatement::kSelect);
  EXPECT_EQ(st.aggregate, SqlStatement::kMax);
  EXPECT_EQ(st.column, "Moment");
  EXPECT_EQ(st.table, "VdxLog.db");
  ASSERT_EQ(st.where.size(), 4u);
  EXPECT_EQ(st.where[1].literal.text, "U");
  EXPECT_EQ(st.where[3].op, '<');
  EXPECT_EQ(SqlParamNames(st), (std::vector<std::string>{"StartDate", "EndDate"}));

  SqlStatement del = Parse(
      "DELETE FROM \"VdxLog.db\"\nWHERE Alias = \"SALES\"\nAND Tool = \"P\"\n"
      "AND Moment > :StartDate AND Moment < :EndDate");
  EXPECT_EQ(del.kind, SqlStatement::kDelete);
  EXPECT_EQ(del.where.size(), 4u);
  EXPECT_EQ(Parse("select count(Alias) from log where Tool = 'C';").aggregate,
            SqlStatement::kCount);
}

TEST(LocalSqlTest, RefusesEverythingElseWithAQueryError) {
  for (const char* unsupported :
       {"UPDATE log SET Tool = 'U'", "INSERT INTO log VALUES (1)", "SELECT * FROM log",
        "SELECT Alias, Tool FROM log", "SELECT MIN(Moment) FROM log",
        "SELECT Alias FROM log WHERE Tool = 'U' OR Tool = 'P'",
        "SELECT Alias FROM log ORDER BY Alias", "SELECT Alias FROM log WHERE Moment >= :A",
        "SELECT Alias FROM log WHERE Moment <> :A"}) {
    DBIResult code = ParseError(unsupported);
    EXPECT_EQ(ErrCat(code), ERRCAT_QUERY) << unsupported;
    EXPECT_EQ(code, DBIERR_QRYNOTSUPPORTED) << unsupported;
  }
  for (const char* broken :
       {"", "SELECT", "SELECT Alias", "SELECT Alias FROM", "SELECT MAX(Moment FROM log",
        "DELETE log", "SELECT Alias FROM log WHERE", "SELECT Alias FROM log WHERE Tool",
        "SELECT Alias FROM log WHERE Tool = ", "SELECT Alias FROM \"log",
        "SELECT Alias FROM log WHERE Moment > :", "SELECT Alias FROM log #"}) {
    DBIResult code = ParseError(broken);
    EXPECT_EQ(ErrCat(code), ERRCAT_QUERY) << broken;
  }
}

TEST(LocalSqlTest, AnswersSelectMaxAndCount) {
  Rows rows;
  rows.Add("SALES", "U", 100.5);
  rows.Add("SALES", "U", 102.25);
  rows.Add("SALES", "P", 200);
  rows.Add("sales", "U", 300);  // text compares exactly
  rows.Add("SALES", "U", -1);   // no moment

  auto max = Select("SELECT MAX(Moment) FROM t WHERE Alias = \"SALES\" AND Tool = \"U\"", rows);
  ASSERT_EQ(max.size(), 1u);
  EXPECT_EQ(max[0].kind, SqlValue::kDateTime);
  EXPECT_DOUBLE_EQ(max[0].number, 102.25);

  auto count = Select("SELECT COUNT(Moment) FROM t WHERE Alias = \"SALES\" AND Tool = \"U\"", rows);
  EXPECT_DOUBLE_EQ(count.at(0).number, 2);  // the null moment is not counted
  EXPECT_DOUBLE_EQ(Select("SELECT COUNT(Alias) FROM t", rows).at(0).number, 5);
  EXPECT_DOUBLE_EQ(Select("SELECT COUNT(*) FROM t WHERE Tool = 'X'", rows).at(0).number, 0);
  EXPECT_TRUE(Select("SELECT MAX(Moment) FROM t WHERE Tool = 'X'", rows).at(0).isNull());

  SqlParams window{{"A", SqlValue::DateTime(100.5)}, {"B", SqlValue::DateTime(300)}};
  auto inside = Select("SELECT Tool FROM t WHERE Moment > :A AND Moment < :B", rows, window);
  ASSERT_EQ(inside.size(), 2u);  // both ends are excluded
  EXPECT_EQ(inside[0].text, "U");
  EXPECT_EQ(inside[1].text, "P");
}

TEST(LocalSqlTest, ReportsBadColumnsTypesAndMissingParameters) {
  Rows rows;
  rows.Add("SALES", "U", 1);
  std::vector<SqlValue> out;
  EXPECT_EQ(RunSelect(Parse("SELECT Nope FROM t"), rows, {}, &out).code(), DBIERR_NOSUCHFIELD);
  EXPECT_EQ(RunSelect(Parse("SELECT Alias FROM t WHERE Nope = 1"), rows, {}, &out).code(),
            DBIERR_NOSUCHFIELD);
  EXPECT_EQ(RunSelect(Parse("SELECT Alias FROM t WHERE Moment > :A"), rows, {}, &out).code(),
            DBIERR_QRYPARAM);
  EXPECT_EQ(ErrCat(RunSelect(Parse("SELECT Alias FROM t WHERE Alias > 3"), rows, {}, &out).code()),
            ERRCAT_QUERY);
  // Column names are matched without regard to case.
  EXPECT_EQ(Select("SELECT alias FROM t WHERE TOOL = 'U'", rows).size(), 1u);
}

TEST(LocalSqlTest, HundredThousandRows) {
  Rows rows;
  const char* tools = "UPCRBT";
  for (int i = 0; i < 100000; ++i)
    rows.Add(i % 2 ? "SALES" : "STOCK", std::string(1, tools[i % 6]), 40000 + i / 1000.0);
  // Rows with i % 6 == 1 are SALES and 'P': 16667 of them, the last at i = 99997.
  auto count = Select("SELECT COUNT(Alias) FROM t WHERE Alias = 'SALES' AND Tool = 'P'", rows);
  EXPECT_DOUBLE_EQ(count.at(0).number, 16667);
  auto max = Select("SELECT MAX(Moment) FROM t WHERE Alias = 'SALES' AND Tool = 'P'", rows);
  EXPECT_DOUBLE_EQ(max.at(0).number, 40000 + 99997 / 1000.0);
  SqlParams window{{"S", SqlValue::DateTime(40010)}, {"E", SqlValue::DateTime(40020)}};
  std::vector<std::size_t> matched;
  ASSERT_TRUE(
      MatchRows(Parse("DELETE FROM t WHERE Moment > :S AND Moment < :E"), rows, window, &matched)
          .ok());
  EXPECT_EQ(matched.size(), 9999u);  // 10001 .. 19999
  EXPECT_EQ(matched.front(), 10001u);
}
