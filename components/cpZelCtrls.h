// Thin widget subclasses that publish the properties the language sections
// set by name: "Caption" on labels, buttons, check boxes, menus and menu
// items, "Hint" on menu items and buttons, a memo's "Lines" as a string-list
// object and a control's "Font" as a sub-object. Each maps the property onto
// the Qt text it stands for; nothing else changes. Windows build their
// controls from these so one section sets "Caption" on any of them alike.
#pragma once

#include <QAction>
#include <QCheckBox>
#include <QDialog>
#include <QLabel>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QToolButton>
#include <functional>

#include "clTypInf.h"

// A string list living in a component's property ("Lines" of a memo).
class TZelStrings : public TZelPersistent {
  Q_OBJECT

 public:
  using Getter = std::function<QStringList()>;
  using Setter = std::function<void(const QStringList&)>;
  TZelStrings(Getter get, Setter set, QObject* parent)
      : TZelPersistent(parent), get_(std::move(get)), set_(std::move(set)) {}
  QStringList Strings() const { return get_(); }
  void SetStrings(const QStringList& lines) { set_(lines); }

 private:
  Getter get_;
  Setter set_;
};

// The font of one widget as a sub-object, so a section can set "Name",
// "Size" or "Bold" under the key "<control>.Font".
class TZelFont : public TZelPersistent {
  Q_OBJECT
  Q_PROPERTY(QString Name READ Name WRITE SetName)
  Q_PROPERTY(int Size READ Size WRITE SetSize)
  Q_PROPERTY(bool Bold READ Bold WRITE SetBold)
  Q_PROPERTY(bool Italic READ Italic WRITE SetItalic)
  Q_PROPERTY(bool Underline READ Underline WRITE SetUnderline)

 public:
  explicit TZelFont(QWidget* widget) : TZelPersistent(widget), widget_(widget) {}
  QString Name() const { return widget_->font().family(); }
  void SetName(const QString& name) {
    Change([&](QFont& f) { f.setFamily(name); });
  }
  int Size() const { return widget_->font().pointSize(); }
  void SetSize(int size) {
    Change([&](QFont& f) { f.setPointSize(size > 0 ? size : 1); });
  }
  bool Bold() const { return widget_->font().bold(); }
  void SetBold(bool on) {
    Change([&](QFont& f) { f.setBold(on); });
  }
  bool Italic() const { return widget_->font().italic(); }
  void SetItalic(bool on) {
    Change([&](QFont& f) { f.setItalic(on); });
  }
  bool Underline() const { return widget_->font().underline(); }
  void SetUnderline(bool on) {
    Change([&](QFont& f) { f.setUnderline(on); });
  }

 private:
  void Change(const std::function<void(QFont&)>& edit);
  QWidget* widget_;
};

// A menu item. Its hint is also its status tip, so hovering the item shows
// it in the status bar.
class TZelMenuItem : public QAction {
  Q_OBJECT
  Q_PROPERTY(QString Caption READ Caption WRITE SetCaption)
  Q_PROPERTY(QString Hint READ Hint WRITE SetHint)

 public:
  TZelMenuItem(const QString& name, const QString& caption, QObject* parent);
  QString Caption() const { return text(); }
  void SetCaption(const QString& caption) { setText(caption); }
  QString Hint() const { return statusTip(); }
  void SetHint(const QString& hint);
};

// A drop-down menu of the menu bar or a context menu. Menu sections apply
// their key for the menu's own name to the menu, not to its menu action.
class TZelMenu : public QMenu {
  Q_OBJECT
  Q_PROPERTY(QString Caption READ Caption WRITE SetCaption)
  Q_PROPERTY(QString Hint READ Hint WRITE SetHint)

 public:
  TZelMenu(const QString& name, const QString& caption, QWidget* parent);
  QString Caption() const { return title(); }
  void SetCaption(const QString& caption) { setTitle(caption); }
  QString Hint() const { return menuAction()->statusTip(); }
  void SetHint(const QString& hint);
};

