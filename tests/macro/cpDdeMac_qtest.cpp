// The conversation server in-process, with real socket clients: the execute
// rules, the one shared item, advise, the 50-character cut, a failing
// handler, the owner rule, and clients that misbehave.
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

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

  // Another user gets no answer even where the file modes would let it in:
  // the peer's uid is checked on every connection.
  void anotherUserIsRefused() {
    if (::getuid() != 0) QSKIP("acting as another user needs root");
    const QByteArray path = server_->SocketPath().toLocal8Bit();
    ::chmod(runtime_.path().toLocal8Bit().constData(), 0755);
    ::chmod(path.constData(), 0777);
    const pid_t child = ::fork();
    if (child == 0) {  // only async-signal-safe calls from here on
      if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(3);
      sockaddr_un address{};
      address.sun_family = AF_UNIX;
      std::memcpy(address.sun_path, path.constData(), static_cast<size_t>(path.size()));
      const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
      if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) ::_exit(4);
      const char request[] = "EXECUTE OK()\n";
      ::send(fd, request, sizeof request - 1, MSG_NOSIGNAL);
      pollfd p{fd, POLLIN, 0};
      char reply[64];
      ::_exit(::poll(&p, 1, 3000) == 1 && ::recv(fd, reply, sizeof reply, 0) > 0 ? 1 : 0);
    }
    int status = -1;
    QElapsedTimer clock;
    clock.start();
    while (::waitpid(child, &status, WNOHANG) == 0 && clock.elapsed() < 5000) {
      QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    ::chmod(runtime_.path().toLocal8Bit().constData(), 0700);
    QVERIFY(WIFEXITED(status));
    QCOMPARE(WEXITSTATUS(status), 0);  // closed without an answer
    QVERIFY(calls_.isEmpty());
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
