// The language component and its sections: every text a window shows comes
// from Language.ini in the program folder. A section pushes its texts into
// the window's components (menus, a group of controls, the window's
// controls) or only holds keyed texts that code builds messages from; the
// message boxes take their captions and button captions from the file too.
#pragma once

#include <QMessageBox>
#include <QVariantList>
#include <initializer_list>

#include "cpZelIni.h"

// Kinds of message box, by ordinal.
enum TMsgDlgType { mtWarning = 0, mtError = 1, mtInformation = 2, mtConfirmation = 3 };

// Buttons, by ordinal; a box shows them in this order.
enum TMsgDlgBtn {
  mbYes,
  mbNo,
  mbOK,
  mbCancel,
  mbAbort,
  mbRetry,
  mbIgnore,
  mbAll,
  mbNoToAll,
  mbYesToAll,
  mbHelp
};

class TMsgDlgButtons {
 public:
  TMsgDlgButtons(std::initializer_list<TMsgDlgBtn> buttons) {
    for (TMsgDlgBtn b : buttons) bits_ |= 1u << b;
  }
  bool Has(TMsgDlgBtn button) const { return (bits_ >> button) & 1u; }

 private:
  quint16 bits_ = 0;
};

// The code of the button that closed a box. Help has no code of its own.
enum TModalResult {
  mrNone = 0,
  mrOk = 1,
  mrCancel = 2,
  mrAbort = 3,
  mrRetry = 4,
  mrIgnore = 5,
  mrYes = 6,
  mrNo = 7,
  mrAll = 8,
  mrNoToAll = 9,
  mrYesToAll = 10
};

class TZelLangSection;

// The English language file compiled into the program (a Qt resource);
// the translations are compiled in beside it as ":/vardex/Language.<lang>.ini".
inline constexpr const char* kBuiltInLanguageFile = ":/vardex/Language.ini";

// The languages the user's locale asks for, most particular first: the
// first of LC_ALL, LC_MESSAGES and LANG that is set and not empty, as POSIX
// orders them, "de_DE.UTF-8@euro" giving {"de_DE", "de"}. Empty for "C",
// "POSIX" or no setting at all: English.
QStringList LocaleLanguages();

class TZelLanguage : public TZelIni {
  Q_OBJECT

 public:
  // "MessageDialog" is reserved for the boxes' own section.
  Q_INVOKABLE explicit TZelLanguage(QObject* owner);

  const QMetaObject* ItemClass() const override;
  // Language.<lang>.ini for the first of LocaleLanguages() that the program
  // folder or the program itself holds, else the program folder's
  // Language.ini, else the English built into the program.
  QString DefaultFileName() const override;
  // Called once the window has built its sections: loads and applies them.
  void Loaded() { RefreshAll(); }

  // Adds a section of this language, owned by the language's window, named
  // `component_name`, reading the INI section `section_name` and applied as
  // `type` to `target` (the menu of stMenu, the group of stGroup) with
  // `property_name`. The section is loaded and applied once it is complete;
  // a value that does not fit its property raises from there, and the
  // section stays.
  TZelLangSection* AddSection(const QString& component_name, const QString& section_name,
                              TSectionType type, const QString& property_name = QString(),
                              QWidget* target = nullptr);
  TZelLangSection* Section(const QString& section_name) const;

  // Shows `text` in a modal box of `kind` with `buttons` and returns the
  // code of the button that closed it; Cancel (2), showing nothing, for a
  // kind that is none of the four.
  int MessageDlg(const QString& text, int kind, TMsgDlgButtons buttons);
  // The box MessageDlg shows, built and localised but not shown; the caller
  // owns it. Each button carries its name ("Yes", "OK" ...) as object name
  // and its code in the property "ModalResult".
  QMessageBox* CreateMessageDlg(const QString& text, int kind, TMsgDlgButtons buttons);
};

class TZelLangSection : public TZelIniSection {
  Q_OBJECT

 public:
  Q_INVOKABLE explicit TZelLangSection(QObject* owner) : TZelIniSection(owner) {}

  QString NamePrefix() const override { return QStringLiteral("Lang"); }
  TZelLanguage* Language() const { return qobject_cast<TZelLanguage*>(Container()); }

  // The texts of `keys` joined by a carriage return; "(not found)" when none.
  QString GetText(const QStringList& keys) const;
  // GetText with its directives filled from `args` (texts and integers);
  // unformatted when the directives do not fit the arguments.
  QString FormatText(const QStringList& keys, const QVariantList& args) const;

  // Message boxes built with FormatText; without arguments the text is
  // formatted with one empty text. Nothing happens outside a language.
  void ShowError(const QStringList& keys, const QVariantList& args = {QString()});
  void ShowWarning(const QStringList& keys, const QVariantList& args = {QString()});
  void ShowInfo(const QStringList& keys, const QVariantList& args = {QString()});
  // True only when Yes closed the box.
  bool Confirm(const QStringList& keys, const QVariantList& args = {QString()});

 private:
  int Show(const QStringList& keys, const QVariantList& args, TMsgDlgType kind,
           TMsgDlgButtons buttons);
};

// The status-bar text for a hint: a toolbar button's short hint (the value
// of "SpdBtn" + name in `speed_hints`) becomes the longer hint of the menu
// item of the same name ("Menu" + name in `menu_hints`); any other hint is
// shown as it is. `names` are the tool names in tool order.
QString StatusBarHint(const QString& hint, const TZelLangSection& speed_hints,
                      const TZelLangSection& menu_hints, const QStringList& names);
