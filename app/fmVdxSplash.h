// The start window shown while the program builds its windows in interactive
// mode, and the about box. Both show the product's name and version.
#pragma once

#include <QDialog>
#include <QFrame>

class TFormVdxSplash : public QFrame {
  Q_OBJECT

 public:
  explicit TFormVdxSplash(const QString& title, QWidget* parent = nullptr);
  // "for Linux": the platform the program runs on.
  static QString PlatformLine();
};

class TFormAbout : public QDialog {
  Q_OBJECT
  Q_PROPERTY(QString Caption READ windowTitle WRITE setWindowTitle)

 public:
  explicit TFormAbout(const QString& title, QWidget* parent = nullptr);
};
