// Backup and Restore of TFormVardex: METADATA and SAFE go into one archive
// on the volumes of a drive of drives.ini, the alias as its comment, and
// come back after the comment shows the disks belong to this database. The
// archive names only the files of the two work folders, so the live tables
// are never touched; a restore checks the comment and the whole directory
// first, then sets the former work folders aside and drops them only after
// every file was extracted and checked.
#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <QTemporaryDir>

#include "DbExceptions.h"
#include "Session.h"
#include "ZipVolumes.h"
#include "cpZelIni.h"
#include "cpZip.h"
#include "fmPrgrss.h"
#include "fmSelDrv.h"
#include "fmVdx.h"
#include "fmVdxRun.h"
#include "fmZipPrg.h"
#include "tlFile.h"

namespace {

// The fixed word the archive password is built from (ten characters).
constexpr char kPasswordWord[] = "ZelVardex!";

std::string ToStd(const QString& text) { return text.toStdString(); }

// Stands in the database folder while its work folders are set aside by a
// restore; a run that finds it knows the set-aside folders are the good ones.
QString RestoreMarker(const QString& d) { return d + "/RESTORE.$$$"; }

bool WriteMarker(const QString& path) {
  QFile f(path);
  if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) return false;
  f.write("METADA$$ SA$$\n");
  return f.flush() && ::fsync(f.handle()) == 0;
}

// The restore's message for a library return code; empty: none.
QString RestoreKey(int code) {
  switch (code) {
    case 3:
    case 39:
      return "RestoreCorrupted";
    case 4:
    case 5:
      return "RestoreOutOfMemory";
    case 9:
    case 29:
      return "RestoreCannotRead";
    default:
      return "RestoreOtherError";
  }
}

QString BackupKey(int code) {
  switch (code) {
    case 2:
    case 3:
    case 11:
    case 13:
    case 14:
    case 15:
    case 17:
    case 18:
    case 19:
      return "BackupCannotCreate";
    case 4:
      return "BackupOutOfMemory";
    case 9:
    case 20:
      return QString();
    default:
      return "BackupOtherError";
  }
}

// The text of why a volume folder is refused ("home": "VolumeRefusedHome").
QString RefusalKey(const std::string& reason) {
  QString key = QString::fromStdString(reason);
  if (!key.isEmpty()) key[0] = key[0].toUpper();
  return "VolumeRefused" + key;
}

// The folder of every database of the alias list: a volume folder must not
// be, hold or lie in any of them.
std::vector<std::string> KnownDatabaseFolders() {
  std::vector<std::string> folders;
  engine::TSession& session = engine::TSession::Default();
  for (const std::string& name : session.GetAliasNames()) {
    try {
      const std::vector<std::string> params = session.GetAliasParams(name);
      if (!params.empty() && params.front().rfind("PATH=", 0) == 0 && params.front().size() > 5) {
        folders.push_back(params.front().substr(5));
      }
    } catch (const engine::EDatabaseError&) {
    }
  }
  return folders;
}

// The letter a removable medium is written through: the run's drive table
// (MediumDrivesFile) maps it, and nothing else.
constexpr char kMediumLetter = 'M';

// A drive table of the one medium chosen in the drive dialog, for the
// compression library, which finds volumes by letter. Empty when it cannot
// be written.
QString MediumDrivesFile(const QString& mount_point) {
  static QTemporaryDir folder;  // removed when the program ends
  if (!folder.isValid()) return QString();
  QSaveFile file(folder.filePath("drives.ini"));
  if (!file.open(QIODevice::WriteOnly)) return QString();
  file.write("[Drives]\n" + QByteArray(1, kMediumLetter) + '=' + QFile::encodeName(mount_point) +
             '\n');
  return file.commit() ? file.fileName() : QString();
}

}  // namespace

