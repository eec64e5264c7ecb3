#include "fmDbPwd.h"

#include <QGridLayout>
#include <QMessageBox>

#include "cpLang.h"

namespace {

QLineEdit* PasswordEdit(const QString& name, QWidget* parent) {
  auto* edit = new QLineEdit(parent);
  edit->setObjectName(name);
  edit->setEchoMode(QLineEdit::Password);
  return edit;
}

}  // namespace

TFormDbPasswd::TFormDbPasswd(QWidget* parent) : TZelDialog("FormDbPasswd", parent) {
  setWindowTitle("Database Password");
  setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint);
  setModal(true);
  auto* layout = new QGridLayout(this);
  edit_password_ = PasswordEdit("EditPassword", this);
  edit_confirm_ = PasswordEdit("EditConfirm", this);
  auto* attention = new TZelLabel("LabelAttention", "Pay Attention", this);
  QFont bold = attention->font();
  bold.setBold(true);
  attention->setFont(bold);
  memo_attention_ = new TZelMemo("MemoAttention", this);
  memo_attention_->setReadOnly(true);
  memo_attention_->setFixedHeight(90);
  auto* clear = new TZelButton("ButtonClear", "Clear (do not apply password)", this);
  auto* ok = new TZelButton("ButtonOk", "OK", this);
  auto* cancel = new TZelButton("ButtonCancel", "Cancel", this);
  ok->setDefault(true);
  layout->addWidget(new TZelLabel("LabelPassword", "Type the password", this), 0, 0, 1, 2);
  layout->addWidget(edit_password_, 1, 0, 1, 2);
  layout->addWidget(new TZelLabel("LabelConfirm", "Confirm the password", this), 2, 0, 1, 2);
  layout->addWidget(edit_confirm_, 3, 0, 1, 2);
  layout->addWidget(clear, 4, 0, 1, 2);
  layout->addWidget(attention, 5, 0, 1, 2);
  layout->addWidget(memo_attention_, 6, 0, 1, 2);
  layout->addWidget(ok, 7, 0);
  layout->addWidget(cancel, 7, 1);
  connect(ok, &QPushButton::clicked, this, &TFormDbPasswd::ButtonOkClick);
  connect(cancel, &QPushButton::clicked, this, &TFormDbPasswd::ButtonCancelClick);
  connect(clear, &QPushButton::clicked, this, &TFormDbPasswd::ButtonClearClick);
  setFixedWidth(340);

  language_ = new TZelLanguage(this);
  language_->AddSection("LangPwdCaptions", "PasswordDialogCaptions", stForm, "Caption");
  language_->AddSection("LangPwdMessages", "PasswordDialogMessages", stCustom);
  language_->AddSection("LangStdButtons", "StandardButtons", stForm, "Caption");
  language_->Loaded();
  FormCreate();
}

void TFormDbPasswd::FormCreate() {
  TZelLangSection* messages = language_->Section("PasswordDialogMessages");
  if (messages && messages->HasEntry("PasswordNote")) {
    memo_attention_->setPlainText(messages->Values("PasswordNote"));
  }
}

void TFormDbPasswd::SetTexts(const QString& password) {
  edit_password_->setText(password);
  edit_confirm_->setText(password);
}

void TFormDbPasswd::showEvent(QShowEvent* e) {
  TZelDialog::showEvent(e);
  FormShow();
}

void TFormDbPasswd::FormShow() {
  edit_password_->setFocus();
  shown_password_ = edit_password_->text();
  shown_confirm_ = edit_confirm_->text();
}

void TFormDbPasswd::ButtonOkClick() {
  // Exact comparison: passwords are case-sensitive.
  if (edit_password_->text() != edit_confirm_->text()) {
    TZelLangSection* messages = language_->Section("PasswordDialogMessages");
    if (messages) messages->ShowWarning({"DoNotMatch"});
    edit_password_->setFocus();
    return;
  }
  accept();
}

void TFormDbPasswd::ButtonCancelClick() { reject(); }

void TFormDbPasswd::reject() {
  // Escape and the window's close button count as Cancel too.
  edit_password_->setText(shown_password_);
  edit_confirm_->setText(shown_confirm_);
  TZelDialog::reject();
}

void TFormDbPasswd::ButtonClearClick() {
  edit_password_->clear();
  edit_confirm_->clear();
}
