// vdx run ALIAS TOOL: runs a tool on a database without a window, through
// the same run layer as the window's runs: the same checks, files, log
// record and results. TOOL is a tool's name or letter (Update U, Pack P,
// Copy C, Retrieve R, Backup B, Restore T). Questions are answered by flags:
// --yes answers the confirmation, --password-file FILE gives the database
// password (its first line), --drive X and --complement choose the drive of
// drives.ini and the Copy before a backup or the Retrieve after a restore;
// without --yes a terminal is asked, and without a terminal the run is not
// started (given up). A disk change waits for Enter on a terminal and
// cancels the run without one. Ctrl+C cancels as the window's Cancel
// button does, between two tables. Progress goes to stderr: a live bar on a terminal,
// plain lines otherwise; end messages too. The exit code is that of
// `Vdx32 ALIAS -X`: 0 success, else the result's ordinal (10 busy), 64 for
// an alias or tool that does not exist, 11/12 when the tool log is busy or
// cannot be opened, 2 usage.
#ifdef VDX_WITH_TOOLRUN
#include <signal.h>
#include <unistd.h>

#include <QFile>
#include <cctype>
#include <QMap>
#include <QRegularExpression>
#include <QTextStream>
#include <cstdio>
#include <iostream>
#include <ostream>

#include "Command.h"
#include "Session.h"
#include "ToolRun.h"
#include "cpTbTool.h"
#include "exVardex.h"
#include "svLog.h"

namespace {

constexpr int kExitBadCommandLine = 64;
constexpr int kExitLogBusy = 11;
constexpr int kExitLogUnavailable = 12;

// Ctrl+C asks to cancel, as the window's Cancel button does: between two
// tables, or between two files of an archive.
volatile sig_atomic_t g_cancel = 0;
void AskToCancel(int) { g_cancel = 1; }

// The texts of the language file, section by section.
class TTexts {
 public:
  void Load(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) return;
    QString section;
    QTextStream in(&file);
    in.setEncoding(QStringConverter::Utf8);
    while (!in.atEnd()) {
      const QString line = in.readLine().trimmed();
      if (line.startsWith('[') && line.endsWith(']')) {
        section = line.mid(1, line.size() - 2).toUpper();
      } else if (const qsizetype eq = line.indexOf('='); eq > 0 && !line.startsWith(';')) {
        values_.insert(section + '\n' + line.left(eq).trimmed().toUpper(), line.mid(eq + 1));
      }
    }
  }
  QString Value(const QString& section, const QString& key) const {
    return values_.value(section.toUpper() + '\n' + key.toUpper(), key);
  }
  // %s, %d and %N:s of the language file, filled in order or by number.
  static QString Fill(const QString& pattern, const QStringList& args) {
    static const QRegularExpression kArg("%(?:(\\d+):)?[-0-9.]*([sdxu])");
    QString out;
    qsizetype at = 0;
    int next = 0;
    for (auto it = kArg.globalMatch(pattern); it.hasNext();) {
      const QRegularExpressionMatch m = it.next();
      out += pattern.mid(at, m.capturedStart() - at);
      const int index = m.captured(1).isEmpty() ? next : m.captured(1).toInt();
      out += args.value(index);
      next = index + 1;
      at = m.capturedEnd();
    }
    return out + pattern.mid(at);
  }

 private:
  QMap<QString, QString> values_;
};

class TTerminalDriver : public toolrun::TRunDriver {
 public:
  TTerminalDriver(QString alias, QString path, bool yes, QChar drive, bool complement)
      : alias_(std::move(alias)),
        path_(std::move(path)),
        yes_(yes),
        drive_(drive),
        complement_(complement) {
    texts_.Load(QString::fromStdString(engine::ProgramFolder()) + "/Language.ini");
  }

  QString Alias() const override { return alias_; }
  QString Path() const override { return path_; }
  TToolType Tool() const override { return tool_; }
  void SetTool(TToolType tool) override { tool_ = tool; }
  bool Running() const override { return running_; }
  void SetRunning(bool running) override { running_ = running; }
  void SetAskPassword(bool) override {}
  bool Confirm() const override { return true; }
  QString Program() const override { return "vdx run"; }
  QChar Drive() const override { return drive_; }
  bool Complement() const override { return complement_; }
  bool EndMessages() const override { return true; }

