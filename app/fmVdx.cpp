#include "fmVdx.h"
#include "fmVdxDetails.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFileInfo>
#include <QHeaderView>
#include <QMenuBar>
#include <QPainter>
#include <QScopedValueRollback>
#include <QStatusBar>
#include <QTableWidget>
#include <QTimer>
#include <algorithm>

#include "Session.h"
#include "clMacro.h"
#include "cpTbTool.h"
#include "cpZip.h"
#include "fmDbPwd.h"
#include "svLog.h"

namespace {

// Design geometry: the grid's left offset is the window margin.
constexpr int kMargin = 10;
constexpr int kToolbarHeight = 48;
constexpr int kGridTop = 80;
constexpr int kRowHeight = 20;
constexpr int kStatusBarHeight = 24;
constexpr int kButtonSize = 37;
// Left edges of the toolbar buttons in tool order (Update, Pack, Copy,
// Retrieve, Backup, Restore); on screen Pack is the right-most button.
constexpr int kButtonLeft[kToolCount] = {10, 239, 56, 93, 147, 184};

// "UPDATE" -> "Update": the mixed-case form used in component names.
QString ToolTitle(TToolType tool) {
  QString name = QString::fromStdString(ToolName(tool)).toLower();
  name[0] = name[0].toUpper();
  return name;
}

QIcon ToolIcon(TToolType tool) {
  static const QColor colours[kToolCount] = {QColor(0x2e, 0x7d, 0x32), QColor(0x6d, 0x4c, 0x41),
                                             QColor(0x15, 0x65, 0xc0), QColor(0x00, 0x83, 0x8f),
                                             QColor(0xc6, 0x28, 0x28), QColor(0x8e, 0x24, 0xaa)};
  QPixmap pixmap(28, 28);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setBrush(colours[tool]);
  painter.setPen(Qt::NoPen);
  painter.drawRoundedRect(QRectF(1, 1, 26, 26), 5, 5);
  QFont font = painter.font();
  font.setBold(true);
  font.setPixelSize(16);
  painter.setFont(font);
  painter.setPen(Qt::white);
  painter.drawText(pixmap.rect(), Qt::AlignCenter, QString(QChar(ToolLetter(tool))));
  return QIcon(pixmap);
}

}  // namespace

TFormVardex::TFormVardex(const QStringList& params, QWidget* parent)
    : QMainWindow(parent), params_(params), table_tools_(std::make_unique<TZelTableTools>()) {
  setObjectName("FormVardex");
  CreateRun();
  BuildMenus();
  BuildToolbar();
  BuildGrid();
  statusBar()->setObjectName("StatusBar");
  statusBar()->setFixedHeight(kStatusBarHeight);
  statusBar()->setSizeGripEnabled(true);
  ApplyDesignTexts();
  resize(720, 420);
  password_dialog_ = new TFormDbPasswd(this);
  CreateBackupDialogs();
  FormCreate();
  details_ = new TFormVdxDetails(this);
  details_->Reload();
  AttachMacroEngine();
}

TFormVardex::~TFormVardex() {
  DetachMacroEngine();
  engine::TSession::Default().SetOnPassword(nullptr);
}

void TFormVardex::FormCreate() {
  const QString first = params_.isEmpty() ? QString() : params_.first().toUpper();
  InteractiveMode = first != "MACROSERVER" && first != "-EMBEDDING";
  FirstActivation = true;
  ControllerName.clear();
  Options = {voConfirm, voEndMsg};
  BuildLanguage();
  setWindowTitle(kTitle);
  engine::TSession::Default().SetOnPassword([this](const std::string& table, bool& retry) {
    retry = false;
    if (PasswordRequestHandler) PasswordRequestHandler(QString::fromStdString(table), retry);
  });
  PasswordRequestHandler = [this](const QString& table, bool& retry) {
    AnswerPasswordRequest(table, retry);
  };
  // Returning to the program from elsewhere shows aliases added meanwhile.
  connect(qApp, &QGuiApplication::applicationStateChanged, this, [this](Qt::ApplicationState s) {
    if (s == Qt::ApplicationActive) RefreshAliasList();
  });
  RefreshAliasList();
}

