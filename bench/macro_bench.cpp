// Load check of the macro channels: CLIENTS clients (20) each send REQUESTS
// macros (100), SELECTALIAS, LASTTIME and LOCKUSER in turn, first over the
// conversation socket, then over D-Bus, to the main window of this process
// on the offscreen platform. Every answer is checked, and the longest
// stretch in which the window let no event through is measured (repaints
// wait that long; target: under 200 ms). Needs a session bus:
//
//   dbus-run-session -- macro_bench [CLIENTS] [REQUESTS]
//
// Exit status 1 when an answer was wrong or the window stalled too long.
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "Session.h"
#include "coOLEMacro.h"
#include "cpDdeMac.h"
#include "fmVdx.h"
#include "svLog.h"

namespace {

struct TRequest {
  const char* macro;
  const char* answer;
};
// Each client selects a database, asks about it and locks: the selection
// of one client must never leak into another's question.
constexpr TRequest kMix[] = {{"SELECTALIAS(SALES)", "(success)"},
                             {"LASTTIME(Pack,DEMO)", "(never happened)"},
                             {"LOCKUSER()", "(success)"}};

std::atomic<int> wrong{0};

void SocketClient(const std::string& path, int requests) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, path.data(), std::min(path.size(), sizeof address.sun_path - 1));
  const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    wrong += requests;
    ::close(fd);
    return;
  }
  std::string buffer;
  for (int i = 0; i < requests; ++i) {
    const TRequest& r = kMix[i % 3];
    const std::string line = std::string("EXECUTE ") + r.macro + "\n";
    ::send(fd, line.data(), line.size(), MSG_NOSIGNAL);
    std::size_t end;
    while ((end = buffer.find('\n')) == std::string::npos) {
      char chunk[512];
      const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
      if (n <= 0) break;
      buffer.append(chunk, static_cast<std::size_t>(n));
    }
    if (end == std::string::npos) {
      wrong += requests - i;
      break;
    }
    if (buffer.substr(0, end) != std::string("OK ") + r.answer + "\r") ++wrong;
    buffer.erase(0, end + 1);
  }
  ::close(fd);
}

void BusClient(int n, int requests) {
  const QString name = QString("bench%1").arg(n);
  {
    QDBusConnection bus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, name);
    for (int i = 0; i < requests; ++i) {
      const TRequest& r = kMix[i % 3];
      QDBusMessage call = QDBusMessage::createMethodCall(kOLEMacroService, kOLEMacroPath,
                                                         kOLEMacroInterface, "Execute");
      call << QString(r.macro);
      const QDBusMessage reply = bus.call(call);
      if (reply.arguments().value(0).toString() != r.answer) ++wrong;
    }
  }
  QDBusConnection::disconnectFromBus(name);
}

// Runs `clients` threads of `client` while the event loop goes on, and
// returns the longest gap between two ticks of a 10 ms timer.
template <typename Client>
qint64 LongestStall(QApplication& app, int clients, Client client) {
  QElapsedTimer clock;
  qint64 last = 0, longest = 0;
  QTimer tick;
  QObject::connect(&tick, &QTimer::timeout, [&] {
    const qint64 now = clock.elapsed();
    longest = std::max(longest, now - last);
    last = now;
  });
  clock.start();
  tick.start(10);
  std::vector<std::thread> threads;
  for (int n = 0; n < clients; ++n) threads.emplace_back(client, n);
  std::thread joiner([&] {
    for (std::thread& t : threads) t.join();
    // exit, not quit: quit asks the windows first, and a server-mode window refuses.
    QMetaObject::invokeMethod(
        &app, [] { QCoreApplication::exit(0); }, Qt::QueuedConnection);
  });
  app.exec();
  joiner.join();
  return longest;
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  const int clients = argc > 1 ? std::atoi(argv[1]) : 20;
  const int requests = argc > 2 ? std::atoi(argv[2]) : 100;
  QTemporaryDir home;
  qputenv("VARDEX_HOME", home.path().toUtf8());
  qputenv("XDG_RUNTIME_DIR", home.path().toUtf8());
  {
    std::ofstream ini(home.filePath("engine.ini").toStdString());
    for (const char* alias : {"DEMO", "SALES"}) {
      ini << '[' << alias << "]\nTYPE=STANDARD\nPATH=" << home.filePath(alias).toStdString()
          << '\n';
    }
  }
  engine::TSession::Default().SetConfigFile(home.filePath("engine.ini").toStdString());
  QApplication app(argc, argv);
  TFormVardex form({"MACROSERVER"});
  form.TerminateHandler = [] {};
  form.MessageHandler = [](const TMessageRequest&) { return QMessageBox::Ok; };
  form.FormActivate();
  form.show();
  if (!form.MacroServer()->Listen("VdxBench")) {
    std::fprintf(stderr, "macro_bench: cannot listen\n");
    return 1;
  }
  TOLEMacro automation;
  const bool bus = automation.Register();

  const std::string path = form.MacroServer()->SocketPath().toStdString();
  const qint64 socket_stall =
      LongestStall(app, clients, [&](int) { SocketClient(path, requests); });
  const int socket_wrong = wrong.exchange(0);
  std::printf("socket: %d x %d requests, %d wrong, longest stall %lld ms\n", clients, requests,
              socket_wrong, static_cast<long long>(socket_stall));
  qint64 bus_stall = 0;
  int bus_wrong = 0;
  if (bus) {
    bus_stall = LongestStall(app, clients, [&](int n) { BusClient(n, requests); });
    bus_wrong = wrong.exchange(0);
    std::printf("d-bus:  %d x %d requests, %d wrong, longest stall %lld ms\n", clients, requests,
                bus_wrong, static_cast<long long>(bus_stall));
  } else {
    std::printf("d-bus:  no session bus (run under dbus-run-session)\n");
  }
  CloseLog();
  const bool ok = socket_wrong == 0 && bus_wrong == 0 && socket_stall < 200 && bus_stall < 200;
  return ok ? 0 : 1;
}
