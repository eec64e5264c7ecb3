// The backup progress dialog; see fmZipPrg.h.
#include "fmZipPrg.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QFrame>
#include <QVBoxLayout>

#include "clFormat.h"
#include "cpLang.h"
#include "fmPrgrss.h"
#include "tlString.h"

namespace {

// A bar 0..100 in a sunken panel.
TGauge* SunkenGauge(const QString& name, QWidget* parent, QLayout* layout) {
  auto* panel = new QFrame(parent);
  panel->setFrameShape(QFrame::Panel);
  panel->setFrameShadow(QFrame::Sunken);
  auto* inner = new QVBoxLayout(panel);
  inner->setContentsMargins(2, 2, 2, 2);
  auto* gauge = new TGauge(panel);
  gauge->setObjectName(name);
  gauge->SetRange(0, 100);
  gauge->setFixedHeight(18);
  inner->addWidget(gauge);
  layout->addWidget(panel);
  return gauge;
}

std::string Std(const QString& s) { return s.toStdString(); }

}  // namespace

TFormZipProgress::TFormZipProgress(QWidget* parent) : QWidget(parent, Qt::Dialog) {
  setObjectName("FormZipProgress");
  setWindowTitle("FormZipProgress");
  setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowCloseButtonHint);
  auto* layout = new QVBoxLayout(this);
  label_current_ = new TZelLabel("LabelCurrent", QString(), this);
  layout->addWidget(label_current_);
  gauge_current_ = SunkenGauge("GaugeCurrent", this, layout);
  label_database_ = new TZelLabel("LabelDatabase", QString(), this);
  layout->addWidget(label_database_);
  gauge_database_ = SunkenGauge("GaugeDatabase", this, layout);
  button_cancel_ = new TZelButton("ButtonCancel", "Cancel", this);
  layout->addWidget(button_cancel_, 0, Qt::AlignHCenter);
  connect(button_cancel_, &QPushButton::clicked, this, &TFormZipProgress::ButtonCancelClick);
  setFixedWidth(400);

  language_ = new TZelLanguage(this);
  language_->AddSection("LangStandardButtons", "StandardButtons", stForm, "Caption");
  language_->AddSection("LangToolNames", "ToolNames", stCustom);
  language_->AddSection("LangBackupProcess", "BackupProcess", stCustom);
  language_->AddSection("LangNotifications", "Notifications", stCustom);
  language_->Loaded();
}

void TFormZipProgress::SetLanguageFile(const QString& file) { language_->SetFileName(file); }

QString TFormZipProgress::Text(const QString& section, const QString& key) const {
  TZelLangSection* s = language_->Section(section);
  return s ? s->Values(key) : key;  // Values raises for a missing key
}

void TFormZipProgress::Start(const QString& tool_key, const QString& alias) {
  tool_key_ = tool_key;
  setWindowTitle(Text("ToolNames", tool_key) + ": " + alias);
  label_current_->setText(Text("BackupProcess", "Wait"));
  label_database_->clear();
  gauge_current_->SetProgress(0);
  gauge_database_->SetProgress(0);
  cancel_requested_ = false;
  button_cancel_->setEnabled(false);
  // Centred over the main window, as a dialog of it.
  if (const QWidget* owner = parentWidget() ? parentWidget()->window() : nullptr) {
    adjustSize();
    move(owner->frameGeometry().center() - QPoint(width() / 2, height() / 2));
  }
  show();
}

void TFormZipProgress::MajorStatus(const QString& item, int percent, bool& cancel) {
  if (item.contains("Please wait.")) {
    label_current_->setText(Text("BackupProcess", "Init"));
    button_cancel_->setEnabled(false);
  } else if (!item.isEmpty()) {
    // ReplaceAll makes a single pass when a translation holds the word it
    // replaces, so "Item" translated as "Items" cannot loop.
    std::string text = ReplaceAll(Std(item), "Item", Std(Text("BackupProcess", "DbItem")));
    text = ReplaceAll(text, "of", Std(Text("BackupProcess", "DbOf")));
    label_database_->setText(QString::fromStdString(text));
    button_cancel_->setEnabled(true);
  } else {
    label_database_->clear();
    button_cancel_->setEnabled(false);
  }
  gauge_database_->SetProgress(percent);
  QCoreApplication::processEvents();
  cancel = cancel_requested_;
}

void TFormZipProgress::MinorStatus(const QString& item, int percent, bool& cancel) {
  if (!item.isEmpty()) {
    QString path = item;
    path.replace('/', '\\');
    const QString name = path.mid(path.lastIndexOf('\\') + 1);
    TZelLangSection* s = language_->Section("BackupProcess");
    label_current_->setText(s ? s->FormatText({"Current"}, {name}) : name);
  } else {
    label_current_->clear();
  }
  gauge_current_->SetProgress(percent);
  QCoreApplication::processEvents();
  cancel = cancel_requested_;
}

void TFormZipProgress::ButtonCancelClick() {
  TZelLangSection* notes = language_->Section("Notifications");
  const QString name = Text("ToolNames", tool_key_.isEmpty() ? "BACKUP" : tool_key_);
  const QString text = notes ? notes->FormatText({"Cancel"}, {name}) : name;
  if (ConfirmCancel) {
    cancel_requested_ = ConfirmCancel(text);
  } else {
    cancel_requested_ =
        language_->MessageDlg(text, mtConfirmation, TMsgDlgButtons{mbYes, mbNo}) == mrYes;
  }
}

void TFormZipProgress::closeEvent(QCloseEvent* e) {
  // The close box asks as Cancel does; No keeps the window and the work.
  ButtonCancelClick();
  if (cancel_requested_) {
    e->accept();
  } else {
    e->ignore();
  }
}
