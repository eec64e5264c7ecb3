// The texts and messages of TFormVardex: its language sections, the design
// texts that stand where the language file lacks a key, the one message
// function every box of the window goes through, the status bar hint and
// the exception handling.
#include <QAbstractButton>
#include <QHash>
#include <QMenuBar>
#include <QStatusBar>

#include "clFormat.h"
#include "cpLang.h"
#include "fmPrgrss.h"
#include "fmVdx.h"
#include "fmVdxRun.h"

namespace {

using TextTable = QHash<QString, QString>;  // "SECTION/KEY", both upper-cased

TextTable BuildDesignTexts() {
  TextTable t;
  auto put = [&t](const char* section, const char* key, const char* text) {
    t.insert(QString(section).toUpper() + '/' + QString(key).toUpper(), text);
  };
  put("MainWindow", "AliasNameHeader", "Alias");
  put("MainWindow", "AliasPathHeader", "Folder");
  const char* short_hints[kToolCount] = {"Update", "Pack", "Copy", "Retrieve", "Backup", "Restore"};
  const char* long_hints[kToolCount] = {
      "Update the structure of every table to its reference table",
      "Pack every table of the database",
      "Save a copy of the data, then update every table",
      "Rebuild every table from the saved copy",
      "Back up the reference tables and the saved copy onto removable disks",
      "Restore the reference tables and the saved copy from backup disks"};
  for (int i = 0; i < kToolCount; ++i) {
    const std::string name = ToolName(static_cast<TToolType>(i));
    put("SpeedButtonHints", ("SpdBtn" + name).c_str(), short_hints[i]);
    put("MenuHints", ("Menu" + name).c_str(), long_hints[i]);
  }
  put("MenuHints", "MenuPassword", "Give the password of protected tables");
  put("MenuHints", "MenuExit", "Close Vardex");
  put("MenuHints", "MenuAbout", "Show the version of Vardex");
  return t;
}

QString DesignText(const QString& section, const QString& key) {
  static const TextTable texts = BuildDesignTexts();
  return texts.value(section.toUpper() + '/' + key.toUpper());
}

struct ButtonName {
  QMessageBox::StandardButton button;
  const char* name;
};
constexpr ButtonName kButtonNames[] = {
    {QMessageBox::Yes, "Yes"},         {QMessageBox::No, "No"},
    {QMessageBox::Ok, "OK"},           {QMessageBox::Cancel, "Cancel"},
    {QMessageBox::Abort, "Abort"},     {QMessageBox::Retry, "Retry"},
    {QMessageBox::Ignore, "Ignore"},   {QMessageBox::YesToAll, "YesToAll"},
    {QMessageBox::NoToAll, "NoToAll"}, {QMessageBox::Help, "Help"}};

QMessageBox::Icon IconOf(TMsgKind kind) {
  switch (kind) {
    case mkError:
      return QMessageBox::Critical;
    case mkWarning:
      return QMessageBox::Warning;
    case mkInformation:
      return QMessageBox::Information;
    case mkConfirmation:
      return QMessageBox::Question;
  }
  return QMessageBox::NoIcon;
}

// Without a language file a keyed message shows its key and arguments; an
// exception shows its own text.
QMessageBox::StandardButton ShowBox(const QString& text, TMsgKind kind,
                                    QMessageBox::StandardButtons buttons, QWidget* parent) {
  QMessageBox box(IconOf(kind), TFormVardex::kTitle, text, buttons, parent);
  for (const ButtonName& b : kButtonNames) {
    if (QAbstractButton* button = box.button(b.button)) button->setObjectName(b.name);
  }
  return static_cast<QMessageBox::StandardButton>(box.exec());
}

TMsgDlgType DlgTypeOf(TMsgKind kind) {
  switch (kind) {
    case mkWarning:
      return mtWarning;
    case mkInformation:
      return mtInformation;
    case mkConfirmation:
      return mtConfirmation;
    default:
      return mtError;
  }
}

// The language's box for the window's buttons, answered in the window's terms.
QMessageBox::StandardButton ShowLanguageBox(TZelLanguage& language, const QString& text,
                                            TMsgKind kind, QMessageBox::StandardButtons buttons) {
  struct Pair {
    QMessageBox::StandardButton button;
    TMsgDlgBtn dlg;
    TModalResult result;
  };
  static const Pair pairs[] = {{QMessageBox::Yes, mbYes, mrYes},
                               {QMessageBox::No, mbNo, mrNo},
                               {QMessageBox::Ok, mbOK, mrOk},
                               {QMessageBox::Cancel, mbCancel, mrCancel}};
  const bool yes_no = buttons & (QMessageBox::Yes | QMessageBox::No);
  const bool cancel = buttons & QMessageBox::Cancel;
  const TMsgDlgButtons dlg_buttons =
      yes_no ? (cancel ? TMsgDlgButtons{mbYes, mbNo, mbCancel} : TMsgDlgButtons{mbYes, mbNo})
             : (cancel ? TMsgDlgButtons{mbOK, mbCancel} : TMsgDlgButtons{mbOK});
  const int result = language.MessageDlg(text, DlgTypeOf(kind), dlg_buttons);
  for (const Pair& p : pairs) {
    if (result == p.result) return p.button;
  }
  return QMessageBox::NoButton;
}

QVariantList Variants(const QStringList& args) {
  QVariantList list;
  for (const QString& a : args) list << a;
  return list;
}

// Formats with the arguments as texts, or, where the text wants numbers (a
// library's return code, a disk number), with the numeric ones as numbers.
bool FormatKeyed(const QString& pattern, const QStringList& args, QString& text) {
  if (FormatArgs(pattern, Variants(args), text)) return true;
  QVariantList numbers;
  for (const QString& a : args) {
    bool ok = false;
    const qlonglong n = a.toLongLong(&ok);
    numbers << (ok ? QVariant(n) : QVariant(a));
  }
  return FormatArgs(pattern, numbers, text);
}

// The sections of the main window's language: where each applies, by what.
struct TSectionEntry {
  const char* component;
  const char* section;
  TSectionType type;
  const char* property;
};
constexpr TSectionEntry kSections[] = {
    {"LangMenuCaptions", "MenuCaptions", stMenu, "Caption"},
    {"LangMenuHints", "MenuHints", stMenu, "Hint"},
    {"LangSpeedButtonHints", "SpeedButtonHints", stGroup, "Hint"},
    {"LangMainWindow", "MainWindow", stForm, "Caption"},
    {"LangNotifications", "Notifications", stCustom, ""},
    {"LangToolNames", "ToolNames", stCustom, ""},
    {"LangProcessCaptions", "ProcessCaptions", stCustom, ""},
    {"LangBackupProcess", "BackupProcess", stCustom, ""},
    {"LangMenuContext", "MenuContext", stMenu, "Caption"},
    {"LangStandardButtons", "StandardButtons", stCustom, ""},
    {"LangDetailsPane", "DetailsPane", stCustom, ""},
    {"LangTableBrowser", "TableBrowser", stCustom, ""},
};

}  // namespace

