// TFormSelectDrive: the dialog in which Backup and Restore ask for the
// removable drive and whether the complement runs (Copy before a backup,
// Retrieve after a restore). Created once and reused, it keeps its drive
// and check box between runs, whoever set them (the user or SETDRIVE).
#pragma once

#include <QComboBox>

#include "cpZelCtrls.h"

class QFrame;
class TZelLanguage;

class TFormSelectDrive : public TZelDialog {
  Q_OBJECT

 public:
  explicit TFormSelectDrive(QWidget* parent = nullptr);

  // The letters of the drive table; the selection stays when its letter is
  // still offered, else the first letter is selected.
  void SetDrives(const QStringList& letters);
  QChar Drive() const;
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
  TZelLanguage* language_;
};
