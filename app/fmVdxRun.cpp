// The common frame of every tool run of TFormVardex: starting and finishing
// a run (end message, log record, silent abort), the Check step that every
// table must pass before anything is changed, the master-first order of the
// tables (the order itself is tborder::MastersFirst), the per-table restructure
// loop and the database's work folders.
#include "fmVdxRun.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>

#include "DbExceptions.h"
#include "Heartbeat.h"
#include "Journal.h"
#include "RunLock.h"
#include "Session.h"
#include "TTable.h"
#include "TableFiles.h"
#include "cpKeyViol.h"
#include "cpTbOrder.h"
#include "cpTbTool.h"
#include "fmPrgrss.h"
#include "fmVdx.h"
#include "svLog.h"
#include "tlFile.h"

namespace {

std::string ToStd(const QString& text) { return text.toStdString(); }
QString ToQt(const std::string& text) { return QString::fromStdString(text); }

// Companion files of a table (checks, primary and secondary indexes) are
// parked while a run restructures the table, so that the restructure takes
// them from the reference (engine::ParkedExtension): VAL -> VA$, PX -> P$,
// Xnn -> 1nn, Ynn -> 2nn, xnn -> 3nn, ynn -> 4nn. Every character keeps or
// tells its case, so parking back gives the very name the file had.
QString ExtensionOf(const QString& name) {
  const qsizetype dot = name.lastIndexOf('.');
  return dot < 0 ? QString() : name.mid(dot + 1);
}

// The name of a file with its extension made by `change` (the parked or the
// own one); empty when `change` gives none.
QString ChangedName(const QString& name, std::string (*change)(const std::string&)) {
  const QString ext = ExtensionOf(name);
  const QString changed = ToQt(change(ToStd(ext)));
  return ext.isEmpty() || changed.isEmpty() ? QString() : name.chopped(ext.size()) + changed;
}

QString ParkedName(const QString& name) { return ChangedName(name, engine::ParkedExtension); }
QString UnparkedName(const QString& name) { return ChangedName(name, engine::UnparkedExtension); }

// The files of folder that belong to the table whose data file is `file`
// (same name before the extension, without regard to case).
QStringList FilesOfTable(const QString& folder, const QString& file) {
  const QString stem = file.left(file.size() - ExtensionOf(file).size());
  QStringList names;
  for (const QString& name : QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System)) {
    if (name.size() > stem.size() && name.startsWith(stem, Qt::CaseInsensitive) &&
        !name.startsWith('.')) {
      names << name;
    }
  }
  return names;
}

// Renames without ever replacing an existing file.
bool RenameNew(const QString& from, const QString& to) {
  return !QFileInfo::exists(to) && QFile::rename(from, to);
}

void ParkTable(const QString& folder, const QString& file) {
  for (const QString& name : FilesOfTable(folder, file)) {
    const QString parked = ParkedName(name);
    if (!parked.isEmpty()) RenameNew(folder + '/' + name, folder + '/' + parked);
  }
}

// Puts back the parked companions of a table. A parked file whose own name
// is taken is stale (the table was rewritten after it was parked) and goes.
void UnparkTable(const QString& folder, const QString& file) {
  for (const QString& name : FilesOfTable(folder, file)) {
    const QString own = UnparkedName(name);
    if (own.isEmpty()) continue;
    if (!RenameNew(folder + '/' + name, folder + '/' + own)) QFile::remove(folder + '/' + name);
  }
}

// The parked companions a restructure has made stale.
void DropParked(const QString& folder, const QString& file) {
  for (const QString& name : FilesOfTable(folder, file)) {
    if (!UnparkedName(name).isEmpty()) QFile::remove(folder + '/' + name);
  }
}

// The end message of each result: its keys and how it is shown.
struct TEndMessage {
  QStringList keys;
  TMsgKind kind;
};

