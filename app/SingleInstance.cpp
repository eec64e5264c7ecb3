#include "SingleInstance.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QPointer>
#include <chrono>
#include <cstring>
#include <thread>

#include "tlRuntime.h"

namespace {

constexpr char kRequest[] = "SHOW\n";
constexpr char kAnswer[] = "OK\n";

int ConnectTo(const QByteArray& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.size() >= static_cast<int>(sizeof(address.sun_path))) return -1;
  std::memcpy(address.sun_path, path.constData(), static_cast<size_t>(path.size()));
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

}  // namespace

TSingleInstance::TSingleInstance(const QString& name, QObject* parent)
    : QObject(parent), name_(name), folder_(RuntimeFolder()) {}

TSingleInstance::~TSingleInstance() {
  if (server_) server_->close();  // removes the socket file
  if (lock_fd_ >= 0) ::close(lock_fd_);
}

QString TSingleInstance::RuntimeFolder() {
  return QString::fromLocal8Bit(UserRuntimeFolder().c_str());
}

bool TSingleInstance::Claim() {
  if (folder_.isEmpty()) return true;
  lock_fd_ =
      ::open(LockPath().toLocal8Bit().constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (lock_fd_ < 0) return true;  // cannot tell; better a second window than none
  if (::flock(lock_fd_, LOCK_EX | LOCK_NB) == 0) return true;
  const bool taken = errno == EWOULDBLOCK;
  ::close(lock_fd_);
  lock_fd_ = -1;
  return !taken;
}

bool TSingleInstance::AskFirstToComeForward(int timeout_ms) const {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  const QByteArray path = SocketPath().toLocal8Bit();
  int fd = -1;
  // The first start may hold the lock before it listens.
  while ((fd = ConnectTo(path)) < 0) {
    if (Clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  bool answered = false;
  if (::send(fd, kRequest, sizeof(kRequest) - 1, MSG_NOSIGNAL) ==
      static_cast<ssize_t>(sizeof(kRequest) - 1)) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    pollfd p{fd, POLLIN, 0};
    char reply[8] = {};
    if (::poll(&p, 1, static_cast<int>(std::max<long long>(left, 1))) == 1 &&
        ::recv(fd, reply, sizeof(reply) - 1, 0) > 0) {
      answered = std::strncmp(reply, kAnswer, sizeof(kAnswer) - 1) == 0;
    }
  }
  ::close(fd);
  return answered;
}

bool TSingleInstance::Listen(std::function<void()> on_request) {
  if (folder_.isEmpty()) return false;
  server_ = new QLocalServer(this);
  server_->setSocketOptions(QLocalServer::UserAccessOption);
  QLocalServer::removeServer(SocketPath());  // a stale socket of a crashed start; the lock is ours
  if (!server_->listen(SocketPath())) return false;
  ::chmod(SocketPath().toLocal8Bit().constData(), 0600);
  connect(server_, &QLocalServer::newConnection, this, [this, on_request] {
    while (QLocalSocket* socket = server_->nextPendingConnection()) {
      connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
      connect(socket, &QLocalSocket::readyRead, this, [socket, on_request] {
        if (!socket->canReadLine()) return;
        const QByteArray line = socket->readLine();
        if (line != kRequest) {
          socket->disconnectFromServer();
          return;
        }
        socket->write(kAnswer);
        socket->flush();
        socket->disconnectFromServer();
        if (on_request) on_request();
      });
    }
  });
  return true;
}
