// Helpers of the tool-run tests: a program folder of their own (language
// file, engine configuration, tool log), databases copied from the demo and
// the sample tables, the vdx command, and table contents read through pxlib.
#pragma once

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QMap>
#include <QProcess>
#include <QTemporaryDir>
#include <fstream>

#include "PxlibReader.h"
#include "Session.h"
#include "fmVdx.h"
#include "svLog.h"

class TRunHome {
 public:
  TRunHome() {
    qputenv("VARDEX_HOME", dir_.path().toUtf8());
    QFile::copy(VARDEX_LANGUAGE_FILE, Path("Language.ini"));
  }
  ~TRunHome() {
    CloseLog();
    qunsetenv("VARDEX_HOME");
  }
  QString Path(const QString& sub = QString()) const {
    return sub.isEmpty() ? dir_.path() : dir_.filePath(sub);
  }
  // One standard alias per name, each pointing at the folder of that name.
  void WriteAliases(const QStringList& names) const {
    std::ofstream out(Path("engine.ini").toStdString(), std::ios::trunc);
    for (const QString& n : names) {
      out << "[" << n.toStdString() << "]\nTYPE=STANDARD\nPATH=" << Path(n).toStdString() << "\n";
    }
    out.close();
    engine::TSession::Default().SetConfigFile(Path("engine.ini").toStdString());
  }

 private:
  QTemporaryDir dir_;
};

// Runs `vdx` with `args`; its exit code (-1 when it did not run).
inline int Vdx(const QStringList& args, QString* output = nullptr) {
  QProcess p;
  p.setProcessChannelMode(QProcess::MergedChannels);
  p.start(VDX_PATH, args);
  if (!p.waitForFinished(120000)) return -1;
  if (output) *output = QString::fromUtf8(p.readAll());
  return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

// Every file below `dir` with its contents, by relative path.
inline QMap<QString, QByteArray> Tree(const QString& dir) {
  QMap<QString, QByteArray> files;
  QDirIterator it(dir, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
  while (it.hasNext()) {
    const QString path = it.next();
    QFile f(path);
    f.open(QIODevice::ReadOnly);
    files.insert(QDir(dir).relativeFilePath(path), f.readAll());
  }
  return files;
}

inline bool CopyFiles(const QString& from, const QString& to, const QStringList& masks = {"*"}) {
  QDir().mkpath(to);
  for (const QString& name : QDir(from).entryList(masks, QDir::Files)) {
    if (!QFile::copy(from + '/' + name, to + '/' + name)) return false;
  }
  return true;
}

// Every record of a table, one line per record: as pxlib reads it (blob
// fields by their leaders: pxlib breaks on some blob files), then as the
// engine dumps it with the blobs' contents. Starts with "pxlib:" and the
// reason when pxlib cannot read the table.
inline QString PxRecords(const QString& db_path) {
  const pxtest::PxTable t = pxtest::ReadWithPxlib(db_path.toStdString(), "");
  if (!t.ok) return "pxlib: " + QString::fromStdString(t.error);
  QString out;
  for (const auto& row : t.rows) {
    for (std::size_t i = 0; i < row.size(); ++i) {
      const pxtest::Cell& c = row[i];
      const int type = t.types[i];
      if (c.null) {
        out += "null";
      } else if (!c.s.empty() || type == pxfAlpha || type == pxfBytes || type == pxfBCD) {
        out += QString::fromLatin1(QByteArray::fromStdString(c.s).toHex());
      } else if (type == pxfNumber || type == pxfCurrency || type == pxfTimestamp) {
        out += QString::number(c.d, 'g', 17);
      } else {
        out += QString::number(c.l);
      }
      out += '|';
    }
    out += '\n';
  }
  QString dump;
  Vdx({"dump", db_path}, &dump);
  return out + "--\n" + dump.section('\n', 1);  // without the header line
}

// Records in the tool log for that alias and tool, optionally of one result.
inline int LogRecords(const QString& alias, TToolType tool, int result = -1) {
  if (result < 0) {
    SelectLog(alias.toStdString(), tool, "Result");
  } else {
    SelectLogResult(alias.toStdString(), tool, "Result", static_cast<TToolResult>(result));
  }
  const int n = LogQuery().RecordCount();
  CloseLogQuery();
  return n;
}