TEndMessage EndMessage(TToolResult result) {
  switch (result) {
    case trSuccess:
      return {{"Success", "RightNow"}, mkInformation};
    case trCancel:
      return {{"Canceled", "NoProblems", "RightNow"}, mkInformation};
    case trUpdate:
      return {{"NotFinished", "Update", "Continue"}, mkConfirmation};
    case trRepeat:
      return {{"NotFinished", "Repeat", "Continue"}, mkConfirmation};
    case trError:
      return {{"Error"}, mkError};
    case trGiveUp:
      return {{"GiveUp"}, mkInformation};
    case trNoTables:
      return {{"NoTables", "NotStarted"}, mkError};
    case trNotMatch:
      return {{"NotMatch", "NotStarted"}, mkError};
    case trPassword:
      return {{"Protected", "Password", "NotStarted"}, mkWarning};
    case trCorrupted:
      return {{"Corrupted", "Fixed", "NotStarted"}, mkError};
    case trBusy:
      return {{"Busy", "CloseApps", "NotStarted"}, mkWarning};
    default:
      return {{}, mkError};
  }
}

// For each reference table, the masters its dependent links name.
std::vector<tborder::TTableLinks> ReadLinks(TZelTableTools& tools, const QStringList& tables) {
  std::vector<tborder::TTableLinks> links;
  for (const QString& file : tables) {
    tools.TableName = ToStd(file);
    tools.OpenMeta();
    tborder::TTableLinks table{ToStd(file), {}};
    const int count = tools.MasterCount(true);
    for (int m = 1; m <= count; ++m) table.Masters.push_back(tools.MasterName(true, m));
    tools.CloseMeta();
    links.push_back(table);
  }
  return links;
}

// Whether the Check step of a tool examines the safe copy rather than the
// database folder.
bool ChecksSafeCopy(TToolType tool, TRunFlags flags) {
  switch (tool) {
    case ttUpdate:
    case ttPack:
    case ttCopy:
      return false;
    case ttRetrieve:
    case ttRestore:
      return true;
    case ttBackup:
      return flags & rfSafe;
    default:
      throw EDebugNote::Fmt("The tool %s cannot check the database", ToolName(tool).c_str());
  }
}

}  // namespace

bool IsTableFileName(const QString& name) {
  const QString up = ExtensionOf(name).toUpper();
  return up == "DB" || up == "MB" || !ParkedName(name).isEmpty() || !UnparkedName(name).isEmpty();
}

QString RetrieveJournalPath(const QString& database_folder) {
  return database_folder + "/.RE$$.journal~";
}

QString TFormVardex::DatabaseFolder(const QString& sub) const {
  QString d = CurrentPath;
  while (d.size() > 1 && d.endsWith('/')) d.chop(1);
  return sub.isEmpty() ? d : d + '/' + sub;
}

QString TFormVardex::DisplayName(TToolType tool) const {
  return Value("ToolNames", ToQt(ToolName(tool)));
}

void TFormVardex::ToggleToolControls() {
  SetToolControlsEnabled(!ToolMenuItem(ttUpdate)->isEnabled());
}

void TFormVardex::StartRun(TToolType tool, TRunFlags flags) {
  CurrentTool = tool;
  ToolRunning = true;
  AskPassword = true;
  password_refused_ = false;
  set_aside_.clear();
  SetToolControlsEnabled(false);
  // One run per database, whoever starts it; a Restore may bring the folder.
  const std::string what = "Vdx32 " + ToolName(tool);
  run_lock_ = std::make_unique<toolrun::TRunLock>(ToStd(DatabaseFolder()), what);
  if (run_lock_->State() == toolrun::TRunLock::lsNoFolder && tool == ttRestore &&
      QDir().mkpath(DatabaseFolder())) {
    run_lock_ = std::make_unique<toolrun::TRunLock>(ToStd(DatabaseFolder()), what);
  }
  if (run_lock_->State() == toolrun::TRunLock::lsBusy) {
    FinishRun(trBusy, FormatValue("Notifications", "RunLocked", {ToQt(run_lock_->Detail())}));
  }
  if ((flags & rfConfirm) && Options.count(voConfirm) &&
      ShowMessageKey("Notifications", "AreYouSure", {DisplayName(tool)}, mkConfirmation,
                     QMessageBox::Yes | QMessageBox::No) != QMessageBox::Yes) {
    FinishRun(trGiveUp);
  }
  if (flags & rfCheck) CheckDatabase(flags);
}

