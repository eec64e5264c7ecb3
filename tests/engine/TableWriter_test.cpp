// Tables written by the engine read back identically, through the engine and
// through pxlib: every field type, blobs of every kind, protected tables.
#include <gtest/gtest.h>

#include "DataFileHeader.h"
#include "ParadoxCrypt.h"
#include "ParadoxTable.h"
#include "PxlibReader.h"
#include "Session.h"
#include "TTable.h"
#include "TableFiles.h"
#include "TableVerify.h"
#include "TestTables.h"

using namespace engine;
using namespace enginetest;

std::uint32_t PasswordKeyFor(const TableDefinition& def);

namespace {

void Fill(const std::string& path, const TableDefinition& def, int records) {
  ASSERT_TRUE(CreateTable(Env::Default(), path, def).ok());
  std::unique_ptr<TableWriter> w;
  ASSERT_TRUE(TableWriter::Open(Env::Default(), path, PasswordKeyFor(def), &w).ok());
  for (int r = 0; r < records; ++r) ASSERT_TRUE(w->Append(EveryTypeRecord(r)).ok()) << r;
  ASSERT_TRUE(w->Sync().ok());
}

std::unique_ptr<ParadoxTable> OpenWith(const std::string& path, const std::string& password) {
  OpenOptions options;
  options.passwords = {password};
  std::unique_ptr<ParadoxTable> table;
  Status s = ParadoxTable::Open(path, options, &table);
  EXPECT_TRUE(s.ok()) << s.ToString();
  return table;
}

void ExpectSameAsWritten(const ParadoxTable& table, int records) {
  ASSERT_EQ(table.RecordCount(), static_cast<std::uint32_t>(records));
  TableCursor cursor = table.NewCursor();
  while (cursor.Next()) {
    const auto expected = EveryTypeRecord(static_cast<int>(cursor.RecordNumber()));
    for (std::size_t i = 0; i < expected.size(); ++i) {
      const FieldDesc& f = table.Fields()[i];
      const FieldValue got = cursor.Value(static_cast<int>(i));
      ASSERT_EQ(got.null, expected[i].null) << f.name << " record " << cursor.RecordNumber();
      if (got.null) continue;
      if (IsBlobType(f.type)) {
        std::string data;
        ASSERT_TRUE(table.ReadBlob(static_cast<int>(i), got, &data).ok());
        EXPECT_EQ(data, expected[i].s) << f.name << " record " << cursor.RecordNumber();
      } else if (f.type == FieldType::Bcd || f.type == FieldType::Alpha) {
        EXPECT_EQ(got.s, expected[i].s) << f.name;
      } else if (f.type == FieldType::Bytes) {
        EXPECT_EQ(got.s.substr(0, expected[i].s.size()), expected[i].s);
      } else {
        EXPECT_EQ(got.i, expected[i].i) << f.name;
        EXPECT_EQ(got.d, expected[i].d) << f.name;
      }
    }
  }
  EXPECT_TRUE(cursor.status().ok()) << cursor.status().ToString();
}

// pxlib cannot open blob files on this platform; it checks every other field
// and the blobs kept in the record.
void ExpectPxlibReadsTheSame(const std::string& path, int records) {
  const pxtest::PxTable px = pxtest::ReadWithPxlibIsolated(path, "");
  ASSERT_TRUE(px.ok) << px.error;
  ASSERT_EQ(px.rows.size(), static_cast<std::size_t>(records));
  for (int r = 0; r < records; ++r) {
    const auto expected = EveryTypeRecord(r);
    const auto& row = px.rows[static_cast<std::size_t>(r)];
    EXPECT_EQ(row[0].l, expected[0].i);
    EXPECT_EQ(row[1].null, expected[1].null);
    if (expected[1].null) continue;
    EXPECT_EQ(row[1].s, expected[1].s);
    EXPECT_EQ(row[2].l, expected[2].i);
    EXPECT_EQ(row[3].l, expected[3].i);
    EXPECT_EQ(row[4].l, expected[4].i);
    EXPECT_EQ(row[5].d, expected[5].d);
    EXPECT_EQ(row[6].d, expected[6].d);
    EXPECT_EQ(row[7].l, expected[7].i);
    if (expected[8].s.size() <= 5) {  // kept in the record, readable without the blob file
      EXPECT_EQ(row[8].s, expected[8].s);
    }
    EXPECT_EQ(row[13].l, expected[13].i);
    EXPECT_EQ(row[14].d, expected[14].d);
    EXPECT_EQ(row[15].s, expected[15].s);
    EXPECT_EQ(row[16].s.substr(0, expected[16].s.size()), expected[16].s);
  }
}

}  // namespace

