// Backup and Restore of TFormVardex: the runs themselves live in the run
// layer (TToolRun::RunBackup, RunRestore); the window keeps the drive
// selection dialog and the archive's progress dialog, and answers the
// archive's disk requests in its message boxes.
#include "cpZelIni.h"
#include "cpZip.h"
#include "fmSelDrv.h"
#include "fmVdx.h"
#include "fmVdxRun.h"
#include "ZipVolumes.h"
#include "fmZipPrg.h"

namespace {

// The dialog offers the drive letters of drives.ini, when it has any.
void OfferDrives(TFormSelectDrive* dialog, const QString& drives_file) {
  QStringList letters;
  for (const auto& [letter, info] : ReadDriveTable(drives_file.toStdString())) {
    letters << QString(letter);
  }
  if (!letters.isEmpty()) dialog->SetDrives(letters);
}

}  // namespace

void TFormVardex::CreateBackupDialogs() {
  select_drive_ = new TFormSelectDrive(this);
  zip_progress_ = new TFormZipProgress(this);
  zip_progress_->ConfirmCancel = [this](const QString&) {
    return ShowMessageKey("Notifications", "Cancel", {DisplayName(CurrentTool)}, mkConfirmation,
                          QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
  };
  OfferDrives(select_drive_, DrivesFile());
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

QString TFormVardex::ArchiveName() const { return run_->ArchiveName(); }
QString TFormVardex::ArchivePassword() const { return run_->ArchivePassword(); }
TZipFile& TFormVardex::Zip() const { return run_->Zip(); }
TUnzipFile& TFormVardex::Unzip() const { return run_->Unzip(); }
void TFormVardex::RunBackup() { run_->RunBackup(); }
void TFormVardex::RunRestore() { run_->RunRestore(); }

void TFormVardex::ZipMessageCallback(int msg, int mb_type, long long p1, long long p2,
                                     int& reply) {
  run_->ZipMessageCallback(msg, mb_type, p1, p2, reply);
}

bool TFormVardex::ShowDriveDialog() {
  OfferDrives(select_drive_, DrivesFile());
  if (!Options.count(voConfirm)) return true;
  select_drive_->Prepare(QString::fromStdString(ToolName(CurrentTool)), CurrentAlias);
  return select_drive_->exec() == QDialog::Accepted;
}
