// Hand-run timing of the macro engine's last-run question on a large log:
// PurgeFutureEntries followed by the last-success question, on a log of
// 100,000 records (target: under 20 ms). Also times the same question when
// future-dated records have to be purged first, which rewrites the file.
//
//   log_bench [records]
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "svLog.h"
#include "svLogTable.h"

namespace {

using Clock = std::chrono::steady_clock;

// Writes the log file in one go; storing 100,000 runs one by one would sync
// 100,000 times.
void WriteLog(const std::string& folder, int records, double now) {
  const char* aliases[] = {"SALES", "STOCK", "PAYROLL", "ARCHIVE"};
  const char tools[] = "UPCRBT";
  const char results[] = "SCUREGNMPXB";
  std::vector<TLogRecord> rows;
  for (int i = 0; i < records; ++i) {
    TLogRecord r;
    r.Alias = aliases[i % 4];
    r.Tool = std::string(1, tools[i % 6]);
    r.Result = std::string(1, results[(i / 7) % 11]);
    r.Moment = now - 400 + 400.0 * i / records;  // the last 400 days, all in the past
    r.HasMoment = true;
    rows.push_back(r);
  }
  if (!WriteLogFile(engine::Env::Default(), folder + "/" + kLogTableName, rows).ok()) std::exit(2);
}

double LastSuccessMs(double* answer) {
  const auto start = Clock::now();
  PurgeFutureEntries("sales", ttUpdate);
  SelectLogResult("sales", ttUpdate, "MAX(Moment)", trSuccess);
  *answer = LogQueryField(0).AsDateTime();
  CloseLogQuery();
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

void Report(const char* what, std::vector<double> ms) {
  std::sort(ms.begin(), ms.end());
  std::printf("%-44s median %7.2f ms   max %7.2f ms   (%zu runs)\n", what, ms[ms.size() / 2],
              ms.back(), ms.size());
}

}  // namespace

int main(int argc, char** argv) {
  const int records = argc > 1 ? std::atoi(argv[1]) : 100000;
  char templ[] = "/tmp/vdxlogbenchXXXXXX";
  const std::string folder = ::mkdtemp(templ);
  ::setenv("VARDEX_HOME", folder.c_str(), 1);
  const double now = LogNow();
  WriteLog(folder, records, now);
  if (!OpenLog()) return 1;
  std::printf("log of %d records in %s\n", records, folder.c_str());

  double answer = 0;
  std::vector<double> plain;
  for (int i = 0; i < 50; ++i) plain.push_back(LastSuccessMs(&answer));
  Report("purge (nothing to purge) + last success", plain);

  std::vector<double> purging;
  for (int i = 0; i < 10; ++i) {
    SetLogClock([now] { return now + 2; });
    AddLogEntry("SALES", ttUpdate, trSuccess);
    SetLogClock([now] { return now + 3; });
    AddLogEntry("SALES", ttUpdate, trSuccess);
    SetLogClock({});
    purging.push_back(LastSuccessMs(&answer));
  }
  Report("purge of two future runs + last success", purging);
  CloseLog();
  std::filesystem::remove_all(folder);
  return 0;
}
