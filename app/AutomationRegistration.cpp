#include "AutomationRegistration.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace {

constexpr char kBusName[] = "Vdx32.OLEMacro";

// Exec= lines are split at blanks unless quoted.
QString Quoted(const QString& text) {
  QString escaped = text;
  escaped.replace('\\', "\\\\").replace('"', "\\\"");
  return '"' + escaped + '"';
}

}  // namespace

TRegistrationSwitch FindRegistrationSwitch(const QStringList& params) {
  for (const QString& param : params) {
    if (param.size() < 2 || (param[0] != '-' && param[0] != '/')) continue;
    const QString word = param.mid(1).toUpper();
    if (word == "REGSERVER") return TRegistrationSwitch::Register;
    if (word == "UNREGSERVER") return TRegistrationSwitch::Unregister;
  }
  return TRegistrationSwitch::None;
}

QString ActivationFilePath() {
  QString data = qEnvironmentVariable("XDG_DATA_HOME");
  if (data.isEmpty()) data = QDir::homePath() + "/.local/share";
  return data + "/dbus-1/services/" + kBusName + ".service";
}

bool RegisterAutomationServer(const QString& program, QString* error) {
  const QString path = ActivationFilePath();
  if (!QDir().mkpath(QFileInfo(path).path())) {
    *error = "Cannot create the folder of " + path;
    return false;
  }
  // The program folder in force now is the one a started server must use.
  QString exec = Quoted(QFileInfo(program).absoluteFilePath()) + " -EMBEDDING";
  const QString home = qEnvironmentVariable("VARDEX_HOME");
  if (!home.isEmpty()) {
    exec =
        "/usr/bin/env " + Quoted("VARDEX_HOME=" + QFileInfo(home).absoluteFilePath()) + ' ' + exec;
  }
  QSaveFile file(path);
  if (!file.open(QIODevice::WriteOnly)) {
    *error = file.errorString();
    return false;
  }
  file.write(QString("[D-BUS Service]\nName=%1\nExec=%2\n").arg(kBusName, exec).toUtf8());
  if (!file.commit()) {
    *error = file.errorString();
    return false;
  }
  return true;
}

bool UnregisterAutomationServer(QString* error) {
  QFile file(ActivationFilePath());
  if (!file.exists() || file.remove()) return true;
  *error = file.errorString();
  return false;
}
