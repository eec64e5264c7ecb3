// The password of TFormVardex: the dialog from the Database menu, applying a
// password to the engine and the table tools, and the engine's request for
// one while a run opens a protected table, which a run answers only once.
#include "Session.h"
#include "cpTbTool.h"
#include "fmDbPwd.h"
#include "fmPrgrss.h"
#include "fmVdx.h"

void TFormVardex::MenuPasswordClick() {
  if (PasswordHandler) {
    PasswordHandler();
    return;
  }
  if (password_dialog_->exec() == QDialog::Accepted) {
    ApplyPassword(password_dialog_->PasswordText());
  }
}

void TFormVardex::ApplyPassword(const QString& password) {
  engine::TSession& session = engine::TSession::Default();
  session.RemoveAllPasswords();
  if (!password.isEmpty()) session.AddPassword(password.toStdString());
  table_tools_->Password = password.toStdString();
}

void TFormVardex::SetPassword(const QString& password) {
  ApplyPassword(password);
  password_dialog_->SetTexts(password);
}

QString TFormVardex::Password() const { return QString::fromStdString(table_tools_->Password); }

void TFormVardex::AnswerPasswordRequest(const QString&, bool& retry) {
  retry = AskPassword;
  if (AskPassword) {
    FormProgress()->hide();
    retry = ShowMessageKeys("Notifications", {"Protected", "NewPassword"}, {}, mkConfirmation,
                            QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
    AskPassword = false;
  }
  if (retry) {
    MenuPasswordClick();
    retry = !table_tools_->Password.empty();
  }
  if (retry) {
    FormProgress()->show();
  } else {
    // The engine's open fails with this; the run ends with trPassword once
    // the failure has left the engine, so no engine state is cut short.
    password_refused_ = ToolRunning;
  }
}
