// The dump on several threads: the same bytes, in the table's order, as on
// one; a read that fails part way gives the same lines and the same error;
// a stream that fails stops every thread and is reported.
#include "TableDump.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <fstream>
#include <sstream>

#include "ByteOrder.h"
#include "DataBlock.h"
#include "ParadoxTable.h"
#include "TestFiles.h"
#include "TestTables.h"

using namespace engine;
using namespace enginetest;

namespace {

// Fails every read of the data file that touches [fail_at, fail_at + 1)
// once armed (the open reads the block chain first).
class FailingReadEnv : public EnvWrapper {
 public:
  FailingReadEnv() : EnvWrapper(Env::Default()) {}
  std::atomic<std::uint64_t> fail_at{UINT64_MAX};

  Status OpenRead(const std::string& path, std::unique_ptr<RandomFile>* file) override {
    std::unique_ptr<RandomFile> base;
    Status s = base_->OpenRead(path, &base);
    if (s.ok()) file->reset(new File(std::move(base), this));
    return s;
  }

 private:
  class File : public RandomFile {
   public:
    File(std::unique_ptr<RandomFile> base, FailingReadEnv* env)
        : base_(std::move(base)), env_(env) {}
    Status ReadAt(std::uint64_t offset, std::size_t n, void* out) override {
      const std::uint64_t at = env_->fail_at;
      if (at >= offset && at < offset + n) return Status::IOError("read failed: injected fault");
      return base_->ReadAt(offset, n, out);
    }
    Status WriteAt(std::uint64_t offset, const void* data, std::size_t n) override {
      return base_->WriteAt(offset, data, n);
    }
    Status Truncate(std::uint64_t size) override { return base_->Truncate(size); }
    Status Sync() override { return base_->Sync(); }
    std::uint64_t Size() const override { return base_->Size(); }
    const std::string& Path() const override { return base_->Path(); }

   private:
    std::unique_ptr<RandomFile> base_;
    FailingReadEnv* env_;
  };
};

// Stores the blocks in groups of five that follow each other in the file,
// the groups in reverse order, so that the chain jumps back every fifth
// block.
void ShuffleBlocks(const std::string& path) {
  std::string file = ReadAll(path);
  DataFileHeader h;
  ASSERT_TRUE(h.DecodeFrom(file, file.size()).ok());
  const std::size_t size = h.BlockSize(), blocks = h.used_blocks;
  ASSERT_EQ(h.first_block, 1);
  ASSERT_EQ(file.size(), h.header_size + blocks * size);
  const std::size_t groups = (blocks + 4) / 5;
  std::vector<std::size_t> place(blocks);  // chain position -> file block (1-based)
  for (std::size_t i = 0, next = 1; i < groups; ++i) {
    const std::size_t g = groups - 1 - i;  // last group first in the file
    for (std::size_t k = g * 5; k < std::min(blocks, g * 5 + 5); ++k) place[k] = next++;
  }
  std::string out = file;
  for (std::size_t i = 0; i < blocks; ++i) {
    std::string block = file.substr(h.header_size + i * size, size);
    DataBlockHeader b = DataBlockHeader::DecodeFrom(Bytes(block));
    b.next = static_cast<std::uint16_t>(i + 1 < blocks ? place[i + 1] : 0);
    b.prev = static_cast<std::uint16_t>(i > 0 ? place[i - 1] : 0);
    b.EncodeTo(Bytes(block));
    out.replace(h.header_size + (place[i] - 1) * size, size, block);
  }
  h.first_block = static_cast<std::uint16_t>(place[0]);
  h.last_block = static_cast<std::uint16_t>(place[blocks - 1]);
  const std::string header = h.EncodeTo();
  out.replace(0, header.size(), header);
  std::ofstream(path, std::ios::binary | std::ios::trunc) << out;
}

class TableDumpTest : public ::testing::Test {
 protected:
  // 12,000 records of 2 KiB blocks: about 600 blocks, several runs of
  // blocks for the threads.
  void SetUp() override {
    TableDefinition def;
    def.fields = {Field("Id", FieldType::Long),        Field("Name", FieldType::Alpha, 30),
                  Field("Price", FieldType::Currency), Field("Day", FieldType::Date),
                  Field("At", FieldType::Timestamp),   Field("Amount", FieldType::Bcd, 17, 2)};
    def.block_size_kb = 2;
    path_ = dir_ / "ORDER.DB";
    ASSERT_TRUE(CreateTable(Env::Default(), path_, def).ok());
    std::unique_ptr<TableWriter> w;
    ASSERT_TRUE(TableWriter::Open(Env::Default(), path_, 0, &w).ok());
    for (int r = 0; r < kRecords; ++r) {
      const std::string name = r % 11 ? "row " + std::to_string(r) : "quote \"" + std::to_string(r);
      ASSERT_TRUE(w->Append({FieldValue::Int(r), FieldValue::Str(name), FieldValue::Float(r * 0.25),
                             FieldValue::Int(DayNumber(2000, 1, 1) + r / 3),
                             FieldValue::Float(6.3e13 + r * 4567.0),
                             FieldValue::Str(std::to_string(r) + ".5")})
                      .ok());
    }
    ASSERT_TRUE(w->Sync().ok());
  }

