#include "cpDdeMac.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <QLocalServer>
#include <QRegularExpression>
#include <QSocketNotifier>
#include <QWidget>
#include <cerrno>
#include <cstring>

#include "clMacro.h"
#include "tlRuntime.h"

namespace {

// A client that does not read what it is sent is dropped rather than
// buffered for without end; one that sends faster than its macros run
// is read no further until they have caught up.
constexpr qsizetype kMaxUnread = 1 << 20;
constexpr qsizetype kMaxPending = 256 * 1024;

bool PeerIsThisUser(int fd) {
  ucred cred{};
  socklen_t size = sizeof cred;
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

// Hands each new connection over as a bare descriptor.
class TListener : public QLocalServer {
 public:
  using QLocalServer::QLocalServer;
  std::function<void(int)> OnConnection;

 protected:
  void incomingConnection(quintptr fd) override { OnConnection(static_cast<int>(fd)); }
};

}  // namespace

// One client's conversation on its own descriptor. A client may shut its
// sending side after its last line (printf ... | socat): those lines are
// still answered, and the connection closes once the answers are out.
class TZelMacroServer::TConversation : public QObject {
 public:
  TConversation(int socket, TZelMacroServer* server)
      : QObject(server),
        fd(socket),
        reader(socket, QSocketNotifier::Read, this),
        writer(socket, QSocketNotifier::Write, this) {
    writer.setEnabled(false);
    connect(&reader, &QSocketNotifier::activated, this, [this, server] {
      Read();
      server->Serve(this);
    });
    connect(&writer, &QSocketNotifier::activated, this, [this] { Flush(); });
  }
  ~TConversation() override {
    if (fd >= 0) ::close(fd);
  }

  void Send(const QString& line) {
    if (fd < 0) return;
    out += line.toUtf8() + "\r\n";
    if (out.size() > kMaxUnread) {
      Drop();
    } else {
      Flush();
    }
  }

  // After the last answer of a client that has stopped sending.
  void CloseWhenDone() {
    if (eof && !busy && fd >= 0 && out.isEmpty()) Drop();
  }

  int fd;
  QSocketNotifier reader, writer;
  QByteArray in, out;
  qsizetype data_left = -1;  // bytes of an EXECDATA still to come
  bool discarding = false;   // the rest of an over-long line
  bool busy = false;         // a macro of this client runs; its next lines wait
  bool eof = false;          // the client sends no more

 private:
  void Read() {
    char chunk[16384];
    while (fd >= 0 && in.size() < kMaxPending) {
      const ssize_t n = ::recv(fd, chunk, sizeof chunk, MSG_DONTWAIT);
      if (n > 0) {
        in.append(chunk, n);
      } else if (n == 0) {
        eof = true;
        reader.setEnabled(false);
        return;
      } else if (errno != EINTR) {
        if (errno != EAGAIN && errno != EWOULDBLOCK) Drop();
        return;
      }
    }
    if (in.size() >= kMaxPending) reader.setEnabled(false);
  }

  void Flush() {
    while (fd >= 0 && !out.isEmpty()) {
      const ssize_t n = ::send(fd, out.constData(), out.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
      if (n > 0) {
        out.remove(0, n);
      } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
        writer.setEnabled(true);
        return;
      } else if (n < 0 && errno == EINTR) {
        continue;
      } else {
        Drop();
        return;
      }
    }
    writer.setEnabled(false);
    CloseWhenDone();
  }

  void Drop() {
    if (fd < 0) return;
    reader.setEnabled(false);
    writer.setEnabled(false);
    ::close(fd);
    fd = -1;
    if (!busy) deleteLater();
  }
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
  auto* listener = new TListener(this);
  listener->OnConnection = [this](int fd) { Accept(fd); };
  server_ = listener;
  server_->setSocketOptions(QLocalServer::UserAccessOption);
  if (!server_->listen(socket_path_)) {
    delete server_;
    server_ = nullptr;
    return false;
  }
  ::chmod(path.constData(), 0600);
  return true;
}

void TZelMacroServer::Close() {
  if (!server_) return;
  server_->close();  // removes the socket file
  delete server_;
  server_ = nullptr;
}

void TZelMacroServer::Accept(int fd) {
  if (!PeerIsThisUser(fd)) {
    ::close(fd);
    return;
  }
  ::fcntl(fd, F_SETFD, FD_CLOEXEC);
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
  new TConversation(fd, this);
}

void TZelMacroServer::Serve(TConversation* c) {
  // A macro that runs a tool lets messages through: this client's next
  // lines wait until its macro has answered, so answers keep their order.
  if (c->busy) return;
  c->busy = true;
  while (c->fd >= 0) {
    if (c->data_left >= 0) {
      if (c->in.size() < c->data_left) break;
      const QByteArray data = c->in.left(c->data_left);
      c->in.remove(0, c->data_left);
      c->data_left = -1;
      c->Send("OK " + ExecuteData(QString::fromUtf8(data)));
      continue;
    }
    qsizetype end = c->in.indexOf('\n');
    if (end < 0 && c->eof && !c->in.isEmpty()) end = c->in.size();  // a last line without its break
    if (end < 0) {
      if (c->in.size() > kMaxLine) {
        if (!c->discarding) c->Send("ERROR (invalid macro)");
        c->discarding = true;
        c->in.clear();
      }
      break;
    }
    QByteArray line = c->in.left(end);
    c->in.remove(0, end + 1);
    if (c->discarding) {
      c->discarding = false;
      continue;
    }
    if (line.size() > kMaxLine) {
      c->Send("ERROR (invalid macro)");
      continue;
    }
    if (line.endsWith('\r')) line.chop(1);
    Answer(c, line);
  }
  c->busy = false;
  if (c->fd < 0) {
    c->deleteLater();
    return;
  }
  if (!c->eof) c->reader.setEnabled(true);  // it may have been paused while lines piled up
  c->CloseWhenDone();
}

void TZelMacroServer::Answer(TConversation* c, const QByteArray& line) {
  const QString text = QString::fromUtf8(line);
  const qsizetype blank = text.indexOf(' ');
  const QString verb = (blank < 0 ? text : text.left(blank)).toUpper();
  const QString arg = blank < 0 ? QString() : text.mid(blank + 1);
  const bool item = !arg.compare(kItemName, Qt::CaseInsensitive);
  if (verb == "EXECUTE") {
    c->Send("OK " + ExecuteData(arg));
  } else if (verb == "EXECDATA") {
    bool ok = false;
    const int size = arg.toInt(&ok);
    if (ok && size >= 0 && size <= kMaxLine) {
      c->data_left = size;
    } else {
      c->Send("ERROR (invalid macro)");
    }
  } else if (verb == "CONNECT") {
    c->Send(arg.compare(objectName(), Qt::CaseInsensitive) ? "ERROR no such topic" : "OK");
  } else if (verb == "REQUEST") {
    c->Send(item ? "VALUE " + item_text_ : "ERROR no such item");
  } else if (verb == "ADVISE" || verb == "UNADVISE") {
    if (!item) {
      c->Send("ERROR no such item");
      return;
    }
    advised_.removeAll(c);
    if (verb == "ADVISE") advised_ << c;
    c->Send("OK");
  } else {
    c->Send("ERROR unknown command");
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
  for (const QPointer<TConversation>& c : QList(advised_)) {
    if (c) c->Send("CHANGED " + text);
  }
  emit ItemChanged(text);
}
