#include "cpLang.h"

#include <QFileInfo>
#include <QPushButton>
#include <QRegularExpression>
#include <memory>

#include "clFormat.h"

namespace {

const QString kMessageDialog = QStringLiteral("MessageDialog");

struct ButtonInfo {
  const char* name;     // object name, and the caption key where it has one
  const char* caption;  // the caption without a language file
  int code;
  bool has_key;
};

// In the order of the set.
const ButtonInfo kButtons[] = {
    {"Yes", "&Yes", mrYes, true},
    {"No", "&No", mrNo, true},
    {"OK", "OK", mrOk, true},
    {"Cancel", "Cancel", mrCancel, true},
    {"Abort", "&Abort", mrAbort, false},
    {"Retry", "&Retry", mrRetry, false},
    {"Ignore", "&Ignore", mrIgnore, false},
    {"All", "&All", mrAll, false},
    {"NoToAll", "N&o to All", mrNoToAll, false},
    {"YesToAll", "Yes to &All", mrYesToAll, false},
    {"Help", "&Help", mrNone, true},
};

struct KindInfo {
  const char* key;
  const char* caption;
  QMessageBox::Icon icon;
};

const KindInfo kKinds[] = {
    {"Warning", "Warning", QMessageBox::Warning},
    {"Error", "Error", QMessageBox::Critical},
    {"Info", "Information", QMessageBox::Information},
    {"Confirm", "Confirm", QMessageBox::Question},
};

// Escape closes the box as Cancel would, else as No, else as OK.
QAbstractButton* EscapeButton(QMessageBox* box) {
  for (const char* name : {"Cancel", "No", "OK"}) {
    if (auto* b = box->findChild<QPushButton*>(QLatin1String(name))) return b;
  }
  return nullptr;
}

QPushButton* DefaultButton(QMessageBox* box) {
  for (const char* name : {"OK", "Yes"}) {
    if (auto* b = box->findChild<QPushButton*>(QLatin1String(name))) return b;
  }
  const auto buttons = box->buttons();
  return buttons.isEmpty() ? nullptr : qobject_cast<QPushButton*>(buttons.first());
}

}  // namespace

TZelLanguage::TZelLanguage(QObject* owner) : TZelIni(owner, &staticMetaObject) {
  InternalNamesRef() << kMessageDialog;
}

const QMetaObject* TZelLanguage::ItemClass() const { return &TZelLangSection::staticMetaObject; }

QStringList LocaleLanguages() {
  QString locale;
  for (const char* variable : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    locale = qEnvironmentVariable(variable);
    if (!locale.isEmpty()) break;
  }
  // language[_territory][.codeset][@modifier]
  static const QRegularExpression codeset_or_modifier(QStringLiteral("[.@]"));
  const qsizetype end = locale.indexOf(codeset_or_modifier);
  if (end >= 0) locale.truncate(end);
  if (locale.isEmpty() || locale == QLatin1String("C") || locale == QLatin1String("POSIX") ||
      locale.contains(u'/'))
    return {};
  QStringList names{locale};
  const qsizetype territory = locale.indexOf(u'_');
  if (territory > 0) names << locale.left(territory);
  return names;
}

QString TZelLanguage::DefaultFileName() const {
  const QString folder = ZelProgramFolder();
  const QString built_in = QString::fromLatin1(kBuiltInLanguageFile);
  for (const QString& language : LocaleLanguages()) {
    const QString name = QStringLiteral("Language.%1.ini").arg(language);
    for (const QString& candidate : {folder + u'/' + name, QStringLiteral(":/vardex/") + name}) {
      if (QFileInfo::exists(candidate)) return candidate;
    }
  }
  // A program folder without a language file of its own (an installed
  // program run with VARDEX_HOME) speaks the English built into the program.
  const QString own = folder + QStringLiteral("/Language.ini");
  return QFileInfo::exists(own) ? own : built_in;
}

TZelLangSection* TZelLanguage::AddSection(const QString& component_name,
                                          const QString& section_name, TSectionType type,
                                          const QString& property_name, QWidget* target) {
  auto* section = new TZelLangSection(parent());
  try {
    SetComponentName(section, component_name);
    section->SetContainer(this);
    // The section name comes last: until then the section reads nothing, so
    // no half-configured section writes texts into the window.
    section->SetSectionType(type);
    if (type == stMenu && target) section->SetMenu(target);
    if (type == stGroup && target) section->SetGroup(target);
    if (type != stCustom && !property_name.isEmpty()) section->SetPropertyName(property_name);
    section->SetItemName(section_name);
  } catch (...) {
    delete section;
    throw;
  }
  // A complete section stays even when its texts do not fit their targets;
  // that failure is the caller's to report.
  section->Refresh();
  return section;
}

