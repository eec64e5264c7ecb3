// TFormDbPasswd: the dialog in which the user types the password of the
// selected database's protected tables twice, or clears it. Created once and
// reused, so it shows the last password given; the main window applies what
// it returns.
#pragma once

#include <QLineEdit>

#include "ZelControls.h"

class TZelLanguage;

class TFormDbPasswd : public TZelDialog {
  Q_OBJECT

 public:
  explicit TFormDbPasswd(QWidget* parent = nullptr);

  QString PasswordText() const { return edit_password_->text(); }
  // Both edits, as the macro command that sets a password writes them.
  void SetTexts(const QString& password);
  TZelLanguage* Language() const { return language_; }

  void FormCreate();
  void ButtonOkClick();
  void ButtonCancelClick();
  void ButtonClearClick();

 protected:
  void showEvent(QShowEvent* e) override;
  void reject() override;

 private:
  void FormShow();

  QLineEdit* edit_password_;
  QLineEdit* edit_confirm_;
  TZelMemo* memo_attention_;
  TZelLanguage* language_;
  QString shown_password_;  // the edits when the dialog was shown, for Cancel
  QString shown_confirm_;
};