  QString Text(const QString& section, const QString& key) const override {
    return texts_.Value(section, key);
  }
  QString Format(const QString& section, const QString& key,
                 const QStringList& args) const override {
    return TTexts::Fill(Text(section, key), args);
  }
  bool Message(const toolrun::TRunMessage& m) override {
    // The confirmation is what --yes answers; any other question keeps its
    // default answer, No, unless a terminal answers it.
    if (yes_ && m.Keys.value(0) == "AreYouSure") return true;
    EndLine();
    QStringList lines;
    for (const QString& key : m.Keys) lines << (m.Section.isEmpty() ? key : Text(m.Section, key));
    QString text = TTexts::Fill(lines.join('\n'), m.Args);
    if (!m.Detail.isEmpty()) text += '\n' + m.Detail;
    std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
    if (m.Buttons == toolrun::rbOk) return true;
    if (m.Buttons == toolrun::rbOkCancel) return DiskReady(m.Keys.value(0));
    if (!::isatty(0) || !::isatty(2)) {
      std::fprintf(stderr, "(no terminal to answer: No)\n");
      return false;
    }
    std::fprintf(stderr, "[y/N] ");
    std::string answer;
    std::getline(std::cin, answer);
    return !answer.empty() && (answer[0] == 'y' || answer[0] == 'Y');
  }

  void ProgressStart(const QString& caption, int max, bool can_cancel) override {
    EndLine();
    can_cancel_ = can_cancel;
    caption_ = caption;
    max_ = max;
    if (!live_) std::fprintf(stderr, "%s\n", caption.toLocal8Bit().constData());
  }
  bool ProgressStep(const QString& text, int position) override {
    // Only where the window shows a Cancel button; otherwise it waits.
    if (g_cancel && can_cancel_) {
      g_cancel = 0;
      return false;
    }
    if (live_) {
      constexpr int kWidth = 24;
      const int filled = max_ > 0 ? kWidth * position / max_ : kWidth;
      std::fprintf(stderr, "\r\033[K%s [%s%s] %d/%d %s", caption_.toLocal8Bit().constData(),
                   std::string(filled, '#').c_str(), std::string(kWidth - filled, '.').c_str(),
                   position, max_, text.toLocal8Bit().constData());
      std::fflush(stderr);
      open_line_ = true;
    } else {
      std::fprintf(stderr, "  %d/%d %s\n", position, max_, text.toLocal8Bit().constData());
    }
    return true;
  }
  void ProgressResume() override {}
  void ProgressHide() override { EndLine(); }
  void ArchiveStart(const QString& tool_name, const QString&) override {
    ProgressStart(Text("ToolNames", tool_name), 100, false);
  }
  void ArchiveStatus(bool whole, const QString& item, int percent, bool& cancel) override {
    if (g_cancel) cancel = cancelled_ = true;
    if (whole && (live_ || percent != last_percent_)) ProgressStep(item, percent);
    last_percent_ = percent;
  }
  bool ArchiveCancelled() const override { return cancelled_; }
  void ArchiveHide() override { EndLine(); }

 private:
  // A disk request of Backup or Restore. The first disk is the medium the
  // drive names now; any other waits for Enter on a terminal, and without
  // one the run cannot go on.
  bool DiskReady(const QString& key) {
    if (key == "FirstDisk") return true;
    if (!::isatty(0)) {
      std::fprintf(stderr,
                   "vdx run: the archive needs another disk, and there is no terminal to wait "
                   "on; the run is cancelled\n");
      return false;
    }
    std::fprintf(stderr, "Press Enter when the disk is ready (Ctrl+D cancels) ");
    std::string line;
    return static_cast<bool>(std::getline(std::cin, line));
  }

  void EndLine() {
    if (!open_line_) return;
    std::fprintf(stderr, "\n");
    open_line_ = false;
  }

  QString alias_, path_;
  bool yes_;
  QChar drive_;
  bool complement_;
  int last_percent_ = -1;
  bool cancelled_ = false;
  bool can_cancel_ = false;
  TToolType tool_ = ttUpdate;
  bool running_ = false;
  TTexts texts_;
  bool live_ = ::isatty(2);
  bool open_line_ = false;
  QString caption_;
  int max_ = 0;
};

bool ReadTool(const std::string& text, TToolType* tool) {
  try {
    *tool = text.size() == 1 ? ToolFromLetter(text[0]) : ToolFromName(text);
    return true;
  } catch (const EConvertTool&) {
    return false;
  }
}

// The alias as the configuration writes it, and its folder; false when no
// alias of the standard driver has that name (without regard to case).
bool FindAlias(const std::string& wanted, QString* alias, QString* path) {
  engine::TSession& session = engine::TSession::Default();
  for (const std::string& name : session.GetAliasNames()) {
    if (QString::fromStdString(name).compare(QString::fromStdString(wanted),
                                             Qt::CaseInsensitive) != 0) {
      continue;
    }
    std::vector<std::string> params;
    try {
      params = session.GetAliasParams(name);
    } catch (const std::exception&) {
      return false;
    }
    if (params.empty() || params.front().rfind("PATH=", 0) != 0) return false;
    *alias = QString::fromStdString(name);
    *path = QString::fromStdString(params.front().substr(5));
    return true;
  }
  return false;
}

