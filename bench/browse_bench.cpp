// The table browser on the bench table: opening 10^6 records (table and
// record model, first screen of rows), a jump to the last record, and the
// peak memory of a child that opens the table, jumps about and reads a
// page of rows every 1,000 records.
//
//   browse_bench [records]   (default 1000000)
#include <QApplication>
#include <QDir>
#include <QTableView>
#include <QTemporaryDir>
#include <chrono>
#include <cstdio>

#include "BenchUtil.h"
#include "fmTableBrowser.h"

namespace {

double Ms(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - since)
      .count();
}

std::unique_ptr<TRecordModel> OpenModel(const std::string& path) {
  engine::OpenOptions options;
  options.lock = false;
  options.recover = false;
  std::unique_ptr<engine::ParadoxTable> table;
  if (!engine::ParadoxTable::Open(path, options, &table).ok()) return nullptr;
  return std::make_unique<TRecordModel>(std::move(table));
}

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  const int records = argc > 1 ? std::atoi(argv[1]) : 1000000;
  QTemporaryDir dir;
  const std::string path = QDir(dir.path()).filePath("BENCH.DB").toStdString();
  bench::FillMixedTable(path, records);

  double open_ms = 1e9, jump_ms = 1e9;
  for (int run = 0; run < 3; ++run) {
    auto start = std::chrono::steady_clock::now();
    auto model = OpenModel(path);
    QTableView view;
    view.resize(900, 560);
    view.setModel(model.get());
    view.show();
    QApplication::processEvents();  // the first screen of rows is painted
    open_ms = std::min(open_ms, Ms(start));
    start = std::chrono::steady_clock::now();
    view.scrollToBottom();
    view.repaint();
    const QString last = model->CellText(records - 1, 0);
    jump_ms = std::min(jump_ms, Ms(start));
    if (last != QString::number(records - 1)) {
      std::fprintf(stderr, "last record reads %s\n", qPrintable(last));
      return 1;
    }
  }
  const bench::ChildRun child = bench::MeasureChild([&] {
    auto model = OpenModel(path);
    if (!model) return false;
    for (int row = 0; row < records; row += 1000) model->CellText(row, 1);
    return model->CachedPages() <= static_cast<std::size_t>(TRecordModel::kPages);
  });
  std::printf(
      "records %d: open + first screen %.1f ms, jump to last %.1f ms, "
      "peak %.1f MB after reading every 1000th record (%s)\n",
      records, open_ms, jump_ms, child.peak_kb / 1024.0, child.ok ? "ok" : "FAILED");
  return child.ok ? 0 : 1;
}
