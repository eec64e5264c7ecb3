// The program folder at start: the folder the engine names is made ready
// before any layer reads it, and every layer is pointed at the same one.
#pragma once

#include <QString>

// When the program folder is the user's own ($XDG_CONFIG_HOME/vardex, for
// an installed or read-only program), creates it on first use and copies the
// shipped language file there when it has none. Then sets VARDEX_HOME to the
// folder, so the Qt layers, which look only at VARDEX_HOME and the
// executable's folder, agree with the engine and the log. Returns the folder;
// `error` gets a text when the folder or its language file cannot be made
// (the program still starts; the tool log then reports the folder).
QString SettleProgramFolder(QString* error);