void TFormVardex::BuildMenus() {
  auto item = [this](TZelMenu* menu, const QString& name, const QString& caption) {
    auto* action = new TZelMenuItem(name, caption, this);
    menu->addAction(action);
    return action;
  };
  auto* database = new TZelMenu("MenuDatabase", "&Database", this);
  connect(item(database, "MenuPassword", "&Password..."), &QAction::triggered, this,
          [this] { Guarded([this] { MenuPasswordClick(); }); });
  connect(item(database, "MenuExport", "&Export..."), &QAction::triggered, this,
          [this] { Guarded([this] { ExportDatabase(); }); });
  database->addSeparator();
  connect(item(database, "MenuExit", "E&xit"), &QAction::triggered, this,
          [this] { MenuExitClick(); });

  auto* tools = new TZelMenu("MenuTools", "&Tools", this);
  popup_grid_ = new TZelMenu("PopupGrid", QString(), this);
  static const char* captions[kToolCount] = {"&Update...",   "&Pack...",   "&Copy...",
                                             "&Retrieve...", "&Backup...", "Res&tore..."};
  // Menu order: Update | Copy, Retrieve | Backup, Restore | Pack.
  static const TToolType order[kToolCount] = {ttUpdate, ttCopy,    ttRetrieve,
                                              ttBackup, ttRestore, ttPack};
  for (TToolType tool : order) {
    if (tool == ttCopy || tool == ttBackup || tool == ttPack) {
      tools->addSeparator();
      popup_grid_->addSeparator();
    }
    menu_items_[tool] = item(tools, "Menu" + ToolTitle(tool), captions[tool]);
    auto* popup_item = item(popup_grid_, "Popup" + ToolTitle(tool), captions[tool]);
    for (QAction* action : std::initializer_list<QAction*>{menu_items_[tool], popup_item}) {
      connect(action, &QAction::triggered, this,
              [this, tool] { Guarded([this, tool] { RunTool(tool); }); });
    }
  }

  connect(item(tools, "MenuPreviewUpdate", "Pre&view Update..."), &QAction::triggered, this, [this] { Guarded([this] { PreviewUpdate(); }); });
  auto* help = new TZelMenu("MenuHelp", "&Help", this);
  connect(item(help, "MenuAbout", "&About..."), &QAction::triggered, this,
          [this] { MenuAboutClick(); });
  for (TZelMenu* menu : {database, tools, help}) menuBar()->addMenu(menu);
  menuBar()->setObjectName("MainMenu");
}

void TFormVardex::BuildToolbar() {
  auto* central = new QWidget(this);
  central->setObjectName("ClientArea");
  setCentralWidget(central);
  toolbar_ = new QWidget(central);
  toolbar_->setObjectName("PanelToolbar");
  toolbar_->setGeometry(0, 0, width(), kToolbarHeight);
  for (int t = 0; t < kToolCount; ++t) {
    const auto tool = static_cast<TToolType>(t);
    auto* button = new TZelSpeedButton("SpdBtn" + ToolTitle(tool), toolbar_);
    button->setGeometry(kButtonLeft[t], (kToolbarHeight - kButtonSize) / 2, kButtonSize,
                        kButtonSize);
    button->setIcon(ToolIcon(tool));
    button->setIconSize(QSize(28, 28));
    connect(button, &QToolButton::clicked, this,
            [this, tool] { Guarded([this, tool] { RunTool(tool); }); });
    buttons_[t] = button;
  }
  label_database_ = new TZelLabel("LabelDatabase", "Database List", central);
  label_database_->setGeometry(kMargin, kToolbarHeight + 8, 300, kGridTop - kToolbarHeight - 10);
}

