// The tools TFormVardex runs itself: Update brings every live table in line
// with its reference table, Copy keeps a stripped copy in SAFE and then
// updates, Retrieve rebuilds the live tables from SAFE, Pack compacts.
#include <QDir>

#include "cpTbTool.h"
#include "fmPrgrss.h"
#include "fmVdx.h"
#include "tlFile.h"

namespace {

constexpr TRunFlags kToolFlags = rfConfirm | rfCheck | rfVerify;

}  // namespace

void TFormVardex::RunUpdate() {
  StartRun(ttUpdate, kToolFlags);
  PrepareTables();
  RunTables("Update", CurrentAlias, trRepeat, false, QString(), QString());
  FinishRun(trSuccess);
}

void TFormVardex::CopySteps() {
  // SAFE keeps its former contents until the new copy is complete; the copy
  // grows beside it in a temporary folder.
  const QString temp = DatabaseFolder("SA$$");
  RemoveFolderTree(temp);
  QDir().mkpath(temp);
  try {
    PrepareTables();
    RunTables("Copy", CurrentAlias, trUpdate, true, temp + '/', QString());
    RunTables("Update", CurrentAlias, trUpdate, false, QString(), QString());
  } catch (...) {
    RemoveFolderTree(temp);
    FormProgress()->hide();
    throw;
  }
  const QString safe = DatabaseFolder("SAFE");
  if (!RemoveFolderTree(safe) || !QDir().rename(temp, safe)) throw EVardex(kCannotRenameSupportDir);
}

void TFormVardex::RunCopy() {
  StartRun(ttCopy, kToolFlags);
  CopySteps();
  FinishRun(trSuccess);
}

void TFormVardex::RetrieveSteps() {
  const QString d = DatabaseFolder();
  DeleteTables(d);
  RunTables("Retrieve", DatabaseFolder("SAFE") + '/', trRepeat, false, d + '/',
            DatabaseFolder("METADATA") + '/');
}

void TFormVardex::RunRetrieve() {
  StartRun(ttRetrieve, kToolFlags | rfSafe);
  RetrieveSteps();
  FinishRun(trSuccess);
}

void TFormVardex::RunPack() {
  StartRun(ttPack, kToolFlags);
  const QStringList tables = ListTables(CurrentAlias);
  TFormProgress* progress = FormProgress();
  progress->Start(FormatValue("ProcessCaptions", "Pack", {CurrentAlias}), 0, tables.size(), 1,
                  true);
  TZelTableTools& tools = TableTools();
  tools.DatabaseName = CurrentAlias.toStdString();
  try {
    for (int i = 0; i < tables.size(); ++i) {
      // Every table packed so far is complete: a Cancel ends at once.
      if (!progress->Progress(FormatValue("ProcessCaptions", "Table", {tables[i]}), i)) {
        FinishRun(trCancel);
      }
      tools.TableName = tables[i].toStdString();
      tools.Pack(false);
    }
  } catch (...) {
    progress->hide();
    throw;
  }
  progress->hide();
  FinishRun(trSuccess);
}
