// The database list of TFormVardex: filling the grid from the engine's
// aliases, the selection rules, and the tool request of the command line.
#include <QHeaderView>
#include <QScopedValueRollback>
#include <QScrollBar>
#include <QTableWidget>
#include <QTimer>
#include <algorithm>

#include "DbExceptions.h"
#include "Session.h"
#include "fmVdx.h"

int TFormVardex::RowCount() const { return grid_->rowCount() + 1; }

QString TFormVardex::Cell(int col, int row) const {
  if (row == 0) {
    const QTableWidgetItem* header = grid_->horizontalHeaderItem(col);
    return header ? header->text() : QString();
  }
  const QTableWidgetItem* item = grid_->item(row - 1, col);
  return item ? item->text() : QString();
}

TGridRect TFormVardex::Selection() const {
  const int row = grid_->currentRow();
  if (row < 0) return AcceptedSelection;
  return {0, row + 1, grid_->columnCount() - 1, row + 1};
}

void TFormVardex::SetSelection(const TGridRect& rect) { SelectRow(rect.Top); }

void TFormVardex::SelectRow(int row) {
  QScopedValueRollback guard(updating_grid_, true);
  grid_->setCurrentCell(row - 1, 0);
  grid_->selectRow(row - 1);
}

int TFormVardex::TopRow() const {
  const int row = grid_->rowAt(0);
  return row < 0 ? 1 : row + 1;
}

int TFormVardex::VisibleRowCount() const {
  return std::max(1, grid_->viewport()->height() / grid_->verticalHeader()->defaultSectionSize());
}

// The header, then one row per alias whose first parameter line names its
// folder, in alias order without regard to case.
void TFormVardex::FillGrid() {
  grid_->setRowCount(0);
  grid_->setHorizontalHeaderLabels(
      {Value("MainWindow", "AliasNameHeader"), Value("MainWindow", "AliasPathHeader")});

  engine::TSession& session = engine::TSession::Default();
  std::vector<std::string> names = session.GetAliasNames();
  std::stable_sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
    return QString::fromStdString(a).compare(QString::fromStdString(b), Qt::CaseInsensitive) < 0;
  });
  for (const std::string& name : names) {
    std::vector<std::string> params;
    try {
      params = session.GetAliasParams(name);
    } catch (const engine::EDatabaseError&) {
      continue;  // removed from the configuration since the names were read
    }
    if (params.empty() || params.front().find("PATH=") == std::string::npos) continue;
    const int row = grid_->rowCount();
    grid_->insertRow(row);
    grid_->setItem(row, 0, new QTableWidgetItem(QString::fromStdString(name)));
    grid_->setItem(row, 1, new QTableWidgetItem(QString::fromStdString(params.front().substr(5))));
  }
  // A data row always exists, empty when there is no database.
  if (grid_->rowCount() == 0) {
    grid_->insertRow(0);
    grid_->setItem(0, 0, new QTableWidgetItem());
    grid_->setItem(0, 1, new QTableWidgetItem());
  }
}

void TFormVardex::RefreshAliasList() {
  // A run reads CurrentAlias throughout; the list is rebuilt at the next
  // activation instead of moving the selection under it.
  if (ToolRunning) return;
  TGridRect selection = grid_->rowCount() > 0 ? Selection() : TGridRect{};
  const int top_row = grid_->rowCount() > 0 ? TopRow() : 1;

  QScopedValueRollback guard(updating_grid_, true);
  FillGrid();

  const int rows = RowCount();
  if (selection.Top >= rows) selection.Top = selection.Bottom = rows - 1;
  SetSelection(selection);
  AcceptedSelection = Selection();
  int new_top = top_row;
  if (top_row >= rows) new_top = VisibleRowCount() >= rows - 1 ? 1 : rows - 1;
  grid_->verticalScrollBar()->setValue(new_top - 1);
  CurrentAlias = Cell(0, AcceptedSelection.Top);
  CurrentPath = Cell(1, AcceptedSelection.Top);
}

void TFormVardex::SelectAliasByName(const QString& name) {
  const QString wanted = name.toUpper();
  for (int row = 1; row < RowCount(); ++row) {
    if (Cell(0, row).toUpper() == wanted) {
      SelectRow(row);
      AcceptedSelection = Selection();
      CurrentAlias = Cell(0, row);
      CurrentPath = Cell(1, row);
      return;
    }
  }
  CurrentAlias.clear();
  CurrentPath.clear();
}

void TFormVardex::OnGridCurrentChanged() {
  // The user moved the selection (mouse or keys). Judge it once the view has
  // finished its own handling of the event, so a refused change stays undone.
  if (updating_grid_ || click_pending_) return;
  click_pending_ = true;
  QTimer::singleShot(0, this, [this] {
    click_pending_ = false;
    Guarded([this] { GridClick(); });
  });
}

void TFormVardex::GridClick() {
  if (InteractiveMode) {
    AcceptedSelection = Selection();
    CurrentAlias = Cell(0, AcceptedSelection.Top);
    CurrentPath = Cell(1, AcceptedSelection.Top);
    return;
  }
  SetSelection(AcceptedSelection);
  ShowMessageKey("Notifications", "CannotChangeAlias", {ControllerName}, mkWarning);
}

void TFormVardex::GridMouseDown(Qt::MouseButton button, const QPoint& viewport_pos) {
  if (button != Qt::RightButton) return;
  // Below the last row there is no database under the mouse: the selection
  // and the current database stay as they are.
  const int row = grid_->rowAt(viewport_pos.y());
  if (row >= 0) SelectAliasByName(Cell(0, row + 1));
  findChild<QMenu*>("PopupGrid")->popup(grid_->viewport()->mapToGlobal(viewport_pos));
}

bool TFormVardex::ProcessStartupRequest() {
  if (params_.isEmpty() || !InteractiveMode) return false;
  const QString alias = params_.value(0).toUpper();
  const QString tool_switch = params_.value(1).toUpper();
  ExitCode = kExitBadCommandLine;
  SelectAliasByName(alias);
  if (CurrentAlias.isEmpty()) {
    ShowMessageKey("Notifications", "DatabaseNotFound", {}, mkError, QMessageBox::Ok,
                   params_.value(0));
    return true;
  }
  if (tool_switch.size() != 2 || (tool_switch[0] != '-' && tool_switch[0] != '/')) {
    ShowMessageKey("Notifications", "InvalidToolParam", {}, mkError, QMessageBox::Ok,
                   params_.value(1));
    return true;
  }
  try {
    const QChar letter = tool_switch[1];
    if (letter.unicode() > 0x7f) {
      throw EConvertTool(QString("The character \"%1\" does not represent any tool type")
                             .arg(letter)
                             .toStdString());
    }
    ToolMenuItem(ToolFromLetter(static_cast<char>(letter.unicode())))->trigger();
    // The run's own result, once it ran: 0 for success, else its ordinal.
    ExitCode = run_->LastResult();
  } catch (...) {
    HandleException(std::current_exception());
  }
  return true;
}
