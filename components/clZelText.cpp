#include "clZelText.h"

#include "tlString.h"

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

// The name rules work on Qt text; the helpers themselves are util's, on the
// UTF-8 form, where a whole-character match can only start on a character.
QString DeleteFirst(const QString& text, const QString& sub) {
  return QString::fromStdString(DeleteFirst(text.toStdString(), sub.toStdString()));
}

QString ReplaceAllSafe(const QString& text, const QString& old_text, const QString& new_text) {
  return QString::fromStdString(
      ReplaceAll(text.toStdString(), old_text.toStdString(), new_text.toStdString()));
}
