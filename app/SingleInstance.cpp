#include "SingleInstance.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QLocalServer>
#include <QLocalSocket>
#include <QPointer>
#include <chrono>
#include <cstring>
#include <thread>

#include "Session.h"
#include "Sha256.h"
#include "tlRuntime.h"

namespace {

constexpr char kShow[] = "SHOW\n";
constexpr char kAnswer[] = "OK\n";
constexpr char kRun[] = "RUN ";
constexpr char kDone[] = "DONE ";

using Clock = std::chrono::steady_clock;

socklen_t AbstractAddress(const QByteArray& name, sockaddr_un* address) {
  *address = sockaddr_un{};
  address->sun_family = AF_UNIX;
  // sun_path[0] stays 0: the abstract namespace.
  const size_t size = std::min(static_cast<size_t>(name.size()), sizeof(address->sun_path) - 1);
  std::memcpy(address->sun_path + 1, name.constData(), size);
  return static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + size);
}

// Whether the process at the other end of a connected socket is ours.
bool PeerIsUs(int fd) {
  ucred peer{};
  socklen_t size = sizeof(peer);
  return ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0 && peer.uid == ::getuid();
}

int ConnectOnce(const QByteArray& name) {
  sockaddr_un address;
  const socklen_t size = AbstractAddress(name, &address);
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), size) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

bool SendAll(int fd, const QByteArray& data) {
  return ::send(fd, data.constData(), static_cast<size_t>(data.size()), MSG_NOSIGNAL) ==
         static_cast<ssize_t>(data.size());
}

// Reads one line; waits at most until `deadline`, or without a limit when
// `deadline` is the clock's maximum. Empty when none came.
QByteArray ReadLine(int fd, Clock::time_point deadline) {
  QByteArray line;
  while (!line.endsWith('\n')) {
    int wait = -1;
    if (deadline != Clock::time_point::max()) {
      wait = static_cast<int>(std::max<long long>(
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count(),
          1));
    }
    pollfd p{fd, POLLIN, 0};
    const int ready = ::poll(&p, 1, wait);
    if (ready < 0 && errno == EINTR) continue;
    if (ready != 1) return {};
    char buffer[256];
    const ssize_t got = ::recv(fd, buffer, sizeof(buffer), 0);
    if (got <= 0) return {};
    line.append(buffer, got);
    if (line.size() > 4096) return {};
  }
  return line;
}

}  // namespace

TSingleInstance::TSingleInstance(const QString& name, QObject* parent)
    : QObject(parent), name_(name) {
  // One name per user and program folder: installations with folders of
  // their own (and tests with their own VARDEX_HOME) do not meet.
  const std::string folder = engine::ProgramFolder();
  socket_name_ = QByteArray("vardex-") + QByteArray::number(::getuid()) + '-' +
                 QByteArray::fromStdString(engine::Sha256Hex(folder).substr(0, 16)) + '-' +
                 name.toUtf8();
}

TSingleInstance::~TSingleInstance() {
  if (server_) server_->close();
  if (listen_fd_ >= 0 && !server_) ::close(listen_fd_);
}

QString TSingleInstance::RuntimeFolder() {
  return QString::fromLocal8Bit(UserRuntimeFolder().c_str());
}

bool TSingleInstance::Claim() {
  sockaddr_un address;
  const socklen_t size = AbstractAddress(socket_name_, &address);
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return true;  // cannot tell; better a second window than none
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), size) == 0 && ::listen(fd, 16) == 0) {
    listen_fd_ = fd;
    return true;
  }
  ::close(fd);
  // Taken: by us, or by somebody else squatting on the name.
  const int peer = ConnectOnce(socket_name_);
  if (peer < 0) return true;
  const bool ours = PeerIsUs(peer);
  ::close(peer);
  return !ours;
}

int TSingleInstance::Connect(int timeout_ms) const {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  int fd = -1;
  // The first start may hold the name before it serves it.
  while ((fd = ConnectOnce(socket_name_)) < 0) {
    if (Clock::now() >= deadline) return -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  if (!PeerIsUs(fd)) {
    ::close(fd);
    return -1;
  }
  return fd;
}

bool TSingleInstance::AskFirstToComeForward(int timeout_ms) const {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  const int fd = Connect(timeout_ms);
  if (fd < 0) return false;
  const bool answered = SendAll(fd, kShow) && ReadLine(fd, deadline) == kAnswer;
  ::close(fd);
  return answered;
}

TForwardedRun TSingleInstance::AskFirstToRun(const QString& alias, QChar letter,
                                             int connect_ms) const {
  TForwardedRun run;
  const int fd = Connect(connect_ms);
  if (fd < 0) return run;
  const QByteArray request = QByteArray(kRun) + QString(letter).toUtf8() + ' ' +
                             alias.toUtf8().replace('\n', ' ') + '\n';
  if (SendAll(fd, request)) {
    const QByteArray line = ReadLine(fd, Clock::time_point::max()).trimmed();
    if (line.startsWith(QByteArray(kDone).trimmed())) {
      const QList<QByteArray> parts = line.mid(sizeof(kDone) - 1).split(' ');
      bool ok = false;
      const int code = parts.value(0).toInt(&ok);
      if (ok) {
        run.Code = code;
        run.Answer = QString::fromUtf8(line.mid(sizeof(kDone) - 1 + parts.value(0).size() + 1));
      }
    }
  }
  ::close(fd);
  return run;
}

bool TSingleInstance::Listen(std::function<void()> on_show, TRunRequest on_run) {
  if (listen_fd_ < 0) return false;
  server_ = new QLocalServer(this);
  if (!server_->listen(listen_fd_)) {
    delete server_;
    server_ = nullptr;
    return false;
  }
  connect(server_, &QLocalServer::newConnection, this, [this, on_show, on_run] {
    while (QLocalSocket* socket = server_->nextPendingConnection()) {
      connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
      if (!PeerIsUs(static_cast<int>(socket->socketDescriptor()))) {
        socket->disconnectFromServer();
        continue;
      }
      connect(socket, &QLocalSocket::readyRead, this, [socket, on_show, on_run] {
        if (!socket->canReadLine() || socket->property("asked").toBool()) return;
        socket->setProperty("asked", true);
        const QByteArray line = socket->readLine();
        if (line == kShow) {
          socket->write(kAnswer);
          socket->flush();
          socket->disconnectFromServer();
          if (on_show) on_show();
          return;
        }
        const QString text = QString::fromUtf8(line).chopped(line.endsWith('\n') ? 1 : 0);
        if (!on_run || !line.startsWith(kRun) || text.size() < 6 || text[5] != ' ') {
          socket->disconnectFromServer();
          return;
        }
        QPointer<QLocalSocket> guarded(socket);
        on_run(text.mid(6), text[4], [guarded](int code, const QString& answer) {
          if (!guarded) return;  // the second start is gone
          guarded->write(QByteArray(kDone) + QByteArray::number(code) + ' ' + answer.toUtf8() +
                         '\n');
          guarded->flush();
          guarded->disconnectFromServer();
        });
      });
    }
  });
  return true;
}
