#include "coOLEMacro.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusServiceWatcher>

#include "clMacro.h"

TOLEMacro::TOLEMacro(QObject* parent) : QObject(parent), watcher_(new QDBusServiceWatcher(this)) {
  setObjectName("OLEMacro");
  watcher_->setWatchMode(QDBusServiceWatcher::WatchForUnregistration);
  connect(watcher_, &QDBusServiceWatcher::serviceUnregistered, this, &TOLEMacro::ClientGone);
}

bool TOLEMacro::Register() {
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected()) return false;
  if (!bus.registerObject(kOLEMacroPath, this, QDBusConnection::ExportAllSlots)) return false;
  if (!bus.registerService(kOLEMacroService)) {
    bus.unregisterObject(kOLEMacroPath);
    return false;
  }
  watcher_->setConnection(bus);
  registered_ = true;
  return true;
}

void TOLEMacro::Unregister() {
  if (!registered_) return;
  QDBusConnection bus = QDBusConnection::sessionBus();
  bus.unregisterService(kOLEMacroService);
  bus.unregisterObject(kOLEMacroPath);
  registered_ = false;
}

QString TOLEMacro::Execute(const QString& Command) {
  if (calledFromDBus()) {
    const QString client = message().service();
    if (!clients_.contains(client)) {
      clients_.insert(client);
      watcher_->addWatchedService(client);
    }
  }
  if (Command.isEmpty()) return "(empty macro)";
  // Taken whole: a line break makes the text invalid.
  if (!IsValidMacro(Command)) return "(invalid macro)";
  QStringList params = MacroParams(Command);
  QString result = Command;
  try {
    MacroEngine().Execute(MacroName(Command), params, result);
  } catch (const std::exception& e) {
    if (calledFromDBus()) sendErrorReply(QDBusError::Failed, QString::fromUtf8(e.what()));
    return QString();
  } catch (...) {
    if (calledFromDBus()) sendErrorReply(QDBusError::Failed, "Unknown error");
    return QString();
  }
  return result;
}

void TOLEMacro::ClientGone(const QString& name) {
  watcher_->removeWatchedService(name);
  if (!clients_.remove(name)) return;
  if (clients_.isEmpty() && OnLastClientGone) OnLastClientGone();
}
