// Hand-run benchmark of the Update tool as the main window runs it: a
// database of T tables of N records each (20 x 100,000 by default), whose
// METADATA adds one field to every table, updated from the Tools menu on the
// offscreen platform. Reports the time against `cp -r` of the folder and the
// longest stretch in which the window let no event through (repaints wait
// that long). Usage: update_bench DIR [TABLES] [RECORDS]
// VDX_BENCH_REPEAT=N runs the pair N times, each on a fresh copy of the
// database; every run prints its moments on CLOCK_MONOTONIC, so a profile
// taken with `perf record -k CLOCK_MONOTONIC` can be cut to the Update
// (`perf report --time START,END`).
#include <sys/resource.h>
#include <time.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "BenchUtil.h"
#include "Env.h"
#include "Restructure.h"
#include "Session.h"
#include "TableWriter.h"
#include "fmVdx.h"
#include "svLog.h"

namespace {

using bench::Field;

engine::TableDefinition Definition(bool reference) {
  engine::TableDefinition def;
  def.fields = {Field("Id", engine::FieldType::Long), Field("Name", engine::FieldType::Alpha, 30),
                Field("Amount", engine::FieldType::Number), Field("Day", engine::FieldType::Date),
                Field("Active", engine::FieldType::Logical)};
  if (reference) def.fields.push_back(Field("Remark", engine::FieldType::Alpha, 20));
  def.key_fields = 1;
  return def;
}

bool MakeDatabase(const std::string& dir, int tables, int records) {
  std::filesystem::create_directories(dir + "/METADATA");
  engine::Env* env = engine::Env::Default();
  for (int t = 0; t < tables; ++t) {
    const std::string name = "T" + std::to_string(t) + ".DB";
    if (!engine::CreateTable(env, dir + "/METADATA/" + name, Definition(true)).ok()) return false;
    if (!engine::CreateTable(env, dir + "/" + name, Definition(false)).ok()) return false;
    std::unique_ptr<engine::TableWriter> w;
    if (!engine::TableWriter::Open(env, dir + "/" + name, 0, &w).ok()) return false;
    for (int i = 0; i < records; ++i) {
      using engine::FieldValue;
      if (!w->Append({FieldValue::Int(i), FieldValue::Str("Name " + std::to_string(i * 7)),
                      FieldValue::Float(i * 0.25), FieldValue::Int(730000 + i % 3000),
                      FieldValue::Int(i % 2)})
               .ok()) {
        return false;
      }
    }
    if (!w->Sync().ok()) return false;
    w.reset();
    // Complete keyed tables: a pack writes each one's .PX.
    for (const std::string& path : {dir + "/METADATA/" + name, dir + "/" + name}) {
      if (!engine::PackTable(path, {}, nullptr).ok()) return false;
    }
  }
  return true;
}

double Seconds(QElapsedTimer& timer) { return timer.nsecsElapsed() / 1e9; }

double Monotonic() {
  timespec t{};
  ::clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

bool Shell(const std::string& command) { return std::system(command.c_str()) == 0; }

// User + system time of every thread so far, to read the figures on a busy
// machine.
double CpuSeconds() {
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: update_bench DIR [TABLES] [RECORDS]\n");
    return 2;
  }
  qputenv("QT_QPA_PLATFORM", "offscreen");
  const std::string root = std::filesystem::absolute(argv[1]).string();
  const int tables = argc > 2 ? std::atoi(argv[2]) : 20;
  const int records = argc > 3 ? std::atoi(argv[3]) : 100000;
  const std::string db = root + "/BENCH";
  std::filesystem::remove_all(root);
  std::filesystem::create_directories(root);
  qputenv("VARDEX_HOME", root.c_str());
  std::ofstream(root + "/engine.ini") << "[BENCH]\nTYPE=STANDARD\nPATH=" << db << "\n";
  engine::TSession::Default().SetConfigFile(root + "/engine.ini");

  const char* repeat_text = std::getenv("VDX_BENCH_REPEAT");
  const int repeat = std::max(1, repeat_text ? std::atoi(repeat_text) : 1);
  const std::string pristine = root + "/PRISTINE";
  QElapsedTimer timer;
  timer.start();
  if (!MakeDatabase(pristine, tables, records)) {
    std::fprintf(stderr, "could not build the database\n");
    return 1;
  }
  std::printf("built %d tables x %d records in %.2f s\n", tables, records, Seconds(timer));
  if (!Shell("cp -a '" + pristine + "' '" + db + "' && sync")) return 1;

  QApplication app(argc, argv);
  TFormVardex form({});
  form.MessageHandler = [](const TMessageRequest& m) {
    if (m.Kind == mkError || m.Kind == mkWarning) {
      std::fprintf(stderr, "message: %s\n", qPrintable(m.Keys.join('+')));
    }
    return m.Kind == mkConfirmation ? QMessageBox::Yes : QMessageBox::Ok;
  };
  form.TerminateHandler = [] {};
  form.show();
  form.FormActivate();
  form.SelectAliasByName("BENCH");

  for (int run = 1; run <= repeat; ++run) {
    if (run > 1) {
      std::filesystem::remove_all(db);
      if (!Shell("cp -a '" + pristine + "' '" + db + "' && sync")) return 1;
    }
    timer.restart();
    if (!Shell("cp -r '" + db + "' '" + root + "/COPY' && sync")) return 1;
    const double cp_seconds = Seconds(timer);
    std::filesystem::remove_all(root + "/COPY");
    if (!Shell("sync")) return 1;

    // The window's heartbeat: the longest gap between two ticks is the
    // longest the window could not repaint.
    QElapsedTimer beat;
    qint64 longest_gap = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout,
                     [&] { longest_gap = std::max(longest_gap, beat.restart()); });
    ticker.start(10);
    beat.start();
    const double start = Monotonic();
    timer.restart();
    const double cpu_before = CpuSeconds();
    form.ToolMenuItem(ttUpdate)->trigger();
    const double update_seconds = Seconds(timer);
    const double update_cpu = CpuSeconds() - cpu_before;
    ticker.stop();

    std::printf("run %d (monotonic %.3f,%.3f)\n", run, start, Monotonic());
    std::printf("cp -r:  %.2f s\n", cp_seconds);
    std::printf("Update: %.2f s (%.1f x cp -r, cpu %.2f s), %s\n", update_seconds,
                update_seconds / cp_seconds, update_cpu,
                form.ToolRunning ? "still running" : "finished");
    std::printf("longest stretch without events: %lld ms (%.0f ms per table on average)\n",
                static_cast<long long>(longest_gap), update_seconds * 1000 / tables);
  }
  CloseLog();
  return 0;
}
