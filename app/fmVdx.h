// The main window TFormVardex: the list of databases (aliases of the engine's
// standard driver with their folders), the selection every tool acts on, the
// menus, toolbar and context menu that start the tools, the status bar, the
// closing rules of server mode and the tool request of the command line.
#pragma once

#include <QMainWindow>
#include <QMessageBox>
#include <QStringList>
#include <exception>
#include <functional>
#include <memory>
#include <set>
#include <vector>

#include "ToolRun.h"
#include "ZelControls.h"
#include "tcVardex.h"

class QLabel;
class QTableWidget;
class QWidget;
class TFormDbPasswd;
class TFormSelectDrive;
class TFormZipProgress;
class TMacroHost;
class TZelMacroServer;
class TWindowRunDriver;
class TFormVardexMacroHost;
class TZelLanguage;
class TZelLangSection;
class TZelTableTools;
class TFormVdxDetails;

// A rectangle of grid cells in the grid's own numbering: row 0 is the
// header row, data rows count from 1.
struct TGridRect {
  int Left = 0, Top = 1, Right = 1, Bottom = 1;
  bool operator==(const TGridRect&) const = default;
};

// One message of the window: a keyed text of a language section with its
// arguments. An empty section means `Key` is the text itself (exception
// messages).
struct TMessageRequest {
  QString Section;
  QString Key;  // the first of Keys
  QStringList Args;
  TMsgKind Kind = mkError;
  QMessageBox::StandardButtons Buttons = QMessageBox::Ok;
  QStringList Keys;  // every key of a message built from several
  QString Detail;    // what the message is about (tables, folders), a line of its own
};

enum TVdxOption { voConfirm, voEndMsg };

// The drive and the complement (Copy before Backup, Retrieve after Restore)
// of the drive selection dialog: kept for the program's lifetime, set by the
// user in the dialog or by the macro command SETDRIVE, and used without the
// dialog when CONFIRM is off.
struct TDriveSelection {
  QChar Drive = 'A';
  bool Complement = true;
};

class TFormVardex : public QMainWindow {
  Q_OBJECT
  Q_PROPERTY(QString Caption READ windowTitle WRITE setWindowTitle)

 public:
  static constexpr const char* kTitle = "Vardex 1.0d";

  // `params` are the command-line parameters without the program name.
  explicit TFormVardex(const QStringList& params, QWidget* parent = nullptr);
  ~TFormVardex() override;

  // The selected database and the state the macro engine and tests read.
  QString CurrentAlias;
  QString CurrentPath;
  TGridRect AcceptedSelection;
  bool InteractiveMode = true;
  bool ToolRunning = false;
  bool FirstActivation = true;
  QString ControllerName;
  std::set<TVdxOption> Options;
  TDriveSelection DriveSelection;

  // Window events.
  void FormActivate();
  bool FormCloseQuery();
  void FormResize();
  void MenuPasswordClick();
  // The table browser's Export...: one table (its data file) for other programs.
  void ExportTable(const QString& path);

  void RefreshAliasList();
  void SelectAliasByName(const QString& name);
  bool ProcessStartupRequest();
  // The program's exit code after a tool run requested on the command line:
  // 0 for trSuccess, the result's ordinal otherwise, kExitBadCommandLine when
  // the line names no database or no tool.
  static constexpr int kExitBadCommandLine = 64;
  // The tool log is held by another program, or cannot be opened or created
  // at all: nothing ran, and nothing could have been recorded.
  static constexpr int kExitLogBusy = 11;
  static constexpr int kExitLogUnavailable = 12;
  int ExitCode = 0;
  void RequestClose();

  // The tool runs: the run layer's TToolRun, driven by this window
  // (fmVdxRun.cpp). Its FinishRun ends a run by throwing EAbort (ToolRun.h).
  toolrun::TToolRun& Run() const { return *run_; }

