// The table browser: one table opened read-only, its records in a grid over
// a model that reads rows by position on demand (a small cache of pages, never
// the whole table), memo and blob values in a viewer, and its structure.
#pragma once

#include <QAbstractTableModel>
#include <QDialog>
#include <functional>
#include <list>
#include <memory>
#include <unordered_map>

#include "ParadoxTable.h"

class QTableView;
class QTreeWidget;
class TFormVardex;

// The records of a table by position. Rows are read a page at a time with
// the engine's cursor; the pages read last are kept (at most kPages).
class TRecordModel : public QAbstractTableModel {
 public:
  static constexpr int kPageRows = 64;
  static constexpr int kPages = 32;

  explicit TRecordModel(std::unique_ptr<engine::ParadoxTable> table, QObject* parent = nullptr);
  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

  const engine::ParadoxTable& Table() const { return *table_; }
  // A record's value, read from the table (blob references included).
  engine::Status Value(int row, int column, engine::FieldValue* out) const;
  // The text a cell shows.
  QString CellText(int row, int column) const;
  // Pages in memory now (for the bench and tests).
  std::size_t CachedPages() const { return pages_.size(); }

 private:
  using Page = std::vector<QStringList>;
  const Page* PageOf(int row) const;
  QString Render(const engine::TableCursor& cur, int column) const;

  std::unique_ptr<engine::ParadoxTable> table_;
  mutable engine::TableCursor cursor_;
  mutable std::unordered_map<int, Page> pages_;
  mutable std::list<int> recent_;  // page numbers, most recent first
  mutable QString error_;
};

class TTableBrowser : public QDialog {
  Q_OBJECT
 public:
  // Opens the table at `path` (asking for a password when it is protected
  // and none of the window's fits) and shows the browser; nullptr when the
  // table cannot be opened (the window has said why) or the user cancelled.
  static TTableBrowser* Open(const QString& path, TFormVardex* form);
  // Asks for a table's password; false when the user cancels. Tests replace it.
  static std::function<bool(const QString& table, QString* password)> PasswordPrompt;
  // Shows a value's memo or blob; tests replace it to see what would be shown.
  static std::function<void(QWidget* viewer)> ViewerShown;

  TRecordModel* Model() const { return model_; }
  QTableView* Records() const { return records_; }
  QTreeWidget* Structure() const { return structure_; }
  // Opens the viewer for a memo or blob cell; nullptr for other cells.
  QWidget* ViewBlob(int row, int column);

 private:
  TTableBrowser(std::unique_ptr<engine::ParadoxTable> table, const QString& path,
                TFormVardex* form);
  void FillStructure();
  QString Text(const char* key) const;

  TFormVardex* form_;
  QString path_;  // the table's data file
  TRecordModel* model_;
  QTableView* records_;
  QTreeWidget* structure_;
};
