// The macro channels of a real Vdx32 started in server mode on a private
// session bus (the test runs under dbus-run-session), driven by real
// clients: socat on the conversation socket, gdbus on the automation
// object, and vdx macro on both. Ends with activation by the bus.
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include "RunTestUtil.h"

class TChannelsTest : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir home_, runtime_;
  std::unique_ptr<QProcess> vardex_;

  QProcessEnvironment Env() const { return ProgramEnvironment(home_.path(), runtime_.path()); }
  QString SocketPath() const { return runtime_.path() + "/Vdx32.MacroServer"; }

  // A program's output with its exit code; -1 when it did not end in time.
  int Run(const QString& program, const QStringList& args, QString* out,
          const QByteArray& input = {}) {
    QProcess p;
    p.setProcessEnvironment(Env());
    p.start(program, args);
    if (!input.isEmpty()) p.write(input);
    p.closeWriteChannel();
    if (!p.waitForFinished(60000)) return -1;
    if (out) *out = QString::fromUtf8(p.readAllStandardOutput()).trimmed();
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
  }

  // socat as the peer: sends `input`, reads `lines` answer lines, then ends.
  QStringList Socat(const QByteArray& input, int lines) {
    QProcess socat;
    socat.start("socat", {"-t", "5", "-", "UNIX-CONNECT:" + SocketPath()});
    socat.write(input);
    QStringList answers;
    while (answers.size() < lines && socat.waitForReadyRead(30000)) {
      while (socat.canReadLine()) answers << QString::fromUtf8(socat.readLine()).trimmed();
    }
    socat.closeWriteChannel();
    socat.waitForFinished(10000);
    return answers;
  }

  QString Gdbus(const QString& command, int* status = nullptr) {
    QString out;
    const int code = Run("gdbus",
                         {"call", "--session", "--dest", "Vdx32.OLEMacro", "--object-path",
                          "/OLEMacro", "--method", "Vdx32.IOLEMacro.Execute", command},
                         &out);
    if (status) *status = code;
    return out;
  }

  QString VdxMacro(const QStringList& args, int* status) {
    QString out;
    *status = Run(VDX_PATH, QStringList{"macro"} + args, &out);
    return out;
  }

  void StartVardex() {
    vardex_ = std::make_unique<QProcess>();
    vardex_->setProcessEnvironment(Env());
    vardex_->start(VDX32_PATH, {"MACROSERVER"});
    QVERIFY(vardex_->waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(SocketPath()), 20000);
    QTRY_VERIFY_WITH_TIMEOUT(Gdbus("LOCKUSER()") == "('(success)',)", 20000);
    int status = 0;
    QCOMPARE(VdxMacro({"SETOPTIONS(EXCLUDE,CONFIRM)", "SETOPTIONS(EXCLUDE,ENDMSG)"}, &status),
             QString("(success)\n(success)"));
    QCOMPARE(status, 0);
  }

  bool BusHasName(const QString& name) {
    QString out;
    Run("gdbus",
        {"call", "--session", "--dest", "org.freedesktop.DBus", "--object-path",
         "/org/freedesktop/DBus", "--method", "org.freedesktop.DBus.NameHasOwner", name},
        &out);
    return out == "(true,)";
  }

 private slots:
  void initTestCase() {
    QString out;
    QCOMPARE(Run(VDX_PATH, {"create-demo", home_.path()}, &out), 0);
    WriteAliasFile(home_.path(), {"DEMO", "SALES"});
    QFile::copy(VARDEX_LANGUAGE_FILE, home_.filePath("Language.ini"));
    StartVardex();
  }
  void cleanupTestCase() {
    if (vardex_ && vardex_->state() != QProcess::NotRunning) {
      vardex_->kill();
      vardex_->waitForFinished();
    }
  }

  // Execute, request and the texts of the conversation, as a shell script
  // with socat sees them; the second start leaves the channels with the first.
  void socketConversation() {
    QCOMPARE(Socat("CONNECT macroserver\n"
                   "EXECDATA 17\nLOCKUSER()\r\nFOO()"
                   "EXECDATA 11\n\nLOCKUSER()"
                   "EXECUTE USETOOL(Copy\n"
                   "REQUEST MacroResult\n"
                   "EXECUTE SELECTALIAS(sales)\n",
                   6),
             (QStringList{"OK", "OK (success)", "OK (empty macro)", "OK (invalid macro)",
                          "VALUE (invalid macro)", "OK (success)"}));
    // A script that shuts its side right after the last line, without a
    // final line break, still gets every answer.
    QString out;
    QCOMPARE(Run("socat", {"-t", "30", "-", "UNIX-CONNECT:" + SocketPath()}, &out,
                 "EXECUTE USETOOL(Update,SALES)\nREQUEST MacroResult"),
             0);
    QCOMPARE(out, QString("OK (success)\r\nVALUE (success)"));
    QCOMPARE(Run(VDX32_PATH, {"MACROSERVER"}, &out), 0);  // brings the first forward
    QCOMPARE(Socat("EXECUTE LOCKUSER()\n", 1), QStringList{"OK (success)"});
  }

  // The automation object: the whole text, and the same refusals.
  void automationObject() {
    QCOMPARE(Gdbus("USETOOL(Copy"), QString("('(invalid macro)',)"));
    QCOMPARE(Gdbus("LOCKUSER()\n"), QString("('(invalid macro)',)"));
    QCOMPARE(Gdbus(""), QString("('(empty macro)',)"));
    QCOMPARE(Gdbus("FOO(1)"), QString("('(cannot handle macro)',)"));
  }

  // USEDAILY through each channel: the first runs, the second waits a day.
  void useDailyOnEveryChannel() {
    QCOMPARE(Socat("EXECUTE USEDAILY(Pack,DEMO)\nEXECUTE USEDAILY(Pack,DEMO)\n", 2),
             (QStringList{"OK (success)", "OK (not yet)"}));
    QCOMPARE(Gdbus("USEDAILY(Pack,SALES)"), QString("('(success)',)"));
    QCOMPARE(Gdbus("usedaily(pack,sales)"), QString("('(not yet)',)"));
    int status = 0;
    QCOMPARE(VdxMacro({"USEDAILY(Update,DEMO)"}, &status), QString("(success)"));
    QCOMPARE(status, 0);
    QCOMPARE(VdxMacro({"--dbus", "USEDAILY(Update,DEMO)", "LOCKUSER()"}, &status),
             QString("(not yet)\n(success)"));
    QCOMPARE(status, 1);
    const QString when =
        VdxMacro({"LASTTIME(Pack,DEMO)", "STATISTICS(Pack,DEMO,2000-01-01,2100-01-01)"}, &status);
    QCOMPARE(status, 0);  // a date and a count are good answers
    QVERIFY2(when.endsWith("\n1"), qPrintable(when));
  }

  // Two clients share the one item; an advised client sees every change.
  void clientsShareTheItem() {
    QProcess advise;
    advise.setProcessEnvironment(Env());
    advise.start(VDX_PATH, {"macro", "--advise"});
    QVERIFY(advise.waitForStarted());
    QTest::qWait(500);  // until it is advised
    QCOMPARE(Socat("EXECUTE SETDRIVE(B,DIRECT)\n", 1), QStringList{"OK (success)"});
    QCOMPARE(Socat("EXECUTE SETDRIVE(BB,DIRECT)\n", 1), QStringList{"OK (invalid parameters)"});
    QCOMPARE(Socat("REQUEST MacroResult\n", 1), QStringList{"VALUE (invalid parameters)"});
    QString pushed;
    QTRY_COMPARE_WITH_TIMEOUT((pushed += advise.readAllStandardOutput()).count('\n'), 2, 5000);
    QCOMPARE(pushed, QString("(success)\n(invalid parameters)\n"));
    advise.kill();
    advise.waitForFinished();
  }

  // CLOSE over D-Bus returns its own whole text (no 50-character cut);
  // over the socket it leaves the item empty. Each ends the program.
  void closeOnBothChannels() {
    const QString close = "CLOSE(" + QString(60, 'c') + ")";
    QCOMPARE(Gdbus(close), "('" + close + "',)");
    QVERIFY(vardex_->waitForFinished(20000));
    QCOMPARE(vardex_->exitCode(), 0);
    StartVardex();
    QCOMPARE(Socat("EXECUTE CLOSE()\n", 1), QStringList{"OK"});
    QVERIFY(vardex_->waitForFinished(20000));
    int status = 0;
    VdxMacro({"LOCKUSER()"}, &status);
    QCOMPARE(status, 2);  // nobody answers now
  }

  // Registered, the bus starts Vardex for a call and the program ends once
  // the client has left.
  void activationByTheBus() {
    QString out;
    QCOMPARE(Run(VDX32_PATH, {"-REGSERVER"}, &out), 0);
    QVERIFY(!BusHasName("Vdx32.OLEMacro"));
    QCOMPARE(Gdbus("LOCKUSER()"), QString("('(success)',)"));
    QTRY_VERIFY_WITH_TIMEOUT(!BusHasName("Vdx32.OLEMacro"), 20000);
    QCOMPARE(Run(VDX32_PATH, {"-UNREGSERVER"}, &out), 0);
    int status = 0;
    VdxMacro({"--dbus", "LOCKUSER()"}, &status);
    QCOMPARE(status, 2);
  }
};

QTEST_GUILESS_MAIN(TChannelsTest)
#include "MacroChannels_bustest.moc"
