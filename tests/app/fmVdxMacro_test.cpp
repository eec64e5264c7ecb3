// Macro commands against the real main window: two demo databases (tables
// and METADATA), a real tool log, tool runs that really run (Pack, Update)
// and the log records they leave. The clock of the log is pinned and moves
// one millisecond per reading, so every run has a moment of its own.
#include <QLineEdit>
#include <QTableWidget>
#include <QtTest>
#include <cmath>

#include "RunTestUtil.h"
#include "TTable.h"
#include "clMacro.h"
#include "fmDbPwd.h"

namespace {

// 2026-12-08 (a Tuesday) as a day number.
constexpr double kToday = 46364.0;
constexpr double kMs = 1.0 / 86400000;
constexpr double kHour = 1.0 / 24;

// As a transport hands a macro to the engine.
QString Exec(const QString& macro) {
  if (!IsValidMacro(macro)) return "(invalid macro)";
  QStringList params = MacroParams(macro);
  QString result;
  MacroEngine().Execute(MacroName(macro), params, result);
  return result;
}

struct ScriptStep {
  const char* macro;
  const char* result;  // "*" = any date-time text
  const char* state;   // what State() must contain afterwards; "" = not looked at
};

// Every command's parameter checks and answers, in an order in which each
// step builds on the state the ones before left.
const ScriptStep kScript[] = {
    {"FOO(1)", "(cannot handle macro)", ""},
    {"(1)", "(cannot handle macro)", ""},
    {"lockuser()", "(success)", ""},
    {"UNLOCKUSER(a,b)", "(success)", ""},
    {"INIT(Accounting)", "(invalid parameters)", "controller=;"},
    {"INIT(,a,b,c,d)", "(invalid parameters)", "controller=;"},
    {"INIT(Accounting,a,b,c,d)", "(success)", "controller=Accounting;"},
    {"SELECTALIAS()", "(invalid parameters)", ""},
    {"SELECTALIAS(a,b)", "(invalid parameters)", ""},
    {"selectalias(sales)", "(success)", "alias=SALES;"},
    {"SELECTALIAS(NOPE)", "(alias not found)", "alias=;"},
    {"SETDRIVE(AB,DIRECT)", "(invalid parameters)", "drive=A+;"},
    {"SETDRIVE(A,direct2)", "(invalid parameters)", "drive=A+;"},
    {"SETDRIVE(B)", "(invalid parameters)", "drive=A+;"},
    {"SETDRIVE(C,Direct)", "(success)", "drive=C-;"},
    {"SETDRIVE(a,complement)", "(success)", "drive=a+;"},
    {"SETOPTIONS(EXCLUDE)", "(invalid parameters)", "options=CE;"},
    {"SETOPTIONS(REMOVE,CONFIRM)", "(invalid parameters)", "options=CE;"},
    {"SETOPTIONS(EXCLUDE,SOUND)", "(invalid parameters)", "options=CE;"},
    {"SETOPTIONS(exclude,endmsg)", "(success)", "options=C;"},
    {"SETOPTIONS(INCLUDE,ENDMSG)", "(success)", "options=CE;"},
    {"SETOPTIONS(EXCLUDE,CONFIRM)", "(success)", "options=E;"},
    {"SETPASSWORD(a,b)", "(invalid parameters)", "password=;edits=a;"},
    {"SETPASSWORD(Se cret)", "(success)", "password=Se cret;edits=Se cret;"},
    {"SETPASSWORD()", "(success)", "password=;edits=;"},
    {"USETOOL()", "(invalid parameters)", ""},
    {"USETOOL(Copy,a,b)", "(invalid parameters)", ""},
    {"USETOOL(Pack,NOPE)", "(alias not found)", "alias=;"},
    {"USETOOL( Copy,DEMO)", "(invalid tool)", "alias=DEMO;"},
    {"USETOOL(Foo)", "(invalid tool)", ""},
    {"LASTTIME()", "(invalid parameters)", ""},
    {"LASTTIME(Foo,SALES)", "(invalid tool)", "alias=DEMO;"},
    {"LASTTIME(Pack,DEMO,x)", "(invalid parameters)", ""},
    {"LASTTIME(Pack,NOPE)", "(alias not found)", "alias=;"},
    {"LASTTIME(Copy,DEMO)", "(never happened)", "alias=DEMO;"},
    {"STATISTICS(Pack,DEMO,01.12.2026)", "(invalid parameters)", ""},
    {"STATISTICS(Pack,DEMO,,01.12.2026)", "(invalid parameters)", ""},
    {"STATISTICS(Foo,DEMO,31.02.2026,x)", "(invalid tool)", ""},
    {"STATISTICS(Pack,DEMO,31.02.2026,01.03.2026)", "(invalid date)", ""},
    {"STATISTICS(Pack,DEMO,01.12.2026,x)", "(invalid date)", ""},
    {"STATISTICS(Pack,NOPE,01.12.2026,09.12.2026)", "(alias not found)", "alias=;"},
    {"STATISTICS(Pack,DEMO,01.12.2026,09.12.2026)", "0", "alias=DEMO;"},
    {"USEDAILY(Pack)", "(invalid parameters)", ""},
    {"USEOFTEN(Pack,DEMO,x)", "(invalid parameters)", ""},
    {"USEOFTEN(Pack,DEMO,)", "(invalid parameters)", ""},
    {"USEOFTEN(,DEMO,1)", "(invalid parameters)", ""},
    {"USEOFTEN(Foo,SALES,1)", "(invalid tool)", "alias=SALES;"},
    {"USEOFTEN(Pack,NOPE,1)", "(alias not found)", "alias=;"},
    // Tool runs on the selected database and on a named one.
    {"SELECTALIAS(SALES)", "(success)", "alias=SALES;"},
    {"usetool(pack)", "(success)", "alias=SALES;"},
    {"USETOOL(Pack,)", "(success)", "alias=SALES;"},
    {"USEDAILY(Pack,DEMO)", "(success)", "alias=DEMO;"},
    {"USEDAILY(Pack,DEMO)", "(not yet)", "alias=DEMO;"},
    {"USEDAILY(Pack,)", "(not yet)", "alias=DEMO;"},
    {"USEWEEKLY(Pack,SALES)", "(not yet)", "alias=SALES;"},
    {"USEOFTEN(Pack,,0)", "(success)", "alias=SALES;"},
    {"USEMONTHLY(Update,DEMO)", "(success)", "alias=DEMO;"},
    {"LASTTIME(Update)", "*", ""},
    {"LASTTIME(Copy)", "(never happened)", ""},
    {"STATISTICS(Pack,SALES,08.12.2026,08.12.2026 23:59)", "3", "alias=SALES;"},
    {"STATISTICS(pack,,01.12.2026,09.12.2026)", "3", ""},
};

}  // namespace