TEST(TableWriter, EveryFieldTypeReadsBackHereAndInPxlib) {
  TempDir dir;
  const std::string path = dir / "EVERY.DB";
  Fill(path, EveryTypeDefinition(), 300);
  ExpectSameAsWritten(*OpenWith(path, ""), 300);
  ExpectPxlibReadsTheSame(path, 300);
  EXPECT_TRUE(VerifyTable(path).status.ok()) << VerifyTable(path).status.ToString();
}

TEST(TableWriter, ProtectedTableReadsOnlyWithItsPassword) {
  TempDir dir;
  const std::string path = dir / "SECRET.DB";
  TableDefinition def = EveryTypeDefinition();
  def.password = "Geheim7";
  Fill(path, def, 40);
  ExpectSameAsWritten(*OpenWith(path, "Geheim7"), 40);
  ExpectPxlibReadsTheSame(path, 40);  // pxlib decrypts with the header's key

  OpenOptions wrong;
  wrong.passwords = {"geheim7", "other"};
  std::unique_ptr<ParadoxTable> table;
  Status s = ParadoxTable::Open(path, wrong, &table);
  EXPECT_EQ(s.category(), ERRCAT_SECURITY) << s.ToString();

  // The password request is asked once the list is exhausted; it may add the
  // right password and have the open retried.
  int asked = 0;
  wrong.request_password = [&](std::vector<std::string>* passwords) {
    ++asked;
    passwords->push_back("Geheim7");
    return true;
  };
  EXPECT_TRUE(ParadoxTable::Open(path, wrong, &table).ok());
  EXPECT_EQ(asked, 1);
}

TEST(TableWriter, AppendingContinuesTheChainAndTheCounter) {
  TempDir dir;
  const std::string path = dir / "GROW.DB";
  Fill(path, EveryTypeDefinition(), 10);
  {
    std::unique_ptr<TableWriter> w;
    ASSERT_TRUE(TableWriter::Open(Env::Default(), path, 0, &w).ok());
    for (int r = 10; r < 120; ++r) {
      auto values = EveryTypeRecord(r);
      if (r >= 100) values[0] = FieldValue{};  // numbered by the table
      ASSERT_TRUE(w->Append(values).ok());
    }
    ASSERT_TRUE(w->Sync().ok());
  }
  auto table = OpenWith(path, "");
  ASSERT_EQ(table->RecordCount(), 120u);
  EXPECT_EQ(table->Header().auto_inc, 120u);  // the last number handed out
  TableCursor c = table->NewCursor();
  ASSERT_TRUE(c.Seek(110).ok());
  ASSERT_TRUE(c.Next());
  EXPECT_EQ(c.Value(0).i, 111);
}

