// The details pane beside the database list: what the selected database
// holds and how it stands (tables with their record counts and sizes, which
// ones an Update would change, which ones fail the quick check, the last
// successful run of each tool, the safe copy, the record sets kept aside).
// Gathered on a worker thread; a newer selection discards an older result.
// Double-clicking a table opens it read-only in the table browser.
#pragma once

#include <QDateTime>
#include <QDockWidget>
#include <QThreadPool>
#include <memory>
#include <vector>

#include "tcVardex.h"

class QTreeWidget;
class QTreeWidgetItem;
class TFormVardex;

// One table as the pane lists it.
struct TTableGlance {
  QString path;  // the data file
  QString name;
  qint64 records = -1;  // -1: could not be opened
  qint64 bytes = 0;     // data file and companions
  bool updateDue = false;
  bool noReference = false;
  QString problem;  // why the quick check failed, empty when it passed
};

struct TKeptSet {
  QString kind;  // "KEYVIOL", "PROBLEMS", "DAMAGED"
  QString
      where;  // the folder below the database folder ("KEYVIOL", "SAFE/PROBLEMS", "DAMAGED/A_...")
  TTableGlance table;
};

struct TDatabaseGlance {
  QString folder;
  std::vector<TTableGlance> live, metadata, safe;
  bool hasSafe = false;
  qint64 safeBytes = 0;
  QDateTime safeDate;                 // the newest file of SAFE
  QDateTime lastSuccess[kToolCount];  // invalid: none logged
  QString logProblem;
  std::vector<TKeptSet> kept;
};

// Gathers everything the pane shows, reading only (no lock taken, no
// interrupted replacement finished). `log_path` is the tool log's file.
TDatabaseGlance GatherDatabaseGlance(const QString& folder, const QString& alias,
                                     const QString& log_path);

// The quick check: the header, block chain, indexes and checks decode and
// no replacement of the table's files is pending. Empty when it passes.
QString QuickCheckTable(const QString& db_path);

class TFormVdxDetails : public QDockWidget {
  Q_OBJECT
 public:
  explicit TFormVdxDetails(TFormVardex* form);
  ~TFormVdxDetails() override;

  // Reads the selected database again (after a run, on request).
  void Reload();
  // The glance on display; empty folder while none is.
  const TDatabaseGlance& Glance() const { return glance_; }
  QTreeWidget* Tree() const { return tree_; }
  // The width the pane takes from the window's client area (0 when hidden
  // or floating).
  int Room() const;
  // Opens the table of an item in the browser; false for other items.
  bool OpenItem(QTreeWidgetItem* item);

 signals:
  // A glance is on display.
  void Shown();

 protected:
  bool eventFilter(QObject* watched, QEvent* e) override;

 private:
  void SelectionChanged();
  void Show(const TDatabaseGlance& glance);
  QString Text(const char* key) const;

  TFormVardex* form_;
  QTreeWidget* tree_;
  QThreadPool pool_;
  QString loaded_;
  int generation_ = 0;
  TDatabaseGlance glance_;
};
