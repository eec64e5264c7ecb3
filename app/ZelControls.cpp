#include "ZelControls.h"

TZelMenuItem::TZelMenuItem(const QString& name, const QString& caption, QObject* parent)
    : QAction(caption, parent) {
  setObjectName(name);
}

void TZelMenuItem::SetHint(const QString& hint) {
  setStatusTip(hint);
  setToolTip(hint);
}

TZelMenu::TZelMenu(const QString& name, const QString& caption, QWidget* parent)
    : QMenu(caption, parent) {
  setObjectName(name);
  menuAction()->setObjectName(name + "Item");
}

TZelSpeedButton::TZelSpeedButton(const QString& name, QWidget* parent) : QToolButton(parent) {
  setObjectName(name);
  setAutoRaise(true);  // flat until the mouse is over it
  setFocusPolicy(Qt::NoFocus);
}

void TZelSpeedButton::SetHint(const QString& hint) {
  setToolTip(hint);
  setStatusTip(hint);
}

TZelLabel::TZelLabel(const QString& name, const QString& caption, QWidget* parent)
    : QLabel(caption, parent) {
  setObjectName(name);
}