void TFormVardex::CreateBackupDialogs() {
  select_drive_ = new TFormSelectDrive(this);
  zip_progress_ = new TFormZipProgress(this);
  zip_ = std::make_unique<TZipFile>();
  unzip_ = std::make_unique<TUnzipFile>();
  zip_progress_->ConfirmCancel = [this](const QString&) {
    return ShowMessageKey("Notifications", "Cancel", {DisplayName(CurrentTool)}, mkConfirmation,
                          QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
  };
  auto major = [this](const std::string& item, int percent, bool& cancel) {
    ZipMajorCallback(item, percent, cancel);
  };
  auto minor = [this](const std::string& item, int percent, bool& cancel) {
    ZipMinorCallback(item, percent, cancel);
  };
  auto message = [this](int msg, int type, long long p1, long long p2, const std::string&,
                        const std::string&,
                        int& reply) { ZipMessageCallback(msg, type, p1, p2, reply); };
  zip_->OnMajorStatus = unzip_->OnMajorStatus = major;
  zip_->OnMinorStatus = unzip_->OnMinorStatus = minor;
  zip_->OnMessage = unzip_->OnMessage = message;
  QStringList letters;
  for (const auto& [letter, info] : ReadDriveTable(ToStd(DrivesFile()))) letters << QString(letter);
  if (!letters.isEmpty()) select_drive_->SetDrives(letters);
}

QString TFormVardex::DrivesFile() const { return ZelProgramFolder() + "/drives.ini"; }

void TFormVardex::SetBackupDrive(QChar letter) {
  DriveSelection.Drive = letter;
  if (select_drive_) select_drive_->SetDrive(letter);
}

void TFormVardex::SetBackupComplement(bool on) {
  DriveSelection.Complement = on;
  if (select_drive_) select_drive_->SetComplement(on);
}

QString TFormVardex::ArchiveName() const {
  const QChar letter = select_drive_->Medium().isEmpty() ? select_drive_->Drive() : kMediumLetter;
  return QString(letter) + ":\\" + CurrentAlias.left(8) + ".DBK";
}

QString TFormVardex::RunDrivesFile() const {
  const QString medium = select_drive_->Medium();
  return medium.isEmpty() ? DrivesFile() : MediumDrivesFile(medium);
}

QString TFormVardex::ArchivePassword() const {
  const QString upper = CurrentAlias.toUpper();
  QString r = kPasswordWord;
  for (int i = 0; i < r.size(); ++i) {
    r[i] = QChar(r[i].unicode() + ((i + 1) % 2 == 1 ? 1 : -1));
  }
  for (int i = upper.size(); i >= 1; --i) {
    if (i % 2 == 1) {
      r.append(upper[i - 1]);
    } else {
      r.prepend(upper[i - 1]);
    }
  }
  return r;
}

void TFormVardex::ShowDriveDialog() {
  QStringList letters;
  for (const auto& [letter, info] : ReadDriveTable(ToStd(DrivesFile()))) letters << QString(letter);
  // The media mounted now, also when the dialog is not shown: a medium
  // chosen before stays chosen while it is there.
  const QList<TRemovableMedium> media = SystemRemovableMedia();
  if (letters.isEmpty() && !media.isEmpty()) letters << QStringLiteral("A");
  if (!letters.isEmpty()) select_drive_->SetDrives(letters, media);
  if (!Options.count(voConfirm)) return;
  select_drive_->Prepare(QString::fromStdString(ToolName(CurrentTool)), CurrentAlias);
  if (select_drive_->exec() != QDialog::Accepted) FinishRun(trGiveUp);
}

void TFormVardex::RunBackup() {
  StartRun(ttBackup, 0);
  ShowDriveDialog();
  const bool complement = select_drive_->Complement();
  CheckDatabase(complement ? rfCheck | rfVerify : rfCheck | rfVerify | rfSafe);
  if (complement) {
    CopySteps();
    FormProgress()->hide();
  }
  Compress();
  FinishRun(trSuccess);
}

void TFormVardex::RethrowCallbackFailure() {
  if (!callback_failure_) return;
  std::exception_ptr failure = callback_failure_;
  callback_failure_ = nullptr;
  std::rethrow_exception(failure);
}

void TFormVardex::Compress() {
  const QString d = DatabaseFolder();
  ZIPCMDSTRUCT& cmd = zip_->Cmd;
  cmd = ZIPCMDSTRUCT{};
  cmd.lpszZipFile = ToStd(ArchiveName());
  cmd.lpszComment = ToStd(CurrentAlias);
  cmd.lpszEncryptCode = ToStd(ArchivePassword());
  // The tables' files of the two work folders, named relative to D: the
  // live tables are never named, so nothing in D needs to be hidden.
  QString items;
  for (const QString& table : ListTables(DatabaseFolder("METADATA") + '/')) {
    QString name = table.toUpper();
    name.remove(name.indexOf(".DB"), name.contains(".DB") ? 3 : 0);
    for (const char* sub : {"METADATA", "SAFE"}) {
      items += '"' + d + '/' + sub + '/' + name.left(7) + "*.*\" ";
    }
  }
  cmd.lpszItemList = ToStd(items);
  cmd.lpszBaseFolder = ToStd(d);
  cmd.protectedFolders = KnownDatabaseFolders();
  cmd.recurseFlag = cmd.addCommentFlag = cmd.noDirectoryEntriesFlag = cmd.quietFlag = true;
  cmd.includeSysHiddenFlag = false;
  cmd.wZipSubOptions = ZSO_RELATIVEPATH | ZSO_MINORCANCEL;
  cmd.wMultiVolControl = MV_USEMULTI | MV_SUBDIR | MV_SYSHIDE | MV_CDFIRST;
  cmd.compFactor = 5;
  cmd.lpszDrivesFile = ToStd(RunDrivesFile());
  callback_failure_ = nullptr;
  zip_progress_->Start(QString::fromStdString(ToolName(CurrentTool)), CurrentAlias);
  int rc = 0;
  try {
    rc = zip_->Execute(4);
  } catch (...) {
    zip_progress_->hide();
    throw;
  }
  zip_progress_->hide();
  RethrowCallbackFailure();
  if (rc == 0) return;
  FormProgress()->hide();
  if (zip_progress_->CancelRequested() || rc == ZE_DISKCANCEL) FinishRun(trCancel);
  if (rc == ZE_CLEAR && !cmd.lpszReturnString.empty()) {
    // A folder the program may not write volumes to: say which and why.
    const auto drives = ReadDriveTable(ToStd(RunDrivesFile()));
    const auto drive = drives.find(ArchiveName()[0].toUpper().toLatin1());
    ShowMessageKey(
        "Notifications", "BackupVolumeRefused",
        {drive == drives.end() ? ArchiveName() : QString::fromStdString(drive->second.folder),
         FormatValue("Notifications", RefusalKey(cmd.lpszReturnString),
                     {QString::fromStdString(cmd.lpszReturnPath)})});
    FinishRun(trError);
  }
  const QString key = rc < 0 ? QString("BackupOtherError") : BackupKey(rc);
  if (!key.isEmpty()) ShowMessageKey("Notifications", key, {QString::number(rc)});
  FinishRun(trError);
}

void TFormVardex::RunRestore() {
  StartRun(ttRestore, 0);
  ShowDriveDialog();
  if (!Extract()) FinishRun(trCancel);
  // What the archive held beyond the work folders was not written: the end
  // message lists it.
  const QString skipped = restore_skipped_.isEmpty()
                              ? QString()
                              : FormatValue("Notifications", "RestoreSkipped",
                                            {QString::number(restore_skipped_.size())}) +
                                    '\n' + restore_skipped_.mid(0, 20).join('\n') +
                                    (restore_skipped_.size() > 20 ? QString("\n...") : QString());
  if (select_drive_->Complement()) {
    CheckDatabase(rfCheck | rfVerify | rfSafe);
    RetrieveSteps();
  }
  FinishRun(trSuccess, skipped);
}

void TFormVardex::PutBackWorkFolders() {
  if (!folders_aside_) return;
  folders_aside_ = false;
  RestoreWorkFolders();
  QFile::remove(RestoreMarker(DatabaseFolder()));
}

void TFormVardex::ReportRestoreCode(int code) {
  FormProgress()->hide();
  if (code == 48) return;  // cancelled: the caller answers failure
  ShowMessageKey("Notifications", RestoreKey(code), {QString::number(code)});
  FinishRun(trError);
}

void TFormVardex::RecoverInterruptedRestore() {
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
  } else if (ToolRunning) {
    ShowMessageKey("Notifications", "RestoreWorkFolders");
    FinishRun(trError);
  }
}