void TFormVardex::BuildGrid() {
  grid_ = new QTableWidget(0, 2, centralWidget());
  grid_->setObjectName("Grid");
  grid_->setGeometry(kMargin, kGridTop, 600, 8 * kRowHeight);
  grid_->setSelectionBehavior(QAbstractItemView::SelectRows);
  grid_->setSelectionMode(QAbstractItemView::SingleSelection);
  grid_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  grid_->setVerticalScrollMode(QAbstractItemView::ScrollPerItem);
  grid_->setContextMenuPolicy(Qt::PreventContextMenu);
  grid_->verticalHeader()->hide();  // no fixed column
  grid_->verticalHeader()->setDefaultSectionSize(kRowHeight);
  grid_->verticalHeader()->setSectionResizeMode(QHeaderView::Interactive);
  grid_->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
  grid_->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  // The folder column takes the rest of the grid's width, as its design
  // width (1185 beside 94) did at design size.
  grid_->horizontalHeader()->setStretchLastSection(true);
  grid_->setColumnWidth(0, 94);
  grid_->viewport()->installEventFilter(this);
  connect(grid_->selectionModel(), &QItemSelectionModel::currentChanged, this,
          [this] { OnGridCurrentChanged(); });
}

void TFormVardex::ApplyDesignTexts() {
  for (int t = 0; t < kToolCount; ++t) {
    const QString name = QString::fromStdString(ToolName(static_cast<TToolType>(t)));
    buttons_[t]->SetHint(Value("SpeedButtonHints", "SpdBtn" + name));
    menu_items_[t]->SetHint(Value("MenuHints", "Menu" + name));
  }
  for (const char* name : {"MenuPassword", "MenuExit", "MenuAbout"}) {
    if (auto* item = findChild<TZelMenuItem*>(name)) item->SetHint(Value("MenuHints", name));
  }
}

TZelMenuItem* TFormVardex::ToolMenuItem(TToolType tool) const { return menu_items_[tool]; }
TZelSpeedButton* TFormVardex::ToolButton(TToolType tool) const { return buttons_[tool]; }

void TFormVardex::SetToolControlsEnabled(bool enabled) {
  grid_->setEnabled(enabled);
  if (enabled && details_) details_->Reload();  // what the run changed
  for (int t = 0; t < kToolCount; ++t) {
    menu_items_[t]->setEnabled(enabled);
    buttons_[t]->setEnabled(enabled);
  }
  for (QAction* action : popup_grid_->actions()) action->setEnabled(enabled);
}

void TFormVardex::RunTool(TToolType tool) {
  emit ToolRequested(tool);
  if (ToolRunHandler) {
    ToolRunHandler(tool);
    return;
  }
  // A macro command can arrive while a run waits between tables; a second
  // run inside the first would work on tables the first has half done.
  if (ToolRunning) return;
  switch (tool) {
    case ttUpdate:
      run_->RunUpdate();
      break;
    case ttCopy:
      run_->RunCopy();
      break;
    case ttRetrieve:
      run_->RunRetrieve();
      break;
    case ttPack:
      run_->RunPack();
      break;
    case ttBackup:
      run_->RunBackup();
      break;
    case ttRestore:
      run_->RunRestore();
      break;
  }
}

void TFormVardex::Guarded(const std::function<void()>& action) {
  try {
    action();
  } catch (...) {
    HandleException(std::current_exception());
  }
}

void TFormVardex::MenuExitClick() { close(); }

void TFormVardex::MenuAboutClick() {
  if (AboutHandler) AboutHandler();
}

