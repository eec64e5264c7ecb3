#include "cpDdeMac.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <QLocalServer>
#include <QLocalSocket>
#include <QRegularExpression>
#include <QWidget>
#include <cstring>

#include "clMacro.h"
#include "tlRuntime.h"

namespace {

// A client that does not read what it is sent is dropped rather than
// buffered for without end.
constexpr qint64 kMaxUnread = 1 << 20;

bool PeerIsThisUser(QLocalSocket* socket) {
  ucred cred{};
  socklen_t size = sizeof cred;
  const auto fd = static_cast<int>(socket->socketDescriptor());
  return ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &size) == 0 && cred.uid == ::getuid();
}

// Whether a program still answers on that socket; a socket file nobody
// answers on was left by a start that crashed.
bool SomeoneListens(const QByteArray& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.size() >= static_cast<qsizetype>(sizeof(address.sun_path))) return false;
  std::memcpy(address.sun_path, path.constData(), static_cast<size_t>(path.size()));
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  const bool answers = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  ::close(fd);
  return answers;
}

}  // namespace

struct TZelMacroServer::TConversation {
  QPointer<QLocalSocket> socket;
  QByteArray buffer;
  qsizetype data_left = -1;  // bytes of an EXECDATA still to come
  bool discarding = false;   // the rest of an over-long line
  bool busy = false;         // a macro of this client runs; its next lines wait
  bool gone = false;         // the socket went while busy
};

TZelMacroServer::TZelMacroServer(QObject* owner, const QString& name) : QObject(owner) {
  const auto* form = qobject_cast<QWidget*>(owner);
  if (!form || !form->isWindow()) {
    throw EDdeMacro(std::string(metaObject()->className()) + " must be owned by a form");
  }
  setObjectName(name);
}

TZelMacroServer::~TZelMacroServer() { Close(); }

QString TZelMacroServer::SocketPathFor(const QString& service, const QString& topic) {
  const std::string folder = UserRuntimeFolder();
  if (folder.empty()) return QString();
  return QString::fromLocal8Bit(folder.c_str()) + '/' + service + '.' + topic;
}

bool TZelMacroServer::Listen(const QString& service) {
  Close();
  socket_path_ = SocketPathFor(service, objectName());
  if (socket_path_.isEmpty()) return false;
  const QByteArray path = socket_path_.toLocal8Bit();
  if (SomeoneListens(path)) return false;
  QLocalServer::removeServer(socket_path_);
  server_ = new QLocalServer(this);
  server_->setSocketOptions(QLocalServer::UserAccessOption);
  if (!server_->listen(socket_path_)) {
    delete server_;
    server_ = nullptr;
    return false;
  }
  ::chmod(path.constData(), 0600);
  connect(server_, &QLocalServer::newConnection, this, &TZelMacroServer::Accept);
  return true;
}

void TZelMacroServer::Close() {
  if (!server_) return;
  server_->close();  // removes the socket file
  delete server_;
  server_ = nullptr;
}

void TZelMacroServer::Accept() {
  while (QLocalSocket* socket = server_->nextPendingConnection()) {
    connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    if (!PeerIsThisUser(socket)) {
      socket->abort();
      continue;
    }
    auto* conversation = new TConversation;
    conversation->socket = socket;
    connect(socket, &QLocalSocket::readyRead, this, [this, conversation] { Serve(conversation); });
    connect(socket, &QObject::destroyed, this, [conversation] {
      if (conversation->busy) {
        conversation->gone = true;
      } else {
        delete conversation;
      }
    });
  }
}

void TZelMacroServer::Serve(TConversation* c) {
  // A macro that runs a tool lets messages through: this client's next
  // lines wait until its macro has answered, so answers keep their order.
  if (c->busy) return;
  c->busy = true;
  while (c->socket) {
    c->buffer += c->socket->readAll();
    if (c->data_left >= 0) {
      if (c->buffer.size() < c->data_left) break;
      const QByteArray data = c->buffer.left(c->data_left);
      c->buffer.remove(0, c->data_left);
      c->data_left = -1;
      Send(c->socket, "OK " + ExecuteData(QString::fromUtf8(data)));
      continue;
    }
    const qsizetype end = c->buffer.indexOf('\n');
    if (end < 0) {
      if (c->buffer.size() > kMaxLine) {
        if (!c->discarding) Send(c->socket, "ERROR (invalid macro)");
        c->discarding = true;
        c->buffer.clear();
      }
      break;
    }
    QByteArray line = c->buffer.left(end);
    c->buffer.remove(0, end + 1);
    if (c->discarding) {
      c->discarding = false;
      continue;
    }
    if (line.size() > kMaxLine) {
      Send(c->socket, "ERROR (invalid macro)");
      continue;
    }
    if (line.endsWith('\r')) line.chop(1);
    Answer(c, line);
  }
  c->busy = false;
  if (c->gone) delete c;
}

void TZelMacroServer::Answer(TConversation* c, const QByteArray& line) {
  const QString text = QString::fromUtf8(line);
  const qsizetype blank = text.indexOf(' ');
  const QString verb = (blank < 0 ? text : text.left(blank)).toUpper();
  const QString arg = blank < 0 ? QString() : text.mid(blank + 1);
  const bool item = !arg.compare(kItemName, Qt::CaseInsensitive);
  if (verb == "EXECUTE") {
    Send(c->socket, "OK " + ExecuteData(arg));
  } else if (verb == "EXECDATA") {
    bool ok = false;
    const int size = arg.toInt(&ok);
    if (ok && size >= 0 && size <= kMaxLine) {
      c->data_left = size;
    } else {
      Send(c->socket, "ERROR (invalid macro)");
    }
  } else if (verb == "CONNECT") {
    Send(c->socket, arg.compare(objectName(), Qt::CaseInsensitive) ? "ERROR no such topic" : "OK");
  } else if (verb == "REQUEST") {
    Send(c->socket, item ? "VALUE " + item_text_ : "ERROR no such item");
  } else if (verb == "ADVISE" || verb == "UNADVISE") {
    if (!item) {
      Send(c->socket, "ERROR no such item");
      return;
    }
    advised_.removeAll(c->socket);
    if (verb == "ADVISE") advised_ << c->socket;
    Send(c->socket, "OK");
  } else {
    Send(c->socket, "ERROR unknown command");
  }
}

QString TZelMacroServer::ExecuteData(const QString& data) {
  static const QRegularExpression kLineBreak("\r\n|\n|\r");
  const QString line = data.section(kLineBreak, 0, 0);
  QString text;
  if (line.isEmpty()) {
    text = "(empty macro)";
  } else if (!IsValidMacro(line)) {
    text = "(invalid macro)";
  } else if (!OnProcessMacro) {
    text = kMacroCannotHandle;
  } else {
    // Whatever fails inside the engine, the conversation and the program go on.
    try {
      OnProcessMacro(this, MacroName(line), MacroParams(line), text);
      text = text.left(kMaxResult);
    } catch (...) {
      text = kMacroError;
    }
  }
  SetItemText(text);
  return text;
}

void TZelMacroServer::SetItemText(const QString& text) {
  item_text_ = text;
  advised_.removeAll(nullptr);
  for (const QPointer<QLocalSocket>& socket : QList(advised_)) Send(socket, "CHANGED " + text);
  emit ItemChanged(text);
}

void TZelMacroServer::Send(QLocalSocket* socket, const QString& line) {
  if (!socket || socket->state() != QLocalSocket::ConnectedState) return;
  socket->write(line.toUtf8() + "\r\n");
  if (socket->bytesToWrite() > kMaxUnread) socket->abort();
}