class TMacroTest : public TWindowTest {
  Q_OBJECT

 private:
  std::function<void(const TMessageRequest&)> on_message_;
  double now_ = kToday + 10 * kHour;

  QMessageBox::StandardButton Answer(const TMessageRequest& m) override {
    seen_ << m;
    if (on_message_) on_message_(m);
    return DefaultAnswer(m);
  }

  // The demo databases DEMO and SALES, and the window.
  void MakeForm(const QStringList& params = {}) {
    QVERIFY(home_->MakeDemo({"DEMO", "SALES"}));
    TWindowTest::MakeForm(params);
  }

  // The window's state as the script checks it.
  QString State() const {
    const TFormVardex& f = *form_;
    const auto* confirm = f.PasswordDialog()->findChild<QLineEdit*>("EditConfirm");
    return QString("alias=%1;controller=%2;drive=%3%4;options=%5%6;password=%7;edits=%8;")
        .arg(f.CurrentAlias, f.ControllerName, QString(f.DriveSelection.Drive),
             f.DriveSelection.Complement ? "+" : "-", f.Options.count(voConfirm) ? "C" : "",
             f.Options.count(voEndMsg) ? "E" : "", f.Password(),
             f.PasswordDialog()->PasswordText() +
                 (confirm && confirm->text() != f.PasswordDialog()->PasswordText() ? "!" : ""));
  }

