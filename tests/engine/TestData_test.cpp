// The sample tables kept in the repository read as the Paradox engine wrote
// them: the full dump of each, every level from 3.0 to 5, protected tables
// read by their key (their password is unknown), blobs, a free block.
#include <gtest/gtest.h>

#include <sstream>

#include "ParadoxTable.h"
#include "TableDump.h"

using namespace engine;

namespace {

std::string Dump(const std::string& name) {
  OpenOptions options;
  options.useHeaderKey = true;
  options.lock = false;
  std::unique_ptr<ParadoxTable> table;
  Status s =
      ParadoxTable::Open(std::string(VARDEX_TEST_DATA_DIR) + "/paradox/" + name, options, &table);
  EXPECT_TRUE(s.ok()) << s.ToString();
  if (!s.ok()) return "";
  std::ostringstream out;
  s = DumpTable(*table, out);
  EXPECT_TRUE(s.ok()) << s.ToString();
  return out.str();
}

}  // namespace

TEST(TestData, DumpsMatchTheEnginesTables) {
  EXPECT_EQ(Dump("bcd.db"),
            "{\"table\":\"bcd.db\",\"level\":5,\"codepage\":850,\"fields\":[{\"name\":\"A\","
            "\"type\":\"#\","
            "\"size\":2},{\"name\":\"B\",\"type\":\"#\",\"size\":0},{\"name\":\"C\",\"type\":\"#\","
            "\"size\":32}],"
            "\"records\":3}\n"
            "[\"1.23\",\"1\",\"0.12299999999999999800000000000000\"]\n"
            "[\"-1.23\",\"-1\",\"-0.12299999999999999800000000000000\"]\n"
            "[\"0.00\",null,\"0.99990000000000001180000000000000\"]\n");
  EXPECT_EQ(Dump("date7.db"),
            "{\"table\":\"date7.db\",\"level\":5,\"codepage\":850,\"fields\":[{\"name\":\"DATE\","
            "\"type\":\"D\","
            "\"size\":4},{\"name\":\"TIME\",\"type\":\"T\",\"size\":4}],\"records\":5}\n"
            "[\"2018-01-01\",\"10:00:00.000\"]\n[\"2018-02-01\",\"10:30:00.000\"]\n"
            "[\"2018-01-02\",\"09:25:25.000\"]\n[null,\"10:00:00.000\"]\n[\"2018-01-01\",null]\n");
  EXPECT_EQ(Dump("timestamp.db"),
            "{\"table\":\"timestamp.db\",\"level\":5,\"codepage\":850,\"fields\":[{\"name\":"
            "\"Timestamp\","
            "\"type\":\"@\",\"size\":8}],\"records\":2}\n[null]\n[\"2020-02-01T01:00:01.000\"]\n");
}

TEST(TestData, MemoFromTheBlobFile) {
  const std::string dump = Dump("memo.db");
  EXPECT_NE(dump.find("[2,\"01234567890\\u000a\"]"), std::string::npos) << dump;
  EXPECT_NE(dump.find("[1,\"0123456789001234567890"), std::string::npos);
}

TEST(TestData, Level3TableWithAFreeBlock) {
  const std::string dump = Dump("FILMS.DB");
  EXPECT_NE(dump.find("\"level\":3,\"codepage\":0"), std::string::npos);
  EXPECT_NE(dump.find("[\"A1001\",\"It Happened One "
                      "Night\",15,\"C.Gable,C.Colbert\",\"Classics\",1934,\"G\",2,20]"),
            std::string::npos);
  std::size_t lines = 0;
  for (char c : dump) lines += c == '\n';
  EXPECT_EQ(lines, 37u);  // 36 films in 4 of the file's 5 blocks
}

TEST(TestData, ProtectedTablesReadByKey) {
  const std::string v5 = Dump("encrypted.db"), v35 = Dump("encrypted35.db");
  EXPECT_NE(v5.find("[1,\"Value 1\"]\n[2,\"Value 2\"]\n[3,\"Value 3\"]\n[4,\"Last one\"]\n"),
            std::string::npos)
      << v5;
  EXPECT_NE(v35.find("\"level\":3.5"), std::string::npos);
  EXPECT_NE(v35.find("[1,\"Test 1\"]\n[2,\"Test2\"]\n"), std::string::npos) << v35;
  // Without the key or a password the table is refused, never read as garbage.
  std::unique_ptr<ParadoxTable> table;
  OpenOptions plain;
  plain.lock = false;
  const Status s = ParadoxTable::Open(std::string(VARDEX_TEST_DATA_DIR) + "/paradox/encrypted.db",
                                      plain, &table);
  EXPECT_EQ(s.category(), ERRCAT_SECURITY);
}