void TFormVardex::ShowEndMessage(TToolResult result, const QString& name, const QString& detail,
                                 bool& go_on) {
  go_on = false;
  if (result > trBusy) {
    throw EDebugNote::Fmt("The tool %s has no end message.", ToStd(name).c_str());
  }
  const TEndMessage message = EndMessage(result);
  if (result == trUpdate || result == trRepeat) {
    go_on = ShowMessageKeys("Notifications", message.keys, {name, name}, mkConfirmation,
                            QMessageBox::Yes | QMessageBox::No, detail) == QMessageBox::Yes;
  } else if (Options.count(voEndMsg)) {
    ShowMessageKeys("Notifications", message.keys, {name}, message.kind, QMessageBox::Ok, detail);
  }
}

void TFormVardex::ShowSetAside() {
  // A set still in Retrieve's work folder belongs to tables that were not
  // swapped in: the live tables keep those records themselves.
  const QString unswapped = DatabaseFolder("RE$$") + '/';
  QStringList lines;
  for (const TSetAside& kept : set_aside_) {
    if (kept.path.startsWith(unswapped)) continue;
    const QFileInfo info(kept.path);
    lines << FormatValue("Notifications", "SetAsideTable",
                         {kept.table, QString::number(SetAsideCount(ToStd(kept.path))),
                          info.absolutePath(), info.fileName()});
  }
  if (lines.isEmpty() || !Options.count(voEndMsg)) return;
  ShowMessageKey("Notifications", "RecordsSetAside", {}, mkWarning, QMessageBox::Ok,
                 lines.join('\n'));
}

void TFormVardex::FinishRun(TToolResult result, const QString& detail) {
  FormProgress()->hide();
  QApplication::restoreOverrideCursor();
  const QString name = DisplayName(CurrentTool);
  std::exception_ptr failure;
  bool go_on = false;
  try {
    ShowEndMessage(result, name, detail, go_on);
  } catch (...) {
    failure = std::current_exception();
  }
  if (go_on && !failure) return;  // the run goes on with its next table

  try {
    ShowSetAside();
  } catch (...) {
    if (!failure) failure = std::current_exception();
  }
  set_aside_.clear();
  last_result_ = result;
  if (!AddLogEntry(ToStd(CurrentAlias), CurrentTool, result)) {
    ShowMessageKey("Notifications", "LogCannotRegister");
  }
  run_lock_.reset();
  SetToolControlsEnabled(true);
  if ((result == trUpdate || result == trRepeat) && Options.count(voEndMsg)) {
    FormProgress()->hide();
    ShowMessageKeys("Notifications", EndMessage(result).keys.mid(0, 2), {name, name}, mkWarning);
  }
  ToolRunning = false;
  if (failure) std::rethrow_exception(failure);
  if (result != trSuccess) throw EAbort();
}

