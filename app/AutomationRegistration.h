// The -REGSERVER and -UNREGSERVER switches: the automation object is reached
// over the session bus, and registering it means a D-Bus activation file for
// the user, so that a client's call starts the program with -EMBEDDING.
#pragma once

#include <QString>
#include <QStringList>

enum class TRegistrationSwitch { None, Register, Unregister };

// Looks through the whole command line for the switches after "-" or "/",
// in any case.
TRegistrationSwitch FindRegistrationSwitch(const QStringList& params);

// The activation file of the bus name, under $XDG_DATA_HOME (or
// ~/.local/share)/dbus-1/services.
QString ActivationFilePath();

// Writes or removes the activation file. False, with `error` set, when the
// file cannot be written or removed.
bool RegisterAutomationServer(const QString& program, QString* error);
bool UnregisterAutomationServer(QString* error);