int Run(const vdx::Args& args, std::ostream&, std::ostream& err) {
  std::vector<std::string> words;
  bool yes = false, complement = false;
  std::string password_file, drive;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const bool has_value = i + 1 < args.size();
    if (args[i] == "--yes") {
      yes = true;
    } else if (args[i] == "--complement") {
      complement = true;
    } else if (args[i] == "--password-file" && has_value) {
      password_file = args[++i];
    } else if (args[i] == "--drive" && has_value) {
      drive = args[++i];
    } else if (args[i].rfind("--", 0) == 0) {
      words.clear();
      break;
    } else {
      words.push_back(args[i]);
    }
  }
  if (words.size() != 2) {
    err << "usage: vdx run ALIAS TOOL [--yes] [--password-file FILE] [--drive X] [--complement]\n";
    return 2;
  }
  TToolType tool = ttUpdate;
  if (!ReadTool(words[1], &tool)) {
    err << "vdx run: \"" << words[1]
        << "\" names no tool: give Update, Pack, Copy, Retrieve (or U, P, C, R)\n";
    return kExitBadCommandLine;
  }
  const bool archive = tool == ttBackup || tool == ttRestore;
  if ((!drive.empty() || complement) && !archive) {
    err << "vdx run: --drive and --complement belong to Backup and Restore\n";
    return 2;
  }
  if (!drive.empty() && (drive.size() != 1 || !std::isalpha(static_cast<unsigned char>(drive[0])))) {
    err << "vdx run: --drive takes a drive letter of drives.ini, not \"" << drive << "\"\n";
    return 2;
  }
  QString alias, path;
  if (!FindAlias(words[0], &alias, &path)) {
    err << "vdx run: no database " << words[0] << " in "
        << engine::TSession::Default().ConfigFile() << "\n";
    return kExitBadCommandLine;
  }
  TZelTableTools tools;
  engine::TSession& session = engine::TSession::Default();
  if (!password_file.empty()) {
    QFile file(QString::fromStdString(password_file));
    if (!file.open(QIODevice::ReadOnly)) {
      err << "vdx run: cannot read the password file " << password_file << "\n";
      return 2;
    }
    const std::string password = file.readLine().trimmed().toStdString();
    session.RemoveAllPasswords();
    if (!password.empty()) session.AddPassword(password);
    tools.Password = password;
  }
  if (!OpenLog()) {
    const bool busy = LogWasBusy();
    err << "vdx run: the tool log " << (busy ? "is held by another program" : "cannot be opened")
        << "; nothing was run\n";
    return busy ? kExitLogBusy : kExitLogUnavailable;
  }
  TTerminalDriver driver(alias, path, yes, drive.empty() ? QChar('A') : QChar(drive[0]).toUpper(),
                         complement);
  toolrun::TToolRun run(driver, tools);
  struct sigaction cancel {};
  cancel.sa_handler = AskToCancel;
  ::sigaction(SIGINT, &cancel, nullptr);
  // A protected table the password given does not open ends the run with
  // trPassword; nobody is asked.
  bool refused = false;
  session.SetOnPassword([&](const std::string&, bool& retry) {
    retry = false;
    refused = driver.Running();
  });
  try {
    switch (tool) {
      case ttUpdate:
        run.RunUpdate();
        break;
      case ttPack:
        run.RunPack();
        break;
      case ttCopy:
        run.RunCopy();
        break;
      case ttBackup:
        run.RunBackup();
        break;
      case ttRestore:
        run.RunRestore();
        break;
      default:
        run.RunRetrieve();
        break;
    }
  } catch (const EAbort&) {
  } catch (const std::exception& e) {
    if (!refused) err << "vdx run: " << e.what() << "\n";
    try {
      if (driver.Running()) run.FinishRun(refused ? trPassword : trError);
    } catch (const EAbort&) {
    } catch (const std::exception& again) {
      err << "vdx run: " << again.what() << "\n";
    }
  }
  session.SetOnPassword(nullptr);
  CloseLog();
  return run.LastResult();
}

}  // namespace

VDX_COMMAND("run",
            "run ALIAS TOOL [--yes] [--password-file FILE] [--drive X] [--complement]   run a tool "
            "without the window",
            Run);
#endif
