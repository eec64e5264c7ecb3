// TZelIniFile: our own reader and writer of INI files for the setup and
// language sections. Section and key names are compared without regard to
// case, keys are listed in file order, a value is the text after the first
// "=" without the blanks around it, cut at 1023 characters. The file is read
// when first asked and again after UpdateFile, so each load sees the file's
// current content.
#pragma once

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

#include "clZelText.h"

class EIniFileError : public EZelError {
 public:
  using EZelError::EZelError;
};

class TZelIniFile {
 public:
  static constexpr int kMaxValueLength = 1023;

  explicit TZelIniFile(const QString& file_name) : file_name_(file_name) {}

  const QString& FileName() const { return file_name_; }
  // Reads the file now; false when it cannot be read (missing, a folder,
  // refused). Later reads of an unreadable file see no sections.
  bool Load();
  QString ReadString(const QString& section, const QString& key, const QString& fallback);
  void ReadSection(const QString& section, QStringList& keys);
  // Writes one value, replacing the key's line or adding it (and the section)
  // at the end of the section. The file is replaced as a whole, so a failed
  // write leaves it as it was; "Unable to write to %s" on failure.
  void WriteString(const QString& section, const QString& key, const QString& value);
  // Drops what was read so the next read sees the file as it is now.
  void UpdateFile() { document_.reset(); }

  // The decoded lines of an INI file's bytes: UTF-8 (with or without a byte
  // order mark), UTF-16 with a byte order mark, and anything that is not
  // valid UTF-8 taken as Latin-1 so that no text is lost.
  static QStringList DecodeLines(const QByteArray& bytes);

 private:
  struct Section {
    QString name;
    QList<QPair<QString, QString>> entries;  // first occurrence of each key
    QHash<QString, qsizetype> index;         // entries by folded key
  };
  struct Document {
    QList<Section> sections;
    QHash<QString, qsizetype> by_name;  // sections by folded name
  };

  const Document& Doc();
  static Document Parse(const QStringList& lines);
  static const Section* Find(const Document& doc, const QString& name);
  bool IsProgramFile() const;

  QString file_name_;
  std::optional<Document> document_;
};