bool TFormVardex::Extract() {
  UNZIPCMDSTRUCT& cmd = unzip_->Cmd;
  cmd = UNZIPCMDSTRUCT{};
  cmd.lpszZipFile = ToStd(ArchiveName());
  cmd.lpszDecryptCode = ToStd(ArchivePassword());
  cmd.overWriteFlag = cmd.quietFlag = cmd.recurseFlag = cmd.decryptFlag = true;
  cmd.wUnzipSubOptions = USO_MINORCANCEL;
  cmd.lpszDrivesFile = ToStd(RunDrivesFile());
  // A restore writes the two work folders and nothing else.
  cmd.topFolders = {"METADATA", "SAFE"};
  callback_failure_ = nullptr;
  restore_skipped_.clear();
  QApplication::setOverrideCursor(Qt::WaitCursor);
  RecoverInterruptedRestore();
  // The comment and the whole directory are checked before the work folders
  // are touched: an archive refused here changes nothing.
  int rc = unzip_->Execute(5);
  RethrowCallbackFailure();
  if (rc == 0 && unzip_->ReturnCount() == 0) {
    FormProgress()->hide();
    ShowMessageKey("Notifications", "RestoreNoComment", {CurrentAlias});
    FinishRun(trError);
  }
  if (rc == 0) {
    rc = unzip_->Execute(6);
    RethrowCallbackFailure();
    if (rc == 0 &&
        QString::fromStdString(unzip_->ReturnString()).toUpper() != CurrentAlias.toUpper()) {
      FormProgress()->hide();
      ShowMessageKey("Notifications", "RestoreNotOwned");
      FinishRun(trError);
    }
  }
  if (rc == 0) {
    rc = unzip_->Execute(kUnzipActionCheck);
    RethrowCallbackFailure();
    if (rc == UE_NOTOPS || rc == UE_UNSAFE) {
      FormProgress()->hide();
      if (rc == UE_NOTOPS) {
        ShowMessageKey("Notifications", "RestoreNoWorkFolders", {CurrentAlias});
      } else {
        ShowMessageKey("Notifications", "RestoreUnsafeEntry",
                       {QString::fromStdString(cmd.lpszReturnString)});
      }
      FinishRun(trError);
    }
  }
  if (rc != 0) {
    ReportRestoreCode(rc);
    QApplication::restoreOverrideCursor();
    return false;  // cancelled at the first disk: nothing was restored
  }
  CreateWorkFolders();
  folders_aside_ = true;
  if (!WriteMarker(RestoreMarker(DatabaseFolder()))) {
    PutBackWorkFolders();
    ShowMessageKey("Notifications", "CreateWorkFolders");
    FinishRun(trError);
  }
  // Whatever ends this early, the former folders come back: they are the
  // only good copy until every file of the archive is out and checked.
  try {
    QApplication::restoreOverrideCursor();
    cmd.lpszFileSpec = "*.*";
    cmd.lpszDestination = ToStd(DatabaseFolder());
    zip_progress_->Start(QString::fromStdString(ToolName(CurrentTool)), CurrentAlias);
    rc = unzip_->Execute(8);
    zip_progress_->hide();
    RethrowCallbackFailure();
    if (rc == 0) {
      // Every file is out, checked and flushed: from here the set-aside
      // folders are no longer the good copy.
      folders_aside_ = false;
      QFile::remove(RestoreMarker(DatabaseFolder()));
      RemoveWorkFolders();
      for (const std::string& name : cmd.skipped) restore_skipped_ << QString::fromStdString(name);
      return true;
    }
    PutBackWorkFolders();
    ReportRestoreCode(rc);
    return false;
  } catch (...) {
    zip_progress_->hide();
    try {
      PutBackWorkFolders();
    } catch (const EAbort&) {
    }
    throw;
  }
}