void TFormVardex::BuildLanguage() {
  language_ = new TZelLanguage(this);
  for (const TSectionEntry& entry : kSections) {
    QWidget* target = nullptr;
    if (entry.type == stMenu) {
      target =
          QString(entry.section) == "MenuContext" ? static_cast<QWidget*>(popup_grid_) : menuBar();
    } else if (entry.type == stGroup) {
      target = toolbar_;
    }
    language_->AddSection(entry.component, entry.section, entry.type, entry.property, target);
  }
  language_->Loaded();
  ApplyLanguageToProgress();
}

void TFormVardex::ApplyLanguageToProgress() {
  if (QObject* cancel = FormProgress()->findChild<QObject*>("ButtonCancel")) {
    cancel->setProperty("Caption", Value("StandardButtons", "ButtonCancel"));
  }
}

TZelLangSection* TFormVardex::LangSection(const QString& section) const {
  return language_ ? language_->Section(section) : nullptr;
}

QMessageBox::StandardButton TFormVardex::ShowMessageKey(const QString& section, const QString& key,
                                                        const QStringList& args, TMsgKind kind,
                                                        QMessageBox::StandardButtons buttons,
                                                        const QString& detail) {
  return ShowMessageKeys(section, {key}, args, kind, buttons, detail);
}

