// The text form of a macro, NAME(P1,...,Pn): checked and split here, apart
// from the engine, since every transport reads it from outside the program.
#include "clMacro.h"

namespace {

bool IsDelimiter(QChar c) { return c == '(' || c == ')' || c == ','; }

// Index of the first delimiter at or after `from`, or the last index.
int AdvanceToDelimiter(const QString& text, int from) {
  int i = from;
  while (i < text.size() - 1 && !IsDelimiter(text[i])) ++i;
  return i;
}

}  // namespace

bool IsValidMacro(const QString& text) {
  if (text.isEmpty()) return false;
  const int last = text.size() - 1;
  int i = AdvanceToDelimiter(text, 0);
  if (text[i] != '(' || i >= last) return false;
  do {
    i = AdvanceToDelimiter(text, i + 1);
  } while (text[i] == ',' && i < last);
  return text[i] == ')' && i == last;
}

QString MacroName(const QString& text) {
  const int open = text.indexOf('(');
  return open < 0 ? text : text.left(open);
}

QStringList MacroParams(const QString& text) {
  const int open = text.indexOf('(');
  // The last parameter runs up to, not including, the final character.
  const QString inner = text.mid(open + 1, text.size() - open - 2);
  return inner.split(',');
}