TZelLangSection* TZelLanguage::Section(const QString& section_name) const {
  return qobject_cast<TZelLangSection*>(FindSection(section_name));
}

QMessageBox* TZelLanguage::CreateMessageDlg(const QString& text, int kind, TMsgDlgButtons buttons) {
  const KindInfo& info = kKinds[std::clamp(kind, 0, 3)];
  auto box = std::make_unique<QMessageBox>(qobject_cast<QWidget*>(parent()));
  box->setIcon(info.icon);
  box->setWindowTitle(QString::fromLatin1(info.caption));
  box->setTextFormat(Qt::PlainText);  // translations are shown as written
  box->setText(QString(text).replace(u'\r', u'\n'));
  for (int b = mbYes; b <= mbHelp; ++b) {
    if (!buttons.Has(static_cast<TMsgDlgBtn>(b))) continue;
    // One role for all keeps the buttons in the order of the set.
    QPushButton* button =
        box->addButton(QString::fromLatin1(kButtons[b].caption), QMessageBox::ActionRole);
    button->setObjectName(QLatin1String(kButtons[b].name));
    button->setProperty("ModalResult", kButtons[b].code);
  }
  box->setEscapeButton(EscapeButton(box.get()));
  box->setDefaultButton(DefaultButton(box.get()));

  bool created = false;
  TZelContainerItem* item = nullptr;
  SetAllowInternal(true);
  try {
    item = FindOrCreateItem(kMessageDialog, created);
  } catch (...) {
    SetAllowInternal(false);
    throw;
  }
  SetAllowInternal(false);
  std::unique_ptr<TZelContainerItem> temporary(created ? item : nullptr);
  auto* section = static_cast<TZelLangSection*>(item);
  section->Refresh();
  if (section->HasEntry(QLatin1String(info.key)))
    box->setWindowTitle(section->Values(QLatin1String(info.key)));
  for (int b = mbYes; b <= mbHelp; ++b) {
    const QString name = QLatin1String(kButtons[b].name);
    if (!buttons.Has(static_cast<TMsgDlgBtn>(b)) || !kButtons[b].has_key) continue;
    if (section->HasEntry(name)) box->findChild<QPushButton*>(name)->setText(section->Values(name));
  }
  return box.release();
}

int TZelLanguage::MessageDlg(const QString& text, int kind, TMsgDlgButtons buttons) {
  if (kind < mtWarning || kind > mtConfirmation) return mrCancel;
  std::unique_ptr<QMessageBox> box(CreateMessageDlg(text, kind, buttons));
  box->exec();
  QAbstractButton* clicked = box->clickedButton();
  return clicked ? clicked->property("ModalResult").toInt() : mrCancel;
}

QString TZelLangSection::GetText(const QStringList& keys) const {
  QStringList lines;
  GetTexts(keys, lines);
  return lines.isEmpty() ? QStringLiteral("(not found)") : lines.join(u'\r');
}

QString TZelLangSection::FormatText(const QStringList& keys, const QVariantList& args) const {
  const QString text = GetText(keys);
  QString formatted;
  return FormatArgs(text, args, formatted) ? formatted : text;
}

int TZelLangSection::Show(const QStringList& keys, const QVariantList& args, TMsgDlgType kind,
                          TMsgDlgButtons buttons) {
  TZelLanguage* language = Language();
  if (!language) return mrNone;
  return language->MessageDlg(FormatText(keys, args), kind, buttons);
}

void TZelLangSection::ShowError(const QStringList& keys, const QVariantList& args) {
  Show(keys, args, mtError, {mbOK});
}

void TZelLangSection::ShowWarning(const QStringList& keys, const QVariantList& args) {
  Show(keys, args, mtWarning, {mbOK});
}

void TZelLangSection::ShowInfo(const QStringList& keys, const QVariantList& args) {
  Show(keys, args, mtInformation, {mbOK});
}

bool TZelLangSection::Confirm(const QStringList& keys, const QVariantList& args) {
  return Show(keys, args, mtConfirmation, {mbYes, mbNo}) == mrYes;
}

QString StatusBarHint(const QString& hint, const TZelLangSection& speed_hints,
                      const TZelLangSection& menu_hints, const QStringList& names) {
  for (const QString& name : names) {
    if (hint == speed_hints.Values(QStringLiteral("SpdBtn") + name))
      return menu_hints.Values(QStringLiteral("Menu") + name);
  }
  return hint;
}
