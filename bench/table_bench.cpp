// Hand-run benchmark of the Paradox table layer (not part of ctest):
// creates and fills a table of 1,000,000 records with 10 mixed fields
// (~100 MB), compares that with copying the finished file by
// `dd bs=1M conv=fsync`, then reads every value and compares with pxlib's
// PX_retrieve_record loop over the same file. Peak memory is reported after
// each phase to show reading is flat in table size. Last, the dump of
// `vdx dump` (JSON Lines, into /dev/null) against the same pxlib loop.
//
//   bench/table_bench [DIR] [RECORDS] [PXLIB_SECONDS]
// VDX_BENCH_KEEP=1 keeps DIR/BENCH.DB (for profiling `vdx dump`).
extern "C" {
#include <paradox.h>
}
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "BenchUtil.h"
#include "ParadoxTable.h"
#include "TableDump.h"
#include "TableWriter.h"

using namespace engine;
using Clock = std::chrono::steady_clock;

namespace {

double Since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

long PeakRssKb() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_maxrss;
}

double Fill(const std::string& path, int records) {
  const auto start = Clock::now();
  bench::FillMixedTable(path, records);
  return Since(start);
}

double ReadAll(const std::string& path, std::uint64_t* checksum) {
  const auto start = Clock::now();
  OpenOptions options;
  std::unique_ptr<ParadoxTable> table;
  Status s = ParadoxTable::Open(path, options, &table);
  if (!s.ok()) std::exit(1);
  TableCursor c = table->NewCursor();
  const int fields = static_cast<int>(table->Fields().size());
  while (c.Next()) {
    for (int i = 0; i < fields; ++i) {
      const FieldValue v = c.Value(i);
      *checksum += static_cast<std::uint64_t>(v.i) + v.s.size() + static_cast<std::uint64_t>(v.d);
    }
  }
  return Since(start);
}

double Dump(const std::string& path, long* peak_kb) {
  const auto start = Clock::now();
  OpenOptions options;
  std::unique_ptr<ParadoxTable> table;
  if (!ParadoxTable::Open(path, options, &table).ok()) std::exit(1);
  std::ofstream out("/dev/null");
  if (!DumpTable(*table, out).ok()) std::exit(1);
  *peak_kb = PeakRssKb();
  return Since(start);
}

// pxlib walks its block list for every record, so the loop runs for a time
// budget and reports the records it managed.
double PxlibLoop(const std::string& path, double budget, int* done) {
  const auto start = Clock::now();
  pxdoc_t* doc = PX_new();
  PX_open_file(doc, path.c_str());
  const int records = PX_get_num_records(doc);
  const int fields = PX_get_num_fields(doc);
  for (*done = 0; *done < records; ++*done) {
    pxval_t** vals = PX_retrieve_record(doc, *done);
    if (!vals) break;
    for (int i = 0; i < fields; ++i) {
      if (vals[i]->type == pxfAlpha || vals[i]->type == pxfBCD)
        doc->free(doc, vals[i]->value.str.val);
      doc->free(doc, vals[i]);
    }
    doc->free(doc, vals);
    if ((*done & 1023) == 0 && Since(start) > budget) break;
  }
  PX_delete(doc);
  return Since(start);
}

}  // namespace

int main(int argc, char** argv) {
  const std::string dir = argc > 1 ? argv[1] : "/tmp";
  const int records = argc > 2 ? std::atoi(argv[2]) : 1000000;
  const double px_budget = argc > 3 ? std::atof(argv[3]) : 120;
  const std::string path = dir + "/BENCH.DB", copy = dir + "/BENCHCPY.DB";

  const double fill = Fill(path, records);
  FILE* f = std::fopen(path.c_str(), "rb");
  std::fseek(f, 0, SEEK_END);
  const long size = std::ftell(f);
  std::fclose(f);
  std::printf("create+fill %d records (%.1f MB): %.2f s, peak RSS %ld KB\n", records, size / 1e6,
              fill, PeakRssKb());

  auto start = Clock::now();
  const std::string dd = "dd if=" + path + " of=" + copy + " bs=1M conv=fsync status=none";
  if (std::system(dd.c_str()) != 0) return 1;
  const double copy_time = Since(start);
  std::printf("dd bs=1M conv=fsync copy: %.2f s (fill is %.1fx)\n", copy_time, fill / copy_time);
  std::remove(copy.c_str());

  std::uint64_t checksum = 0;
  const long rss_before = PeakRssKb();
  const double read = ReadAll(path, &checksum);
  std::printf(
      "read every value: %.2f s (%.0f records/s), peak RSS %ld KB (+%ld KB), checksum %llu\n", read,
      records / read, PeakRssKb(), PeakRssKb() - rss_before,
      static_cast<unsigned long long>(checksum));

  int done = 0;
  const double px = PxlibLoop(path, px_budget, &done);
  const double px_rate = done / px;
  std::printf(
      "pxlib PX_retrieve_record: %d records in %.2f s (%.0f records/s); ours is %.1fx faster%s\n",
      done, px, px_rate, (records / read) / px_rate,
      done < records ? " (pxlib stopped at its time budget; its per-record cost grows with the "
                       "record number, so the ratio understates the gap)"
                     : "");
  long dump_kb = 0;
  const double dump = Dump(path, &dump_kb);
  std::printf("dump as JSON Lines: %.2f s (%.0f records/s), peak RSS %ld KB; %.1fx pxlib\n", dump,
              records / dump, dump_kb, (records / dump) / px_rate);
  if (!std::getenv("VDX_BENCH_KEEP")) std::remove(path.c_str());
  return 0;
}
