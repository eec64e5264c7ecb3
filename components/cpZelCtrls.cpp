#include "cpZelCtrls.h"

void TZelFont::Change(const std::function<void(QFont&)>& edit) {
  QFont font = widget_->font();
  edit(font);
  widget_->setFont(font);
}

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

void TZelMenu::SetHint(const QString& hint) {
  menuAction()->setStatusTip(hint);
  menuAction()->setToolTip(hint);
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

TZelMemo::TZelMemo(const QString& name, QWidget* parent)
    : QPlainTextEdit(parent),
      lines_(new TZelStrings([this] { return toPlainText().split(u'\n'); },
                             [this](const QStringList& lines) { setPlainText(lines.join(u'\n')); },
                             this)),
      font_(new TZelFont(this)) {
  setObjectName(name);
}

void TZelMemo::SetPopupMenu(QMenu* menu) {
  popup_ = menu;
  setContextMenuPolicy(menu ? Qt::CustomContextMenu : Qt::DefaultContextMenu);
  disconnect(this, &QWidget::customContextMenuRequested, nullptr, nullptr);
  if (menu) {
    connect(this, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
      if (popup_) popup_->popup(mapToGlobal(at));
    });
  }
}

TZelDialog::TZelDialog(const QString& name, QWidget* parent) : QDialog(parent) {
  setObjectName(name);
}
