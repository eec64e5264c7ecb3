// Hand-run benchmark: restructure (one field added) and pack of a keyed
// table with one secondary index, against the time `dd bs=1M conv=fsync`
// takes to copy the table's files, for several table sizes. Each step runs
// in a child process so its peak memory is measured on its own.
//
//   restructure_bench [DIR] [RECORDS...]     (default: 10000 100000 1000000)
// VDX_BENCH_KEEP=1 keeps the tables for profiling; VDX_BENCH_BLOCK_KB=16
// writes the tables in 16 KiB blocks (the largest table the format allows
// then holds about 10,000,000 of these records, about 1 GB).
// VDX_BENCH_REPEAT=N measures each size N times on the same table (each
// restructure adds one more field) and prints a row per run.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "BenchUtil.h"
#include "DbiStructure.h"
#include "Restructure.h"
#include "TableWriter.h"

namespace {

using engine::FieldType;
using engine::FieldValue;

using Run = bench::ChildRun;
using bench::Field;

// Runs work in a child; its wall time and peak resident size.
Run Measure(const std::function<bool()>& work) { return bench::MeasureChild(work); }

// About 100 bytes a record: a key, two names, a city, amounts and a date.
bool MakeTable(const std::string& path, int records) {
  engine::TableDefinition def;
  def.fields = {Field("Id", FieldType::Long),         Field("Name", FieldType::Alpha, 30),
                Field("First", FieldType::Alpha, 20), Field("City", FieldType::Alpha, 24),
                Field("Amount", FieldType::Number),   Field("Born", FieldType::Date),
                Field("Qty", FieldType::Short),       Field("Paid", FieldType::Logical)};
  def.key_fields = 1;
  if (const char* kb = std::getenv("VDX_BENCH_BLOCK_KB")) def.block_size_kb = std::atoi(kb);
  engine::Env* env = engine::Env::Default();
  std::unique_ptr<engine::TableWriter> w;
  if (!engine::CreateTable(env, path, def).ok() ||
      !engine::TableWriter::Open(env, path, 0, &w).ok())
    return false;
  for (int i = 0; i < records; ++i) {
    std::vector<FieldValue> v = {
        FieldValue::Int(i),
        FieldValue::Str("Name" + std::to_string((i * 7919LL) % 100003)),
        FieldValue::Str("First" + std::to_string(i % 5000)),
        FieldValue::Str("City" + std::to_string(i % 311)),
        FieldValue::Float(i * 0.25),
        FieldValue::Int(engine::DayNumber(1950 + i % 60, 1 + i % 12, 1 + i % 28)),
        FieldValue::Int(i % 1000),
        FieldValue::Int(i % 2)};
    if (engine::Status s = w->Append(v); !s.ok()) {
      std::fprintf(stderr, "record %d: %s\n", i, s.ToString().c_str());
      return false;
    }
  }
  if (!w->Sync().ok()) return false;
  w.reset();
  // One secondary index on Name, built by a first restructure.
  IDXDesc x{};
  std::snprintf(x.szName, sizeof x.szName, "Name");
  x.iFldsInKey = 1;
  x.aiKeyFld[0] = 2;
  CROpType op = crADD;
  CRTblDesc desc{};
  desc.iIdxCount = 1;
  desc.pidxDesc = &x;
  desc.pecrIdxOp = &op;
  const engine::Status s = engine::RestructureTable(path, desc, {}, nullptr);
  if (!s.ok()) std::fprintf(stderr, "index: %s\n", s.ToString().c_str());
  return s.ok();
}

bool AddField(const std::string& path) {
  std::unique_ptr<engine::ParadoxTable> table;
  engine::OpenOptions open;
  open.lock = false;
  if (!engine::ParadoxTable::Open(path, open, &table).ok()) return false;
  std::vector<FLDDesc> fields;
  std::vector<CROpType> ops;
  for (std::size_t i = 0; i < table->Fields().size(); ++i) {
    fields.push_back(engine::ToFldDesc(table->Fields()[i], static_cast<int>(i + 1)));
    ops.push_back(crMODIFY);
  }
  table.reset();
  FLDDesc extra{};
  std::snprintf(extra.szName, sizeof extra.szName, "Extra%zu", fields.size());
  extra.iFldType = 'I';
  fields.push_back(extra);
  ops.push_back(crADD);
  CRTblDesc desc{};
  desc.iFldCount = static_cast<std::uint16_t>(fields.size());
  desc.pfldDesc = fields.data();
  desc.pecrFldOp = ops.data();
  const engine::Status s = engine::RestructureTable(path, desc, {}, nullptr);
  if (!s.ok()) std::fprintf(stderr, "index: %s\n", s.ToString().c_str());
  return s.ok();
}

double FilesSize(const std::string& dir) {
  double bytes = 0;
  for (const auto& e : std::filesystem::directory_iterator(dir))
    bytes += static_cast<double>(e.file_size());
  return bytes;
}

bool CopyWithDd(const std::string& dir, const std::string& to) {
  std::filesystem::create_directories(to);
  for (const auto& e : std::filesystem::directory_iterator(dir)) {
    const std::string cmd = "dd if='" + e.path().string() + "' of='" + to + "/" +
                            e.path().filename().string() + "' bs=1M conv=fsync status=none";
    if (std::system(cmd.c_str()) != 0) return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string root = argc > 1 ? argv[1] : "/tmp/vdx-restructure-bench";
  std::vector<int> sizes;
  for (int i = 2; i < argc; ++i) sizes.push_back(std::atoi(argv[i]));
  if (sizes.empty()) sizes = {10000, 100000, 1000000};
  std::printf("%9s %7s %6s %8s %6s %7s %8s %6s %7s %9s %8s\n", "records", "MB", "dd s", "restr s",
              "x dd", "cpu s", "pack s", "x dd", "cpu s", "restr MB", "pack MB");
  for (int n : sizes) {
    const std::string dir = root + "/t" + std::to_string(n);
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    const std::string path = dir + "/BENCH.DB";
    if (!Measure([&] { return MakeTable(path, n); }).ok)
      return std::fprintf(stderr, "cannot build %s\n", path.c_str()), 1;
    const char* repeat = std::getenv("VDX_BENCH_REPEAT");
    for (int r = 0; r < (repeat ? std::max(1, std::atoi(repeat)) : 1); ++r) {
      ::sync();
      const Run dd = Measure([&] { return CopyWithDd(dir, root + "/copy"); });
      std::filesystem::remove_all(root + "/copy");
      const Run restructure = Measure([&] { return AddField(path); });
      const Run pack = Measure([&] { return engine::PackTable(path, {}, nullptr).ok(); });
      if (!dd.ok || !restructure.ok || !pack.ok)
        return std::fprintf(stderr, "a step failed at %d records\n", n), 1;
      std::printf("%9d %7.1f %6.2f %8.2f %6.2f %7.2f %8.2f %6.2f %7.2f %9.1f %8.1f\n", n,
                  FilesSize(dir) / 1e6, dd.seconds, restructure.seconds,
                  restructure.seconds / dd.seconds, restructure.cpu, pack.seconds,
                  pack.seconds / dd.seconds, pack.cpu, restructure.peak_kb / 1024.0,
                  pack.peak_kb / 1024.0);
      std::fflush(stdout);
    }
  }
  if (!std::getenv("VDX_BENCH_KEEP")) std::filesystem::remove_all(root);
  return 0;
}