  // Backup and Restore (fmVdxBackup.cpp): the drive selection dialog and the
  // archive's progress. The macro SETDRIVE: drive letter and complement.
  void SetBackupDrive(QChar letter);
  void SetBackupComplement(bool on);
  TFormSelectDrive* SelectDriveDialog() const { return select_drive_; }
  TFormZipProgress* ZipProgressDialog() const { return zip_progress_; }

  // The password (fmVdxPwd.cpp): the engine's list and the table tools'.
  void ApplyPassword(const QString& password);
  // Applies and writes it into the dialog's edits (macro SETPASSWORD).
  void SetPassword(const QString& password);
  QString Password() const;
  TFormDbPasswd* PasswordDialog() const { return password_dialog_; }
  TZelTableTools& TableTools() const { return *table_tools_; }
  TZelLanguage* Language() const { return language_; }

  // The grid in its own numbering (row 0 the header).
  QTableWidget* Grid() const { return grid_; }
  int RowCount() const;
  QString Cell(int col, int row) const;
  TGridRect Selection() const;

  // The application's current hint, as hovering a control with a hint sets it.
  QString ApplicationHint() const { return application_hint_; }
  void SetApplicationHint(const QString& hint);

  // Every message of the window goes through here. Returns the button pressed.
  QMessageBox::StandardButton ShowMessageKey(const QString& section, const QString& key,
                                             const QStringList& args = {}, TMsgKind kind = mkError,
                                             QMessageBox::StandardButtons buttons = QMessageBox::Ok,
                                             const QString& detail = QString());
  // A keyed text formatted with its arguments (progress captions).
  QString FormatValue(const QString& section, const QString& key, const QStringList& args) const;
  // A keyed text of a language section ("MainWindow", "MenuHints" ...).
  QString Value(const QString& section, const QString& key) const;
  // The application's exception handling: the silent abort passes, every
  // other exception is shown and ends a run in progress with trError.
  void HandleException(std::exception_ptr error);

  TZelMenuItem* ToolMenuItem(TToolType tool) const;
  TZelSpeedButton* ToolButton(TToolType tool) const;
  // Grid, tool menu items and tool buttons; off while a run is in progress.
  void SetToolControlsEnabled(bool enabled);
  // Asked by a second start of the program.
  void BringForward();

  // The macro conversation this window owns (object name "MacroServer");
  // the program start makes it listen. The macro engine acts on the window
  // that was created last and is still alive (fmVdxMacro.cpp).
  TZelMacroServer* MacroServer() const { return macro_server_; }
  // A tool request of a second start ("Vdx32 ALIAS -X" while this one runs):
  // run as the macro USETOOL would; the macro answer.
  QString RunForwardedRequest(const QString& alias, QChar letter);
  // After a start by automation: asked before the window closes while
  // clients still use the automation object; false keeps it open.
  std::function<bool()> AutomationCloseQuery;

  // Seams for the parts that come with the tool runs, the language file and
  // the tool log, and for tests that must observe without a real box or exit.
  // Without ToolRunHandler the window runs every tool itself.
  std::function<QMessageBox::StandardButton(const TMessageRequest&)> MessageHandler;
  std::function<QString(const QString& section, const QString& key)> TextLookup;
  std::function<void()> TerminateHandler;
  std::function<bool()> OpenToolLogHandler;       // first activation; false = cannot
  std::function<void(TToolType)> ToolRunHandler;  // runs the tool of a handler
  std::function<void()> PasswordHandler;
  std::function<void()> AboutHandler;
  // The engine's password request while this window lives: may add
  // passwords and sets `retry` to have the open tried again.
  std::function<void(const QString& table, bool& retry)> PasswordRequestHandler;

 signals:
  void ToolRequested(TToolType tool);

 protected:
  bool event(QEvent* e) override;
  void closeEvent(QCloseEvent* e) override;
  void resizeEvent(QResizeEvent* e) override;
  bool eventFilter(QObject* watched, QEvent* e) override;

 private:
  friend class TWindowRunDriver;
  friend class TFormVardexMacroHost;

  // The state of a run the window keeps for the run layer (TWindowRunDriver).
  TToolType CurrentTool = ttUpdate;
  bool AskPassword = false;

