#include "clFormat.h"

#include <QLocale>

namespace {

// Narrower than the property kinds' integers: a character argument is not
// taken for "%d" or a "*" width, it is a format error.
bool IsInteger(const QVariant& value) {
  switch (value.typeId()) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::Long:
    case QMetaType::ULong:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Short:
    case QMetaType::UShort:
      return true;
    default:
      return false;
  }
}

bool IsFloat(const QVariant& value) {
  return value.typeId() == QMetaType::Double || value.typeId() == QMetaType::Float;
}

struct Directive {
  bool left = false;
  int width = -1;
  int precision = -1;
  QChar type;
};

class Formatter {
 public:
  Formatter(const QString& pattern, const QVariantList& args) : p_(pattern), args_(args) {}

  bool Run(QString& out) {
    while (at_ < p_.size()) {
      QChar c = p_[at_++];
      if (c != u'%') {
        out += c;
      } else if (!Fill(out)) {
        return false;
      }
    }
    return true;
  }

 private:
  // A number, or "*" taking an integer argument; -1 when neither is there.
  bool Number(int& value) {
    if (at_ < p_.size() && p_[at_] == u'*') {
      ++at_;
      if (next_ >= args_.size() || !IsInteger(args_[next_])) return false;
      value = args_[next_++].toInt();
      return true;
    }
    value = -1;
    qsizetype start = at_;
    while (at_ < p_.size() && p_[at_].isDigit()) ++at_;
    if (at_ > start) value = p_.mid(start, at_ - start).left(4).toInt();
    return true;
  }

  bool Fill(QString& out) {
    if (at_ < p_.size() && p_[at_] == u'%') {
      out += u'%';
      ++at_;
      return true;
    }
    Directive d;
    int number = -1;
    if (!Number(number)) return false;
    if (at_ < p_.size() && p_[at_] == u':') {
      if (number < 0) return false;
      next_ = number;
      ++at_;
      number = -1;
    }
    if (number < 0) {
      if (at_ < p_.size() && p_[at_] == u'-') {
        d.left = true;
        ++at_;
      }
      if (!Number(number)) return false;
    }
    d.width = number;
    if (at_ < p_.size() && p_[at_] == u'.') {
      ++at_;
      if (!Number(d.precision)) return false;
    }
    if (at_ >= p_.size() || next_ >= args_.size()) return false;
    d.type = p_[at_++].toLower();
    QString text;
    if (!Convert(d, args_[next_++], text)) return false;
    if (d.width > text.size())
      text = d.left ? text.leftJustified(d.width) : text.rightJustified(d.width);
    out += text;
    return true;
  }

  static bool Convert(const Directive& d, const QVariant& arg, QString& text) {
    const char16_t type = d.type.unicode();
    if (type == u's') {
      if (arg.typeId() != QMetaType::QString) return false;
      text = arg.toString();
      if (d.precision >= 0) text.truncate(d.precision);
      return true;
    }
    if (type == u'd' || type == u'u' || type == u'x') {
      if (!IsInteger(arg)) return false;
      qint64 value = arg.toLongLong();
      if (type == u'u') value = static_cast<quint32>(value);
      const bool negative = value < 0 && type == u'd';
      text = type == u'x' ? QString::number(static_cast<quint64>(value), 16).toUpper()
                          : QString::number(negative ? -value : value);
      if (d.precision > text.size()) text = text.rightJustified(d.precision, u'0');
      if (negative) text.prepend(u'-');
      return true;
    }
    if (type == u'f' || type == u'e' || type == u'g' || type == u'n' || type == u'm') {
      if (!IsFloat(arg)) return false;
      const double value = arg.toDouble();
      const int precision = d.precision >= 0 ? d.precision : (type == u'g' ? 15 : 2);
      if (type == u'n' || type == u'm')
        text = QLocale().toString(value, 'f', precision);
      else
        text = QString::number(value, static_cast<char>(type), precision);
      return true;
    }
    return false;  // pointers and unknown letters
  }

  const QString& p_;
  const QVariantList& args_;
  qsizetype at_ = 0;
  qsizetype next_ = 0;
};

}  // namespace

bool FormatArgs(const QString& pattern, const QVariantList& args, QString& result) {
  result.clear();
  return Formatter(pattern, args).Run(result);
}