void TFormVardex::CheckDatabase(TRunFlags flags) {
  RecoverInterruptedRestore();
  for (const QString& sub : {QString(), QString("METADATA"), QString("SAFE")}) {
    SetFilesAttr(ToStd(DatabaseFolder(sub) + "/*.*"), faHidden, false);
  }
  const bool safe = ChecksSafeCopy(CurrentTool, flags);
  // Tables whose names differ only in letter case cannot be told apart by
  // their companions: no tool touches a folder that holds such twins, not
  // even to finish an interrupted run.
  QStringList subs, twins;
  if (CurrentTool != ttBackup) subs << QString();
  subs << "METADATA";
  if (safe) subs << "SAFE";
  for (const QString& sub : subs) {
    QStringList found;
    for (const QString& file : ListTables(DatabaseFolder(sub) + '/')) {
      if (!engine::CaseTwins(ToStd(DatabaseFolder(sub) + '/' + file)).empty())
        found << (sub.isEmpty() ? file : sub + '/' + file);
    }
    found.sort();
    twins << found;
  }
  if (!twins.isEmpty()) {
    FinishRun(trNotMatch, FormatValue("Notifications", "CaseTwins", {twins.join(", ")}));
  }
  if (CurrentTool != ttBackup) RecoverDatabase();
  const QString folder = safe ? DatabaseFolder("SAFE") : DatabaseFolder();
  const QString meta = DatabaseFolder("METADATA");
  bool ok = !safe || DirExists(ToStd(folder));
  QString missing = ok ? QString() : folder;
  QStringList live, reference;
  if (ok) {
    live = ListTables(folder + '/');
    ok = !live.isEmpty();
    if (!ok) missing = folder;
    if (ok && (flags & rfVerify)) VerifyTables(folder);
  }
  if (ok && !DirExists(ToStd(meta))) {
    ok = false;
    missing = meta;
  }
  if (ok) {
    reference = ListTables(meta + '/');
    ok = !reference.isEmpty();
    if (!ok) missing = meta;
    if (ok && (flags & rfVerify)) VerifyTables(meta);
  }
  if (!ok) FinishRun(trNoTables, missing);
  // The tables only one side holds, by name without regard to case.
  QMap<QString, QString> a, b;
  for (const QString& f : live) a.insert(f.toUpper(), f);
  for (const QString& f : reference) b.insert(f.toUpper(), f);
  QStringList differ;
  for (auto it = a.cbegin(); it != a.cend(); ++it) {
    if (!b.contains(it.key())) differ << it.value();
  }
  for (auto it = b.cbegin(); it != b.cend(); ++it) {
    if (!a.contains(it.key())) differ << "METADATA/" + it.value();
  }
  if (!differ.isEmpty() || live.size() != reference.size()) {
    FinishRun(trNotMatch, differ.join(", "));
  }
}

void TFormVardex::RecoverDatabase() {
  const QString d = DatabaseFolder();
  engine::Env* env = engine::Env::Default();
  // A Retrieve that was swapping its tables in is finished first; a table
  // another program holds is left for the Check step to report.
  if (!engine::RecoverFileSet(env, ToStd(RetrieveJournalPath(d))).ok()) return;
  if (!QFileInfo::exists(RetrieveJournalPath(d))) RemoveFolderTree(ToStd(DatabaseFolder("RE$$")));
  for (const QString& file : ListTables(d + '/')) {
    if (engine::RecoverTable(env, ToStd(d + '/' + file)).ok()) UnparkTable(d, file);
  }
}

void TFormVardex::UnparkTables(const QString& folder) {
  for (const QString& file : ListTables(folder + '/')) UnparkTable(folder, file);
}

void TFormVardex::VerifyTables(const QString& folder) {
  // The engine opens the data file alone: the companions are not read, so
  // nothing needs to be renamed (the reference copy is never touched).
  engine::TTable table;
  table.Exclusive = true;
  const QStringList tables = ListTables(folder + '/');
  TFormProgress* progress = FormProgress();
  progress->Start(FormatValue("ProcessCaptions", "Check", {CurrentAlias}), 0, tables.size(), 1,
                  false);
  for (int i = 0; i < tables.size(); ++i) {
    const QString& file = tables[i];
    progress->Progress(FormatValue("ProcessCaptions", "Table", {file}), i + 1);
    TToolResult result = trSuccess;
    QString detail;
    try {
      table.DatabaseName = ToStd(folder + '/');
      table.TableName = ToStd(file);
      table.Open();
      table.Close();
    } catch (const engine::EDBEngineError& e) {
      const int category = (e.ErrorCode() >> 8) & 0xFF;
      detail = folder + '/' + file + "\n" + ToQt(e.what());
      if (category == ERRCAT_DATACORRUPT) {
        result = trCorrupted;
      } else if (category == ERRCAT_LOCKCONFLICT) {
        result = trBusy;
      } else {
        throw;
      }
    }
    if (result != trSuccess) FinishRun(result, detail);
  }
  progress->hide();
}