// A flat toolbar button. Its short hint is its tooltip and its status tip;
// the main window turns the status tip into the longer menu hint.
class TZelSpeedButton : public QToolButton {
  Q_OBJECT
  Q_PROPERTY(QString Caption READ Caption WRITE SetCaption)
  Q_PROPERTY(QString Hint READ Hint WRITE SetHint)

 public:
  TZelSpeedButton(const QString& name, QWidget* parent);
  QString Caption() const { return text(); }
  void SetCaption(const QString& caption) { setText(caption); }
  QString Hint() const { return toolTip(); }
  void SetHint(const QString& hint);
};

// What labels, buttons and check boxes share: the caption is the widget's
// text, the hint its tooltip and status tip, the font a sub-object. Each
// control still declares the properties it publishes.
template <typename Base>
class TZelTextControl : public Base {
 public:
  TZelTextControl(const QString& name, const QString& caption, QWidget* parent)
      : Base(caption, parent), font_(new TZelFont(this)) {
    this->setObjectName(name);
  }
  QString Caption() const { return this->text(); }
  void SetCaption(const QString& caption) { this->setText(caption); }
  QString Hint() const { return this->toolTip(); }
  void SetHint(const QString& hint) {
    this->setToolTip(hint);
    this->setStatusTip(hint);
  }
  TZelFont* Font() const { return font_; }

 private:
  TZelFont* font_;
};

class TZelLabel : public TZelTextControl<QLabel> {
  Q_OBJECT
  Q_PROPERTY(QString Caption READ Caption WRITE SetCaption)
  Q_PROPERTY(TZelFont* Font READ Font)

 public:
  using TZelTextControl::TZelTextControl;
};

class TZelButton : public TZelTextControl<QPushButton> {
  Q_OBJECT
  Q_PROPERTY(QString Caption READ Caption WRITE SetCaption)
  Q_PROPERTY(QString Hint READ Hint WRITE SetHint)
  Q_PROPERTY(TZelFont* Font READ Font)

 public:
  using TZelTextControl::TZelTextControl;
};

class TZelCheckBox : public TZelTextControl<QCheckBox> {
  Q_OBJECT
  Q_PROPERTY(QString Caption READ Caption WRITE SetCaption)
  Q_PROPERTY(QString Hint READ Hint WRITE SetHint)
  Q_PROPERTY(bool Checked READ isChecked WRITE setChecked)
  Q_PROPERTY(TZelFont* Font READ Font)

 public:
  using TZelTextControl::TZelTextControl;
};

// A memo: its lines are a string-list object, its font a sub-object; the
// context menu assigned to it is a component of its own and is never
// treated as part of the memo.
class TZelMemo : public QPlainTextEdit {
  Q_OBJECT
  Q_PROPERTY(TZelStrings* Lines READ Lines)
  Q_PROPERTY(TZelFont* Font READ Font)
  Q_PROPERTY(QMenu* PopupMenu READ PopupMenu WRITE SetPopupMenu)
  Q_PROPERTY(QString Hint READ Hint WRITE SetHint)

 public:
  TZelMemo(const QString& name, QWidget* parent);
  TZelStrings* Lines() const { return lines_; }
  TZelFont* Font() const { return font_; }
  QMenu* PopupMenu() const { return popup_; }
  void SetPopupMenu(QMenu* menu);
  QString Hint() const { return toolTip(); }
  void SetHint(const QString& hint) { setToolTip(hint); }

 private:
  TZelStrings* lines_;
  TZelFont* font_;
  QPointer<QMenu> popup_;
};

// A dialog whose caption is a property like any control's, so a section of
// the window that owns it can caption it by name.
class TZelDialog : public QDialog {
  Q_OBJECT
  Q_PROPERTY(QString Caption READ Caption WRITE SetCaption)

 public:
  TZelDialog(const QString& name, QWidget* parent);
  QString Caption() const { return windowTitle(); }
  void SetCaption(const QString& caption) { setWindowTitle(caption); }
};