  // A record in the log as a run at `moment` would leave it.
  void AddRecord(const char* alias, TToolType tool, TToolResult result, double moment) {
    SetLogClock([moment] { return moment; });
    QVERIFY(AddLogEntry(alias, tool, result));
    PinClock();
  }

  void PinClock() {
    SetLogClock([this] { return now_ += kMs; });
  }

 private slots:
  void initTestCase() { QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany)); }
  void init() {
    Begin();
    on_message_ = nullptr;
    now_ = kToday + 10 * kHour;
    PinClock();
  }
  void cleanup() {
    End();
    SetLogClock(nullptr);
  }
  void cleanupTestCase() { QLocale::setDefault(QLocale::c()); }

  void everyCommandAndAnswer() {
    MakeForm();
    QVERIFY(MacroEngine().Host() != nullptr);
    for (const ScriptStep& step : kScript) {
      const QString result = Exec(step.macro);
      const QString where = QString("%1 -> %2 | %3").arg(step.macro, result, State());
      if (QString(step.result) == "*") {
        QVERIFY2(result.contains(QRegularExpression("^\\d\\d\\.12\\.2026 \\d\\d:\\d\\d:\\d\\d$")),
                 qPrintable(where));
      } else {
        QVERIFY2(result == step.result, qPrintable(where));
      }
      QVERIFY2(State().contains(step.state), qPrintable(where));
    }
    // Runs without CONFIRM ask nothing; every run left its record.
    for (const TMessageRequest& m : seen_) QVERIFY(m.Key != "AreYouSure");
    QCOMPARE(LogRecords("SALES", ttPack, trSuccess), 3);
    QCOMPARE(LogRecords("DEMO", ttPack, trSuccess), 1);
    QCOMPARE(LogRecords("DEMO", ttUpdate, trSuccess), 1);
    QCOMPARE(LogRecords("DEMO", ttCopy), 0);
    QCOMPARE(Vdx({"verify", home_->Path("DEMO")}), 0);
  }

  // A failed run never counts as the last success: the next USEDAILY runs
  // again. All three fall into one second, so the window of the second run
  // also holds the first one's record; the answer is the record of the run
  // the command started.
  void useDailyAfterAFailedRunRunsAgain() {
    MakeForm();
    engine::TTable holder;  // another program holds a table
    holder.DatabaseName = home_->Path("DEMO").toStdString() + "/";
    holder.TableName = "ORDERS.DB";
    holder.Open();
    QCOMPARE(Exec("USEDAILY(Pack,DEMO)"), QString("(busy)"));
    holder.Close();
    QCOMPARE(Exec("USEDAILY(Pack,DEMO)"), QString("(success)"));
    QCOMPARE(Exec("USEDAILY(Pack,DEMO)"), QString("(not yet)"));
    QCOMPARE(LogRecords("DEMO", ttPack, trBusy), 1);
    QCOMPARE(LogRecords("DEMO", ttPack, trSuccess), 1);
    QCOMPARE(LogRecords("DEMO", ttPack), 2);
  }

  // Whole calendar days count, not 24-hour periods; a record dated in the
  // future is purged before the last success is taken.
  void useOftenCountsCalendarDays_data() {
    QTest::addColumn<QString>("macro");
    QTest::addColumn<double>("last");  // the last success, 0 = none
    QTest::addColumn<double>("now");
    QTest::addColumn<QString>("result");
    const double late = 23 * kHour + 59.0 / 1440;
    QTest::newRow("daily, yesterday 23:59, now 00:01")
        << "USEDAILY(Pack,DEMO)" << kToday - 1 + late << kToday + 60.0 / 86400 << "(give up)";
    QTest::newRow("daily, today 00:00, now 23:59")
        << "USEDAILY(Pack,DEMO)" << kToday << kToday + late << "(not yet)";
    QTest::newRow("weekly, six days back")
        << "USEWEEKLY(Pack,DEMO)" << kToday - 6 << kToday + late << "(not yet)";
    QTest::newRow("weekly, seven days back")
        << "USEWEEKLY(Pack,DEMO)" << kToday - 7 + late << kToday << "(give up)";
    QTest::newRow("monthly, 29 days back")
        << "USEMONTHLY(Pack,DEMO)" << kToday - 29 << kToday << "(not yet)";
    QTest::newRow("monthly, 30 days back")
        << "USEMONTHLY(Pack,DEMO)" << kToday - 30 << kToday << "(give up)";
    QTest::newRow("often 0, today")
        << "USEOFTEN(Pack,DEMO,0)" << kToday << kToday + 0.5 << "(give up)";
    QTest::newRow("often -1, tomorrow purged")
        << "USEOFTEN(Pack,DEMO,5)" << kToday + 1 << kToday + 0.5 << "(give up)";
  }
  void useOftenCountsCalendarDays() {
    QFETCH(QString, macro);
    QFETCH(double, last);
    QFETCH(double, now);
    QFETCH(QString, result);
    MakeForm();
    AddRecord("DEMO", ttPack, trSuccess, last);
    AddRecord("DEMO", ttPack, trBusy, now - 0.001);  // failures never count
    now_ = now;
    // A run that starts asks first; No gives it up, which proves it started.
    form_->MessageHandler = [this](const TMessageRequest& m) {
      seen_ << m;
      return m.Key == "AreYouSure" ? QMessageBox::No : QMessageBox::Ok;
    };
    QCOMPARE(Exec(macro), result);
    QCOMPARE(LogRecords("DEMO", ttPack, trSuccess), last > now ? 0 : 1);
  }

  // Bare dates count from one second before midnight starting From to one
  // second after midnight starting To, whatever the regional format.
  void statisticsWindow_data() {
    QTest::addColumn<QLocale>("locale");
    QTest::addColumn<QString>("from");
    QTest::addColumn<QString>("to");
    QTest::addColumn<QString>("lasttime");
    const QLocale de(QLocale::German, QLocale::Germany);
    const QLocale us(QLocale::English, QLocale::UnitedStates);
    QTest::newRow("German") << de << "01.12.2026"
                            << "2.12.26"
                            << "02.12.2026 12:00:00";
    QTest::newRow("US") << us << "12/1/2026"
                        << "12/02/26"
                        << "12/2/2026 12:00:00 PM";
  }
  void statisticsWindow() {
    QFETCH(QLocale, locale);
    QFETCH(QString, from);
    QFETCH(QString, to);
    QFETCH(QString, lasttime);
    QLocale::setDefault(locale);
    MakeForm();
    const double d1 = kToday - 7, d2 = kToday - 6;  // 01.12. and 02.12.2026
    const double s = 1.0 / 86400;
    for (double moment : {d1 - 1.6 * s, d1 - 0.4 * s, d1 + 0.5, d2 + 0.9 * s, d2 + s, d2 + 0.5}) {
      AddRecord("SALES", ttCopy, trSuccess, moment);
    }
    AddRecord("SALES", ttCopy, trError, d1 + 0.25);   // runs of every result count
    AddRecord("DEMO", ttCopy, trSuccess, d1 + 0.5);   // another database
    AddRecord("SALES", ttPack, trSuccess, d1 + 0.5);  // another tool
    QCOMPARE(Exec(QString("STATISTICS(Copy,SALES,%1,%2)").arg(from, to)), QString("4"));
    QCOMPARE(Exec(QString("STATISTICS(COPY,sales,%1,%1)").arg(from)), QString("1"));
    QString last = Exec("LASTTIME(Copy,SALES)");
    QCOMPARE(last.replace(QChar(0x202F), ' '), lasttime);
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
  }

  // A log that cannot answer never lets an exception out of the engine;
  // the run itself still happens and says that it could not be logged.
  void failedLogQuestionsAnswerLogError() {
    MakeForm();
    CloseLog();
    for (const char* macro : {"LASTTIME(Pack,DEMO)", "USEDAILY(Pack,DEMO)",
                              "STATISTICS(Pack,DEMO,01.12.2026,09.12.2026)"}) {
      QCOMPARE(Exec(macro), QString("(log error)"));
    }
    seen_.clear();
    QCOMPARE(Exec("USETOOL(Pack,DEMO)"), QString("(log error)"));
    QCOMPARE(seen_.last().Key, QString("LogCannotRegister"));
    QVERIFY(!form_->ToolRunning);
  }

  // A run in progress keeps its database, password, drive and options: the
  // commands that would change them are refused, tool requests start
  // nothing, CLOSE waits; the run's tables, log record and end message all
  // belong to the database it started on.
  void aRunInProgressKeepsItsDatabase() {
    MakeForm({"MACROSERVER"});
    form_->show();
    QVERIFY(QTest::qWaitForWindowExposed(form_.get()));
    QVERIFY(Exec("SETPASSWORD(old)") == "(success)");
    QStringList during;
    on_message_ = [&](const TMessageRequest& m) {
      if (m.Key != "AreYouSure") return;
      for (const char* macro :
           {"SELECTALIAS(SALES)", "SETPASSWORD(new)", "SETDRIVE(B,DIRECT)",
            "SETOPTIONS(EXCLUDE,ENDMSG)", "USETOOL(Pack,SALES)", "USEDAILY(Update,SALES)",
            "LASTTIME(Pack,SALES)", "STATISTICS(Pack,SALES,01.12.2026,09.12.2026)",
            "USETOOL(Update)", "CLOSE()", "LASTTIME(Pack)", "INIT(Other,,,,)"}) {
        during << QString("%1=%2").arg(macro, Exec(macro));
      }
    };
    QCOMPARE(Exec("USETOOL(Pack,DEMO)"), QString("(success)"));
    QCOMPARE(during, (QStringList{
                         "SELECTALIAS(SALES)=(tool running)",
                         "SETPASSWORD(new)=(tool running)",
                         "SETDRIVE(B,DIRECT)=(tool running)",
                         "SETOPTIONS(EXCLUDE,ENDMSG)=(tool running)",
                         "USETOOL(Pack,SALES)=(tool running)",
                         "USEDAILY(Update,SALES)=(tool running)",
                         "LASTTIME(Pack,SALES)=(tool running)",
                         "STATISTICS(Pack,SALES,01.12.2026,09.12.2026)=(tool running)",
                         "USETOOL(Update)=(error)",
                         "CLOSE()=",
                         "LASTTIME(Pack)=(never happened)",
                         "INIT(Other,,,,)=(success)",
                     }));
    QVERIFY(form_->isVisible());
    QCOMPARE(State(), QString("alias=DEMO;controller=Other;drive=A+;options=CE;password=old;"
                              "edits=old;"));
    QCOMPARE(seen_.last().Key, QString("Success"));  // ENDMSG stayed on
    QCOMPARE(LogRecords("DEMO", ttPack, trSuccess), 1);
    QCOMPARE(LogRecords("SALES", ttPack), 0);
    QCOMPARE(LogRecords("DEMO", ttUpdate), 0);
    // Idle again: the same commands act, and CLOSE ends server mode.
    QCOMPARE(Exec("SELECTALIAS(SALES)"), QString("(success)"));
    QString result = "kept";
    QStringList params{""};
    MacroEngine().Execute("close", params, result);
    QCOMPARE(result, QString("kept"));
    QTRY_VERIFY(!form_->isVisible());
  }
};

QTEST_MAIN(TMacroTest)
#include "fmVdxMacro_test.moc"