  // The dump on `threads` threads, its reads through env when given (armed
  // after the open).
  std::string Dump(int threads, Status* status, FailingReadEnv* env = nullptr) {
    OpenOptions options;
    options.env = env;
    if (env) env->fail_at = UINT64_MAX;
    std::unique_ptr<ParadoxTable> table;
    EXPECT_TRUE(ParadoxTable::Open(path_, options, &table).ok());
    if (env) env->fail_at = fail_at_;
    std::ostringstream out;
    *status = DumpTable(*table, out, threads);
    return out.str();
  }

  static constexpr int kRecords = 12000;
  TempDir dir_;
  std::string path_;
  std::uint64_t fail_at_ = UINT64_MAX;
};

TEST_F(TableDumpTest, ThreadsWriteTheRecordsInTheTablesOrder) {
  for (const bool shuffled : {false, true}) {
    SCOPED_TRACE(shuffled ? "blocks out of file order" : "blocks in file order");
    if (shuffled) ShuffleBlocks(path_);
    Status s1, s2, s4;
    const std::string one = Dump(1, &s1), two = Dump(2, &s2), four = Dump(4, &s4);
    ASSERT_TRUE(s1.ok() && s2.ok() && s4.ok()) << s2.ToString();
    EXPECT_EQ(std::count(one.begin(), one.end(), '\n'), kRecords + 1);
    EXPECT_TRUE(two == one);
    EXPECT_TRUE(four == one);
    // The chain's order: the records of the first block come first.
    EXPECT_NE(one.find("}\n[0,\"quote \\\"0\",0,\"2000-01-01\","), std::string::npos);
  }
}

TEST_F(TableDumpTest, AReadErrorGivesTheSameLinesAndErrorOnAnyThread) {
  ShuffleBlocks(path_);
  std::unique_ptr<ParadoxTable> table;
  ASSERT_TRUE(ParadoxTable::Open(path_, OpenOptions{}, &table).ok());
  const DataFileHeader& h = table->Header();
  const auto& chain = table->Chain();
  // A block at the start, in the middle and at the end of the chain.
  for (const std::size_t pos : {std::size_t{0}, chain.size() / 2 + 1, chain.size() - 1}) {
    SCOPED_TRACE("chain position " + std::to_string(pos));
    fail_at_ = BlockOffset(h, chain[pos].number) + 100;
    FailingReadEnv env;
    Status s1, s2;
    const std::string one = Dump(1, &s1, &env), two = Dump(2, &s2, &env);
    EXPECT_FALSE(s1.ok());
    EXPECT_EQ(s2.ToString(), s1.ToString());
    EXPECT_TRUE(two == one);
    // Whole lines only, up to the first record of the read that failed.
    std::size_t read = 0;
    while (TableCursor::WindowEnd(*table, read) <= pos) read = TableCursor::WindowEnd(*table, read);
    EXPECT_EQ(std::count(one.begin(), one.end(), '\n'),
              static_cast<std::ptrdiff_t>(chain[read].first_record) + 1);
    EXPECT_EQ(one.back(), '\n');
  }
}

// A stream that fails (a full disk; with exceptions on, the export's
// cancel) once it has taken `limit` bytes.
class ThrowingBuf : public std::streambuf {
 public:
  explicit ThrowingBuf(std::size_t limit) : left_(limit) {}

 protected:
  std::streamsize xsputn(const char*, std::streamsize n) override {
    if (static_cast<std::size_t>(n) > left_) return 0;
    left_ -= static_cast<std::size_t>(n);
    return n;
  }
  int_type overflow(int_type c) override { return xsputn(nullptr, 1) ? c : traits_type::eof(); }

 private:
  std::size_t left_;
};

TEST_F(TableDumpTest, AFailingStreamEndsEveryThreadAndIsReported) {
  std::unique_ptr<ParadoxTable> table;
  ASSERT_TRUE(ParadoxTable::Open(path_, OpenOptions{}, &table).ok());
  for (const int threads : {1, 2}) {
    for (const std::size_t limit : {std::size_t{1000}, std::size_t{300000}}) {
      for (const bool throws : {false, true}) {
        SCOPED_TRACE(std::to_string(threads) + " threads, " + std::to_string(limit) + " bytes");
        ThrowingBuf buf(limit);
        std::ostream out(&buf);
        if (throws) {
          out.exceptions(std::ios_base::badbit);
          EXPECT_THROW(DumpTable(*table, out, threads), std::ios_base::failure);
        } else {
          EXPECT_EQ(DumpTable(*table, out, threads).code(), DBIERR_WRITEERR);
        }
      }
    }
  }
}

}  // namespace
