// One running program per user: the first start holds a lock and listens on
// a local socket; a later start finds the lock taken, asks the first one to
// come forward through the socket and ends. Both live in the user's runtime
// folder ($XDG_RUNTIME_DIR, else a private folder under /tmp).
#pragma once

#include <QObject>
#include <QString>
#include <functional>

class QLocalServer;

class TSingleInstance : public QObject {
  Q_OBJECT

 public:
  // `name` names the lock and the socket ("Vdx32").
  explicit TSingleInstance(const QString& name, QObject* parent = nullptr);
  ~TSingleInstance() override;

  // The user's runtime folder, created with mode 0700 when it is the /tmp
  // fallback; empty when no safe folder can be had.
  static QString RuntimeFolder();

  // True when this is the first start: the lock is ours from now on. Without
  // a usable runtime folder every start counts as the first.
  bool Claim();
  // Second start: asks the first to come forward. Waits at most `timeout_ms`;
  // true when the first one answered.
  bool AskFirstToComeForward(int timeout_ms = 1500) const;
  // First start: listen for later starts; `on_request` is called for each.
  bool Listen(std::function<void()> on_request);

  QString SocketPath() const { return folder_ + "/" + name_ + ".instance"; }
  QString LockPath() const { return folder_ + "/" + name_ + ".lock"; }

 private:
  QString name_;
  QString folder_;
  int lock_fd_ = -1;
  QLocalServer* server_ = nullptr;
};
