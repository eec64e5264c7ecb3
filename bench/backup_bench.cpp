// Hand-run benchmark of the compression library (not part of ctest): builds
// a database of about 100 MB (SAFE and METADATA holding Paradox tables with
// varied records), then compares, in one run on the same machine:
//   backup:  dzip onto one large volume   against  zip -5 -r -q
//   restore: dunzip of our archive        against  unzip -o -q of zip's
// and reports archive sizes and this process's peak memory (the tables are
// written by a child process, so the peak is the library's own).
//
//   bench/backup_bench [DIR] [RECORDS_PER_TABLE]
//
// With --tables N... it measures finding the files instead: a database of N
// small tables (live, METADATA and SAFE alike), backed up with the item list
// the Backup tool gives (two patterns per table, names relative to the
// database folder), against zip -5 -r -q of METADATA and SAFE.
//
//   bench/backup_bench --tables 500 1000
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "BenchUtil.h"
#include "DZip.h"
#include "TableWriter.h"

using namespace engine;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

namespace {

double Since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

double CpuSeconds(int who = RUSAGE_SELF) {
  rusage u{};
  getrusage(who, &u);
  return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

long PeakRssKb() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_maxrss;
}

const char* kNames[] = {"Miller", "Schmidt", "Dupont", "Rossi", "Novak", "Jansen", "Garcia"};
const char* kCities[] = {"Hamburg", "Lyon", "Turin", "Brno", "Utrecht", "Sevilla", "Graz"};

void Fill(const std::string& path, int records, unsigned seed) {
  const auto F = [](const char* name, FieldType type, int size = 0) {
    return bench::Field(name, type, size);
  };
  TableDefinition def;
  def.fields = {F("Id", FieldType::Long),        F("Name", FieldType::Alpha, 30),
                F("City", FieldType::Alpha, 20), F("Street", FieldType::Alpha, 40),
                F("Qty", FieldType::Short),      F("Price", FieldType::Currency),
                F("Day", FieldType::Date),       F("Ok", FieldType::Logical)};
  Status s = CreateTable(Env::Default(), path, def);
  std::unique_ptr<TableWriter> w;
  if (s.ok()) s = TableWriter::Open(Env::Default(), path, 0, &w);
  std::vector<FieldValue> v(8);
  unsigned x = seed;
  auto next = [&x] { return x = x * 1103515245u + 12345u; };
  for (int r = 0; s.ok() && r < records; ++r) {
    v[0] = FieldValue::Int(r + 1);
    v[1] = FieldValue::Str(std::string(kNames[next() % 7]) + " " + std::to_string(next() % 5000));
    v[2] = FieldValue::Str(kCities[next() % 7]);
    v[3] = FieldValue::Str("Street " + std::to_string(next() % 900) + " / " +
                           std::to_string(next() % 40));
    v[4] = FieldValue::Int(static_cast<int>(next() % 1000));
    v[5] = FieldValue::Float((next() % 1000000) / 100.0);
    v[6] = FieldValue::Int(730000 + static_cast<int>(next() % 9000));
    v[7] = FieldValue::Int(static_cast<int>(next() & 1));
    s = w->Append(v);
  }
  if (s.ok()) s = w->Sync();
  if (!s.ok()) {
    std::fprintf(stderr, "fill failed: %s\n", s.ToString().c_str());
    std::exit(1);
  }
}

// The Backup tool's command for the whole database in `db` onto drive A
// (DIR/drive through DIR/drives.ini).
ZIPCMDSTRUCT BackupCommand(const fs::path& db, const fs::path& dir) {
  ZIPCMDSTRUCT add;
  add.function = kZipActionAdd;
  add.lpszZipFile = "A:\\BENCH.DBK";
  add.lpszItemList = "\"" + db.string() + "/*.*\" ";
  add.lpszComment = "BENCH";
  add.addCommentFlag = add.recurseFlag = add.noDirectoryEntriesFlag = true;
  add.wZipSubOptions = ZSO_RELATIVEPATH;
  add.wMultiVolControl = MV_USEMULTI | MV_SUBDIR | MV_SYSHIDE | MV_CDFIRST;
  add.compFactor = 5;
  add.lpszDrivesFile = (dir / "drives.ini").string();
  return add;
}

double Run(const std::string& command) {
  const auto start = Clock::now();
  if (std::system(command.c_str()) != 0) {
    std::fprintf(stderr, "failed: %s\n", command.c_str());
    std::exit(1);
  }
  return Since(start);
}

// `zip -5 -r` of the two folders into DIR/izip.zip: its wall seconds, and
// its CPU seconds in *cpu.
double ZipSeconds(const fs::path& db, const fs::path& dir, double* cpu) {
  const double before = CpuSeconds(RUSAGE_CHILDREN);
  const double seconds = Run("cd " + db.string() + " && zip -5 -r -q " +
                             (dir / "izip.zip").string() + " METADATA SAFE");
  *cpu = CpuSeconds(RUSAGE_CHILDREN) - before;
  return seconds;
}

// One database of `tables` tables of `records` records each in `db`, its
// METADATA and SAFE; the live files are the safe copy's.
void MakeTables(const fs::path& db, int tables, int records) {
  for (const char* sub : {"METADATA", "SAFE"}) fs::create_directories(db / sub);
  std::fflush(stdout);  // the child must not print it again
  if (pid_t child = fork(); child == 0) {
    for (int t = 0; t < tables; ++t) {
      char name[16];
      std::snprintf(name, sizeof name, "T%06d.DB", t);
      Fill((db / "SAFE" / name).string(), records, 7 + t);
      Fill((db / "METADATA" / name).string(), 0, 7 + t);
      fs::copy_file(db / "SAFE" / name, db / name);
    }
    std::exit(0);
  } else {
    int status = 0;
    waitpid(child, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) std::exit(1);
  }
}

int TablesBench(int argc, char** argv) {
  for (int i = 2; i < argc; ++i) {
    const int tables = std::atoi(argv[i]);
    const fs::path dir = fs::temp_directory_path() / "vdx_tables_bench";
    const fs::path db = dir / "DB";
    fs::remove_all(dir);
    fs::create_directories(dir / "drive");
    MakeTables(db, tables, 40);
    std::ofstream(dir / "drives.ini") << "[Drives]\nA=" << (dir / "drive").string() << "\n";
    Run("cat " + (db / "SAFE/*").string() + " " + (db / "METADATA/*").string() + " > /dev/null");
    const double zipTime = Run("cd " + db.string() + " && zip -5 -r -q " +
                               (dir / "izip.zip").string() + " METADATA SAFE");
    ZIPCMDSTRUCT add;
    add.function = kZipActionAdd;
    add.lpszZipFile = "A:\\BENCH.DBK";
    for (int t = 0; t < tables; ++t) {
      char name[16];
      std::snprintf(name, sizeof name, "T%06d", t);
      for (const char* sub : {"METADATA", "SAFE"}) {
        add.lpszItemList += "\"" + (db / sub).string() + "/" + std::string(name).substr(0, 7) +
                            "*.*\" ";
      }
    }
    add.lpszBaseFolder = db.string();
    add.lpszComment = "BENCH";
    add.addCommentFlag = add.recurseFlag = add.noDirectoryEntriesFlag = true;
    add.wZipSubOptions = ZSO_RELATIVEPATH;
    add.wMultiVolControl = MV_USEMULTI | MV_CDFIRST;
    add.compFactor = 5;
    add.lpszDrivesFile = (dir / "drives.ini").string();
    double found = 0;
    const auto start = Clock::now();
    add.callbacks.lpMajorStatus = [&](const std::string& item, int, bool&) {
      if (found == 0 && item.rfind("Item 1 ", 0) == 0) found = Since(start);
    };
    if (int rc = dzip(add)) {
      std::fprintf(stderr, "dzip failed: %d\n", rc);
      return 1;
    }
    const double ours = Since(start);
    std::printf("%d tables (%lld files): dzip %.2f s (finding the files %.2f s), zip -5 %.2f s, "
                "ratio %.2f (goal <= 1.3)\n",
                tables, add.returnCount, ours, found, zipTime, ours / zipTime);
    fs::remove_all(dir);
  }
  return 0;
}

// The backup alone, again and again, on the database a kept run left in
// DIR: `zip -5` and dzip in turn RUNS times, each pair's figures on a line
// and their medians at the end, for comparing two builds in the same
// minutes. The last archive stays in DIR/drive.
int RepeatBackup(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: backup_bench --backup DIR [RUNS]\n");
    return 2;
  }
  const fs::path dir = argv[2];
  const int runs = argc > 3 ? std::max(1, std::atoi(argv[3])) : 5;
  const fs::path db = dir / "DB";
  if (!fs::is_directory(db / "SAFE")) {
    std::fprintf(stderr, "%s holds no database: run `VDX_BENCH_KEEP=1 backup_bench %s` first\n",
                 db.c_str(), dir.c_str());
    return 2;
  }
  fs::create_directories(dir / "drive");
  std::ofstream(dir / "drives.ini") << "[Drives]\nA=" << (dir / "drive").string() << "\n";
  Run("cat " + (db / "SAFE/*").string() + " " + (db / "METADATA/*").string() + " > /dev/null");
  std::vector<double> ours, oursCpu, theirs, ratios;
  double size = 0;
  for (int r = 0; r < runs; ++r) {
    fs::remove(dir / "izip.zip");
    double zipCpu = 0;
    const double zipTime = ZipSeconds(db, dir, &zipCpu);
    ZIPCMDSTRUCT add = BackupCommand(db, dir);
    const double cpuBefore = CpuSeconds();
    const auto start = Clock::now();
    if (int rc = dzip(add)) {
      std::fprintf(stderr, "dzip failed: %d\n", rc);
      return 1;
    }
    ours.push_back(Since(start));
    oursCpu.push_back(CpuSeconds() - cpuBefore);
    theirs.push_back(zipTime);
    ratios.push_back(zipTime / ours.back());
    size = static_cast<double>(fs::file_size(dir / "drive/BENCH.DBK")) /
           static_cast<double>(fs::file_size(dir / "izip.zip"));
    std::printf("run %d: dzip %.3f s (%.2f s CPU), zip -5 %.2f s (%.2f s CPU): %.2f x, size %.4f\n",
                r + 1, ours.back(), oursCpu.back(), zipTime, zipCpu, ratios.back(), size);
    std::fflush(stdout);
  }
  auto median = [](std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
  };
  std::printf("median: dzip %.3f s (%.2f s CPU), zip -5 %.2f s: %.2f x faster (goal >= 3), "
              "size %.4f (goal <= 1)\n",
              median(ours), median(oursCpu), median(theirs), median(ratios), size);
  std::printf("peak memory of this process: %.1f MB (goal < 64)\n", PeakRssKb() / 1024.0);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::string(argv[1]) == "--tables") return TablesBench(argc, argv);
  if (argc > 1 && std::string(argv[1]) == "--backup") return RepeatBackup(argc, argv);
  const fs::path dir = argc > 1 ? argv[1] : fs::temp_directory_path() / "vdx_backup_bench";
  const int records = argc > 2 ? std::atoi(argv[2]) : 130000;
  const fs::path db = dir / "DB";
  fs::remove_all(dir);
  fs::create_directories(db / "METADATA");
  fs::create_directories(db / "SAFE");
  fs::create_directories(dir / "drive");
  if (pid_t child = fork(); child == 0) {
    for (int t = 0; t < 8; ++t) {
      const std::string name = "TABLE" + std::to_string(t) + ".DB";
      Fill((db / "SAFE" / name).string(), records, 7 + t);
      Fill((db / "METADATA" / name).string(), records / 40, 99 + t);
    }
    std::exit(0);
  } else {
    int status = 0;
    waitpid(child, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return 1;
  }
  Run("sync");
  uint64_t total = 0;
  for (const auto& e : fs::recursive_directory_iterator(db)) {
    if (e.is_regular_file()) total += e.file_size();
  }
  std::printf("database: %.1f MB in METADATA and SAFE\n", total / 1e6);
  std::ofstream(dir / "drives.ini") << "[Drives]\nA=" << (dir / "drive").string() << "\n";

  // Warm the page cache for both sides alike.
  Run("cat " + (db / "SAFE/*").string() + " " + (db / "METADATA/*").string() + " > /dev/null");
  double zipCpu = 0;
  const double zipTime = ZipSeconds(db, dir, &zipCpu);
  ZIPCMDSTRUCT add = BackupCommand(db, dir);
  const double cpuBefore = CpuSeconds();
  auto start = Clock::now();
  if (int rc = dzip(add)) {
    std::fprintf(stderr, "dzip failed: %d\n", rc);
    return 1;
  }
  const double ourZip = Since(start);
  const double ourZipCpu = CpuSeconds() - cpuBefore;
  const double ourSize = static_cast<double>(fs::file_size(dir / "drive/BENCH.DBK"));
  const double zipSize = static_cast<double>(fs::file_size(dir / "izip.zip"));

  const double unzipCpuBefore = CpuSeconds(RUSAGE_CHILDREN);
  const double unzipTime =
      Run("unzip -o -q " + (dir / "izip.zip").string() + " -d " + (dir / "out-unzip").string());
  const double unzipCpu = CpuSeconds(RUSAGE_CHILDREN) - unzipCpuBefore;
  UNZIPCMDSTRUCT x;
  x.function = kUnzipActionExtract;
  x.lpszZipFile = "A:\\BENCH.DBK";
  x.overWriteFlag = true;
  x.lpszFileSpec = "*.*";
  x.lpszDestination = (dir / "out-ours").string();
  x.lpszDrivesFile = add.lpszDrivesFile;
  const double unzipOursCpuBefore = CpuSeconds();
  start = Clock::now();
  if (int rc = dunzip(x)) {
    std::fprintf(stderr, "dunzip failed: %d\n", rc);
    return 1;
  }
  const double ourUnzip = Since(start);
  const double ourUnzipCpu = CpuSeconds() - unzipOursCpuBefore;
  const bool same =
      Run("diff -r " + db.string() + " " + (dir / "out-ours").string() + " >/dev/null") >= 0;

  // On a machine shared with other work the wall-clock ratio shows little
  // of the second core; the CPU seconds show what each side needed.
  std::printf(
      "backup:  dzip %.2f s (%.2f s CPU), zip -5 %.2f s (%.2f s CPU), ratio %.2f (goal <= 0.33)\n",
      ourZip, ourZipCpu, zipTime, zipCpu, ourZip / zipTime);
  std::printf("size:    dzip %.1f MB, zip -5 %.1f MB, ratio %.3f (goal <= 1.00)\n", ourSize / 1e6,
              zipSize / 1e6, ourSize / zipSize);
  std::printf(
      "restore: dunzip %.2f s (%.2f s CPU), unzip -o %.2f s (%.2f s CPU), ratio %.2f (goal <= 0.50)\n",
      ourUnzip, ourUnzipCpu, unzipTime, unzipCpu, ourUnzip / unzipTime);
  std::printf("peak memory of this process: %.1f MB (goal < 64)\n", PeakRssKb() / 1024.0);
  std::printf("restored tree equals the database: %s\n", same ? "yes" : "no");
  if (!std::getenv("VDX_BENCH_KEEP")) fs::remove_all(dir);
  return 0;
}
