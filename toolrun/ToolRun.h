// The tool runs without a window: the common frame of every run (start,
// confirmation, Check step, end message, log record, silent end), the
// parking of companion files, the work folders, the recovery of what a
// killed run left, and the tools Update, Copy, Retrieve and Pack with the
// steps Backup and Restore share with them. Whoever drives a run (the main
// window, or `vdx run` on a terminal) does so through TRunDriver: it keeps
// the selected database, the run state and the options, shows the texts,
// answers the questions and shows the progress.
#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <exception>
#include <functional>
#include <memory>
#include <vector>

#include "tcVardex.h"

class TZelTableTools;
class TUnzipFile;
class TZipFile;
enum class TUnzipResult;
namespace engine {
struct FileSwap;
}
namespace toolrun {
class TRunLock;
}

// The silent end of a tool run: FinishRun throws it once the end message is
// shown and the log record written, and the exception handling lets it pass
// unseen.
class EAbort : public std::exception {
 public:
  const char* what() const noexcept override { return "Operation aborted"; }
};

// How a run starts: bits of one byte.
enum TRunFlag : unsigned char { rfConfirm = 1, rfCheck = 2, rfVerify = 4, rfSafe = 8 };
using TRunFlags = unsigned char;

enum TMsgKind { mkError, mkWarning, mkInformation, mkConfirmation };

// Whether a file name is one of a table's own files by its extension: data,
// blobs, checks, indexes, and their parked forms.
bool IsTableFileName(const QString& name);
// The journal through which Retrieve swaps the tables it built (in the
// folder RE$$ of the database) in for the live ones.
QString RetrieveJournalPath(const QString& database_folder);
// Stands in the database folder while its work folders are set aside by a
// restore; a run that finds it knows the set-aside folders are the good ones.
QString RestoreMarker(const QString& database_folder);

namespace toolrun {

// The buttons of a message: OK alone, or a question answered Yes or No, or
// OK or Cancel (a disk to insert).
enum TRunButtons { rbOk, rbYesNo, rbOkCancel };

// One message of a run: keyed texts of a language section, one line each,
// with their arguments. An empty section means the key is the text itself.
struct TRunMessage {
  QString Section;
  QStringList Keys;
  QStringList Args = {};
  TMsgKind Kind = mkError;
  TRunButtons Buttons = rbOk;
  QString Detail = {};  // what the message is about (tables, folders), a line of its own
};

class TRunDriver {
 public:
  virtual ~TRunDriver() = default;

  // The selected database and the state of the run, kept by the driver.
  virtual QString Alias() const = 0;
  virtual QString Path() const = 0;
  virtual TToolType Tool() const = 0;
  virtual void SetTool(TToolType tool) = 0;
  virtual bool Running() const = 0;
  virtual void SetRunning(bool running) = 0;
  virtual void SetAskPassword(bool ask) = 0;
  // The options CONFIRM and ENDMSG.
  virtual bool Confirm() const = 0;
  virtual bool EndMessages() const = 0;

  // A keyed text, and one formatted with arguments.
  virtual QString Text(const QString& section, const QString& key) const = 0;
  virtual QString Format(const QString& section, const QString& key,
                         const QStringList& args) const = 0;
  // Shows a message; true for Yes or OK, false for No or Cancel.
  virtual bool Message(const TRunMessage& message) = 0;

  // The progress of the run: a caption and a bar from 0 to `max`; a step
  // shows a table and its place and is false once Cancel was asked for.
  virtual void ProgressStart(const QString& caption, int max, bool can_cancel) = 0;
  virtual bool ProgressStep(const QString& text, int position) = 0;
  // After a Cancel the user went on: the cancel is forgotten, the progress shown.
  virtual void ProgressResume() = 0;
  virtual void ProgressHide() = 0;

  // Backup and Restore: the drive letter of drives.ini and the complement
  // (Copy before the backup, Retrieve after the restore). ChooseDrive lets
  // the user choose them (the window's drive dialog, when CONFIRM is on);
  // false: declined.
  virtual QChar Drive() const { return 'A'; }
  virtual bool Complement() const { return false; }
  virtual bool ChooseDrive() { return true; }
  // drives.ini in the program folder.
  virtual QString DrivesFile() const;
  // The archive's own progress: the whole and the current file.
  virtual void ArchiveStart(const QString& /*tool_name*/, const QString& /*alias*/) {}
  virtual void ArchiveStatus(bool /*whole*/, const QString& /*item*/, int /*percent*/,
                             bool& /*cancel*/) {}
  virtual bool ArchiveCancelled() const { return false; }
  virtual void ArchiveHide() {}
  // While the archive's directory is read.
  virtual void SetBusyCursor(bool) {}
  // After each of the archive's messages.
  virtual void LetEventsThrough() {}

  // Who runs, as a refused run names the holder of the database ("Vdx32").
  virtual QString Program() const { return "Vdx32"; }
  // A run starts (the tool controls go off) and ends (they come back).
  virtual void RunStarted() {}
  virtual void RunEnded() {}
  // FinishRun begins: a busy cursor or the like goes.
  virtual void RunFinishing() {}
  // Called now and then while one table is rewritten.
  virtual void KeepResponsive() {}
};

class TToolRun {
 public:
  TToolRun(TRunDriver& driver, TZelTableTools& tools);
  ~TToolRun();

