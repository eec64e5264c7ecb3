// Thin widget subclasses that carry the Caption and Hint properties by which
// the language sections set the window's texts at run time. Each maps the
// property onto the Qt text it stands for; nothing else changes.
#pragma once

#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QToolButton>

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

// A drop-down menu of the menu bar or a context menu.
class TZelMenu : public QMenu {
  Q_OBJECT
  Q_PROPERTY(QString Caption READ Caption WRITE SetCaption)
  Q_PROPERTY(QString Hint READ Hint WRITE SetHint)

 public:
  TZelMenu(const QString& name, const QString& caption, QWidget* parent);
  QString Caption() const { return title(); }
  void SetCaption(const QString& caption) { setTitle(caption); }
  QString Hint() const { return menuAction()->statusTip(); }
  void SetHint(const QString& hint) { menuAction()->setStatusTip(hint); }
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

class TZelLabel : public QLabel {
  Q_OBJECT
  Q_PROPERTY(QString Caption READ Caption WRITE SetCaption)

 public:
  TZelLabel(const QString& name, const QString& caption, QWidget* parent);
  QString Caption() const { return text(); }
  void SetCaption(const QString& caption) { setText(caption); }
};
