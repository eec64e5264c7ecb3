// The table tools of the run layer: Update, Copy, Retrieve and Pack, each
// through the framework of ToolRun.cpp (start, check, the table loop, the
// work folders, the end).
#include <QDir>
#include <QFileInfo>
#include <QSet>

#include "Journal.h"
#include "Session.h"
#include "TableFiles.h"
#include "TableVerify.h"
#include "ToolRun.h"
#include "ToolRunUtil.h"
#include "cpKeyViol.h"
#include "cpTbTool.h"
#include "exVardex.h"
#include "tlFile.h"

namespace toolrun {

void TToolRun::RunUpdate() {
  StartRun(ttUpdate, kToolFlags);
  try {
    PrepareTables();
    RunTables("Update", d_.Alias(), trRepeat, false, QString(), QString());
  } catch (...) {
    UnparkTables(DatabaseFolder());
    throw;
  }
  FinishRun(trSuccess);
}

void TToolRun::CopySteps() {
  // SAFE keeps its former contents until the new copy is complete; the copy
  // grows beside it in a temporary folder.
  const QString temp = DatabaseFolder("SA$$");
  RemoveFolderTree(ToStd(temp));
  QDir().mkpath(temp);
  try {
    PrepareTables();
    RunTables("Copy", d_.Alias(), trUpdate, true, temp + '/', QString());
    RunTables("Update", d_.Alias(), trUpdate, false, QString(), QString());
  } catch (...) {
    UnparkTables(DatabaseFolder());
    RemoveFolderTree(ToStd(temp));
    d_.ProgressHide();
    throw;
  }
  const QString safe = DatabaseFolder("SAFE");
  if (!RemoveFolderTree(ToStd(safe)) || !QDir().rename(temp, safe))
    throw EVardex(kCannotRenameSupportDir);
}

void TToolRun::RunCopy() {
  StartRun(ttCopy, kToolFlags);
  CopySteps();
  FinishRun(trSuccess);
}

void TToolRun::VerifySafeCopy() {
  const QString safe = DatabaseFolder("SAFE");
  const QStringList tables = ListTables(safe + '/');
  d_.ProgressStart(d_.Format("ProcessCaptions", "Check", {d_.Alias()}), tables.size(), false);
  for (int i = 0; i < tables.size(); ++i) {
    d_.ProgressStep(d_.Format("ProcessCaptions", "Table", {tables[i]}), i + 1);
    const engine::VerifyResult r = engine::VerifyTable(ToStd(safe + '/' + tables[i]));
    if (r.status.ok()) continue;
    const QString detail =
        safe + '/' + tables[i] + '\n' + QString::fromStdString(r.status.ToString());
    if (r.status.category() == ERRCAT_LOCKCONFLICT) FinishRun(trBusy, detail);
    FinishRun(trCorrupted, detail);
  }
  d_.ProgressHide();
}

void TToolRun::SwapInRetrieved(const QString& built) {
  const QString d = DatabaseFolder();
  std::vector<engine::FileSwap> swaps;
  QSet<QString> targets;  // upper-cased names that receive a new file
  QSet<QString> stems;    // upper-cased names of the tables replaced
  for (const QString& name : QDir(built).entryList(QDir::Files)) {
    const QString target = QString::fromStdString(engine::FindNoCase(ToStd(d), ToStd(name)));
    swaps.push_back({ToStd(built + '/' + name), ToStd(target)});
    targets.insert(QFileInfo(target).fileName().toUpper());
    if (name.endsWith(".db", Qt::CaseInsensitive))
      stems.insert(QFileInfo(name).completeBaseName().toUpper());
  }
  // The live files of those tables that the new set does not replace go in
  // the same step; a table another program holds stops the run first.
  for (const QString& name : QDir(d).entryList(QDir::Files | QDir::Hidden)) {
    const QFileInfo info(name);
    if (!stems.contains(info.completeBaseName().toUpper()) || !IsTableFileName(name)) {
      continue;
    }
    const QString path = d + '/' + name;
    if (FileIsLocked(ToStd(path))) FinishRun(trBusy, path);
    if (!targets.contains(name.toUpper())) swaps.push_back({std::string(), ToStd(path)});
  }
  MoveSetAside(built, d, swaps);
  const engine::Status s =
      engine::CommitSwaps(engine::Env::Default(), ToStd(RetrieveJournalPath(d)), swaps);
  if (!s.ok()) throw EVardex(s.ToString());
  for (TSetAside& kept : set_aside_) {
    if (kept.path.startsWith(built + '/')) kept.path = d + kept.path.mid(built.size());
  }
}

void TToolRun::MoveSetAside(const QString& built, const QString& d,
                               std::vector<engine::FileSwap>& swaps) {
  // The records set aside while the tables were built are as much the
  // database's as the tables themselves: they join the database folder's
  // KEYVIOL and PROBLEMS, as an Update's do, under the names they have when
  // no earlier set there holds them.
  for (const char* sub : {kKeyViolFolder, kProblemsFolder}) {
    const QString from = built + '/' + sub, to = d + '/' + sub;
    const QStringList files = QDir(from).entryList(QDir::Files);
    if (files.isEmpty()) continue;
    if (!QDir().mkpath(to)) {
      throw EVardex("Cannot create the folder " + ToStd(to) + " for the records set aside");
    }
    QSet<QString> taken;
    for (const QString& name : QDir(to).entryList(QDir::Files)) {
      taken.insert(StemOf(name).toUpper());
    }
    QMap<QString, QString> renamed;  // stem in `from` -> free stem in `to`
    for (const QString& name : files) {
      const QString stem = StemOf(name);
      if (!renamed.contains(stem)) {
        QString free = stem;
        for (int n = 2; taken.contains(free.toUpper()); ++n) free = stem + '_' + QString::number(n);
        taken.insert(free.toUpper());
        renamed.insert(stem, free);
      }
      const QString moved = renamed[stem] + name.mid(stem.size());
      swaps.push_back({ToStd(from + '/' + name), ToStd(to + '/' + moved)});
      // Named as it will be; the folder follows once the swap is done.
      for (TSetAside& kept : set_aside_) {
        if (kept.path == from + '/' + name) kept.path = from + '/' + moved;
      }
    }
  }
}

void TToolRun::RetrieveSteps() {
  // Nothing live is touched until the safe copy has been read whole and the
  // new tables are complete beside the live ones.
  VerifySafeCopy();
  const QString built = DatabaseFolder("RE$$");
  RemoveFolderTree(ToStd(built));
  QDir().mkpath(built);
  try {
    RunTables("Retrieve", DatabaseFolder("SAFE") + '/', trRepeat, false, built + '/',
              DatabaseFolder("METADATA") + '/');
    SwapInRetrieved(built);
  } catch (...) {
    // A swap that began is finished by the next run from its journal.
    if (!QFileInfo::exists(RetrieveJournalPath(DatabaseFolder()))) RemoveFolderTree(ToStd(built));
    d_.ProgressHide();
    throw;
  }
  RemoveFolderTree(ToStd(built));
}

void TToolRun::RunRetrieve() {
  StartRun(ttRetrieve, kToolFlags | rfSafe);
  RetrieveSteps();
  FinishRun(trSuccess);
}

void TToolRun::RunPack() {
  StartRun(ttPack, kToolFlags);
  const QStringList tables = ListTables(d_.Alias());
  d_.ProgressStart(d_.Format("ProcessCaptions", "Pack", {d_.Alias()}), tables.size(), true);
  TZelTableTools& tools = tools_;
  tools.DatabaseName = d_.Alias().toStdString();
  try {
    for (int i = 0; i < tables.size(); ++i) {
      // Every table packed so far is complete: a Cancel ends at once.
      if (!d_.ProgressStep(d_.Format("ProcessCaptions", "Table", {tables[i]}), i)) {
        FinishRun(trCancel);
      }
      tools.TableName = tables[i].toStdString();
      RunOneTable(tables[i], [&] { tools.Pack(false); });
    }
  } catch (...) {
    d_.ProgressHide();
    throw;
  }
  d_.ProgressHide();
  FinishRun(trSuccess);
}

}  // namespace toolrun
