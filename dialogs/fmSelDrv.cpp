// The drive selection dialog; see fmSelDrv.h.
#include "fmSelDrv.h"

#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>

#include "cpLang.h"

TFormSelectDrive::TFormSelectDrive(QWidget* parent) : TZelDialog("FormSelectDrive", parent) {
  setWindowTitle("Select Drive");
  setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint);
  setModal(true);
  auto* bevel = new QFrame(this);
  bevel->setObjectName("BevelFrame");
  bevel->setFrameShape(QFrame::Box);
  bevel->setFrameShadow(QFrame::Sunken);
  auto* inner = new QGridLayout(bevel);
  label_drive_ = new TZelLabel("LabelDrive", "&Target Drive:", bevel);
  combo_drive_ = new QComboBox(bevel);
  combo_drive_->setObjectName("ComboDrive");
  label_drive_->setBuddy(combo_drive_);
  check_complement_ = new TZelCheckBox("CheckComplement", "Execute the Copy tool.", bevel);
  check_complement_->setChecked(true);
  inner->addWidget(label_drive_, 0, 0);
  inner->addWidget(combo_drive_, 0, 1);
  inner->addWidget(check_complement_, 1, 0, 1, 2);

  auto* attention = new TZelLabel("LabelAttention", "Pay Attention", this);
  QFont bold = attention->font();
  bold.setBold(true);
  attention->setFont(bold);
  memo_attention_ = new TZelMemo("MemoAttention", this);
  memo_attention_->setReadOnly(true);
  memo_attention_->setFocusPolicy(Qt::NoFocus);
  memo_attention_->setPlainText(
      "All current files and directories in \nthe selected drive will be \ndeleted.");
  memo_attention_->setFixedHeight(64);
  auto* ok = new TZelButton("ButtonOk", "OK", this);
  auto* cancel = new TZelButton("ButtonCancel", "Cancel", this);
  ok->setDefault(true);
  connect(ok, &QPushButton::clicked, this, &TFormSelectDrive::ButtonOkClick);
  connect(cancel, &QPushButton::clicked, this, &TFormSelectDrive::ButtonCancelClick);

  auto* layout = new QGridLayout(this);
  layout->addWidget(bevel, 0, 0, 3, 1);
  layout->addWidget(ok, 0, 1);
  layout->addWidget(cancel, 1, 1);
  layout->addWidget(attention, 3, 0, 1, 2);
  layout->addWidget(memo_attention_, 4, 0, 1, 2);
  setFixedWidth(360);
  SetDrives({"A"});

  language_ = new TZelLanguage(this);
  language_->AddSection("LangStandardButtons", "StandardButtons", stForm, "Caption");
  language_->AddSection("LangSelectDriveCaptions", "SelectDriveDialogCaptions", stForm, "Caption");
  language_->AddSection("LangSelectDriveMessages", "SelectDriveDialogMessages", stCustom);
  language_->AddSection("LangToolNames", "ToolNames", stCustom);
  language_->Loaded();
}

void TFormSelectDrive::SetLanguageFile(const QString& file) { language_->SetFileName(file); }

void TFormSelectDrive::SetDrives(const QStringList& letters, const QList<TRemovableMedium>& media) {
  // An entry's data is its letter or the medium's mount point.
  const QString current = combo_drive_->currentData().toString();
  combo_drive_->clear();
  for (const QString& letter : letters) {
    const QString upper = letter.left(1).toUpper();
    combo_drive_->addItem(upper, upper);
  }
  TZelLangSection* texts = language_ ? language_->Section("SelectDriveDialogMessages") : nullptr;
  for (const TRemovableMedium& medium : media) {
    const QString free =
        medium.free < 0 ? QStringLiteral("?")
                        : locale().formattedDataSize(medium.free, 1, QLocale::DataSizeSIFormat);
    const QString text = texts && texts->HasEntry("Medium")
                             ? texts->FormatText({"Medium"}, {medium.label, free})
                             : medium.label + " (" + medium.mount_point + ")";
    combo_drive_->addItem(text, medium.mount_point);
    combo_drive_->setItemData(combo_drive_->count() - 1, medium.mount_point, Qt::ToolTipRole);
  }
  const int index = current.isEmpty() ? -1 : combo_drive_->findData(current);
  combo_drive_->setCurrentIndex(std::max(index, 0));
}

QChar TFormSelectDrive::Drive() const {
  const QString data = combo_drive_->currentData().toString();
  return data.size() == 1 ? data[0] : QChar();
}

QString TFormSelectDrive::Medium() const {
  const QString data = combo_drive_->currentData().toString();
  return data.size() > 1 ? data : QString();
}

bool TFormSelectDrive::SetDrive(QChar letter) {
  const int index = combo_drive_->findData(QString(letter.toUpper()));
  if (index < 0) return false;
  combo_drive_->setCurrentIndex(index);
  return true;
}

void TFormSelectDrive::Prepare(const QString& tool_key, const QString& alias) {
  TZelLangSection* names = language_->Section("ToolNames");
  TZelLangSection* texts = language_->Section("SelectDriveDialogMessages");
  const bool restore = tool_key.compare("RESTORE", Qt::CaseInsensitive) == 0;
  // Values raises for a missing key: the caller's run ends with its error.
  const QString caption = names ? names->Values(tool_key) : tool_key;
  setWindowTitle(caption + ": " + alias);
  if (!texts) return;
  label_drive_->setText(texts->Values(restore ? "SourceDrive" : "TargetDrive"));
  check_complement_->setText(texts->Values(restore ? "ExecuteRetrieve" : "ExecuteCopy"));
  memo_attention_->setPlainText(texts->Values(restore ? "RestoreNote" : "BackupNote"));
}

void TFormSelectDrive::showEvent(QShowEvent* e) {
  TZelDialog::showEvent(e);
  combo_drive_->setFocus();
}
