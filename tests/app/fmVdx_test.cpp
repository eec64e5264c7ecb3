// The main window: database list, selection rules, start-up request, closing
// rules, resize minima, status bar hints and the wiring of the tool controls.
#include "fmVdx.h"

#include <QElapsedTimer>
#include <QMenu>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <fstream>
#include <memory>
#include <thread>

#include "Session.h"
#include "TableLock.h"
#include "fmVdxRun.h"
#include "svLog.h"

namespace {

const char* kThreeDatabases =
    "[sales]\nTYPE=STANDARD\nPATH=/srv/sales data\n"
    "[ORDERSERVER]\nTYPE=INTRBASE\nSERVER NAME=localhost:/srv/o.gdb\n"
    "[Demo]\nPATH=/srv/démo\n"
    "[zeta]\nTYPE=STANDARD\nPATH=\n";

// Records what the window would have shown or done.
struct Observer {
  QList<TMessageRequest> messages;
  int terminations = 0;
  QList<TToolType> tools;
  QStringList Keys() const {
    QStringList keys;
    for (const auto& m : messages) keys << m.Key;
    return keys;
  }
};

}  // namespace

class TFormVardexTest : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir dir_;
  Observer seen_;

  void WriteConfig(const char* text) {
    std::ofstream(dir_.filePath("engine.ini").toStdString(), std::ios::trunc) << text;
    engine::TSession::Default().SetConfigFile(dir_.filePath("engine.ini").toStdString());
  }

  std::unique_ptr<TFormVardex> MakeForm(const QStringList& params = {}) {
    seen_ = Observer();
    auto form = std::make_unique<TFormVardex>(params);
    form->MessageHandler = [this](const TMessageRequest& m) {
      seen_.messages << m;
      return QMessageBox::Ok;
    };
    form->TerminateHandler = [this] { ++seen_.terminations; };
    form->ToolRunHandler = [](TToolType) {};  // the runs themselves are tested elsewhere
    form->OpenToolLogHandler = [] { return true; };
    connect(form.get(), &TFormVardex::ToolRequested, this,
            [this](TToolType tool) { seen_.tools << tool; });
    return form;
  }

  static void ShowAndWait(TFormVardex& form) {
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
  }

  static QPoint RowCenter(TFormVardex& form, int row) {
    return form.Grid()->visualItemRect(form.Grid()->item(row - 1, 0)).center();
  }

 private slots:
  void init() { WriteConfig(kThreeDatabases); }

  void listsStandardAliasesSortedWithTheirFolders() {
    auto form = MakeForm();
    QCOMPARE(form->RowCount(), 4);  // header + Demo, sales, zeta; the SQL server alias is left out
    QCOMPARE(form->Cell(0, 0), QString("Alias"));
    QCOMPARE(form->Cell(1, 0), QString("Folder"));
    QCOMPARE(form->Cell(0, 1), QString("Demo"));
    QCOMPARE(form->Cell(1, 1), QString("/srv/démo"));
    QCOMPARE(form->Cell(1, 2), QString("/srv/sales data"));
    QCOMPARE(form->Cell(0, 3), QString("zeta"));
    QCOMPARE(form->Cell(1, 3), QString());  // PATH= with nothing behind it
    QCOMPARE(form->CurrentAlias, QString("Demo"));
    QCOMPARE(form->CurrentPath, QString("/srv/démo"));
    QCOMPARE(form->AcceptedSelection, (TGridRect{0, 1, 1, 1}));
    QCOMPARE(form->windowTitle(), QString("Vardex 1.0d"));
    QVERIFY(form->InteractiveMode);
    QVERIFY(form->Options == (std::set<TVdxOption>{voConfirm, voEndMsg}));
  }

  void withoutDatabasesOneEmptyRowRemains() {
    for (const char* config : {"[ORDERSERVER]\nTYPE=INTRBASE\nUSER NAME=x\n", ""}) {
      WriteConfig(config);
      auto form = MakeForm();
      QCOMPARE(form->RowCount(), 2);
      QCOMPARE(form->Grid()->horizontalHeaderItem(0)->text(), QString("Alias"));
      QCOMPARE(form->Cell(0, 1), QString());
      QVERIFY(form->CurrentAlias.isEmpty());
      QVERIFY(form->CurrentPath.isEmpty());
    }
    engine::TSession::Default().SetConfigFile(dir_.filePath("missing.ini").toStdString());
    auto form = MakeForm();
    QCOMPARE(form->RowCount(), 2);
    QVERIFY(form->CurrentAlias.isEmpty());
  }

  void selectAliasByNameIgnoresCaseAndClearsOnMiss() {
    auto form = MakeForm();
    form->SelectAliasByName("ZETA");
    QCOMPARE(form->CurrentAlias, QString("zeta"));
    QCOMPARE(form->CurrentPath, QString());
    QCOMPARE(form->Selection().Top, 3);
    QCOMPARE(form->AcceptedSelection.Top, 3);
    form->SelectAliasByName("nosuch");
    QVERIFY(form->CurrentAlias.isEmpty());
    QVERIFY(form->CurrentPath.isEmpty());
    QCOMPARE(form->Selection().Top, 3);  // left as it was
  }

  // The selection keeps its row number across a refresh, as the application's
  // activation triggers it; a row that is gone falls back to the last one.
  void refreshOnActivationKeepsTheRowNumber() {
    auto form = MakeForm();
    form->SelectAliasByName("sales");
    WriteConfig(
        "[Alpha]\nPATH=/a\n[sales]\nPATH=/srv/sales data\n[Demo]\nPATH=/d\n[zeta]\nPATH=/z\n");
    emit qApp->applicationStateChanged(Qt::ApplicationActive);
    QCOMPARE(form->Selection().Top, 2);
    QCOMPARE(form->CurrentAlias, QString("Demo"));  // follows the row, not the name
    QCOMPARE(form->RowCount(), 5);

    form->SelectAliasByName("zeta");
    WriteConfig("[Alpha]\nPATH=/a\n");
    emit qApp->applicationStateChanged(Qt::ApplicationActive);
    QCOMPARE(form->Selection().Top, 1);
    QCOMPARE(form->AcceptedSelection.Top, 1);
    QCOMPARE(form->CurrentAlias, QString("Alpha"));
    QCOMPARE(form->CurrentPath, QString("/a"));

    form->ToolRunning = true;  // a run keeps its database
    WriteConfig("[Other]\nPATH=/o\n");
    form->RefreshAliasList();
    QCOMPARE(form->CurrentAlias, QString("Alpha"));
  }

  void clickSelectsInInteractiveMode() {
    auto form = MakeForm();
    ShowAndWait(*form);
    QTest::mouseClick(form->Grid()->viewport(), Qt::LeftButton, {}, RowCenter(*form, 2));
    QTRY_COMPARE(form->CurrentAlias, QString("sales"));
    QCOMPARE(form->CurrentPath, QString("/srv/sales data"));
    QCOMPARE(form->AcceptedSelection.Top, 2);
    QTest::keyClick(form->Grid(), Qt::Key_Down);
    QTRY_COMPARE(form->CurrentAlias, QString("zeta"));
    QVERIFY(seen_.messages.isEmpty());
  }

  void clickIsRefusedInServerMode() {
    auto form = MakeForm({"macroserver", "SALES"});
    QVERIFY(!form->InteractiveMode);
    form->ControllerName = "Scheduler";
    ShowAndWait(*form);
    QTest::mouseClick(form->Grid()->viewport(), Qt::LeftButton, {}, RowCenter(*form, 3));
    QTRY_COMPARE(seen_.messages.size(), 1);
    QCOMPARE(seen_.messages[0].Key, QString("CannotChangeAlias"));
    QCOMPARE(seen_.messages[0].Section, QString("Notifications"));
    QCOMPARE(seen_.messages[0].Args, QStringList{"Scheduler"});
    QCOMPARE(seen_.messages[0].Kind, mkWarning);
    QCOMPARE(form->Selection().Top, 1);
    QCOMPARE(form->CurrentAlias, QString("Demo"));
  }

  // The right button selects the row under the mouse, also in server mode,
  // and opens the context menu; below the last row nothing is selected.
  void rightButtonSelectsAndPopsUp() {
    for (const QStringList& params : {QStringList{}, QStringList{"-EMBEDDING"}}) {
      auto form = MakeForm(params);
      ShowAndWait(*form);
      auto* popup = form->findChild<QMenu*>("PopupGrid");
      QTest::mouseClick(form->Grid()->viewport(), Qt::RightButton, {}, RowCenter(*form, 3));
      QCOMPARE(form->CurrentAlias, QString("zeta"));
      QCOMPARE(form->AcceptedSelection.Top, 3);
      QTRY_VERIFY(popup->isVisible());
      popup->hide();
      const QPoint below(10, form->Grid()->viewport()->height() - 2);
      QTest::mouseClick(form->Grid()->viewport(), Qt::RightButton, {}, below);
      QCOMPARE(form->CurrentAlias, QString("zeta"));
      QTRY_VERIFY(popup->isVisible());
      popup->hide();
      QTest::qWait(20);
      QVERIFY(seen_.messages.isEmpty());
    }
  }

  void startupRequest_data() {
    QTest::addColumn<QStringList>("params");
    QTest::addColumn<QString>("message");
    QTest::addColumn<int>("tool");  // -1: none requested
    QTest::addColumn<bool>("ends");
    QTest::newRow("unknown alias")
        << QStringList{"NOSUCH", "-U"} << "DatabaseNotFound" << -1 << true;
    QTest::newRow("letter without sign")
        << QStringList{"DEMO", "U"} << "InvalidToolParam" << -1 << true;
    QTest::newRow("no switch") << QStringList{"DEMO"} << "InvalidToolParam" << -1 << true;
    QTest::newRow("switch too long")
        << QStringList{"DEMO", "-UP"} << "InvalidToolParam" << -1 << true;
    QTest::newRow("letter of no tool")
        << QStringList{"DEMO", "-Q"} << "The character \"Q\" does not represent any tool type" << -1
        << true;
    QTest::newRow("slash, lower case") << QStringList{"sales", "/u"} << "" << int(ttUpdate) << true;
    QTest::newRow("minus, lower case") << QStringList{"Demo", "-u"} << "" << int(ttUpdate) << true;
    QTest::newRow("restore is T") << QStringList{"ZETA", "-t"} << "" << int(ttRestore) << true;
    QTest::newRow("pack") << QStringList{"demo", "/P"} << "" << int(ttPack) << true;
    QTest::newRow("server mode") << QStringList{"MACROSERVER", "-U"} << "" << -1 << false;
    QTest::newRow("no parameters") << QStringList{} << "" << -1 << false;
  }

  void startupRequest() {
    QFETCH(QStringList, params);
    QFETCH(QString, message);
    QFETCH(int, tool);
    QFETCH(bool, ends);
    auto form = MakeForm(params);
    QCOMPARE(form->ProcessStartupRequest(), ends);
    QCOMPARE(seen_.Keys(), message.isEmpty() ? QStringList{} : QStringList{message});
    // A refused line ends with its own code; a run with its result's ordinal.
    QCOMPARE(form->ExitCode, message.isEmpty() ? 0 : TFormVardex::kExitBadCommandLine);
    QCOMPARE(seen_.tools.size(), tool < 0 ? 0 : 1);
    if (tool >= 0) {
      QCOMPARE(int(seen_.tools[0]), tool);
      QCOMPARE(form->CurrentAlias.toUpper(), params[0].toUpper());
    }
    // The first activation takes the request once and then ends the program.
    seen_ = Observer();
    form->FirstActivation = true;
    form->FormActivate();
    form->FormActivate();
    QCOMPARE(seen_.terminations, ends ? 1 : 0);
    QCOMPARE(seen_.messages.size(), message.isEmpty() ? 0 : 1);
  }

  void logThatCannotBeOpenedEndsWithoutARun() {
    auto form = MakeForm({"DEMO", "-U"});
    form->OpenToolLogHandler = [] { return false; };
    form->FormActivate();
    QCOMPARE(seen_.Keys(), QStringList{"LogCannotCreate"});
    QCOMPARE(seen_.terminations, 1);
    QCOMPARE(form->ExitCode, TFormVardex::kExitLogUnavailable);
    QVERIFY(seen_.tools.isEmpty());
  }

  // A log another program holds gets a few seconds; held longer, the program
  // ends with a code of its own, never 0, and runs nothing. Let go in time,
  // the run goes ahead.
  void logHeldByAnotherProgramEndsWithItsOwnCode() {
    QTemporaryDir home;
    qputenv("VARDEX_HOME", home.path().toUtf8());
    QVERIFY(OpenLog());
    CloseLog();
    for (const bool let_go : {false, true}) {
      auto holder = std::make_unique<engine::TableLock>();
      QVERIFY(holder->Acquire(home.filePath(kLogTableName).toStdString(), true).ok());
      std::thread release;
      if (let_go) {
        release = std::thread([&holder] {
          std::this_thread::sleep_for(std::chrono::milliseconds(500));
          holder->Release();
        });
      }
      auto form = MakeForm({"DEMO", "-U"});
      form->OpenToolLogHandler = nullptr;
      QElapsedTimer waited;
      waited.start();
      form->FormActivate();
      if (release.joinable()) release.join();
      CloseLog();
      if (let_go) {
        QVERIFY(!seen_.Keys().contains("LogBusy"));
        QCOMPARE(seen_.tools, QList<TToolType>{ttUpdate});
        QCOMPARE(form->ExitCode, 0);
        continue;
      }
      QVERIFY(waited.elapsed() >= kLogBusyWait.count());
      QCOMPARE(seen_.Keys(), QStringList{"LogBusy"});
      QCOMPARE(seen_.terminations, 1);
      QCOMPARE(form->ExitCode, TFormVardex::kExitLogBusy);
      QVERIFY(seen_.tools.isEmpty());
    }
    qunsetenv("VARDEX_HOME");
  }

  void closingIsRefusedInServerModeUntilRequested() {
    auto form = MakeForm({"MACROSERVER"});
    form->ControllerName = "Scheduler";
    ShowAndWait(*form);
    QVERIFY(!form->close());
    QVERIFY(form->isVisible());
    QCOMPARE(seen_.Keys(), QStringList{"CannotExitApp"});
    QCOMPARE(seen_.messages[0].Args, (QStringList{"Scheduler", "Scheduler"}));
    QVERIFY(!form->FormCloseQuery());

    form->ToolRunning = true;
    form->RequestClose();
    QVERIFY(form->isVisible());
    QVERIFY(!form->InteractiveMode);
    form->ToolRunning = false;
    form->RequestClose();
    QVERIFY(!form->isVisible());
    QVERIFY(form->InteractiveMode);

    auto interactive = MakeForm();
    ShowAndWait(*interactive);
    interactive->findChild<QAction*>("MenuExit")->trigger();
    QVERIFY(!interactive->isVisible());
    QVERIFY(seen_.messages.isEmpty());
  }

  // A second start of the program un-minimises the window, keeping it
  // maximised when it was.
  void bringForwardRestoresAMinimisedWindow() {
    auto form = MakeForm();
    ShowAndWait(*form);
    form->setWindowState(Qt::WindowMaximized | Qt::WindowMinimized);
    QTRY_VERIFY(form->isMinimized());
    form->BringForward();
    QTRY_VERIFY(!form->isMinimized());
    QVERIFY(form->isMaximized());
    QVERIFY(form->isVisible());
  }

  // Pack button at 239 + 37, margin 10, grid top 80, rows of 20, status bar 24.
  void resizeKeepsTheMinimaAndTheGridMargins() {
    auto form = MakeForm();
    // The minima are those of the list alone; the details pane adds its own.
    form->findChild<QWidget*>("DetailsPane")->hide();
    ShowAndWait(*form);
    form->resize(100, 100);
    QTRY_COMPARE(form->frameGeometry().size(), QSize(296, 274));
    auto* grid = form->Grid();
    QCOMPARE(grid->pos(), QPoint(10, 80));
    QCOMPARE(grid->width(), 296 - 30);
    QCOMPARE(grid->height(), 274 - 80 - 70 - 24);
    // resize() sets the inner size; the rules hold for the outer one.
    const QSize frame = form->frameGeometry().size() - form->size();
    form->resize(900, 100);
    QTRY_COMPARE(form->frameGeometry().height(), 274);
    QCOMPARE(form->frameGeometry().width(), 900 + frame.width());
    QCOMPARE(grid->width(), 900 + frame.width() - 30);
    form->resize(640, 480);
    QTRY_COMPARE(form->size(), QSize(640, 480));
    QCOMPARE(grid->width(), 640 + frame.width() - 30);
    QCOMPARE(grid->height(), 480 + frame.height() - 174);
  }

  void statusBarShowsTheMenuHintOfAToolbarButton() {
    auto form = MakeForm();
    form->FormActivate();
    QVERIFY(form->statusBar()->currentMessage().isEmpty());
    // A button's status tip reaches the window as the application's hint.
    QStatusTipEvent tip(form->ToolButton(ttCopy)->statusTip());
    QCoreApplication::sendEvent(form->ToolButton(ttCopy), &tip);
    QCOMPARE(form->ApplicationHint(), QString("Copy"));
    QCOMPARE(form->statusBar()->currentMessage(),
             QString("Saves a copy of every table into SAFE, then updates the tables of the "
                     "database."));
    form->SetApplicationHint("Rebuild every table from the saved copy");
    QCOMPARE(form->statusBar()->currentMessage(), form->ApplicationHint());
    form->SetApplicationHint("");
    QVERIFY(form->statusBar()->currentMessage().isEmpty());

    // Keys are looked up without regard to case, in tool order.
    form->TextLookup = [](const QString& section, const QString& key) {
      if (section == "SpeedButtonHints") return key.startsWith("SpdBtnP") ? QString("P") : key;
      return "long " + key.toUpper();
    };
    form->SetApplicationHint("P");
    QCOMPARE(form->statusBar()->currentMessage(), QString("long MENUPACK"));
  }

  void toolControlsCallTheirHandlers() {
    auto form = MakeForm();
    const char* names[kToolCount] = {"Update", "Pack", "Copy", "Retrieve", "Backup", "Restore"};
    for (int t = 0; t < kToolCount; ++t) {
      const QString name = names[t];
      auto* item = form->findChild<TZelMenuItem*>("Menu" + name);
      auto* popup_item = form->findChild<TZelMenuItem*>("Popup" + name);
      auto* button = form->findChild<TZelSpeedButton*>("SpdBtn" + name);
      QVERIFY(item && popup_item && button);
      seen_.tools.clear();
      item->trigger();
      popup_item->trigger();
      button->click();
      QCOMPARE(seen_.tools, (QList<TToolType>(3, static_cast<TToolType>(t))));
      QVERIFY(button->x() <= form->ToolButton(ttPack)->x());
    }
    // Language sections set texts through these properties.
    QVERIFY(form->findChild<QObject*>("MenuPack")->setProperty("Caption", "&Compact..."));
    QCOMPARE(form->ToolMenuItem(ttPack)->text(), QString("&Compact..."));
    QVERIFY(form->ToolButton(ttPack)->setProperty("Hint", "Compact"));
    QCOMPARE(form->ToolButton(ttPack)->statusTip(), QString("Compact"));
    QVERIFY(form->findChild<QObject*>("LabelDatabase")->setProperty("Caption", "Databases"));
    QVERIFY(form->setProperty("Caption", "Vardex"));
    QCOMPARE(form->windowTitle(), QString("Vardex"));
    for (const char* name : {"Grid", "StatusBar", "PopupGrid", "MenuPassword", "MenuAbout"}) {
      QVERIFY2(form->findChild<QObject*>(name), name);
    }

    form->SetToolControlsEnabled(false);
    QVERIFY(!form->Grid()->isEnabled());
    QVERIFY(!form->ToolMenuItem(ttBackup)->isEnabled());
    QVERIFY(!form->ToolButton(ttRestore)->isEnabled());
    QVERIFY(form->findChild<QAction*>("MenuExit")->isEnabled());
  }

  void exceptionsOfAHandlerAreShownExceptTheSilentAbort() {
    auto form = MakeForm();
    form->ToolRunHandler = [](TToolType tool) {
      if (tool == ttPack) throw EAbort();
      throw EVardex("Cannot rename support directory");
    };
    form->ToolButton(ttPack)->click();
    QVERIFY(seen_.messages.isEmpty());
    form->ToolMenuItem(ttCopy)->trigger();
    QCOMPARE(seen_.Keys(), QStringList{"Cannot rename support directory"});
    QVERIFY(seen_.messages[0].Section.isEmpty());
  }

  // The engine asks the window for passwords while the window lives, and
  // nobody once it is gone.
  void engineAsksTheWindowForPasswords() {
    QString asked;
    {
      auto form = MakeForm();
      QVERIFY(!engine::TSession::Default().RequestPassword("/t/A.DB"));
      form->PasswordRequestHandler = [&asked](const QString& table, bool& retry) {
        asked = table;
        retry = true;
      };
      QVERIFY(engine::TSession::Default().RequestPassword("/t/A.DB"));
      QCOMPARE(asked, QString("/t/A.DB"));
    }
    QVERIFY(!engine::TSession::Default().RequestPassword("/t/B.DB"));
    QCOMPARE(asked, QString("/t/A.DB"));
  }

  // Without a handler the message is a real box whose buttons carry their
  // names, so that a user (or a test) can answer it.
  void messageBoxButtonsCarryTheirNames() {
    TFormVardex form({});
    QString text;
    QTimer::singleShot(0, [&] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      QVERIFY(box);
      text = box->text();
      QVERIFY(box->findChild<QAbstractButton*>("Yes"));
      box->findChild<QAbstractButton*>("No")->click();
    });
    const auto answer = form.ShowMessageKey("Notifications", "AreYouSure", {"Update", "SALES"},
                                            mkConfirmation, QMessageBox::Yes | QMessageBox::No);
    QCOMPARE(answer, QMessageBox::No);
    // No Language.ini in the program folder: the built-in English speaks.
    QCOMPARE(text, QString("Do you want to run the Update tool on the selected database now?"));
  }
};

QTEST_MAIN(TFormVardexTest)
#include "fmVdx_test.moc"
