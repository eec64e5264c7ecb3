// The texts and messages of TFormVardex: the design texts that stand until a
// language file replaces them, the one message function every box of the
// window goes through, the status bar hint and the exception handling.
#include <QAbstractButton>
#include <QHash>
#include <QStatusBar>

#include "fmVdx.h"

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

// Until the language file takes over, a keyed message shows its key and
// arguments; an exception shows its own text.
QMessageBox::StandardButton ShowBox(const TMessageRequest& request, QWidget* parent) {
  QString text = request.Key;
  if (!request.Args.isEmpty()) text += "\n" + request.Args.join(", ");
  QMessageBox box(IconOf(request.Kind), TFormVardex::kTitle, text, request.Buttons, parent);
  for (const ButtonName& b : kButtonNames) {
    if (QAbstractButton* button = box.button(b.button)) button->setObjectName(b.name);
  }
  return static_cast<QMessageBox::StandardButton>(box.exec());
}

}  // namespace

QMessageBox::StandardButton TFormVardex::ShowMessageKey(const QString& section, const QString& key,
                                                        const QStringList& args, TMsgKind kind,
                                                        QMessageBox::StandardButtons buttons) {
  const TMessageRequest request{section, key, args, kind, buttons};
  if (MessageHandler) return MessageHandler(request);
  return ShowBox(request, this);
}

QString TFormVardex::Value(const QString& section, const QString& key) const {
  if (TextLookup) return TextLookup(section, key);
  return DesignText(section, key);
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
    // the silent end of a run: its result was shown already
  } catch (const std::exception& e) {
    ShowMessageKey(QString(), QString::fromUtf8(e.what()), {}, mkError);
  } catch (...) {
    ShowMessageKey(QString(), "Unknown error", {}, mkError);
  }
}