QStringList TFormVardex::ListTables(const QString& name_or_folder) const {
  std::string driver;
  try {
    driver = engine::TSession::Default().GetAliasDriverName(ToStd(name_or_folder));
  } catch (const engine::EDatabaseError& e) {
    if (!ToQt(e.what()).toUpper().contains("INVALID ALIAS NAME")) throw;
  }
  QString folder = name_or_folder;
  if (driver == "STANDARD") {
    const auto params = engine::TSession::Default().GetAliasParams(ToStd(name_or_folder));
    folder = params.empty() ? QString() : ToQt(params.front());
    folder.replace(folder.indexOf("PATH="), 5, QString());
  }
  if (folder.endsWith('/')) folder.chop(1);
  QStringList names;
  for (const std::string& name : ListFiles(ToStd(folder + "/*.db"))) names << ToQt(name);
  return names;
}

void TFormVardex::TableProgress(const QString& file, int position, TToolResult on_cancel) {
  TFormProgress* progress = FormProgress();
  while (!progress->Progress(FormatValue("ProcessCaptions", "Table", {file}), position)) {
    FinishRun(on_cancel);  // returns only when the user goes on
    progress->SetCancelled(false);
    progress->show();
  }
}

QStringList TFormVardex::OrganizeTables(TToolResult on_cancel) {
  const QStringList tables = ListTables(ToQt(table_tools_->MetaDatabaseName()) + '/');
  TFormProgress* progress = FormProgress();
  progress->Start(FormatValue("ProcessCaptions", "Organize", {CurrentAlias}), 0, tables.size(), 1,
                  true);
  QStringList ordered;
  try {
    const tborder::TTableOrder order = tborder::MastersFirst(ReadLinks(*table_tools_, tables));
    for (const std::string& file : order.Ordered) {
      ordered << ToQt(file);
      TableProgress(ordered.back(), ordered.size(), on_cancel);
    }
    if (!order.Unordered.empty()) {
      // Masters missing from the reference copy, or masters that refer to
      // each other: no order exists, and the run cannot go on.
      QStringList left;
      for (const std::string& file : order.Unordered) left << ToQt(file);
      progress->hide();
      ShowMessageKey("Notifications", "CannotOrder", {left.join(", ")});
      FinishRun(trError);
    }
  } catch (...) {
    table_tools_->CloseTables();
    progress->hide();
    throw;
  }
  return ordered;
}

void TFormVardex::PrepareTables() {
  const QString d = DatabaseFolder();
  const QStringList tables = ListTables(d + '/');
  // A table another program holds keeps every file: nothing is parked
  // while one is held.
  for (const QString& file : tables) {
    if (FileIsLocked(ToStd(d + '/' + file))) FinishRun(trBusy, d + '/' + file);
  }
  TFormProgress* progress = FormProgress();
  progress->Start(FormatValue("ProcessCaptions", "Prepare", {CurrentAlias}), 0, tables.size(), 1,
                  false);
  for (int i = 0; i < tables.size(); ++i) {
    progress->Progress(FormatValue("ProcessCaptions", "Table", {tables[i]}), i + 1);
    ParkTable(d, tables[i]);
  }
  progress->hide();
}

void TFormVardex::NoteSetAside(const QString& file) {
  const TZelTableTools& tools = *table_tools_;
  for (const std::string& kept : {tools.LastKeyViolations, tools.LastProblems}) {
    if (!kept.empty()) set_aside_.append({file, ToQt(kept)});
  }
}

void TFormVardex::RunOneTable(const QString& file, const std::function<void()>& work) {
  try {
    // The window repaints while the table is rewritten; clicks and other
    // channels wait for the gap between two tables, as before.
    engine::ScopedHeartbeat heartbeat([] {
      QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents |
                                      QEventLoop::ExcludeSocketNotifiers);
    });
    work();
  } catch (const EBdeApi& e) {
    const QString detail = file + "\n" + ToQt(e.what());
    if (e.Category() == ERRCAT_LOCKCONFLICT) FinishRun(trBusy, detail);
    if (e.Category() == ERRCAT_DATACORRUPT) FinishRun(trCorrupted, detail);
    throw;
  }
  NoteSetAside(file);
}

