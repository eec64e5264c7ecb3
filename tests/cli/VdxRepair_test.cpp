// vdx repair on real sample tables damaged in chosen places: every record
// of the blocks left whole comes back as pxlib reads it from the original,
// every blob that could be read comes back as it was, no record is
// invented, the table verifies afterwards, the damaged files are kept in
// DAMAGED/ and the printed counts (lost: every record of the original the
// result lacks) and exit code are right. A dry run writes nothing and
// prints the same counts.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <tuple>

#include "ByteOrder.h"
#include "DataBlock.h"
#include "DataFileHeader.h"
#include "FieldCodec.h"
#include "ParadoxTable.h"
#include "PxlibReader.h"
#include "TestTables.h"
#include "VdxRun.h"

using namespace engine;
namespace fs = std::filesystem;

namespace {

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void Patch(const std::string& path, std::uint64_t offset, const std::string& bytes) {
  std::fstream f(path, std::ios::binary | std::ios::in | std::ios::out);
  f.seekp(static_cast<std::streamoff>(offset));
  f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::map<std::string, std::string> Snapshot(const std::string& dir) {
  std::map<std::string, std::string> files;
  for (const auto& e : fs::recursive_directory_iterator(dir))
    if (e.is_regular_file()) files[e.path().string()] = ReadFile(e.path().string());
  return files;
}

// What the engine reads from a sound table: the chain and each record's
// blobs (empty when blank).
struct Original {
  DataFileHeader header;
  std::vector<BlockRef> chain;
  std::vector<std::vector<std::string>> blobs;  // per record, per field
  std::vector<std::vector<BlobRef>> refs;
};

Original ReadOriginal(const std::string& db) {
  Original o;
  OpenOptions open;
  open.lock = false;
  std::unique_ptr<ParadoxTable> t;
  EXPECT_TRUE(ParadoxTable::Open(db, open, &t).ok());
  if (!t) return o;
  o.header = t->Header();
  o.chain = t->Chain();
  TableCursor c = t->NewCursor();
  while (c.Next()) {
    o.blobs.emplace_back(t->Fields().size());
    o.refs.emplace_back(t->Fields().size());
    for (std::size_t i = 0; i < t->Fields().size(); ++i) {
      if (!IsBlobType(t->Fields()[i].type)) continue;
      const FieldValue v = c.Value(static_cast<int>(i));
      o.refs.back()[i] = v.blob;
      EXPECT_TRUE(t->ReadBlob(static_cast<int>(i), v, &o.blobs.back()[i]).ok());
    }
  }
  return o;
}

std::uint64_t RecordOffset(const Original& o, std::size_t block_pos, std::size_t record) {
  return BlockOffset(o.header, o.chain[block_pos].number) + 6 + record * o.header.record_size;
}

// The first record whose blob in this field lives in the blob file.
std::size_t FirstBlobInFile(const Original& o, std::size_t field) {
  for (std::size_t r = 0; r < o.refs.size(); ++r)
    if (o.refs[r][field].BlockOffset() != 0) return r;
  return 0;
}

}  // namespace

TEST(VdxRepair, SalvagesWhatIsReadableFromDamagedSampleTables) {
  struct Case {
    const char* what;
    const char* folder;  // under the test data folder; copied whole
    const char* table;
    // Damages the copy; returns the ordinals of the records it destroys
    // and, in *blobs_lost, the records whose blob in field `blob_field` it
    // destroys.
    std::function<std::set<std::size_t>(const std::string& db, const Original& o,
                                         std::set<std::size_t>* blobs_lost)>
        damage;
    int blob_field;  // -1: none
    int exit;
    const char* says;  // besides the counts
  };
  const auto lose_block = [](const Original& o, std::size_t pos) {
    std::set<std::size_t> lost;
    for (std::size_t r = 0; r < o.chain[pos].records; ++r) lost.insert(o.chain[pos].first_record + r);
    return lost;
  };
  // Moves a block's record count by `delta` records.
  const auto move_count = [](const std::string& db, const Original& o, std::size_t pos, int delta) {
    const std::string bytes = ReadFile(db);
    const std::uint64_t at = BlockOffset(o.header, o.chain[pos].number) + 4;
    const int size = static_cast<std::int16_t>(static_cast<std::uint8_t>(bytes[at]) |
                                               static_cast<std::uint8_t>(bytes[at + 1]) << 8) +
                     delta * o.header.record_size;
    Patch(db, at, std::string{static_cast<char>(size & 0xFF), static_cast<char>(size >> 8 & 0xFF)});
  };
  // The damage of moving block `pos`'s count: a lowered count loses the
  // block's last record, a raised one must lose nothing.
  const auto count_moved = [&](std::size_t pos, int delta) {
    return [&, pos, delta](const std::string& db, const Original& o, std::set<std::size_t>*) {
      move_count(db, o, pos, delta);
      std::set<std::size_t> lost;
      if (delta < 0) lost.insert(o.chain[pos].first_record + o.chain[pos].records - 1u);
      return lost;
    };
  };
  const Case cases[] = {
      {"a zeroed block header", "paradox-rental", "RENTAL.DB",
       [&](const std::string& db, const Original& o, std::set<std::size_t>*) {
         Patch(db, BlockOffset(o.header, o.chain[4].number), std::string(6, '\0'));
         return std::set<std::size_t>{};
       },
       -1, 0, "the header's record count gives it 12 records, which read whole and in key order"},
      {"the headers of two blocks zeroed", "paradox-rental", "RENTAL.DB",
       [&](const std::string& db, const Original& o, std::set<std::size_t>*) {
         std::set<std::size_t> lost;
         for (std::size_t pos : {4, 9}) {
           Patch(db, BlockOffset(o.header, o.chain[pos].number), std::string(6, '\0'));
           const auto l = lose_block(o, pos);
           lost.insert(l.begin(), l.end());
         }
         return lost;
       },
       -1, 1, "2 damaged blocks skipped"},
      {"a zeroed first block", "paradox-rental", "RENTAL.DB",
       [&](const std::string& db, const Original& o, std::set<std::size_t>*) {
         Patch(db, BlockOffset(o.header, o.chain[0].number), std::string(o.header.BlockSize(), '\0'));
         return lose_block(o, 0);
       },
       -1, 1, "the header counts 198 records, the blocks 186 and 1 damaged blocks"},
      {"a block's count lowered by one", "paradox-rental", "RENTAL.DB",
       count_moved(4, -1),
       -1, 1, "the header counts 198 records, the blocks 197; the header's count was trusted"},
      {"a count raised by one in a block with room", "paradox-rental", "RENTAL.DB",
       count_moved(15, 1),
       -1, 0, "1 records past a block's end left out"},
      {"a count raised by one in the last block", "paradox-rental", "RENTAL.DB",
       count_moved(16, 1),
       -1, 0, "the header and the primary index one less"},
      {"a count raised by one in a full block", "paradox-rental", "RENTAL.DB",
       count_moved(4, 1),
       -1, 0, "counts more records than it can hold; its 12 were taken"},
      {"a blank record past the end of the only block", "paradox-restructure", "STORE.DB",
       count_moved(0, 1),
       -1, 0, "the last is not one of the table's (blank)"},
      {"the first block's next pointer naming itself", "paradox-rental", "RENTAL.DB",
       [&](const std::string& db, const Original& o, std::set<std::size_t>*) {
         Patch(db, BlockOffset(o.header, o.chain[0].number), std::string("\x01\x00", 2));
         return std::set<std::size_t>{};
       },
       -1, 0, "1 indexes rebuilt: RENTAL.PX"},
      {"a next pointer past the end", "paradox-restructure", "STORE.DB",
       [&](const std::string& db, const Original& o, std::set<std::size_t>*) {
         Patch(db, BlockOffset(o.header, o.chain[0].number), std::string("\xF4\x01", 2));
         return std::set<std::size_t>{};
       },
       -1, 0, "1 indexes rebuilt: STORE.PX"},
      {"a missing .PX beside dates of year -1", "paradox-rental", "RENTAL.DB",
       [&](const std::string& db, const Original&, std::set<std::size_t>*) {
         fs::remove(db.substr(0, db.size() - 2) + "PX");
         return std::set<std::size_t>{};
       },
       -1, 0, "1 indexes rebuilt: RENTAL.PX"},
      {"the headers of the first and third data blocks", "paradox-restructure", "AREACODES.DB",
       [&](const std::string& db, const Original& o, std::set<std::size_t>*) {
         std::set<std::size_t> lost;
         for (std::size_t pos : {0, 2}) {
           Patch(db, BlockOffset(o.header, o.chain[pos].number), std::string("\x07\x07\xFF\x7F\x33\x12", 6));
           const auto l = lose_block(o, pos);
           lost.insert(l.begin(), l.end());
         }
         return lost;
       },
       -1, 1, "2 damaged blocks skipped"},
      {"a whole block in the middle of the chain", "paradox-restructure", "CUSTOMER.DB",
       [&](const std::string& db, const Original& o, std::set<std::size_t>*) {
         const std::size_t pos = o.chain.size() / 2;
         Patch(db, BlockOffset(o.header, o.chain[pos].number), std::string(o.header.BlockSize(), '\xA5'));
         return lose_block(o, pos);
       },
       -1, 1, "1 damaged blocks skipped"},
      {"the header's record count", "paradox", "FILMS.DB",
       [](const std::string& db, const Original&, std::set<std::size_t>*) {
         Patch(db, 6, std::string("\x10\x27\x00\x00", 4));
         return std::set<std::size_t>{};
       },
       -1, 0, "1 indexes rebuilt: FILMS.PX"},
      {"the primary index", "paradox-tables", "C.DB",
       [](const std::string& db, const Original&, std::set<std::size_t>*) {
         const std::string px = db.substr(0, db.size() - 2) + "PX";
         Patch(px, 0, std::string(2048, '\x5A'));
         return std::set<std::size_t>{};
       },
       -1, 0, "3 indexes rebuilt: C.PX, C.X02, C.X03"},
      {"a blob leader", "paradox-restructure", "CUSTOMER.DB",
       [](const std::string& db, const Original& o, std::set<std::size_t>* blobs) {
         const std::size_t r = FirstBlobInFile(o, 8);
         const std::size_t pos = [&] {
           std::size_t p = 0;
           while (p + 1 < o.chain.size() && o.chain[p + 1].first_record <= r) ++p;
           return p;
         }();
         const FieldDesc& f = o.header.fields[8];
         // The reference names a block far beyond the blob file's end.
         Patch(db, RecordOffset(o, pos, r - o.chain[pos].first_record) + f.offset + f.size - 10,
               std::string("\x00\x00\x70\x7F", 4));
         blobs->insert(r);
         return std::set<std::size_t>{};
       },
       8, 1, "1 blobs lost"},
      {"the whole blob file", "paradox-restructure", "CUSTOMER.DB",
       [](const std::string& db, const Original& o, std::set<std::size_t>* blobs) {
         fs::remove(db.substr(0, db.size() - 2) + "MB");
         for (std::size_t r = 0; r < o.refs.size(); ++r)
           if (o.refs[r][8].BlockOffset() != 0) blobs->insert(r);
         return std::set<std::size_t>{};
       },
       8, 1, "lost: the blob file"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    fs::copy(std::string(VARDEX_TEST_DATA_DIR) + "/" + c.folder, dir.Dir());
    const std::string db = dir / c.table;
    if (std::string(c.what).find("year -1") != std::string::npos) {
      // Dates before year 1 decode and encode back unchanged: they are kept.
      const Original plain = ReadOriginal(db);
      const FieldDesc& f = plain.header.fields[7];
      ASSERT_EQ(f.type, FieldType::Date);
      std::string rec(plain.header.record_size, '\0');
      for (const auto& [pos, r, day] : {std::tuple{0, 3, DayNumber(-1, 3, 15)},
                                        std::tuple{8, 5, DayNumber(-1, 12, 31)}}) {
        ASSERT_TRUE(EncodeField(f, FieldValue::Int(day), Bytes(rec)).ok());
        Patch(db, RecordOffset(plain, pos, r) + f.offset, rec.substr(f.offset, f.size));
      }
    }
    const Original original = ReadOriginal(db);
    const pxtest::PxTable before = pxtest::ReadWithPxlibIsolated(db, "");
    ASSERT_TRUE(before.ok) << before.error;
    std::set<std::size_t> blobs_lost;
    const std::set<std::size_t> lost = c.damage(db, original, &blobs_lost);
    const std::string damaged_db = ReadFile(db);

    const std::size_t saved = original.blobs.size() - lost.size();
    const std::string counts = std::to_string(saved) + " records, lost " +
                               std::to_string(lost.size()) + " records";
    const std::string blob_counts = ", " + std::to_string(blobs_lost.size()) + " blobs lost";
    // A dry run prints the same and writes nothing.
    const auto files = Snapshot(dir.Dir());
    const VdxRun dry = Vdx("repair " + db + " --dry-run");
    EXPECT_EQ(dry.code, c.exit) << dry.out;
    EXPECT_NE(dry.out.find("would save " + counts), std::string::npos) << dry.out;
    EXPECT_EQ(Snapshot(dir.Dir()), files);

    const VdxRun run = Vdx("repair " + db);
    EXPECT_EQ(run.code, c.exit) << run.out;
    EXPECT_NE(run.out.find("saved " + counts), std::string::npos) << run.out;
    EXPECT_NE(run.out.find(", 0 values blanked" + blob_counts), std::string::npos) << run.out;
    EXPECT_NE(run.out.find(c.says), std::string::npos) << run.out;
    const VdxRun verify = Vdx("verify " + db);
    EXPECT_EQ(verify.code, 0) << verify.out;

    // The damaged data file is kept as it was.
    std::string kept;
    for (const auto& e : fs::recursive_directory_iterator(dir.Dir() + "/DAMAGED"))
      if (e.path().filename() == c.table) kept = ReadFile(e.path().string());
    EXPECT_EQ(kept, damaged_db);

    const pxtest::PxTable after = pxtest::ReadWithPxlibIsolated(db, "");
    ASSERT_TRUE(after.ok) << after.error;
    ASSERT_EQ(after.rows.size(), saved);
    const Original repaired = ReadOriginal(db);
    std::size_t row = 0;
    for (std::size_t r = 0; r < before.rows.size(); ++r) {
      if (lost.count(r)) continue;
      SCOPED_TRACE("record " + std::to_string(r + 1));
      for (std::size_t i = 0; i < before.types.size(); ++i) {
        const pxtest::Cell& a = before.rows[r][i];
        const pxtest::Cell& b = after.rows[row][i];
        if (IsBlobType(original.header.fields[i].type)) {
          const std::string expected =
              static_cast<int>(i) == c.blob_field && blobs_lost.count(r) ? "" : original.blobs[r][i];
          EXPECT_EQ(repaired.blobs[row][i], expected) << "field " << i;
          continue;
        }
        EXPECT_EQ(a.null, b.null) << "field " << i;
        if (a.null || b.null) continue;
        switch (original.header.fields[i].type) {
          case FieldType::Alpha:
          case FieldType::Bcd:
          case FieldType::Bytes:
            EXPECT_EQ(a.s, b.s) << "field " << i;
            break;
          case FieldType::Number:
          case FieldType::Currency:
          case FieldType::Timestamp:
            EXPECT_EQ(a.d, b.d) << "field " << i;
            break;
          default:
            EXPECT_EQ(a.l, b.l) << "field " << i;
        }
      }
      ++row;
    }
  }
}

// Values that cannot be decoded are blanked one by one; a header that
// cannot be read is beyond repair; a sound table is left alone.
TEST(VdxRepair, BlanksUndecodableValuesAndRefusesAnUnreadableHeader) {
  TempDir dir;
  fs::copy(std::string(VARDEX_TEST_DATA_DIR) + "/paradox-restructure", dir.Dir());
  const std::string db = dir / "CUSTOMER.DB";
  const VdxRun sound = Vdx("repair " + db);
  EXPECT_EQ(sound.code, 0) << sound.out;
  EXPECT_NE(sound.out.find("sound, 20 records; nothing to repair"), std::string::npos) << sound.out;
  EXPECT_FALSE(dir.Exists("DAMAGED"));

  const Original o = ReadOriginal(db);
  const FieldDesc& date = o.header.fields[9];  // DateEntered
  ASSERT_EQ(date.type, FieldType::Date);
  Patch(db, RecordOffset(o, 0, 1) + date.offset, std::string("\xFF\xFF\xFF\xFF", 4));
  const VdxRun run = Vdx("repair " + db);
  EXPECT_EQ(run.code, 1) << run.out;
  EXPECT_NE(run.out.find("saved 20 records, lost 0 records, 1 values blanked, 0 blobs lost (in 1 records)"),
            std::string::npos)
      << run.out;
  EXPECT_EQ(Vdx("verify " + db).code, 0);

  const std::string area = dir / "AREACODES.DB";
  Patch(area, 0, std::string("\x00\x00\x00\x00", 4));
  const VdxRun broken = Vdx("repair " + dir.Dir());
  EXPECT_EQ(broken.code, 2) << broken.out;
  EXPECT_NE(broken.out.find("AREACODES.DB: cannot be repaired"), std::string::npos) << broken.out;
  EXPECT_NE(broken.out.find("STORE.DB: sound"), std::string::npos) << broken.out;
}

// A repair killed midway leaves its work folder behind, with the staging
// folder of the pack it runs inside; the next repair clears it and runs.
TEST(VdxRepair, ClearsTheWorkFolderOfAKilledRepair) {
  TempDir dir;
  fs::copy(std::string(VARDEX_TEST_DATA_DIR) + "/paradox-restructure", dir.Dir());
  const std::string db = dir / "STORE.DB";
  const Original o = ReadOriginal(db);
  Patch(db, BlockOffset(o.header, o.chain[0].number), std::string("\xF4\x01", 2));
  const std::string work = dir / ".STORE.DB.repair~";
  fs::create_directories(work + "/.STORE.DB.new~");
  std::ofstream(work + "/STORE.DB") << "half written";
  std::ofstream(work + "/.STORE.DB.new~/STORE.PX") << "half written";
  const VdxRun run = Vdx("repair " + db);
  EXPECT_EQ(run.code, 0) << run.out;
  EXPECT_NE(run.out.find("saved 4 records, lost 0 records"), std::string::npos) << run.out;
  EXPECT_FALSE(fs::exists(work));
  EXPECT_EQ(Vdx("verify " + db).code, 0);
}