void TFormVardex::FormActivate() {
  repaint();
  if (!FirstActivation) return;
  FirstActivation = false;
  ShowHintInStatusBar();
  if (OpenToolLogHandler ? !OpenToolLogHandler() : !OpenLog()) {
    const bool busy = !OpenToolLogHandler && LogWasBusy();
    ExitCode = busy ? kExitLogBusy : kExitLogUnavailable;
    ShowMessageKey("Notifications", busy ? "LogBusy" : "LogCannotCreate");
    TerminateApplication();
    return;  // no tool run without its log
  }
  if (!OpenToolLogHandler && !LogSetAsidePath().empty()) {
    ShowMessageKey("Notifications", "LogSetAside", {QString::fromStdString(LogSetAsidePath())},
                   mkWarning);
  }
  const QString config = QString::fromStdString(engine::TSession::Default().ConfigFile());
  if (InteractiveMode && !QFileInfo::exists(config)) {
    ShowMessageKey("Notifications", "ConfigMissing", {config}, mkWarning);
  }
  if (ProcessStartupRequest()) TerminateApplication();
}

bool TFormVardex::FormCloseQuery() {
  if (InteractiveMode) return !AutomationCloseQuery || AutomationCloseQuery();
  ShowMessageKey("Notifications", "CannotExitApp", {ControllerName, ControllerName}, mkWarning);
  return false;
}

void TFormVardex::RequestClose() {
  if (ToolRunning) return;
  const bool interactive = InteractiveMode;
  InteractiveMode = true;
  if (!close()) InteractiveMode = interactive;  // the automation warning kept it open
}

void TFormVardex::TerminateApplication() {
  if (TerminateHandler) {
    TerminateHandler();
    return;
  }
  const int code = ExitCode;
  QMetaObject::invokeMethod(qApp, [code] { QCoreApplication::exit(code); }, Qt::QueuedConnection);
}

void TFormVardex::BringForward() {
  // Un-minimise but keep a maximised window maximised.
  if (isMinimized()) setWindowState(windowState() & ~Qt::WindowMinimized);
  show();
  raise();
  activateWindow();
}

void TFormVardex::FormResize() {
  if (resizing_) return;
  QScopedValueRollback guard(resizing_, true);
  const int m = grid_->x();
  const TZelSpeedButton* pack = buttons_[ttPack];
  const int min_width = pack->x() + pack->width() + 2 * m;
  const int min_height =
      grid_->y() + 8 * grid_->verticalHeader()->defaultSectionSize() + m + statusBar()->height();
  // Outer size: with the window manager's frame where there is one.
  const QSize frame_extra = frameGeometry().size() - size();
  QSize outer = size() + frame_extra;
  if (outer.width() < min_width || outer.height() < min_height) {
    outer = outer.expandedTo(QSize(min_width, min_height));
    resize(outer - frame_extra);
  }
  toolbar_->setFixedWidth(centralWidget()->width());
  // Beside the details pane, the grid keeps its margin to the pane.
  grid_->resize(outer.width() - 3 * m - (details_ ? details_->Room() : 0), outer.height() - grid_->y() - 7 * m - statusBar()->height());
}

bool TFormVardex::event(QEvent* e) {
  switch (e->type()) {
    case QEvent::StatusTip:
      SetApplicationHint(static_cast<QStatusTipEvent*>(e)->tip());
      return true;
    case QEvent::WindowActivate: {
      const bool handled = QMainWindow::event(e);
      Guarded([this] { FormActivate(); });
      return handled;
    }
    default:
      return QMainWindow::event(e);
  }
}

void TFormVardex::closeEvent(QCloseEvent* e) {
  if (FormCloseQuery()) {
    e->accept();
  } else {
    e->ignore();
  }
}

void TFormVardex::resizeEvent(QResizeEvent* e) {
  QMainWindow::resizeEvent(e);
  FormResize();
}

bool TFormVardex::eventFilter(QObject* watched, QEvent* e) {
  if (watched == grid_->viewport() && e->type() == QEvent::MouseButtonPress) {
    auto* mouse = static_cast<QMouseEvent*>(e);
    if (mouse->button() == Qt::RightButton) {
      Guarded([&] { GridMouseDown(mouse->button(), mouse->position().toPoint()); });
      return true;
    }
  }
  return QMainWindow::eventFilter(watched, e);
}
