#include "ToolRun.h"

#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <future>
#include <mutex>

#include <QDir>
#include <QFileInfo>
#include <QMap>
#include <QSet>

#include "DbExceptions.h"
#include "ZipVolumes.h"
#include "cpZip.h"
#include "Heartbeat.h"
#include "Journal.h"
#include "RunLock.h"
#include "Session.h"
#include "TTable.h"
#include "TableFiles.h"
#include "TableVerify.h"
#include "ToolRunUtil.h"
#include "cpKeyViol.h"
#include "cpTbAhead.h"
#include "cpTbOrder.h"
#include "cpTbTool.h"
#include "exVardex.h"
#include "svLog.h"
#include "tlFile.h"

namespace {

using toolrun::ToStd;
using toolrun::ToQt;

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
  // Only names that begin with the stem are looked at further (a folder of
  // many tables is listed for each of them).
  QString pattern;
  for (const QChar c : stem)
    pattern += QStringView(u"*?[").contains(c) ? QString('[') + c + ']' : QString(c);
  const QStringList like =
      QDir(folder).entryList({pattern + '*'}, QDir::Files | QDir::Hidden | QDir::System);
  QStringList names;
  for (const QString& name : like) {
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


QString RestoreMarker(const QString& d) { return d + "/RESTORE.$$$"; }

namespace toolrun {

QString TRunDriver::DrivesFile() const {
  return QString::fromStdString(engine::ProgramFolder()) + "/drives.ini";
}

TToolRun::TToolRun(TRunDriver& driver, TZelTableTools& tools)
    : d_(driver),
      tools_(tools),
      zip_(std::make_unique<TZipFile>()),
      unzip_(std::make_unique<TUnzipFile>()) {
  auto major = [this](const std::string& item, int percent, bool& cancel) {
    ArchiveStatus(true, item, percent, cancel);
  };
  auto minor = [this](const std::string& item, int percent, bool& cancel) {
    ArchiveStatus(false, item, percent, cancel);
  };
  auto message = [this](int msg, int type, long long p1, long long p2, const std::string&,
                        const std::string&,
                        int& reply) { ZipMessageCallback(msg, type, p1, p2, reply); };
  zip_->OnMajorStatus = unzip_->OnMajorStatus = major;
  zip_->OnMinorStatus = unzip_->OnMinorStatus = minor;
  zip_->OnMessage = unzip_->OnMessage = message;
}

TToolRun::~TToolRun() = default;

bool TToolRun::Message(const QString& key, const QStringList& args, TMsgKind kind) {
  return d_.Message({"Notifications", {key}, args, kind});
}

void TToolRun::RecoverInterruptedRestore() {
  const QString d = DatabaseFolder();
  if (d.isEmpty() || !QFileInfo::exists(RestoreMarker(d))) return;
  // Pair by pair, so a recovery that is itself interrupted can run again.
  bool ok = true;
  for (const auto& [name, aside] : {std::pair<QString, QString>{"METADATA", "METADA$$"},
                                    std::pair<QString, QString>{"SAFE", "SA$$"}}) {
    if (!IsRealDir(ToStd(DatabaseFolder(aside)))) continue;
    ok = ok && PutBackWorkFolder(name, aside);
  }
  if (ok) {
    QFile::remove(RestoreMarker(d));
  } else if (d_.Running()) {
    Message("RestoreWorkFolders");
    FinishRun(trError);
  }
}

QString TToolRun::DatabaseFolder(const QString& sub) const {
  QString d = d_.Path();
  while (d.size() > 1 && d.endsWith('/')) d.chop(1);
  return sub.isEmpty() ? d : d + '/' + sub;
}

QString TToolRun::DisplayName(TToolType tool) const {
  return d_.Text("ToolNames", ToQt(ToolName(tool)));
}

void TToolRun::StartRun(TToolType tool, TRunFlags flags) {
  d_.SetTool(tool);
  d_.SetRunning(true);
  d_.SetAskPassword(true);
  set_aside_.clear();
  d_.RunStarted();
  // One run per database, whoever starts it; a Restore may bring the folder.
  // A run that its Check step refuses for twin names takes no lock: such a
  // refusal leaves the folder as it was, without a lock file.
  if (!(flags & rfCheck) || CaseTwinTables(flags).isEmpty()) {
    const std::string what = ToStd(d_.Program()) + " " + ToolName(tool);
    lock_ = std::make_unique<TRunLock>(ToStd(DatabaseFolder()), what);
    if (lock_->State() == TRunLock::lsNoFolder && tool == ttRestore &&
        QDir().mkpath(DatabaseFolder())) {
      lock_ = std::make_unique<TRunLock>(ToStd(DatabaseFolder()), what);
    }
    if (lock_->State() == TRunLock::lsBusy) {
      FinishRun(trBusy, d_.Format("Notifications", "RunLocked", {ToQt(lock_->Detail())}));
    }
  }
  if ((flags & rfConfirm) && d_.Confirm() &&
      !d_.Message({"Notifications", {"AreYouSure"}, {DisplayName(tool)}, mkConfirmation, rbYesNo})) {
    FinishRun(trGiveUp);
  }
  if (flags & rfCheck) CheckDatabase(flags);
}

void TToolRun::ShowEndMessage(TToolResult result, const QString& name, const QString& detail,
                                 bool& go_on) {
  go_on = false;
  if (result > trBusy) {
    throw EDebugNote::Fmt("The tool %s has no end message.", ToStd(name).c_str());
  }
  const TEndMessage message = EndMessage(result);
  if (result == trUpdate || result == trRepeat) {
    go_on = d_.Message({"Notifications", message.keys, {name, name}, mkConfirmation, rbYesNo, detail});
  } else if (d_.EndMessages()) {
    d_.Message({"Notifications", message.keys, {name}, message.kind, rbOk, detail});
  }
}

void TToolRun::ShowSetAside() {
  // A set still in Retrieve's work folder belongs to tables that were not
  // swapped in: the live tables keep those records themselves.
  const QString unswapped = DatabaseFolder("RE$$") + '/';
  QStringList lines;
  for (const TSetAside& kept : set_aside_) {
    if (kept.path.startsWith(unswapped)) continue;
    const QFileInfo info(kept.path);
    lines << d_.Format("Notifications", "SetAsideTable",
                         {kept.table, QString::number(SetAsideCount(ToStd(kept.path))),
                          info.absolutePath(), info.fileName()});
  }
  if (lines.isEmpty() || !d_.EndMessages()) return;
  d_.Message({"Notifications", {"RecordsSetAside"}, {}, mkWarning, rbOk, lines.join('\n')});
}

void TToolRun::FinishRun(TToolResult result, const QString& detail) {
  d_.ProgressHide();
  d_.RunFinishing();
  const QString name = DisplayName(d_.Tool());
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
  ++runs_finished_;
  last_logged_ = AddLogEntry(ToStd(d_.Alias()), d_.Tool(), result);
  if (!last_logged_) {
    Message("LogCannotRegister");
  }
  lock_.reset();
  d_.RunEnded();
  if ((result == trUpdate || result == trRepeat) && d_.EndMessages()) {
    d_.ProgressHide();
    d_.Message({"Notifications", EndMessage(result).keys.mid(0, 2), {name, name}, mkWarning});
  }
  d_.SetRunning(false);
  if (failure) std::rethrow_exception(failure);
  if (result != trSuccess) throw EAbort();
}

QStringList TToolRun::CaseTwinTables(TRunFlags flags) const {
  // Tables whose names differ only in letter case cannot be told apart by
  // their companions: no tool touches a folder that holds such twins, not
  // even to finish an interrupted run.
  QStringList subs, twins;
  if (d_.Tool() != ttBackup) subs << QString();
  subs << "METADATA";
  if (ChecksSafeCopy(d_.Tool(), flags)) subs << "SAFE";
  for (const QString& sub : subs) {
    QStringList found;
    const std::set<std::string> paired = engine::CaseTwinNames(ToStd(DatabaseFolder(sub)));
    for (const QString& file : ListTables(DatabaseFolder(sub) + '/')) {
      if (paired.count(ToStd(file))) found << (sub.isEmpty() ? file : sub + '/' + file);
    }
    found.sort();
    twins << found;
  }
  return twins;
}

void TToolRun::CheckDatabase(TRunFlags flags) {
  RecoverInterruptedRestore();
  for (const QString& sub : {QString(), QString("METADATA"), QString("SAFE")}) {
    SetFilesAttr(ToStd(DatabaseFolder(sub) + "/*.*"), faHidden, false);
  }
  const bool safe = ChecksSafeCopy(d_.Tool(), flags);
  const QStringList twins = CaseTwinTables(flags);
  if (!twins.isEmpty()) {
    FinishRun(trNotMatch, d_.Format("Notifications", "CaseTwins", {twins.join(", ")}));
  }
  if (d_.Tool() != ttBackup) RecoverDatabase();
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
  // The window stayed up from the live tables' check to the reference's.
  if (flags & rfVerify) d_.ProgressHide();
}

void TToolRun::RecoverDatabase() {
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

void TToolRun::UnparkTables(const QString& folder) {
  for (const QString& file : ListTables(folder + '/')) {
    // A commit left to the next open names the parked files it removes.
    if (!engine::PendingReplacement(engine::Env::Default(), ToStd(folder + '/' + file)).empty())
      continue;
    UnparkTable(folder, file);
  }
}

namespace {

// Opens every other table of a folder (the second, the fourth ...) on a
// thread of its own, alone and closed at once, while the caller opens the
// others. A table that does not open there (damaged, held, or protected by
// a password not known yet) is opened again by the caller in its turn, so
// its failure, or its password question, is the caller's as ever.
class TOpenedAhead {
 public:
  TOpenedAhead(const QString& folder, const QStringList& tables)
      : opened_(static_cast<std::size_t>(tables.size())) {
    done_ = std::async(std::launch::async, [this, folder = ToStd(folder + '/'), tables] {
      engine::TTable table;
      table.Exclusive = true;
      table.AskPassword = false;
      for (int i = 1; i < tables.size() && !stop_; i += 2) {
        bool ok = false;
        try {
          table.DatabaseName = folder;
          table.TableName = ToStd(tables[i]);
          table.Open();
          table.Close();
          ok = true;
        } catch (...) {
          try {
            table.Close();
          } catch (...) {
          }
        }
        const std::lock_guard<std::mutex> lock(mutex_);
        opened_[static_cast<std::size_t>(i)] = ok ? 1 : -1;
        ready_.notify_all();
      }
    });
  }
  ~TOpenedAhead() {
    stop_ = true;
    done_.wait();
  }
  // Whether the table of this place opened on the other thread (waits for it).
  bool Opened(int i) {
    if (i % 2 == 0) return false;
    std::unique_lock<std::mutex> lock(mutex_);
    ready_.wait(lock, [&] { return opened_[static_cast<std::size_t>(i)] != 0; });
    return opened_[static_cast<std::size_t>(i)] > 0;
  }

 private:
  std::vector<int> opened_;  // 0 not yet, 1 opened, -1 did not open
  std::mutex mutex_;
  std::condition_variable ready_;
  std::atomic<bool> stop_{false};
  std::future<void> done_;
};

}  // namespace

void TToolRun::VerifyTables(const QString& folder) {
  // The engine opens the data file alone: the companions are not read, so
  // nothing needs to be renamed (the reference copy is never touched).
  engine::TTable table;
  table.Exclusive = true;
  const QStringList tables = ListTables(folder + '/');
  d_.ProgressStart(d_.Format("ProcessCaptions", "Check", {d_.Alias()}), tables.size(), false);
  TOpenedAhead ahead(folder, tables);
  for (int i = 0; i < tables.size(); ++i) {
    const QString& file = tables[i];
    d_.ProgressStep(d_.Format("ProcessCaptions", "Table", {file}), i + 1);
    if (ahead.Opened(i)) continue;
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
}

QStringList TToolRun::ListTables(const QString& name_or_folder) const {
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

void TToolRun::TableProgress(const QString& file, int position, TToolResult on_cancel,
                             const std::function<void()>& before_question) {
  while (!d_.ProgressStep(d_.Format("ProcessCaptions", "Table", {file}), position)) {
    if (before_question) before_question();
    FinishRun(on_cancel);  // returns only when the user goes on
    d_.ProgressResume();
  }
}

QStringList TToolRun::OrganizeTables(TToolResult on_cancel) {
  const QStringList tables = ListTables(ToQt(tools_.MetaDatabaseName()) + '/');
  d_.ProgressStart(d_.Format("ProcessCaptions", "Organize", {d_.Alias()}), tables.size(), true);
  QStringList ordered;
  try {
    const tborder::TTableOrder order = tborder::MastersFirst(ReadLinks(tools_, tables));
    for (const std::string& file : order.Ordered) {
      ordered << ToQt(file);
      TableProgress(ordered.back(), ordered.size(), on_cancel);
    }
    if (!order.Unordered.empty()) {
      // Masters missing from the reference copy, or masters that refer to
      // each other: no order exists, and the run cannot go on.
      QStringList left;
      for (const std::string& file : order.Unordered) left << ToQt(file);
      d_.ProgressHide();
      Message("CannotOrder", {left.join(", ")});
      FinishRun(trError);
    }
  } catch (...) {
    tools_.CloseTables();
    d_.ProgressHide();
    throw;
  }
  return ordered;
}

void TToolRun::PrepareTables() {
  const QString d = DatabaseFolder();
  const QStringList tables = ListTables(d + '/');
  // A table another program holds keeps every file: nothing is parked
  // while one is held.
  for (const QString& file : tables) {
    if (FileIsLocked(ToStd(d + '/' + file))) FinishRun(trBusy, d + '/' + file);
  }
  d_.ProgressStart(d_.Format("ProcessCaptions", "Prepare", {d_.Alias()}), tables.size(), false);
  for (int i = 0; i < tables.size(); ++i) {
    d_.ProgressStep(d_.Format("ProcessCaptions", "Table", {tables[i]}), i + 1);
    ParkTable(d, tables[i]);
  }
  d_.ProgressHide();
}

void TToolRun::NoteSetAside(const QString& file) {
  const TZelTableTools& tools = tools_;
  for (const std::string& kept : {tools.LastKeyViolations, tools.LastProblems}) {
    if (!kept.empty()) set_aside_.append({file, ToQt(kept)});
  }
}

void TToolRun::RunOneTable(const QString& file, const std::function<void()>& work) {
  try {
    // The window repaints while the table is rewritten; clicks and other
    // channels wait for the gap between two tables, as before.
    engine::ScopedHeartbeat heartbeat([this] { d_.KeepResponsive(); });
    work();
  } catch (const EBdeApi& e) {
    const QString detail = file + "\n" + ToQt(e.what());
    if (e.Category() == ERRCAT_LOCKCONFLICT) FinishRun(trBusy, detail);
    if (e.Category() == ERRCAT_DATACORRUPT) FinishRun(trCorrupted, detail);
    throw;
  }
  NoteSetAside(file);
}

namespace {

// The tables a restructure may write records into when it sets them aside
// are never restructured beside another table.
bool MayGoAhead(const QString& file) {
  return file.compare("KEYVIOL.DB", Qt::CaseInsensitive) != 0 &&
         file.compare("PROBLEMS.DB", Qt::CaseInsensitive) != 0;
}

}  // namespace

void TToolRun::RunTables(const QString& caption_key, const QString& database_name,
                            TToolResult on_cancel, bool strip, const QString& save_as_folder,
                            const QString& meta_folder) {
  TZelTableTools& tools = tools_;
  tools.DatabaseName = ToStd(database_name);
  tools.SetMetaDatabaseName(ToStd(meta_folder));
  const QStringList tables = OrganizeTables(on_cancel);
  d_.ProgressStart(d_.Format("ProcessCaptions", caption_key, {d_.Alias()}), tables.size(), true);
  // In place, the tables' commits wait in a batch made durable as a whole:
  // at the end, before the Cancel question, and before a table's failure is
  // reported, so every table done by then stays done.
  const bool in_place = save_as_folder.isEmpty();
  engine::CommitBatch batch;
  engine::ScopedCommitBatch batched(in_place ? &batch : nullptr);
  QStringList waiting;  // tables written in place whose parked companions wait for the commit
  const auto commit = [&] {
    engine::ScopedHeartbeat heartbeat([this] { d_.KeepResponsive(); });
    const engine::Status s = batch.Commit();
    if (!s.ok()) throw EBdeApi(s.ToString(), s.code());
    for (const QString& written : waiting) {
      const QFileInfo info(written);
      DropParked(info.absolutePath(), info.fileName());
    }
    waiting.clear();
  };
  // In place, the tables go two at a time: while this thread restructures
  // one, a second thread restructures the next, whose commit then joins
  // the batch in its turn. A hook that watches each request sees them one
  // at a time, in order, on this thread.
  const bool two_at_once = in_place && !strip && !tools.OnRestructureRequest;
  std::unique_ptr<TTableAhead> ahead;
  for (int i = 0; i < tables.size(); ++i) {
    const QString& file = tables[i];
    tools.TableName = ToStd(file);
    std::unique_ptr<TTableAhead> mine;
    if (ahead && ahead->Table() == ToStd(file)) {
      mine = std::move(ahead);
    } else if (two_at_once && i + 1 < tables.size() && MayGoAhead(tables[i + 1])) {
      ahead = std::make_unique<TTableAhead>(tools, ToStd(tables[i + 1]));
    }
    TableProgress(file, i + 1, on_cancel, commit);
    std::string written;
    RunOneTable(file, [&] {
      try {
        if (mine && mine->TakeInto(batch)) {
          tools.LastKeyViolations.clear();  // a table that sets records aside is not taken
          tools.LastProblems.clear();
          written = mine->TablePath();
          return;
        }
        mine.reset();
        tools.Restructure(save_as_folder.isEmpty() ? std::string() : ToStd(save_as_folder + file),
                          strip);
        written = tools.TablePath();
      } catch (...) {
        ahead.reset();  // nothing of the next table stays behind
        try {
          commit();
        } catch (...) {
          // The table's own failure is the one reported.
        }
        throw;
      }
    });
    if (in_place) waiting << ToQt(written);
  }
  commit();
}

void TToolRun::DeleteTables(const QString& folder) {
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

void TToolRun::CreateWorkFolders() {
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
    Message("CreateWorkFolders");
    FinishRun(trError);
  }
}

bool TToolRun::PutBackWorkFolder(const QString& name, const QString& aside) {
  if (!RemoveEntry(ToStd(DatabaseFolder(name)))) return false;
  const std::string from = ToStd(DatabaseFolder(aside));
  if (IsRealDir(from)) return QDir().rename(DatabaseFolder(aside), DatabaseFolder(name));
  return RemoveEntry(from);
}

void TToolRun::RestoreWorkFolders() {
  const bool ok = PutBackWorkFolder("METADATA", "METADA$$") && PutBackWorkFolder("SAFE", "SA$$");
  if (!ok) {
    Message("RestoreWorkFolders");
    FinishRun(trError);
  }
}

void TToolRun::RemoveWorkFolders() {
  if (!RemoveEntry(ToStd(DatabaseFolder("METADA$$"))) ||
      !RemoveEntry(ToStd(DatabaseFolder("SA$$")))) {
    Message("RemoveWorkFolders");
    FinishRun(trError);
  }
}

}  // namespace toolrun
