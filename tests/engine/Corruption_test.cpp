// Damaged tables are reported as damaged, by opening and by verify, with a
// data-corruption error; never a crash, a hang or a huge allocation.
#include <gtest/gtest.h>

#include <fstream>

#include "DataBlock.h"
#include "ParadoxTable.h"
#include "TableVerify.h"
#include "TestFiles.h"
#include "TestTables.h"

using namespace engine;
using namespace enginetest;

namespace {

void WriteFile(const std::string& path, const std::string& data) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << data;
}

class CorruptionTest : public ::testing::Test {
 protected:
  // Four full 2 KiB blocks of 50-byte records behind a 2 KiB header.
  void SetUp() override {
    TableDefinition def;
    def.fields = {Field("Id", FieldType::Long), Field("Name", FieldType::Alpha, 38),
                  Field("Price", FieldType::Number)};
    def.block_size_kb = 2;
    path_ = dir_ / "DAMAGE.DB";
    ASSERT_TRUE(CreateTable(Env::Default(), path_, def).ok());
    std::unique_ptr<TableWriter> w;
    ASSERT_TRUE(TableWriter::Open(Env::Default(), path_, 0, &w).ok());
    records_ = 4 * w->Header().RecordsPerBlock();
    for (int r = 0; r < records_; ++r) {
      ASSERT_TRUE(w->Append({FieldValue::Int(r), FieldValue::Str("row " + std::to_string(r)),
                             FieldValue::Float(r * 0.5)})
                      .ok());
    }
    ASSERT_TRUE(w->Sync().ok());
    pristine_ = ReadAll(path_);
    ASSERT_EQ(pristine_.size(), 2048u * 5);
  }

  // Opens and verifies the current file; both must report damage.
  void ExpectDamaged(const std::string& what) {
    std::unique_ptr<ParadoxTable> table;
    OpenOptions options;
    options.lock = false;
    Status s = ParadoxTable::Open(path_, options, &table);
    EXPECT_EQ(s.category(), ERRCAT_DATACORRUPT) << what << ": " << s.ToString();
    EXPECT_EQ(s.contexts()[0], path_) << what;
    const VerifyResult r = VerifyTable(path_);
    EXPECT_EQ(r.status.category(), ERRCAT_DATACORRUPT) << what << ": " << r.status.ToString();
  }

  void Poke(std::size_t offset, std::uint8_t value) {
    std::string damaged = pristine_;
    damaged[offset] = static_cast<char>(value);
    WriteFile(path_, damaged);
  }

  TempDir dir_;
  std::string path_;
  std::string pristine_;
  int records_ = 0;
};

TEST_F(CorruptionTest, PristineTableIsSound) {
  const VerifyResult r = VerifyTable(path_);
  EXPECT_TRUE(r.status.ok()) << r.status.ToString();
  EXPECT_EQ(r.records, static_cast<std::uint32_t>(records_));
}

TEST_F(CorruptionTest, TruncatedAtEvery512ByteBoundary) {
  for (std::size_t size = 0; size < pristine_.size(); size += 512) {
    WriteFile(path_, pristine_.substr(0, size));
    ExpectDamaged("truncated to " + std::to_string(size));
  }
}

TEST_F(CorruptionTest, HeaderFieldsFlipped) {
  // Every byte the reader relies on: record and header size, file type,
  // block size, counts, first block, field and key counts, level, and the
  // field descriptors.
  std::vector<std::size_t> offsets = {0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06,
                                      0x07, 0x08, 0x09, 0x0A, 0x0B, 0x0C, 0x0D,
                                      0x0E, 0x0F, 0x21, 0x22, 0x23, 0x24, 0x39};
  for (std::size_t i = 0; i < 6; ++i) offsets.push_back(0x78 + i);
  for (std::size_t offset : offsets) {
    Poke(offset, static_cast<std::uint8_t>(pristine_[offset] ^ 0xFF));
    ExpectDamaged("header byte " + std::to_string(offset) + " flipped");
  }
}

