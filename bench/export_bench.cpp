// Hand-run benchmark of `vdx export` (not part of ctest): builds the bench
// table of table_bench (10 mixed fields, 1,000,000 records by default), then
// times `vdx dump TABLE > FILE` against `vdx export` to SQLite, CSV and JSON
// Lines, each a process of its own, with its peak memory. A tenth of the
// table is exported too, to show the memory does not grow with the table.
//
//   bench/export_bench [DIR] [RECORDS]
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "BenchUtil.h"

using namespace engine;

namespace {

using Run = bench::ChildRun;

// Runs a shell command as a child process and measures it alone.
Run Measure(const std::string& command) {
  const Run r = bench::MeasureChild([&] {
    ::execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
    return false;
  });
  if (!r.ok) {
    std::fprintf(stderr, "failed: %s\n", command.c_str());
    std::exit(1);
  }
  return r;
}

void Compare(const std::string& dir, const std::string& table, const char* label) {
  const std::string vdx = VDX_BINARY;
  const Run dump = Measure(vdx + " dump " + table + " > " + dir + "/dump.jsonl");
  std::printf("%s: vdx dump > file: %.2f s, peak %ld KB\n", label, dump.seconds, dump.peak_kb);
  for (const char* format : {"sqlite", "csv", "jsonl"}) {
    const std::string out = dir + "/export." + format;
    const Run r =
        Measure(vdx + " export " + table + " --to " + format + " " + out + " --force > /dev/null");
    std::printf("%s: vdx export --to %-6s: %.2f s (%.2f x dump), peak %ld KB\n", label, format,
                r.seconds, r.seconds / dump.seconds, r.peak_kb);
    std::remove(out.c_str());
  }
  std::remove((dir + "/dump.jsonl").c_str());
}

}  // namespace

int main(int argc, char** argv) {
  const std::string dir = argc > 1 ? argv[1] : "/tmp";
  const int records = argc > 2 ? std::atoi(argv[2]) : 1000000;
  const std::string big = dir + "/EXPBENCH.DB", small = dir + "/EXPTENTH.DB";
  bench::FillMixedTable(big, records);
  bench::FillMixedTable(small, records / 10);
  Compare(dir, small, (std::to_string(records / 10) + " records").c_str());
  Compare(dir, big, (std::to_string(records) + " records").c_str());
  std::remove(big.c_str());
  std::remove(small.c_str());
  return 0;
}
