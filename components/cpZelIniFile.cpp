#include "cpZelIniFile.h"

#include <sys/stat.h>

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSaveFile>
#include <QSet>
#include <QStringDecoder>

namespace {

// A language file is a few kilobytes; anything this large is not one.
constexpr qint64 kMaxFileSize = 64 * 1024 * 1024;

QString CutValue(QString value) {
  if (value.size() <= TZelIniFile::kMaxValueLength) return value;
  qsizetype length = TZelIniFile::kMaxValueLength;
  if (value[length - 1].isHighSurrogate()) --length;  // never split a character
  return value.left(length);
}

bool IsComment(const QString& trimmed) {
  return trimmed.startsWith(u';') || trimmed.startsWith(u'#');
}

QString SectionHeader(const QString& trimmed) {
  qsizetype close = trimmed.indexOf(u']');
  return trimmed.mid(1, close < 0 ? -1 : close - 1).trimmed();
}

}  // namespace

QStringList TZelIniFile::DecodeLines(const QByteArray& bytes) {
  QString text;
  if (bytes.startsWith("\xFF\xFE") || bytes.startsWith("\xFE\xFF")) {
    auto encoding =
        bytes.startsWith("\xFF\xFE") ? QStringConverter::Utf16LE : QStringConverter::Utf16BE;
    text = QStringDecoder(encoding)(bytes.mid(2));
  } else {
    QByteArray body = bytes.startsWith("\xEF\xBB\xBF") ? bytes.mid(3) : bytes;
    QStringDecoder utf8(QStringConverter::Utf8);
    text = utf8(body);
    if (utf8.hasError()) text = QString::fromLatin1(body);
  }
  text.replace(u"\r\n"_qs, u"\n"_qs);
  text.replace(u'\r', u'\n');
  return text.split(u'\n');
}

TZelIniFile::Document TZelIniFile::Parse(const QStringList& lines) {
  Document doc;
  qsizetype current = -1;
  for (const QString& line : lines) {
    const QString trimmed = line.trimmed();
    if (trimmed.isEmpty() || IsComment(trimmed)) continue;
    if (trimmed.startsWith(u'[')) {
      // A section that appears twice continues where it left off.
      const QString name = SectionHeader(trimmed);
      current = doc.by_name.value(name.toCaseFolded(), doc.sections.size());
      if (current == doc.sections.size()) {
        doc.by_name.insert(name.toCaseFolded(), current);
        doc.sections.append({name, {}, {}});
      }
      continue;
    }
    qsizetype equals = trimmed.indexOf(u'=');
    if (current < 0 || equals <= 0) continue;  // outside a section, or no "key="
    const QString key = trimmed.left(equals).trimmed();
    Section& section = doc.sections[current];
    if (key.isEmpty() || section.index.contains(key.toCaseFolded())) continue;  // first one wins
    section.index.insert(key.toCaseFolded(), section.entries.size());
    section.entries.append({key, CutValue(trimmed.mid(equals + 1).trimmed())});
  }
  return doc;
}

const TZelIniFile::Section* TZelIniFile::Find(const Document& doc, const QString& name) {
  const qsizetype at = doc.by_name.value(name.toCaseFolded(), -1);
  return at < 0 ? nullptr : &doc.sections[at];
}

bool TZelIniFile::Load() {
  document_ = Document{};
  QFile file(file_name_);
  if (!QFileInfo(file_name_).isFile() || file.size() > kMaxFileSize) return false;
  if (!file.open(QIODevice::ReadOnly)) return false;
  const QByteArray bytes = file.readAll();
  if (file.error() != QFileDevice::NoError) return false;
  document_ = Parse(DecodeLines(bytes));
  return true;
}

const TZelIniFile::Document& TZelIniFile::Doc() {
  if (!document_) Load();
  return *document_;
}

QString TZelIniFile::ReadString(const QString& section, const QString& key,
                                const QString& fallback) {
  if (const Section* found = Find(Doc(), section)) {
    const qsizetype at = found->index.value(key.toCaseFolded(), -1);
    if (at >= 0) return found->entries[at].second;
  }
  return fallback;
}

void TZelIniFile::ReadSection(const QString& section, QStringList& keys) {
  keys.clear();
  if (const Section* found = Find(Doc(), section)) {
    for (const auto& entry : found->entries) keys << entry.first;
  }
}

bool TZelIniFile::IsProgramFile() const {
  // Compared by file identity, so neither a link nor another spelling of the
  // path reaches the program.
  struct stat program {
  }, target{};
  if (::stat("/proc/self/exe", &program) != 0) return false;
  if (::stat(QFile::encodeName(file_name_).constData(), &target) != 0) return false;
  return program.st_dev == target.st_dev && program.st_ino == target.st_ino;
}

void TZelIniFile::WriteString(const QString& section, const QString& key, const QString& value) {
  const QString refused = FillIn("Unable to write to %s", {file_name_});
  // However a name was formed, the program file itself is never written.
  if (IsProgramFile() || QFileInfo(file_name_).isDir()) throw EIniFileError(refused);
  QStringList lines;
  if (QFile file(file_name_); file.exists()) {
    if (!file.open(QIODevice::ReadOnly)) throw EIniFileError(refused);
    lines = DecodeLines(file.readAll());
    if (!lines.isEmpty() && lines.last().isEmpty()) lines.removeLast();
  }
  QString flat = value;
  flat.replace(u'\r', u' ').replace(u'\n', u' ');  // one line per entry
  const QString entry = key + u'=' + flat;

  qsizetype section_at = -1, insert_at = -1, key_at = -1;
  for (qsizetype i = 0; i < lines.size(); ++i) {
    const QString trimmed = lines[i].trimmed();
    if (trimmed.startsWith(u'[')) {
      if (section_at >= 0 && key_at < 0 && insert_at < 0) insert_at = i;
      if (section_at < 0 && SectionHeader(trimmed).compare(section, Qt::CaseInsensitive) == 0)
        section_at = i;
      continue;
    }
    qsizetype equals = trimmed.indexOf(u'=');
    if (section_at >= 0 && insert_at < 0 && key_at < 0 && equals > 0 && !IsComment(trimmed) &&
        trimmed.left(equals).trimmed().compare(key, Qt::CaseInsensitive) == 0)
      key_at = i;
  }
  if (key_at >= 0) {
    lines[key_at] = entry;
  } else if (section_at >= 0) {
    if (insert_at < 0) insert_at = lines.size();
    while (insert_at > section_at + 1 && lines[insert_at - 1].trimmed().isEmpty()) --insert_at;
    lines.insert(insert_at, entry);
  } else {
    if (!lines.isEmpty() && !lines.last().trimmed().isEmpty()) lines << QString();
    lines << u'[' + section + u']' << entry;
  }

  QSaveFile out(file_name_);
  if (!out.open(QIODevice::WriteOnly)) throw EIniFileError(refused);
  out.write((lines.join(u'\n') + u'\n').toUtf8());
  if (!out.commit()) throw EIniFileError(refused);
  document_.reset();
}