  // The frame. FinishRun returns only after trSuccess, and when the user goes
  // on after trUpdate or trRepeat; `detail` names what the result is about.
  void StartRun(TToolType tool, TRunFlags flags);
  void FinishRun(TToolResult result, const QString& detail = QString());
  // The result of the last finished run (trSuccess before the first).
  TToolResult LastResult() const { return last_result_; }
  // Whether the last finished run's log record was written, and how many
  // runs have finished.
  bool LastLogged() const { return last_logged_; }
  long RunsFinished() const { return runs_finished_; }
  void CheckDatabase(TRunFlags flags);
  // Opens every table of the folder, showing each in the progress window
  // (left up for what follows).
  void VerifyTables(const QString& folder);
  // Table file names of an alias or a folder, without hidden files.
  QStringList ListTables(const QString& name_or_folder) const;
  // The reference copy's tables, masters before the tables that refer to them.
  QStringList OrganizeTables(TToolResult on_cancel);
  // Parks the companion files (checks, indexes) of the live tables, so the
  // restructure takes them from the reference; UnparkTables puts back what a
  // run did not replace (after a run that ended early, or was killed).
  void PrepareTables();
  void UnparkTables(const QString& folder);
  // Finishes or undoes what a killed run left in the database folder: table
  // journals, the Retrieve journal, parked companions.
  void RecoverDatabase();
  // A restore killed after setting the work folders aside left its marker:
  // the set-aside folders, the only good copy, are put back.
  void RecoverInterruptedRestore();
  void RunTables(const QString& caption_key, const QString& database_name, TToolResult on_cancel,
                 bool strip, const QString& save_as_folder, const QString& meta_folder);
  void DeleteTables(const QString& folder);
  void CreateWorkFolders();
  void RestoreWorkFolders();
  void RemoveWorkFolders();
  // Puts DatabaseFolder(aside) back as DatabaseFolder(name), whatever stood
  // there; false when something stays in the way.
  bool PutBackWorkFolder(const QString& name, const QString& aside);
  // The display name of a tool, from "ToolNames".
  QString DisplayName(TToolType tool) const;
  // D + "/" + sub: the folders of the selected database.
  QString DatabaseFolder(const QString& sub = QString()) const;

  // The tools. The Copy and Retrieve steps also run inside Backup and Restore.
  void RunUpdate();
  void RunCopy();
  void RunRetrieve();
  void RunPack();
  void CopySteps();
  void RetrieveSteps();
  // Retrieve: reads every table of SAFE whole (records, blobs, indexes), and
  // swaps the tables built in `built` in for the live ones; the records set
  // aside while they were built move into the database folder's KEYVIOL and
  // PROBLEMS in the same step.
  void VerifySafeCopy();
  void SwapInRetrieved(const QString& built);
  void MoveSetAside(const QString& built, const QString& d, std::vector<engine::FileSwap>& swaps);

  // Backup and Restore: METADATA and SAFE onto the volumes of a drive of
  // drives.ini, and back, through Zip and Unzip.
  void RunBackup();
  void RunRestore();
  // "A:\SALESDAT.DBK": the drive and the alias's first 8 characters.
  QString ArchiveName() const;
  QString ArchivePassword() const;
  void ZipMessageCallback(int msg, int mb_type, long long p1, long long p2, int& reply);
  TZipFile& Zip() const { return *zip_; }
  TUnzipFile& Unzip() const { return *unzip_; }

 private:
  void Compress();
  bool Extract();
  void ReportRestoreCode(TUnzipResult result);
  void PutBackWorkFolders();
  void RethrowCallbackFailure();
  void ArchiveStatus(bool whole, const std::string& item, int percent, bool& cancel);
  // Restructures or packs one table; a table found busy or damaged ends the
  // run with trBusy or trCorrupted, and records set aside are noted.
  void RunOneTable(const QString& file, const std::function<void()>& work);
  void NoteSetAside(const QString& file);
  void ShowSetAside();
  // Shows a table in the progress; a Cancel asks as the run's cancel result
  // does and returns only when the user goes on.
  // Steps the progress to a table; a Cancel asks on_cancel's question,
  // before_question first.
  void TableProgress(const QString& file, int position, TToolResult on_cancel,
                     const std::function<void()>& before_question = nullptr);
  // The tables of the folders the Check step examines whose names differ
  // only in letter case.
  QStringList CaseTwinTables(TRunFlags flags) const;
  void ShowEndMessage(TToolResult result, const QString& name, const QString& detail, bool& go_on);
  bool Message(const QString& key, const QStringList& args = {}, TMsgKind kind = mkError);

  TRunDriver& d_;
  TZelTableTools& tools_;
  TToolResult last_result_ = trSuccess;
  bool last_logged_ = true;
  long runs_finished_ = 0;
  // This run's tables of records set aside: the table written and the data
  // file of the set (counted when the run ends).
  struct TSetAside {
    QString table;
    QString path;
  };
  QList<TSetAside> set_aside_;
  // The database's run lock, held from the start of a run to its end.
  std::unique_ptr<TRunLock> lock_;
  std::unique_ptr<TZipFile> zip_;
  std::unique_ptr<TUnzipFile> unzip_;
  std::exception_ptr callback_failure_;  // raised inside a library callback
  bool folders_aside_ = false;           // METADA$$ and SA$$ hold the former folders
  QStringList restore_skipped_;          // entries a restore left out
};

}  // namespace toolrun
