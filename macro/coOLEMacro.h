// TOLEMacro: the automation object on the session bus, through which a
// client hands Vardex one macro and gets its whole result back. Bus name
// Vdx32.OLEMacro, object /OLEMacro, interface Vdx32.IOLEMacro (a bus
// interface name needs a dot), method Execute(s Command) -> s. A command
// that fails inside the engine fails the call with a bus error carrying the
// message. Main thread only.
#pragma once

#include <QDBusContext>
#include <QObject>
#include <QSet>
#include <QString>
#include <functional>

class QDBusServiceWatcher;

inline constexpr char kOLEMacroService[] = "Vdx32.OLEMacro";
inline constexpr char kOLEMacroPath[] = "/OLEMacro";
inline constexpr char kOLEMacroInterface[] = "Vdx32.IOLEMacro";

class TOLEMacro : public QObject, protected QDBusContext {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "Vdx32.IOLEMacro")

 public:
  explicit TOLEMacro(QObject* parent = nullptr);

  // Puts the object and the bus name on the session bus; false when there
  // is no session bus or another program holds the name.
  bool Register();
  void Unregister();

  // Clients that have called Execute and are still on the bus.
  int ClientCount() const { return static_cast<int>(clients_.size()); }
  // Called when the last of them leaves the bus.
  std::function<void()> OnLastClientGone;

 public slots:
  // The result of the command, whole; a command that sets none (CLOSE)
  // returns its own text.
  QString Execute(const QString& Command);

 private:
  void ClientGone(const QString& name);

  QDBusServiceWatcher* watcher_;
  QSet<QString> clients_;
  bool registered_ = false;
};