TEST(TableWriter, DatasetCreatesInsertsAndReadsBack) {
  TempDir dir;
  TTable t;
  t.DatabaseName = dir.Dir();
  t.TableName = "VdxLog";
  t.FieldDefs.Add("Alias", FieldType::Alpha, 31);
  t.FieldDefs.Add("Tool", FieldType::Alpha, 1);
  t.FieldDefs.Add("Moment", FieldType::Timestamp);
  t.FieldDefs.Add("Note", FieldType::Memo, 10);
  t.CreateTable();
  t.Open();
  const double moment = 45000.5 + 1.0 / 86400;  // 2023-03-15 12:00:01
  for (int i = 0; i < 3; ++i) {
    t.Insert();
    t.FieldByName("alias").SetAsString("SALES");
    t.FieldByName("Tool").SetAsString("P");
    t.FieldByName("Moment").SetAsDateTime(moment + i);
    t.FieldByName("Note").SetAsString(std::string(40 + i, 'x'));
    t.Post();
  }
  EXPECT_EQ(t.RecordCount(), 3);
  t.First();
  EXPECT_EQ(t.FieldByName("Alias").AsString(), "SALES");
  EXPECT_NEAR(t.FieldByName("Moment").AsDateTime(), moment, 0.5 / 86400000);  // kept to the ms
  EXPECT_EQ(t.FieldByName("Moment").AsString(), "2023-03-15T12:00:01.000");
  EXPECT_EQ(t.FieldByName("Note").AsString(), std::string(40, 'x'));
  t.Next();
  t.Next();
  EXPECT_FALSE(t.Eof());
  t.Next();
  EXPECT_TRUE(t.Eof());
  EXPECT_THROW(t.FieldByName("Missing"), EDBEngineError);
  t.Insert();
  EXPECT_THROW(t.FieldByName("Moment").SetAsString("not a date"), EDBEngineError);
  t.Cancel();
  t.Close();
  EXPECT_TRUE(VerifyTable(dir / "VdxLog.DB").status.ok());
}

TEST(TableWriter, SessionPasswordOpensAProtectedTable) {
  TempDir dir;
  TTable t;
  t.DatabaseName = dir.Dir();
  t.TableName = "LOCKED";
  t.Password = "pw";
  t.FieldDefs.Add("A", FieldType::Alpha, 5);
  t.CreateTable();
  TSession& session = TSession::Default();
  session.RemoveAllPasswords();
  session.SetOnPassword(nullptr);
  try {
    t.Open();
    FAIL() << "opened without a password";
  } catch (const EDBEngineError& e) {
    EXPECT_EQ(ErrCat(e.ErrorCode()), ERRCAT_SECURITY);
  }
  session.SetOnPassword([&](const std::string&, bool& retry) {
    TSession::Default().AddPassword("pw");
    retry = true;
  });
  EXPECT_NO_THROW(t.Open());
  t.Close();
  session.SetOnPassword(nullptr);
  session.RemoveAllPasswords();
}

std::uint32_t PasswordKeyFor(const TableDefinition& def) { return PasswordKey(def.password); }

// A table derived from another keeps the header bytes we do not interpret,
// the source's level, code page and sort order.
TEST(TableWriter, DerivedTableCarriesUnknownHeaderBytesForward) {
  OpenOptions options;
  options.lock = false;
  std::unique_ptr<ParadoxTable> source;
  ASSERT_TRUE(
      ParadoxTable::Open(std::string(VARDEX_TEST_DATA_DIR) + "/paradox/bcd.db", options, &source)
          .ok());
  TempDir dir;
  const std::string path = dir / "DERIVED.DB";
  TableDefinition def;
  def.fields = {Field("A", FieldType::Bcd, 17, 2), Field("Extra", FieldType::Alpha, 12)};
  def.source = &source->Header();
  ASSERT_TRUE(CreateTable(Env::Default(), path, def).ok());
  std::unique_ptr<ParadoxTable> derived;
  ASSERT_TRUE(ParadoxTable::Open(path, options, &derived).ok());
  const std::string& a = source->Header().raw;
  const std::string& b = derived->Header().raw;
  for (std::size_t off :
       {0x12, 0x13, 0x16, 0x17, 0x1A, 0x1B, 0x2B, 0x2C, 0x3C, 0x48, 0x50, 0x53, 0x54,
        0x55, 0x57, 0x60, 0x61, 0x62, 0x63, 0x68, 0x69, 0x70, 0x71, 0x74, 0x75}) {
    EXPECT_EQ(a[off], b[off]) << "header byte " << off;
  }
  EXPECT_EQ(derived->Header().version_id, source->Header().version_id);
  EXPECT_EQ(derived->Header().code_page, 850);
  EXPECT_EQ(derived->Header().sort_order, source->Header().sort_order);
  EXPECT_EQ(derived->Header().sort_order_id, source->Header().sort_order_id);
  const pxtest::PxTable px = pxtest::ReadWithPxlibIsolated(path, "");
  EXPECT_TRUE(px.ok) << px.error;
}
