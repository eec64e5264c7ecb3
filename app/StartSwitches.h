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
