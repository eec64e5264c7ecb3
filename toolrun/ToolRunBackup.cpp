// Backup and Restore in the run layer: METADATA and SAFE onto the volumes
// of a drive through the compression library, and back, with the Copy and
// Retrieve steps as their complements.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

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

// The marker and its name in the folder, both durable.
bool WriteMarker(const QString& path) {
  QFile f(path);
  if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) return false;
  f.write("METADA$$ SA$$\n");
  if (!f.flush() || ::fsync(f.handle()) != 0) return false;
  const int dir = ::open(QFile::encodeName(QFileInfo(path).absolutePath()).constData(),
                         O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir < 0) return false;
  const bool synced = ::fsync(dir) == 0 || errno == EINVAL;
  ::close(dir);
  return synced;
}

// The restore's message for a failure of the library.
QString RestoreKey(TUnzipResult result) {
  switch (result) {
    case TUnzipResult::Corrupted:
      return "RestoreCorrupted";
    case TUnzipResult::OutOfMemory:
      return "RestoreOutOfMemory";
    case TUnzipResult::CannotRead:
      return "RestoreCannotRead";
    default:
      return "RestoreOtherError";
  }
}

// The backup's message for a failure of the library; empty: none.
QString BackupKey(TZipResult result) {
  switch (result) {
    case TZipResult::CannotCreate:
      return "BackupCannotCreate";
    case TZipResult::OutOfMemory:
      return "BackupOutOfMemory";
    case TZipResult::Cancelled:
    case TZipResult::DiskCancelled:
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
  TZipSet set;
  set.archive = ToStd(ArchiveName());
  set.drivesFile = ToStd(d_.DrivesFile());
  set.comment = ToStd(d_.Alias());
  set.password = ToStd(ArchivePassword());
  // The tables' files of the two work folders, named relative to D: the
  // live tables are never named, so nothing in D needs to be hidden.
  for (const QString& table : ListTables(DatabaseFolder("METADATA") + '/')) {
    QString name = table.toUpper();
    name.remove(name.indexOf(".DB"), name.contains(".DB") ? 3 : 0);
    for (const char* sub : {"METADATA", "SAFE"}) {
      set.patterns.push_back(ToStd(d + '/' + sub + '/' + name.left(7) + "*.*"));
    }
  }
  set.baseFolder = ToStd(d);
  set.protectedFolders = KnownDatabaseFolders();
  callback_failure_ = nullptr;
  d_.ArchiveStart(QString::fromStdString(ToolName(d_.Tool())), d_.Alias());
  TZipResult rc = TZipResult::Ok;
  try {
    rc = zip_->WriteSet(set);
  } catch (...) {
    d_.ArchiveHide();
    throw;
  }
  d_.ArchiveHide();
  RethrowCallbackFailure();
  if (rc == TZipResult::Ok) return;
  d_.ProgressHide();
  if (d_.ArchiveCancelled() || rc == TZipResult::DiskCancelled) FinishRun(trCancel);
  if (rc == TZipResult::FolderRefused) {
    // A folder the program may not write volumes to: say which and why.
    const auto drives = ReadDriveTable(ToStd(d_.DrivesFile()));
    const auto drive = drives.find(d_.Drive().toUpper().toLatin1());
    Message("BackupVolumeRefused",
            {drive == drives.end() ? ArchiveName() : QString::fromStdString(drive->second.folder),
             d_.Format("Notifications", RefusalKey(zip_->RefusalReason()),
                       {QString::fromStdString(zip_->RefusalPath())})});
    FinishRun(trError);
  }
  if (rc == TZipResult::CannotReadFile) {
    Message("BackupCannotReadFile", {QString::fromStdString(zip_->FailedFile()),
                                     QString::number(zip_->ErrorCode())});
    FinishRun(trError);
  }
  const QString key = BackupKey(rc);
  if (!key.isEmpty()) Message(key, {QString::number(zip_->ErrorCode())});
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

void TToolRun::ReportRestoreCode(TUnzipResult result) {
  d_.ProgressHide();
  if (result == TUnzipResult::Cancelled) return;  // the caller answers failure
  Message(RestoreKey(result), {QString::number(unzip_->ErrorCode())});
  FinishRun(trError);
}

bool TToolRun::Extract() {
  TUnzipSet set;
  set.archive = ToStd(ArchiveName());
  set.drivesFile = ToStd(d_.DrivesFile());
  set.password = ToStd(ArchivePassword());
  // A restore writes the two work folders and nothing else.
  set.topFolders = {"METADATA", "SAFE"};
  callback_failure_ = nullptr;
  restore_skipped_.clear();
  d_.SetBusyCursor(true);
  RecoverInterruptedRestore();
  // The comment and the whole directory are checked before the work folders
  // are touched: an archive refused here changes nothing.
  std::string comment;
  TUnzipResult rc = unzip_->ReadComment(set, comment);
  RethrowCallbackFailure();
  if (rc == TUnzipResult::Ok && comment.empty()) {
    d_.ProgressHide();
    Message("RestoreNoComment", {d_.Alias()});
    FinishRun(trError);
  }
  if (rc == TUnzipResult::Ok && ToQt(comment).toUpper() != d_.Alias().toUpper()) {
    d_.ProgressHide();
    Message("RestoreNotOwned");
    FinishRun(trError);
  }
  if (rc == TUnzipResult::Ok) {
    rc = unzip_->Check(set);
    RethrowCallbackFailure();
    if (rc == TUnzipResult::NoTopFolders || rc == TUnzipResult::UnsafeEntry) {
      d_.ProgressHide();
      if (rc == TUnzipResult::NoTopFolders) {
        Message("RestoreNoWorkFolders", {d_.Alias()});
      } else {
        Message("RestoreUnsafeEntry", {ToQt(unzip_->UnsafeEntry())});
      }
      FinishRun(trError);
    }
  }
  if (rc != TUnzipResult::Ok) {
    ReportRestoreCode(rc);
    d_.SetBusyCursor(false);
    return false;  // cancelled at the first disk: nothing was restored
  }
  // The marker stands before the first folder is set aside (and after any
  // left from an earlier run are gone), so a run that stops at any point
  // between has the next one put back exactly what was set aside.
  RemoveWorkFolders();
  if (!WriteMarker(RestoreMarker(DatabaseFolder()))) {
    QFile::remove(RestoreMarker(DatabaseFolder()));
    Message("CreateWorkFolders");
    FinishRun(trError);
  }
  try {
    CreateWorkFolders();
  } catch (...) {
    RecoverInterruptedRestore();
    throw;
  }
  folders_aside_ = true;
  // Whatever ends this early, the former folders come back: they are the
  // only good copy until every file of the archive is out and checked.
  try {
    d_.SetBusyCursor(false);
    d_.ArchiveStart(QString::fromStdString(ToolName(d_.Tool())), d_.Alias());
    rc = unzip_->Extract(set, ToStd(DatabaseFolder()));
    d_.ArchiveHide();
    RethrowCallbackFailure();
    if (rc == TUnzipResult::Ok) {
      // Every file is out, checked and flushed: from here the set-aside
      // folders are no longer the good copy.
      folders_aside_ = false;
      QFile::remove(RestoreMarker(DatabaseFolder()));
      RemoveWorkFolders();
      for (const std::string& name : unzip_->Skipped()) restore_skipped_ << ToQt(name);
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
  int fixed = kReplyOk;  // the reply of a message whose answer does not count
  bool use_button = false;
  switch (msg) {
    case kMsgDisk:
      box = p1 == -1   ? TBox{"FirstDisk", {}, mkConfirmation, ok_cancel}
            : p2 == -1 ? TBox{"LastDisk", {}, mkConfirmation, ok_cancel}
                       : TBox{"NextDisk", {QString::number(p1)}, mkConfirmation, ok_cancel};
      use_button = true;
      break;
    case kMsgDiskOfDisk:
      box = {"DiskOfDisk", {QString::number(p1), QString::number(p2)}, mkConfirmation, ok_cancel};
      use_button = true;
      break;
    case kMsgOpenError:
    case kMsgReadError:
    case kMsgWriteError:
      box = {msg == kMsgOpenError   ? "OpenError"
             : msg == kMsgReadError ? "ReadError"
                                    : "WriteError",
             {},
             mkError,
             rbOk};
      use_button = true;
      break;
    case kMsgNotRemovable:
      box = {"NotRemovable", {}, mkWarning, rbOk};
      use_button = true;
      break;
    case kMsgNotOwned:
      box = {"NotOwned", {QString::number(p1)}, mkError, rbOk};
      fixed = kReplyCancel;
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
    case kMsgBadFirstDisk:
      box = {"BadFirstDisk", {}, mkConfirmation, ok_cancel};
      use_button = true;
      break;
    case kMsgNote:
      if (p1 == kNoteGoOn) {
        if (reply == 0) reply = kReplyOk;
        return;
      }
      break;
    case kMsgQuiet:
      return;
    default:
      break;
  }
  try {
    const bool ok = d_.Message({"BackupProcess", {box.key}, box.args, box.kind, box.buttons});
    if (reply == 0) {
      reply = use_button ? (ok ? kReplyOk : kReplyCancel) : fixed;
    }
  } catch (...) {
    if (!callback_failure_) callback_failure_ = std::current_exception();
    reply = kReplyCancel;
  }
  d_.LetEventsThrough();
}

}  // namespace toolrun