  void FormCreate();
  void GridClick();
  void GridMouseDown(Qt::MouseButton button, const QPoint& viewport_pos);
  void MenuExitClick();
  void MenuAboutClick();
  // Database > Export... (fmVdxExport.cpp): the selected database for other programs.
  void ExportDatabase();
  // Asks where to and writes the tables (fmVdxExport.cpp); name titles the
  // progress and the default target.
  void ExportPaths(const std::vector<std::string>& paths, bool whole_folder, const QString& name);
  // Tools > Preview Update... (fmVdxPlan.cpp): what an Update would do, written nowhere.
  void PreviewUpdate();
  // The run layer and this window as its driver (fmVdxRun.cpp).
  void CreateRun();
  void BuildMenus();
  void BuildToolbar();
  void BuildGrid();
  void ApplyDesignTexts();
  void BuildLanguage();
  void ApplyLanguageToProgress();
  TZelLangSection* LangSection(const QString& section) const;
  // The tool of a menu item, a toolbar button or the context menu.
  void RunTool(TToolType tool);
  void Guarded(const std::function<void()>& action);
  void FillGrid();
  void SelectRow(int row);
  void SetSelection(const TGridRect& rect);
  int TopRow() const;
  int VisibleRowCount() const;
  void OnGridCurrentChanged();
  void ShowHintInStatusBar();
  // A message made of several keys, one line each.
  QMessageBox::StandardButton ShowMessageKeys(
      const QString& section, const QStringList& keys, const QStringList& args = {},
      TMsgKind kind = mkError, QMessageBox::StandardButtons buttons = QMessageBox::Ok,
      const QString& detail = QString());
  // Ends the program once control returns to the message loop.
  void TerminateApplication();
  // The engine's request for a password while a run opens a protected table.
  void AnswerPasswordRequest(const QString& table, bool& retry);
  // The macro engine's view of this window (fmVdxMacro.cpp).
  void AttachMacroEngine();
  void DetachMacroEngine();
  // The conversation's macro event: the engine's result, cut to 50 characters.
  void MacroServerProcessMacro(const QString& name, const QStringList& params, QString& result);
  // A macro's run: as the tool's menu entry runs it. False when none started
  // (a run in progress, the tool controls off).
  bool RunToolForMacro(TToolType tool, TToolResult* result, bool* logged);

  QStringList params_;
  QString application_hint_;
  QWidget* toolbar_ = nullptr;
  TZelLabel* label_database_ = nullptr;
  QTableWidget* grid_ = nullptr;
  TZelMenu* popup_grid_ = nullptr;
  TZelMenuItem* menu_items_[kToolCount] = {};
  TZelSpeedButton* buttons_[kToolCount] = {};
  bool updating_grid_ = false;  // the program, not the user, moves the selection
  bool click_pending_ = false;
  bool resizing_ = false;
  TZelLanguage* language_ = nullptr;
  TFormDbPasswd* password_dialog_ = nullptr;
  std::unique_ptr<TZelTableTools> table_tools_;
  bool password_refused_ = false;  // this run's password request was declined
  std::unique_ptr<toolrun::TRunDriver> run_driver_;
  std::unique_ptr<toolrun::TToolRun> run_;
  // Backup and Restore: the dialogs; the drive dialog when CONFIRM is on
  // (false: cancelled); drives.ini in the program folder; the drive letter
  // and drive table of this run: the dialog's letter and drives.ini, or a
  // letter that maps the removable medium chosen there.
  void CreateBackupDialogs();
  bool ShowDriveDialog();
  QString DrivesFile() const;
  QChar RunDrive() const;
  QString RunDrivesFile() const;
  TFormSelectDrive* select_drive_ = nullptr;
  TFormZipProgress* zip_progress_ = nullptr;
  std::unique_ptr<TMacroHost> macro_host_;
  TZelMacroServer* macro_server_ = nullptr;
  TFormVdxDetails* details_ = nullptr;  // the pane beside the grid
};