QMessageBox::StandardButton TFormVardex::ShowMessageKeys(const QString& section,
                                                         const QStringList& keys,
                                                         const QStringList& args, TMsgKind kind,
                                                         QMessageBox::StandardButtons buttons,
                                                         const QString& detail) {
  const TMessageRequest request{section, keys.value(0), args, kind, buttons, keys, detail};
  if (MessageHandler) return MessageHandler(request);
  QString text;
  TZelLangSection* lang = section.isEmpty() ? nullptr : LangSection(section);
  QStringList lines;
  if (lang) lang->GetTexts(keys, lines);
  if (section.isEmpty()) {
    text = keys.join('\n');  // an exception's own text
  } else if (!lines.isEmpty()) {
    const QString pattern = lines.join('\n');
    if (!FormatKeyed(pattern, args.isEmpty() ? QStringList{QString()} : args, text)) {
      text = pattern;
    }
  } else {
    text = keys.join('\n');
    if (!args.isEmpty()) text += "\n" + args.join(", ");
  }
  if (!detail.isEmpty()) text += "\n\n" + detail;
  if (language_) return ShowLanguageBox(*language_, text, kind, buttons);
  return ShowBox(text, kind, buttons, this);
}

QString TFormVardex::Value(const QString& section, const QString& key) const {
  if (TextLookup) return TextLookup(section, key);
  if (TZelLangSection* lang = LangSection(section); lang && lang->HasEntry(key)) {
    return lang->Values(key);
  }
  // A key the language file lacks keeps its design text, or shows as itself.
  const QString design = DesignText(section, key);
  return design.isEmpty() ? key : design;
}

QString TFormVardex::FormatValue(const QString& section, const QString& key,
                                 const QStringList& args) const {
  const QString pattern = Value(section, key);
  QString text;
  if (FormatKeyed(pattern, args, text)) return text;
  return args.isEmpty() ? pattern : pattern + ' ' + args.join(", ");
}
void TFormVardex::SetApplicationHint(const QString& hint) {
  application_hint_ = hint;
  ShowHintInStatusBar();
}

void TFormVardex::ShowHintInStatusBar() {
  QString text = application_hint_;
  if (!text.isEmpty()) {
    // A toolbar button's short hint stands for the longer hint of its menu item.
    for (int t = 0; t < kToolCount; ++t) {
      const QString name = QString::fromStdString(ToolName(static_cast<TToolType>(t)));
      if (text == Value("SpeedButtonHints", "SpdBtn" + name)) {
        text = Value("MenuHints", "Menu" + name);
        break;
      }
    }
  }
  statusBar()->showMessage(text);
}

void TFormVardex::HandleException(std::exception_ptr error) {
  try {
    std::rethrow_exception(error);
  } catch (const EAbort&) {
    return;  // the silent end of a run: its result was shown already
  } catch (const std::exception& e) {
    // A declined password request fails the engine's open; the run ends with
    // its own result rather than the engine's text.
    if (!(ToolRunning && password_refused_)) {
      ShowMessageKey(QString(), QString::fromUtf8(e.what()), {}, mkError);
    }
  } catch (...) {
    ShowMessageKey(QString(), "Unknown error", {}, mkError);
  }
  // Outside a run there is nothing to finish: the message was all.
  if (!ToolRunning) return;
  try {
    run_->FinishRun(password_refused_ ? trPassword : trError);
  } catch (const EAbort&) {
  } catch (const std::exception& e) {
    ShowMessageKey(QString(), QString::fromUtf8(e.what()), {}, mkError);
  }
}