TEST_F(CorruptionTest, BrokenBlockChains) {
  const std::size_t block1 = 2048, block2 = 4096;
  Poke(block1, 1);  // block 1 names itself as its successor
  ExpectDamaged("loop");
  Poke(block1, 9);  // a block past the file
  ExpectDamaged("next out of range");
  Poke(block2 + 2, 3);  // block 2 names the wrong predecessor
  ExpectDamaged("wrong predecessor");
  Poke(block1 + 5, 0x7F);  // more record bytes than the block holds
  ExpectDamaged("record size in block");
  Poke(block1 + 4, 0x31);  // not a whole number of records
  ExpectDamaged("partial record");
  Poke(block2 + 0, 0);  // chain ends early: the records of blocks 3 and 4 go missing
  ExpectDamaged("short chain");
}

TEST_F(CorruptionTest, UnknownFieldTypeIsNamed) {
  Poke(0x78 + 2, 0x42);
  std::unique_ptr<ParadoxTable> table;
  OpenOptions options;
  options.lock = false;
  Status s = ParadoxTable::Open(path_, options, &table);
  EXPECT_EQ(s.code(), DBIERR_UNKNOWNFIELDTYPE);
  EXPECT_NE(s.message().find("unknown type"), std::string::npos) << s.message();
}

// A final block cut short after its last record loses nothing: the table
// reads (as areas/ZIPCODES.DB does) and verify notes the short block.
TEST_F(CorruptionTest, FinalBlockCutAfterItsRecordsStillReads) {
  std::unique_ptr<TableWriter> w;
  ASSERT_TRUE(TableWriter::Open(Env::Default(), path_, 0, &w).ok());
  ASSERT_TRUE(w->Append({FieldValue::Int(-1), FieldValue::Str("last"), FieldValue{}}).ok());
  ASSERT_TRUE(w->Sync().ok());
  w.reset();
  const std::string grown = ReadAll(path_);
  WriteFile(path_, grown.substr(0, grown.size() - 1024));
  const VerifyResult r = VerifyTable(path_);
  ASSERT_TRUE(r.status.ok()) << r.status.ToString();
  EXPECT_EQ(r.records, static_cast<std::uint32_t>(records_ + 1));
  EXPECT_NE(r.note.find("cut short"), std::string::npos);
  // One byte less than the record needs is damage.
  WriteFile(path_, grown.substr(0, 2048 * 5 + 6 + 49));
  ExpectDamaged("last record cut");
}

TEST(BlobCorruption, DamagedBlobFileIsReported) {
  TempDir dir;
  const std::string path = dir / "BLOBS.DB";
  TableDefinition def;
  def.fields = {Field("Id", FieldType::Long), Field("Notes", FieldType::Memo, 11)};
  ASSERT_TRUE(CreateTable(Env::Default(), path, def).ok());
  std::unique_ptr<TableWriter> w;
  ASSERT_TRUE(TableWriter::Open(Env::Default(), path, 0, &w).ok());
  ASSERT_TRUE(w->Append({FieldValue::Int(1), FieldValue::Str(std::string(100, 'a'))}).ok());
  ASSERT_TRUE(w->Append({FieldValue::Int(2), FieldValue::Str(std::string(9000, 'b'))}).ok());
  ASSERT_TRUE(w->Sync().ok());
  w.reset();
  ASSERT_TRUE(VerifyTable(path).status.ok());
  const std::string mb_path = dir / "BLOBS.MB";
  const std::string mb = ReadAll(mb_path);
  WriteFile(mb_path, mb.substr(0, 4096 * 2 + 100));  // the big blob's block is cut
  EXPECT_EQ(VerifyTable(path).status.category(), ERRCAT_DATACORRUPT);
  std::string freed = mb;
  freed[4096 * 2] = 4;  // the big blob's block marked free
  WriteFile(mb_path, freed);
  EXPECT_EQ(VerifyTable(path).status.category(), ERRCAT_DATACORRUPT);
  std::string huge = ReadAll(path);
  // The second record's blob length claims 4 GiB: refused before any allocation.
  const std::size_t rs = 4 + 11, rec2 = 2048 + 6 + rs + 4 + 1 + 4;  // leader of 1 byte
  huge[rec2] = huge[rec2 + 1] = huge[rec2 + 2] = huge[rec2 + 3] = '\xFF';
  WriteFile(mb_path, mb);
  WriteFile(path, huge);
  const VerifyResult r = VerifyTable(path);
  EXPECT_EQ(r.status.category(), ERRCAT_DATACORRUPT);
  EXPECT_NE(r.status.message().find("exceeds the blob file"), std::string::npos)
      << r.status.ToString();
}

}  // namespace
