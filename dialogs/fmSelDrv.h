// TFormSelectDrive: the dialog in which Backup and Restore ask for the
// removable drive and whether the complement runs (Copy before a backup,
// Retrieve after a restore). It offers the letters of drives.ini and the
// removable media the system has mounted. Created once and reused, it keeps
// its drive and check box between runs, whoever set them (the user or
// SETDRIVE).
#pragma once

#include <QComboBox>

#include "cpZelCtrls.h"
#include "fmSelDrvMedia.h"

class QFrame;
class TZelLanguage;

class TFormSelectDrive : public TZelDialog {
  Q_OBJECT

 public:
  explicit TFormSelectDrive(QWidget* parent = nullptr);

  // The letters of the drive table, then the removable media, each shown
  // with its label and free space; the selection stays when its letter or
  // medium is still offered, else the first entry is selected.
  void SetDrives(const QStringList& letters, const QList<TRemovableMedium>& media = {});
  // The selected letter; none when a medium is selected.
  QChar Drive() const;
  // The mount point of the selected medium; empty when a letter is selected.
  QString Medium() const;
  // Selects `letter` (any case); false when the list does not offer it.
  bool SetDrive(QChar letter);
  bool Complement() const { return check_complement_->isChecked(); }
  void SetComplement(bool on) { check_complement_->setChecked(on); }

  // Captions for the run about to show the dialog: the tool's key in
  // "ToolNames" ("BACKUP", "RESTORE") and the alias. Raises EZelSetup when a
  // key is missing from the language file.
  void Prepare(const QString& tool_key, const QString& alias);
  TZelLanguage* Language() const { return language_; }
  void SetLanguageFile(const QString& file);

  void ButtonOkClick() { accept(); }
  void ButtonCancelClick() { reject(); }

 protected:
  void showEvent(QShowEvent* e) override;

 private:
  QComboBox* combo_drive_;
  TZelLabel* label_drive_;
  TZelCheckBox* check_complement_;
  TZelMemo* memo_attention_;
  TZelLanguage* language_ = nullptr;
};
