// One running program per user and program folder: the first start binds a
// socket in the abstract namespace, named after the user and the program
// folder, and listens on it; a later start finds the name taken and talks to
// the first one through it. The name lives in no folder, so two starts with
// different runtime folders ($XDG_RUNTIME_DIR of a desktop session and of
// cron) still find each other; it goes when the first process ends, however
// it ends. Only processes of the same user are answered or believed.
#pragma once

#include <QObject>
#include <QString>
#include <functional>

class QLocalServer;

// What the first start answers a forwarded tool request with: the exit code
// of that run, and the macro answer it came from.
struct TForwardedRun {
  int Code = -1;  // -1: the request did not reach a running instance or got no answer
  QString Answer;
};

class TSingleInstance : public QObject {
  Q_OBJECT

 public:
  // `name` names the instance ("Vdx32").
  explicit TSingleInstance(const QString& name, QObject* parent = nullptr);
  ~TSingleInstance() override;

  // The user's runtime folder, created with mode 0700 when it is the /tmp
  // fallback; empty when no safe folder can be had.
  static QString RuntimeFolder();

  // True when this is the first start: the name is ours from now on. When
  // the name is held by a process of another user, every start counts as
  // the first (better a second window than none).
  bool Claim();
  // Second start: asks the first to come forward. Waits at most `timeout_ms`;
  // true when the first one answered.
  bool AskFirstToComeForward(int timeout_ms = 1500) const;
  // Second start with a tool request: hands "run tool `letter` on `alias`"
  // to the first and waits, without a time limit, for the end of that run.
  TForwardedRun AskFirstToRun(const QString& alias, QChar letter, int connect_ms = 1500) const;

  // First start: listen for later starts; `on_show` is called for each that
  // asks the window forward; `on_run` for each tool request, with a function
  // to call with the run's exit code and macro answer once it has ended.
  using TRunRequest =
      std::function<void(const QString& alias, QChar letter,
                         std::function<void(int code, const QString& answer)> reply)>;
  bool Listen(std::function<void()> on_show, TRunRequest on_run = nullptr);

  // The abstract socket's name (without the leading zero byte).
  QByteArray SocketName() const { return socket_name_; }

 private:
  // A connected socket to the first start, or -1.
  int Connect(int timeout_ms) const;

  QString name_;
  QByteArray socket_name_;
  int listen_fd_ = -1;
  QLocalServer* server_ = nullptr;
};
