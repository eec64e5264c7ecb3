// The conversation server in-process, with real socket clients: the execute
// rules, the one shared item, advise, the 50-character cut, a failing
// handler, the owner rule, and clients that misbehave.
#include <QLocalSocket>
#include <QTemporaryDir>
#include <QWidget>
#include <QtTest>

#include "clMacro.h"
#include "cpDdeMac.h"

namespace {

class TClient {
 public:
  explicit TClient(const QString& path) { socket_.connectToServer(path); }
  bool Connected() { return socket_.waitForConnected(2000); }
  void Send(const QByteArray& data) {
    socket_.write(data);
    socket_.flush();
  }
  // The next line from the server, without CR LF; "" after two seconds.
  QString Line() {
    QElapsedTimer clock;
    clock.start();
    while (!socket_.canReadLine() && clock.elapsed() < 2000) {
      QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
      socket_.waitForReadyRead(10);
    }
    return QString::fromUtf8(socket_.readLine()).chopped(0).trimmed();
  }
  QString Ask(const QByteArray& line) {
    Send(line + "\n");
    return Line();
  }
  QLocalSocket socket_;
};

}  // namespace

class TMacroServerTest : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir runtime_;
  std::unique_ptr<QWidget> form_;
  TZelMacroServer* server_ = nullptr;
  QStringList calls_;

 private slots:
  void init() {
    qputenv("XDG_RUNTIME_DIR", runtime_.path().toLocal8Bit());
    form_ = std::make_unique<QWidget>();
    server_ = new TZelMacroServer(form_.get());
    calls_.clear();
    server_->OnProcessMacro = [this](QObject*, const QString& name, const QStringList& params,
                                     QString& result) {
      calls_ << name + '|' + params.join(',');
      if (name == "LONG") result = QString(60, 'x');
      if (name == "FAIL") throw std::runtime_error("engine failure");
      if (name == "OK") result = "(success)";
    };
    QVERIFY(server_->Listen("VdxTest"));
  }
  void cleanup() { form_.reset(); }

  void ownedByAFormOnly() {
    QObject plain;
    try {
      TZelMacroServer stray(&plain);
      QFAIL("a server without a form was created");
    } catch (const EDdeMacro& e) {
      QCOMPARE(QString(e.what()), QString("TZelMacroServer must be owned by a form"));
    }
    QCOMPARE(server_->objectName(), QString("MacroServer"));
  }

  void socketIsPrivateAndAStaleOneIsReplaced() {
    const QString path = server_->SocketPath();
    QCOMPARE(path, runtime_.path() + "/VdxTest.MacroServer");
    QCOMPARE(QFileInfo(path).permissions() &
                 ~(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser),
             QFile::Permissions());
    // A second server on a live socket does not steal it ...
    QWidget other;
    TZelMacroServer second(&other);
    QVERIFY(!second.Listen("VdxTest"));
    // ... but takes over a socket file nobody answers on.
    form_.reset();
    QFile stale(path);
    QVERIFY(stale.open(QIODevice::WriteOnly));
    stale.close();
    QVERIFY(second.Listen("VdxTest"));
    TClient client(path);
    QVERIFY(client.Connected());
    QCOMPARE(client.Ask("CONNECT macroserver"), QString("OK"));
  }

  void executeRules_data() {
    QTest::addColumn<QByteArray>("send");
    QTest::addColumn<QString>("answer");
    QTest::addColumn<QString>("call");
    QTest::newRow("one line") << QByteArray("EXECUTE OK(a,b)\n") << "OK (success)"
                              << "OK|a,b";
    QTest::newRow("two lines: the first runs")
        << QByteArray("EXECDATA 14\nOK(1)\r\nFAIL(2)") << "OK (success)"
        << "OK|1";
    QTest::newRow("empty first line") << QByteArray("EXECDATA 6\n\nOK(1)") << "OK (empty macro)"
                                      << "";
    QTest::newRow("nothing") << QByteArray("EXECUTE\n") << "OK (empty macro)"
                             << "";
    QTest::newRow("no closing parenthesis")
        << QByteArray("EXECUTE USETOOL(Copy\n") << "OK (invalid macro)"
        << "";
    QTest::newRow("cut to 50") << QByteArray("EXECUTE LONG()\n") << "OK " + QString(50, 'x')
                               << "LONG|";
    QTest::newRow("engine failure") << QByteArray("EXECUTE FAIL(x)\n") << "OK (error)"
                                    << "FAIL|x";
    QTest::newRow("no result set") << QByteArray("EXECUTE CLOSE()\n") << "OK"
                                   << "CLOSE|";
    QTest::newRow("unknown topic") << QByteArray("CONNECT Other\n") << "ERROR no such topic"
                                   << "";
    QTest::newRow("unknown item") << QByteArray("REQUEST Other\n") << "ERROR no such item"
                                  << "";
    QTest::newRow("garbage") << QByteArray("\x01\xff\xfe junk\n") << "ERROR unknown command"
                             << "";
    QTest::newRow("1 MiB line") << QByteArray(1 << 20, 'A') + "\n"
                                << "ERROR (invalid macro)"
                                << "";
  }
  void executeRules() {
    QFETCH(QByteArray, send);
    QFETCH(QString, answer);
    QFETCH(QString, call);
    TClient client(server_->SocketPath());
    QVERIFY(client.Connected());
    client.Send(send);
    QCOMPARE(client.Line(), answer);
    QCOMPARE(calls_.value(0), call);
    // The conversation goes on after whatever came before.
    QCOMPARE(client.Ask("EXECUTE OK()"), QString("OK (success)"));
  }

  // One item for every conversation; advised clients get every change, and
  // a silent client holds nobody up.
  void clientsShareTheItem() {
    TClient silent(server_->SocketPath());
    TClient a(server_->SocketPath()), b(server_->SocketPath());
    QVERIFY(silent.Connected() && a.Connected() && b.Connected());
    silent.Send("EXECUTE OK(half a li");
    QCOMPARE(b.Ask("ADVISE MacroResult"), QString("OK"));
    QCOMPARE(a.Ask("EXECUTE LONG()"), "OK " + QString(50, 'x'));
    QCOMPARE(b.Line(), "CHANGED " + QString(50, 'x'));
    QCOMPARE(b.Ask("REQUEST macroresult"), "VALUE " + QString(50, 'x'));
    QCOMPARE(b.Ask("EXECUTE CLOSE()"), QString("CHANGED"));
    QCOMPARE(b.Line(), QString("OK"));
    QCOMPARE(a.Ask("REQUEST MacroResult"), QString("VALUE"));
    QCOMPARE(b.Ask("UNADVISE MacroResult"), QString("OK"));
    QCOMPARE(a.Ask("EXECUTE OK()"), QString("OK (success)"));
    QCOMPARE(b.Ask("REQUEST MacroResult"), QString("VALUE (success)"));
    QCOMPARE(server_->ItemText(), QString("(success)"));
  }
};

QTEST_MAIN(TMacroServerTest)
#include "cpDdeMac_qtest.moc"
