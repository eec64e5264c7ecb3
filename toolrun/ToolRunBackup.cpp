// Backup and Restore in the run layer: METADATA and SAFE onto the volumes
// of a drive through the compression library, and back, with the Copy and
// Retrieve steps as their complements.
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "DbExceptions.h"
#include "Session.h"
#include "ToolRun.h"
#include "ToolRunUtil.h"
#include "ZipVolumes.h"
#include "cpZip.h"
#include "exVardex.h"
#include "tlFile.h"

namespace {

using toolrun::ToStd;
using toolrun::ToQt;

// The fixed word the archive password is built from (ten characters).
constexpr char kPasswordWord[] = "ZelVardex!";

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

}  // namespace

namespace toolrun {

QString TToolRun::ArchiveName() const {
  return QString(d_.Drive()) + ":\\" + d_.Alias().left(8) + ".DBK";
}

QString TToolRun::ArchivePassword() const {
  const QString upper = d_.Alias().toUpper();
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

void TToolRun::RunBackup() {
  StartRun(ttBackup, 0);
  if (!d_.ChooseDrive()) FinishRun(trGiveUp);
  const bool complement = d_.Complement();
  CheckDatabase(complement ? rfCheck | rfVerify : rfCheck | rfVerify | rfSafe);
  if (complement) {
    CopySteps();
    d_.ProgressHide();
  }
  Compress();
  FinishRun(trSuccess);
}

void TToolRun::RethrowCallbackFailure() {
  if (!callback_failure_) return;
  std::exception_ptr failure = callback_failure_;
  callback_failure_ = nullptr;
  std::rethrow_exception(failure);
}

void TToolRun::Compress() {
  const QString d = DatabaseFolder();
  ZIPCMDSTRUCT& cmd = zip_->Cmd;
  cmd = ZIPCMDSTRUCT{};
  cmd.lpszZipFile = ToStd(ArchiveName());
  cmd.lpszComment = ToStd(d_.Alias());
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
  cmd.lpszDrivesFile = ToStd(d_.DrivesFile());
  callback_failure_ = nullptr;
  d_.ArchiveStart(QString::fromStdString(ToolName(d_.Tool())), d_.Alias());
  int rc = 0;
  try {
    rc = zip_->Execute(4);
  } catch (...) {
    d_.ArchiveHide();
    throw;
  }
  d_.ArchiveHide();
  RethrowCallbackFailure();
  if (rc == 0) return;
  d_.ProgressHide();
  if (d_.ArchiveCancelled() || rc == ZE_DISKCANCEL) FinishRun(trCancel);
  if (rc == ZE_CLEAR && !cmd.lpszReturnString.empty()) {
    // A folder the program may not write volumes to: say which and why.
    const auto drives = ReadDriveTable(ToStd(d_.DrivesFile()));
    const auto drive = drives.find(d_.Drive().toUpper().toLatin1());
    Message(
        "BackupVolumeRefused",
        {drive == drives.end() ? ArchiveName() : QString::fromStdString(drive->second.folder),
         d_.Format("Notifications", RefusalKey(cmd.lpszReturnString),
                     {QString::fromStdString(cmd.lpszReturnPath)})});
    FinishRun(trError);
  }
  const QString key = rc < 0 ? QString("BackupOtherError") : BackupKey(rc);
  if (!key.isEmpty()) Message(key, {QString::number(rc)});
  FinishRun(trError);
}

void TToolRun::RunRestore() {
  StartRun(ttRestore, 0);
  if (!d_.ChooseDrive()) FinishRun(trGiveUp);
  if (!Extract()) FinishRun(trCancel);
  // What the archive held beyond the work folders was not written: the end
  // message lists it.
  const QString skipped =
      restore_skipped_.isEmpty()
          ? QString()
          : d_.Format("Notifications", "RestoreSkipped",
                        {QString::number(restore_skipped_.size())}) +
                '\n' + restore_skipped_.mid(0, 20).join('\n') +
                (restore_skipped_.size() > 20 ? QString("\n...") : QString());
  if (d_.Complement()) {
    CheckDatabase(rfCheck | rfVerify | rfSafe);
    RetrieveSteps();
  }
  FinishRun(trSuccess, skipped);
}

void TToolRun::PutBackWorkFolders() {
  if (!folders_aside_) return;
  folders_aside_ = false;
  RestoreWorkFolders();
  QFile::remove(RestoreMarker(DatabaseFolder()));
}

void TToolRun::ReportRestoreCode(int code) {
  d_.ProgressHide();
  if (code == 48) return;  // cancelled: the caller answers failure
  Message(RestoreKey(code), {QString::number(code)});
  FinishRun(trError);
}

bool TToolRun::Extract() {
  UNZIPCMDSTRUCT& cmd = unzip_->Cmd;
  cmd = UNZIPCMDSTRUCT{};
  cmd.lpszZipFile = ToStd(ArchiveName());
  cmd.lpszDecryptCode = ToStd(ArchivePassword());
  cmd.overWriteFlag = cmd.quietFlag = cmd.recurseFlag = cmd.decryptFlag = true;
  cmd.wUnzipSubOptions = USO_MINORCANCEL;
  cmd.lpszDrivesFile = ToStd(d_.DrivesFile());
  // A restore writes the two work folders and nothing else.
  cmd.topFolders = {"METADATA", "SAFE"};
  callback_failure_ = nullptr;
  restore_skipped_.clear();
  d_.SetBusyCursor(true);
  RecoverInterruptedRestore();
  // The comment and the whole directory are checked before the work folders
  // are touched: an archive refused here changes nothing.
  int rc = unzip_->Execute(5);
  RethrowCallbackFailure();
  if (rc == 0 && unzip_->ReturnCount() == 0) {
    d_.ProgressHide();
    Message("RestoreNoComment", {d_.Alias()});
    FinishRun(trError);
  }
  if (rc == 0) {
    rc = unzip_->Execute(6);
    RethrowCallbackFailure();
    if (rc == 0 &&
        QString::fromStdString(unzip_->ReturnString()).toUpper() != d_.Alias().toUpper()) {
      d_.ProgressHide();
      Message("RestoreNotOwned");
      FinishRun(trError);
    }
  }
  if (rc == 0) {
    rc = unzip_->Execute(kUnzipActionCheck);
    RethrowCallbackFailure();
    if (rc == UE_NOTOPS || rc == UE_UNSAFE) {
      d_.ProgressHide();
      if (rc == UE_NOTOPS) {
        Message("RestoreNoWorkFolders", {d_.Alias()});
      } else {
        Message("RestoreUnsafeEntry",
                       {QString::fromStdString(cmd.lpszReturnString)});
      }
      FinishRun(trError);
    }
  }
  if (rc != 0) {
    ReportRestoreCode(rc);
    d_.SetBusyCursor(false);
    return false;  // cancelled at the first disk: nothing was restored
  }
  CreateWorkFolders();
  folders_aside_ = true;
  if (!WriteMarker(RestoreMarker(DatabaseFolder()))) {
    PutBackWorkFolders();
    Message("CreateWorkFolders");
    FinishRun(trError);
  }
  // Whatever ends this early, the former folders come back: they are the
  // only good copy until every file of the archive is out and checked.
  try {
    d_.SetBusyCursor(false);
    cmd.lpszFileSpec = "*.*";
    cmd.lpszDestination = ToStd(DatabaseFolder());
    d_.ArchiveStart(QString::fromStdString(ToolName(d_.Tool())), d_.Alias());
    rc = unzip_->Execute(8);
    d_.ArchiveHide();
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
    d_.ArchiveHide();
    try {
      PutBackWorkFolders();
    } catch (const EAbort&) {
    }
    throw;
  }
}

void TToolRun::ArchiveStatus(bool whole, const std::string& item, int percent, bool& cancel) {
  try {
    d_.ArchiveStatus(whole, QString::fromStdString(item), percent, cancel);
  } catch (...) {
    // Never through the library: the run ends once it has returned.
    if (!callback_failure_) callback_failure_ = std::current_exception();
    cancel = true;
  }
}

void TToolRun::ZipMessageCallback(int msg, int, long long p1, long long p2, int& reply) {
  struct TBox {
    QString key;
    QStringList args;
    TMsgKind kind;
    TRunButtons buttons;
  };
  const auto ok_cancel = rbOkCancel;
  TBox box{"Unknown", {}, mkError, rbOk};
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
             rbOk};
      use_button = true;
      break;
    case 5:
      box = {"NotRemovable", {}, mkWarning, rbOk};
      use_button = true;
      break;
    case 9:
      box = {"NotOwned", {QString::number(p1)}, mkError, rbOk};
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
    const bool ok = d_.Message({"BackupProcess", {box.key}, box.args, box.kind, box.buttons});
    if (reply == 0) {
      reply = use_button ? (ok ? 1 : 2) : fixed;
    }
  } catch (...) {
    if (!callback_failure_) callback_failure_ = std::current_exception();
    reply = 2;
  }
  d_.LetEventsThrough();
}

}  // namespace toolrun
