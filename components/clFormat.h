// Filling the format directives of a language text from its arguments, as
// the language file's authors write them: "%s" takes a text, "%d" an
// integer; a directive may carry an argument index and a colon, a "-" for
// left alignment, a width and a precision ("%1:-8.3d"); "%%" stands for "%".
#pragma once

#include <QString>
#include <QVariantList>

// Fills `pattern` from `args` into `result`. False, with `result` left
// unspecified, when the directives do not fit the arguments (a type
// mismatch, a missing argument, an unknown directive). Spare arguments are
// ignored. An argument is a text (QString) or an integer; floating-point
// arguments serve "%f", "%e", "%g", "%n" and "%m".
bool FormatArgs(const QString& pattern, const QVariantList& args, QString& result);
