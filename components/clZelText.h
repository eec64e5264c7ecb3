// Small text helpers shared by the component units: filling a fixed message
// text, the exception base every component exception derives from, and the
// replace and delete helpers the name rules rely on.
#pragma once

#include <QString>
#include <initializer_list>
#include <stdexcept>

// Base of the component exceptions. The message is kept as Qt text so the
// windows can show it as it stands; what() gives it in UTF-8.
class EZelError : public std::runtime_error {
 public:
  explicit EZelError(const QString& message)
      : std::runtime_error(message.toStdString()), message_(message) {}
  const QString& Message() const { return message_; }

 private:
  QString message_;
};

// Fills each "%s" of a fixed message text with the next argument, in order.
QString FillIn(const QString& pattern, std::initializer_list<QString> args);

// `text` without the first occurrence of `sub` (exact); unchanged when `sub`
// does not occur.
QString DeleteFirst(const QString& text, const QString& sub);

// Every occurrence of `old_text` replaced by `new_text` (exact). Replacing
// restarts at the beginning so that a replacement which forms `old_text` anew
// is replaced too; when `new_text` itself holds `old_text` that could never
// end, so such a replacement is made in one left-to-right pass instead, as is
// a chain of replacements that keeps growing the text without end.
QString ReplaceAllSafe(const QString& text, const QString& old_text, const QString& new_text);