void TFormVardex::RunTables(const QString& caption_key, const QString& database_name,
                            TToolResult on_cancel, bool strip, const QString& save_as_folder,
                            const QString& meta_folder) {
  TZelTableTools& tools = *table_tools_;
  tools.DatabaseName = ToStd(database_name);
  tools.SetMetaDatabaseName(ToStd(meta_folder));
  const QStringList tables = OrganizeTables(on_cancel);
  TFormProgress* progress = FormProgress();
  progress->Start(FormatValue("ProcessCaptions", caption_key, {CurrentAlias}), 0, tables.size(), 1,
                  true);
  for (int i = 0; i < tables.size(); ++i) {
    const QString& file = tables[i];
    tools.TableName = ToStd(file);
    TableProgress(file, i + 1, on_cancel);
    RunOneTable(file, [&] {
      tools.Restructure(save_as_folder.isEmpty() ? std::string() : ToStd(save_as_folder + file),
                        strip);
    });
    // In place, the table's parked companions are replaced now.
    if (save_as_folder.isEmpty()) {
      const QFileInfo written(ToQt(tools.TablePath()));
      DropParked(written.absolutePath(), written.fileName());
    }
  }
}

void TFormVardex::DeleteTables(const QString& folder) {
  QString dir = folder;
  if (dir.endsWith('/')) dir.chop(1);
  const QStringList tables = ListTables(dir + '/');
  // A table another program holds is not deleted at all, nor any table
  // after it: every file is checked before the first one goes.
  for (const QString& file : tables) {
    for (const std::string& name : ListFiles(ToStd(dir + '/' + file.chopped(2) + '*'))) {
      const std::string path = ToStd(dir) + '/' + name;
      if (FileIsLocked(path) || (FileAttributes(path) & faReadOnly)) FinishRun(trBusy);
    }
  }
  for (const QString& file : tables) {
    const std::string pattern = ToStd(dir + '/' + file.chopped(2) + '*');
    if (!DeleteFiles(pattern) || !ListFiles(pattern).empty()) FinishRun(trBusy);
  }
}

void TFormVardex::CreateWorkFolders() {
  RemoveWorkFolders();
  QDir().mkpath(DatabaseFolder());
  bool ok = true;
  for (const auto& [name, aside] : {std::pair<QString, QString>{"METADATA", "METADA$$"},
                                    std::pair<QString, QString>{"SAFE", "SA$$"}}) {
    if (!ok) break;
    // A file or link standing as a work folder is no copy of anything.
    const std::string path = ToStd(DatabaseFolder(name));
    if (IsRealDir(path)) {
      ok = QDir().rename(DatabaseFolder(name), DatabaseFolder(aside));
    } else {
      ok = RemoveEntry(path) && QDir().mkdir(DatabaseFolder(name));
    }
  }
  if (!ok) {
    ShowMessageKey("Notifications", "CreateWorkFolders");
    FinishRun(trError);
  }
}

bool TFormVardex::PutBackWorkFolder(const QString& name, const QString& aside) {
  if (!RemoveEntry(ToStd(DatabaseFolder(name)))) return false;
  const std::string from = ToStd(DatabaseFolder(aside));
  if (IsRealDir(from)) return QDir().rename(DatabaseFolder(aside), DatabaseFolder(name));
  return RemoveEntry(from);
}

void TFormVardex::RestoreWorkFolders() {
  const bool ok = PutBackWorkFolder("METADATA", "METADA$$") && PutBackWorkFolder("SAFE", "SA$$");
  if (!ok) {
    ShowMessageKey("Notifications", "RestoreWorkFolders");
    FinishRun(trError);
  }
}

void TFormVardex::RemoveWorkFolders() {
  if (!RemoveEntry(ToStd(DatabaseFolder("METADA$$"))) ||
      !RemoveEntry(ToStd(DatabaseFolder("SA$$")))) {
    ShowMessageKey("Notifications", "RemoveWorkFolders");
    FinishRun(trError);
  }
}
