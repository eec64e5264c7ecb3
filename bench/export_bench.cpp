// Hand-run benchmark of `vdx export` (not part of ctest): builds the bench
// table of table_bench (10 mixed fields, 1,000,000 records by default), then
// times `vdx dump TABLE > FILE` against `vdx export` to SQLite, CSV and JSON
// Lines, each a process of its own, with its peak memory. A tenth of the
// table is exported too, to show the memory does not grow with the table.
//
//   bench/export_bench [DIR] [RECORDS]
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "TableWriter.h"

using namespace engine;

namespace {

struct Run {
  double seconds = 0;
  long peak_kb = 0;
};

// Runs a shell command as a child process and measures it alone.
Run Measure(const std::string& command) {
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  int status = 0;
  rusage usage{};
  ::wait4(pid, &status, 0, &usage);
  Run r;
  r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  r.peak_kb = usage.ru_maxrss;
  if (!WIFEXITED(status) || (WEXITSTATUS(status) != 0)) {
    std::fprintf(stderr, "failed: %s\n", command.c_str());
    std::exit(1);
  }
  return r;
}

void MakeBenchTable(const std::string& path, int records) {
  auto field = [](const char* name, FieldType type, int size = 0, int decimals = 0) {
    FieldDesc f;
    f.name = name;
    f.type = type;
    f.size = size ? size : FixedSize(type);
    f.decimals = decimals;
    return f;
  };
  TableDefinition def;
  def.fields = {field("Id", FieldType::Long),      field("Name", FieldType::Alpha, 40),
                field("Qty", FieldType::Short),    field("Price", FieldType::Currency),
                field("Ratio", FieldType::Number), field("Day", FieldType::Date),
                field("At", FieldType::Time),      field("Stamp", FieldType::Timestamp),
                field("Ok", FieldType::Logical),   field("Amount", FieldType::Bcd, 17, 2)};
  std::unique_ptr<TableWriter> writer;
  Status s = CreateTable(Env::Default(), path, def);
  if (s.ok()) s = TableWriter::Open(Env::Default(), path, 0, &writer);
  for (int r = 0; s.ok() && r < records; ++r) {
    s = writer->Append({FieldValue::Int(r), FieldValue::Str("Customer number " + std::to_string(r)),
                        FieldValue::Int(r % 30000), FieldValue::Float(r * 0.01),
                        FieldValue::Float(1.0 / (r + 1)), FieldValue::Int(730000 + r % 5000),
                        FieldValue::Int(r % 86400000), FieldValue::Float(6.3e13 + r * 1000.0),
                        FieldValue::Int(r & 1), FieldValue::Str(std::to_string(r) + ".25")});
  }
  if (s.ok()) s = writer->Sync();
  if (!s.ok()) {
    std::fprintf(stderr, "fill failed: %s\n", s.ToString().c_str());
    std::exit(1);
  }
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
  MakeBenchTable(big, records);
  MakeBenchTable(small, records / 10);
  Compare(dir, small, (std::to_string(records / 10) + " records").c_str());
  Compare(dir, big, (std::to_string(records) + " records").c_str());
  std::remove(big.c_str());
  std::remove(small.c_str());
  return 0;
}
