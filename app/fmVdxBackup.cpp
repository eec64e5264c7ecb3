// Backup and Restore of TFormVardex: the runs themselves live in the run
// layer (TToolRun::RunBackup, RunRestore); the window keeps the drive
// selection dialog and the archive's progress dialog, and answers the
// archive's disk requests in its message boxes.
#include "cpZelIni.h"
#include "fmSelDrv.h"
#include "fmVdx.h"
#include "fmVdxRun.h"
#include "ZipVolumes.h"
#include "fmZipPrg.h"

#include <QSaveFile>
#include <QTemporaryDir>

namespace {

// The letter a removable medium is written through: the run's drive table
// (MediumDrivesFile) maps it, and nothing else.
constexpr char kMediumLetter = 'M';

// The dialog offers the drive letters of drives.ini, when it has any, and
// the removable media mounted now (also when it is not shown: a medium
// chosen before stays chosen while it is there).
void OfferDrives(TFormSelectDrive* dialog, const QString& drives_file) {
  QStringList letters;
  for (const auto& [letter, info] : ReadDriveTable(drives_file.toStdString())) {
    letters << QString(letter);
  }
  const QList<TRemovableMedium> media = SystemRemovableMedia();
  if (letters.isEmpty() && !media.isEmpty()) letters << QStringLiteral("A");
  if (!letters.isEmpty()) dialog->SetDrives(letters, media);
}

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
  zip_progress_->ConfirmCancel = [this](const QString&) {
    return ShowMessageKey("Notifications", "Cancel", {run_->DisplayName(CurrentTool)},
                          mkConfirmation, QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
  };
  OfferDrives(select_drive_, DrivesFile());
}

QString TFormVardex::DrivesFile() const { return ZelProgramFolder() + "/drives.ini"; }

QChar TFormVardex::RunDrive() const {
  return select_drive_->Medium().isEmpty() ? select_drive_->Drive() : QChar(kMediumLetter);
}

QString TFormVardex::RunDrivesFile() const {
  const QString medium = select_drive_->Medium();
  return medium.isEmpty() ? DrivesFile() : MediumDrivesFile(medium);
}

void TFormVardex::SetBackupDrive(QChar letter) {
  DriveSelection.Drive = letter;
  if (select_drive_) select_drive_->SetDrive(letter);
}

void TFormVardex::SetBackupComplement(bool on) {
  DriveSelection.Complement = on;
  if (select_drive_) select_drive_->SetComplement(on);
}

bool TFormVardex::ShowDriveDialog() {
  OfferDrives(select_drive_, DrivesFile());
  if (!Options.count(voConfirm)) return true;
  select_drive_->Prepare(QString::fromStdString(ToolName(CurrentTool)), CurrentAlias);
  return select_drive_->exec() == QDialog::Accepted;
}
