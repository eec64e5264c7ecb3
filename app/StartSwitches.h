// `Vdx32 --help` and `Vdx32 --version`, answered before the single-instance
// check and before any display is needed.
#pragma once

#include <QStringList>
#include <cstdio>

// The usage text: the start switches and the folders the program uses.
QString UsageText();
// "Vdx32 (Vardex) <version>".
QString VersionText();
// When the first parameter is --help, -h or --version, writes the answer to
// `out` and returns 0; otherwise returns -1 and writes nothing.
int AnswerInformationSwitch(const QStringList& params, std::FILE* out);

// The exit code of a tool run from the macro answer it ended with: 0 for
// "(success)", the result's ordinal for the other results, trBusy for a run
// refused because another is in progress, kExitBadCommandLine (64) for an
// alias or tool that does not exist, trError for any other answer.
int ExitCodeOfMacroAnswer(const QString& answer);

// A tool request on the command line: ALIAS followed by -X or /X, X a tool
// letter in either case. False, with `error` set, when the line holds
// something else than a server switch and is no such request.
struct TToolRequest {
  QString Alias;
  QChar Letter;
};
bool ReadToolRequest(const QStringList& params, TToolRequest* request, QString* error);
