// The D-Bus channel of `vdx macro`: the automation object Vdx32.OLEMacro on
// the session bus, started by the bus when it is registered and not running.
#include "MacroClient.h"

#ifdef VDX_WITH_DBUS
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusError>
#include <QDBusMessage>

int vdx::ExecuteOverDBus(const Args& texts, std::vector<std::string>* answers,
                         std::string* failure) {
  int argc = 1;
  char name[] = "vdx";
  char* argv[] = {name, nullptr};
  QCoreApplication app(argc, argv);
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected()) {
    *failure = "no session bus: " + bus.lastError().message().toStdString();
    return 2;
  }
  constexpr int kOneDay = 24 * 60 * 60 * 1000;  // a tool run may take long
  for (const std::string& text : texts) {
    QDBusMessage call =
        QDBusMessage::createMethodCall("Vdx32.OLEMacro", "/OLEMacro", "Vdx32.IOLEMacro", "Execute");
    call << QString::fromStdString(text);
    const QDBusMessage reply = bus.call(call, QDBus::Block, kOneDay);
    if (reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty()) {
      answers->push_back(reply.arguments().first().toString().toStdString());
      continue;
    }
    const QString error = reply.errorName();
    if (error == "org.freedesktop.DBus.Error.ServiceUnknown" ||
        error == "org.freedesktop.DBus.Error.NameHasNoOwner" ||
        error.startsWith("org.freedesktop.DBus.Error.Spawn")) {
      *failure = reply.errorMessage().toStdString();
      return 2;
    }
    answers->push_back("ERROR: " + reply.errorMessage().toStdString());
  }
  return 0;
}
#else
int vdx::ExecuteOverDBus(const Args&, std::vector<std::string>*, std::string* failure) {
  *failure = "this vdx was built without D-Bus";
  return 1;
}
#endif
