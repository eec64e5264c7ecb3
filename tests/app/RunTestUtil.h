// Helpers of the window tests: a program folder of their own (language
// file, engine configuration, drive table, tool log), databases made by vdx
// or copied from the samples, the main window with its messages kept and
// answered, the vdx command, the environment of a program a test starts,
// and table contents read through pxlib.
#pragma once

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QMap>
#include <QProcess>
#include <QTemporaryDir>
#include <fstream>
#include <functional>
#include <memory>

#include "PxlibReader.h"
#include "Session.h"
#include "ZipTestSupport.h"
#include "fmVdx.h"
#include "svLog.h"

// Runs `vdx` with `args`; its exit code (-1 when it did not run).
inline int Vdx(const QStringList& args, QString* output = nullptr) {
  QProcess p;
  p.setProcessChannelMode(QProcess::MergedChannels);
  p.start(VDX_PATH, args);
  if (!p.waitForFinished(120000)) return -1;
  if (output) *output = QString::fromUtf8(p.readAll());
  return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

// engine.ini in `folder`: one standard alias per name, each pointing at the
// folder of that name in `folder`.
inline void WriteAliasFile(const QString& folder, const QStringList& names) {
  std::ofstream out((folder + "/engine.ini").toStdString(), std::ios::trunc);
  for (const QString& n : names) {
    out << "[" << n.toStdString() << "]\nTYPE=STANDARD\nPATH=" << (folder + '/' + n).toStdString()
        << "\n";
  }
}

// The environment of a program a test starts: offscreen, with `home` as its
// program folder and `runtime` as its runtime folder (the sockets of the
// single instance and of the macro conversation).
inline QProcessEnvironment ProgramEnvironment(const QString& home, const QString& runtime) {
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("QT_QPA_PLATFORM", "offscreen");
  env.insert("XDG_RUNTIME_DIR", runtime);
  env.insert("VARDEX_HOME", home);
  return env;
}

inline bool CopyFiles(const QString& from, const QString& to, const QStringList& masks = {"*"}) {
  QDir().mkpath(to);
  for (const QString& name : QDir(from).entryList(masks, QDir::Files)) {
    if (!QFile::copy(from + '/' + name, to + '/' + name)) return false;
  }
  return true;
}

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
    WriteAliasFile(Path(), names);
    engine::TSession::Default().SetConfigFile(Path("engine.ini").toStdString());
  }
  // The demo databases of `vdx create-demo` (DEMO, SALES and MIX, each with
  // its reference copy), and aliases for `names`.
  bool MakeDemo(const QStringList& names) const {
    if (Vdx({"create-demo", Path()}) != 0) return false;
    WriteAliases(names);
    return true;
  }
  // The database `name` of the mtdemo sample's tables, its reference copy
  // borrowed from them, and the empty folder "drive" for a backup's disks.
  bool MakeSampleDatabase(const QString& name) const {
    const QString samples = QString(VARDEX_SAMPLES_DIR) + "/mtdemo";
    if (!CopyFiles(samples, Path(name)) || !QDir().mkpath(Path(name + "/METADATA"))) return false;
    for (const QString& t : QDir(samples).entryList({"*.DB"}, QDir::Files)) {
      if (Vdx({"borrow", samples + '/' + t, Path(name + "/METADATA/" + t)}) != 0) return false;
    }
    return QDir().mkpath(Path("drive"));
  }
  // drives.ini of the program folder.
  void WriteDrives(const std::vector<ziptest::TDrive>& drives) const {
    ziptest::WriteDrives(Path("drives.ini").toStdString(), drives);
  }

 private:
  QTemporaryDir dir_;
};

// Yes to a question that offers it, OK to every other message.
inline QMessageBox::StandardButton DefaultAnswer(const TMessageRequest& m) {
  return m.Kind == mkConfirmation && m.Buttons.testFlag(QMessageBox::Yes) ? QMessageBox::Yes
                                                                          : QMessageBox::Ok;
}

// The main window as a test drives it: its messages answered by `answer`,
// the end of the program not carried out, its first activation done (which
// opens the tool log).
inline std::unique_ptr<TFormVardex> MakeWindow(
    std::function<QMessageBox::StandardButton(const TMessageRequest&)> answer,
    const QStringList& params = {}) {
  auto form = std::make_unique<TFormVardex>(params);
  form->MessageHandler = std::move(answer);
  form->TerminateHandler = [] {};
  form->FormActivate();
  return form;
}

// What the window tests that run tools share: a program folder of their own
// per test, the main window, the messages it showed and the answers it is to
// give. A test calls Begin() in init() and End() in cleanup().
class TWindowTest : public QObject {
 protected:
  void Begin() {
    home_ = std::make_unique<TRunHome>();
    seen_.clear();
    answers_.clear();
  }
  void End() {
    form_.reset();
    home_.reset();
  }

  // Keeps the message and gives the answer set for its first key, once, or
  // the default one.
  virtual QMessageBox::StandardButton Answer(const TMessageRequest& m) {
    seen_ << m;
    if (answers_.contains(m.Key)) return answers_.take(m.Key);
    return DefaultAnswer(m);
  }

  void MakeForm(const QStringList& params = {}) {
    form_ = MakeWindow([this](const TMessageRequest& m) { return Answer(m); }, params);
  }

  // Runs a tool from its menu item on a database; the keys of the last message.
  QStringList Run(TToolType tool, const QString& alias) {
    seen_.clear();
    form_->SelectAliasByName(alias);
    form_->ToolMenuItem(tool)->trigger();
    return seen_.isEmpty() ? QStringList{} : seen_.last().Keys;
  }

  // Each message by its first key, and by all its keys joined by '+'.
  QStringList Keys() const {
    QStringList keys;
    for (const auto& m : seen_) keys << m.Key;
    return keys;
  }
  QStringList AllKeys() const {
    QStringList keys;
    for (const auto& m : seen_) keys << m.Keys.join('+');
    return keys;
  }

  std::unique_ptr<TRunHome> home_;
  std::unique_ptr<TFormVardex> form_;
  QList<TMessageRequest> seen_;
  QMap<QString, QMessageBox::StandardButton> answers_;  // by first key, each given once
};

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