void TFormVardex::ZipMajorCallback(const std::string& item, int percent, bool& cancel) {
  try {
    zip_progress_->MajorStatus(QString::fromStdString(item), percent, cancel);
  } catch (...) {
    // Never through the library: the run ends once it has returned.
    if (!callback_failure_) callback_failure_ = std::current_exception();
    cancel = true;
  }
}

void TFormVardex::ZipMinorCallback(const std::string& item, int percent, bool& cancel) {
  try {
    zip_progress_->MinorStatus(QString::fromStdString(item), percent, cancel);
  } catch (...) {
    if (!callback_failure_) callback_failure_ = std::current_exception();
    cancel = true;
  }
}

void TFormVardex::ZipMessageCallback(int msg, int, long long p1, long long p2, int& reply) {
  struct TBox {
    QString key;
    QStringList args;
    TMsgKind kind;
    QMessageBox::StandardButtons buttons;
  };
  const auto ok_cancel = QMessageBox::Ok | QMessageBox::Cancel;
  TBox box{"Unknown", {}, mkError, QMessageBox::Ok};
  int fixed = 1;  // the reply of a message whose answer does not count
  bool use_button = false;
  switch (msg) {
    case 0:
      box = p1 == -1   ? TBox{"FirstDisk", {}, mkConfirmation, ok_cancel}
            : p2 == -1 ? TBox{"LastDisk", {}, mkConfirmation, ok_cancel}
                       : TBox{"NextDisk", {QString::number(p1)}, mkConfirmation, ok_cancel};
      use_button = true;
      break;
    case 1:
      box = {"DiskOfDisk", {QString::number(p1), QString::number(p2)}, mkConfirmation, ok_cancel};
      use_button = true;
      break;
    case 2:
    case 3:
    case 4:
      box = {msg == 2   ? "OpenError"
             : msg == 3 ? "ReadError"
                        : "WriteError",
             {},
             mkError,
             QMessageBox::Ok};
      use_button = true;
      break;
    case 5:
      box = {"NotRemovable", {}, mkWarning, QMessageBox::Ok};
      use_button = true;
      break;
    case 9:
      box = {"NotOwned", {QString::number(p1)}, mkError, QMessageBox::Ok};
      fixed = 2;
      break;
    case kMsgWrongDisk:
      box = {"WrongDisk", {QString::number(p1), QString::number(p2)}, mkConfirmation, ok_cancel};
      use_button = true;
      break;
    case kMsgNotLastDisk:
      box = {"NotLastDisk", {}, mkConfirmation, ok_cancel};
      use_button = true;
      break;
    case kMsgNoRoom:
      box = {"NoRoom", {QString::number(p1), QString::number(p2)}, mkConfirmation, ok_cancel};
      use_button = true;
      break;
    case 10:
      box = {"BadFirstDisk", {}, mkConfirmation, ok_cancel};
      use_button = true;
      break;
    case 11:
      if (p1 == 9) {
        if (reply == 0) reply = 1;
        return;
      }
      break;
    case 13:
      return;
    default:
      break;
  }
  try {
    const QMessageBox::StandardButton pressed =
        ShowMessageKey("BackupProcess", box.key, box.args, box.kind, box.buttons);
    if (reply == 0) {
      reply = use_button ? (pressed == QMessageBox::Cancel ? 2 : 1) : fixed;
    }
  } catch (...) {
    if (!callback_failure_) callback_failure_ = std::current_exception();
    reply = 2;
  }
  QCoreApplication::processEvents();
}
