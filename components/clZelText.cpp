#include "clZelText.h"

QString FillIn(const QString& pattern, std::initializer_list<QString> args) {
  QString result;
  auto arg = args.begin();
  for (qsizetype i = 0; i < pattern.size(); ++i) {
    if (pattern[i] == u'%' && i + 1 < pattern.size() && pattern[i + 1] == u's' &&
        arg != args.end()) {
      result += *arg++;
      ++i;
    } else {
      result += pattern[i];
    }
  }
  return result;
}

QString DeleteFirst(const QString& text, const QString& sub) {
  qsizetype at = sub.isEmpty() ? -1 : text.indexOf(sub);
  if (at < 0) return text;
  QString result = text;
  return result.remove(at, sub.size());
}

QString ReplaceAllSafe(const QString& text, const QString& old_text, const QString& new_text) {
  if (old_text.isEmpty() || old_text == new_text) return text;
  QString result = text;
  if (new_text.contains(old_text)) return result.replace(old_text, new_text);
  // Each round removes one occurrence; a replacement shorter than the word
  // shrinks the text, a longer one cannot hold the word, so the rounds end.
  // The bound guards the cases where new occurrences keep forming at the
  // seams: the text can never hold more occurrences than characters.
  qsizetype rounds = 0;
  const qsizetype bound = (text.size() + 1) * (new_text.size() + 1) + 16;
  for (qsizetype at = result.indexOf(old_text); at >= 0; at = result.indexOf(old_text)) {
    result.replace(at, old_text.size(), new_text);
    if (++rounds > bound) break;
  }
  return result;
}
