#include "clMacroDate.h"

#include <QDateTime>
#include <QLocale>
#include <QRegularExpression>
#include <cmath>

namespace {

const QDate kDayZero(1899, 12, 30);
// Blanks as locales write them, the narrow no-break space before AM/PM included.
const QString kBlank = QStringLiteral("[\\s\\x{00A0}\\x{202F}]");

// The format without its time-zone field: a zone name cannot be read back.
QString WithoutZone(const QString& format) {
  QString out;
  bool quoted = false;
  for (QChar c : format) {
    if (c == '\'') quoted = !quoted;
    if (!quoted && c == 't') continue;
    out += c;
  }
  return out.trimmed();
}

// The short date format with the order of day, month and year in it
// ("dMy", "Mdy", "yMd") and the character between them. A format that
// names the month or the weekday in words, or has no separator, cannot be
// read back reliably: such locales (C among them) use yyyy-MM-dd.
struct TDateLayout {
  QString format;
  QString order;
  QChar separator;
};

TDateLayout RegionalLayout() {
  TDateLayout layout;
  QString format = QLocale().dateFormat(QLocale::ShortFormat);
  bool quoted = false, words = false;
  for (qsizetype i = 0; i < format.size(); ++i) {
    const QChar c = format[i];
    if (c == '\'') quoted = !quoted;
    if (quoted || c == '\'') continue;
    if (c == 'd' || c == 'M' || c == 'y') {
      if (!layout.order.contains(c)) layout.order += c;
      if (c != 'y' && format.mid(i, 3) == QString(3, c)) words = true;
    } else if (c.isLetter()) {
      words = true;
    } else if (layout.separator.isNull() && !layout.order.isEmpty() && !c.isSpace()) {
      layout.separator = c;
    }
  }
  if (words || quoted || layout.order.size() != 3 || layout.separator.isNull()) {
    return {"yyyy-MM-dd", "yMd", '-'};
  }
  if (!format.contains("yyyy")) format.replace("yy", "yyyy");
  layout.format = format;
  return layout;
}

QString RegionalFormat() {
  return RegionalLayout().format + ' ' + WithoutZone(QLocale().timeFormat(QLocale::LongFormat));
}

QChar TimeSeparator() {
  for (QChar c : QLocale().timeFormat(QLocale::ShortFormat)) {
    if (!c.isLetter() && !c.isSpace() && c != '\'') return c;
  }
  return ':';
}

// A two-digit year in the century that puts it nearest `current`.
int FullYear(const QString& digits, int current) {
  const int year = digits.toInt();
  if (digits.size() > 2) return year;
  int full = current - current % 100 + year;
  if (full > current + 50) full -= 100;
  if (full <= current - 50) full += 100;
  return full;
}

bool ReadDate(const QString& text, int current_year, QDate* date, QString* rest) {
  const TDateLayout layout = RegionalLayout();
  const QString sep = QRegularExpression::escape(layout.separator) + kBlank + '?';
  const QRegularExpression re('^' +
                              QString("(\\d{1,4})%1(\\d{1,4})(?:%1(\\d{1,4}))?(?:%1)?").arg(sep));
  const QRegularExpressionMatch m = re.match(text);
  if (!m.hasMatch()) return false;
  QString order = layout.order;
  if (m.captured(3).isEmpty()) order.remove('y');  // day and month only
  int day = 0, month = 0, year = current_year;
  for (int i = 0; i < order.size(); ++i) {
    const QString part = m.captured(i + 1);
    if (order[i] == 'd') day = part.toInt();
    if (order[i] == 'M') month = part.toInt();
    if (order[i] == 'y') year = FullYear(part, current_year);
  }
  if (!QDate::isValid(year, month, day)) return false;
  *date = QDate(year, month, day);
  *rest = text.mid(m.capturedLength());
  return true;
}

bool ReadTime(const QString& text, QTime* time) {
  const QString sep = QRegularExpression::escape(TimeSeparator());
  const QRegularExpression re(
      QString("^(\\d{1,2})%1(\\d{1,2})(?:%1(\\d{1,2}))?%2*(\\S*)$").arg(sep, kBlank));
  const QRegularExpressionMatch m = re.match(text);
  if (!m.hasMatch()) return false;
  int hour = m.captured(1).toInt();
  const QString marker = m.captured(4);
  const QLocale locale;
  const bool am = !marker.isEmpty() && (!marker.compare(locale.amText(), Qt::CaseInsensitive) ||
                                        !marker.compare("AM", Qt::CaseInsensitive));
  const bool pm = !marker.isEmpty() && (!marker.compare(locale.pmText(), Qt::CaseInsensitive) ||
                                        !marker.compare("PM", Qt::CaseInsensitive));
  if (!marker.isEmpty() && !am && !pm) return false;
  if (am || pm) {
    if (hour < 1 || hour > 12) return false;
    hour = hour % 12 + (pm ? 12 : 0);
  }
  const int minute = m.captured(2).toInt();
  const int second = m.captured(3).isEmpty() ? 0 : m.captured(3).toInt();
  if (!QTime::isValid(hour, minute, second)) return false;
  *time = QTime(hour, minute, second);
  return true;
}

}  // namespace

QString MacroDateTimeText(double dateTime) {
  auto days = static_cast<qint64>(std::floor(dateTime));
  auto ms = static_cast<qint64>(std::llround((dateTime - static_cast<double>(days)) * 86400000.0));
  if (ms >= 86400000) {
    ++days;
    ms -= 86400000;
  }
  const QDateTime moment(kDayZero.addDays(days),
                         QTime::fromMSecsSinceStartOfDay(static_cast<int>(ms)));
  return QLocale().toString(moment, RegionalFormat());
}

bool ReadMacroDateTime(const QString& text, double today, double* dateTime) {
  const int current_year = kDayZero.addDays(static_cast<qint64>(std::floor(today))).year();
  QDate date;
  QString rest;
  if (!ReadDate(text.trimmed(), current_year, &date, &rest)) return false;
  QTime time(0, 0);
  rest = rest.trimmed();
  rest.remove(QRegularExpression('^' + kBlank + '+'));
  if (!rest.isEmpty() && !ReadTime(rest, &time)) return false;
  *dateTime = static_cast<double>(kDayZero.daysTo(date)) + time.msecsSinceStartOfDay() / 86400000.0;
  return true;
}
