// Helpers of the language tests: a program folder of their own holding the
// language file they write, and answering the next message box by button
// name while recording what it showed.
#pragma once

#include <QApplication>
#include <QFile>
#include <QMap>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include "clZelText.h"

// Points the program folder ($VARDEX_HOME) at a fresh folder for one test.
class TProgramFolder {
 public:
  TProgramFolder() { qputenv("VARDEX_HOME", dir_.path().toUtf8()); }
  ~TProgramFolder() { qunsetenv("VARDEX_HOME"); }
  QString Path(const QString& name = QString()) const {
    return name.isEmpty() ? dir_.path() : dir_.filePath(name);
  }
  QString Write(const QString& name, const QByteArray& bytes) const {
    QFile file(Path(name));
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate)) file.write(bytes);
    return Path(name);
  }

 private:
  QTemporaryDir dir_;
};

// What a message box showed.
struct TBoxSeen {
  bool shown = false;
  QString title;
  QString text;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  QStringList button_names;         // left to right
  QMap<QString, QString> captions;  // by button name
};

// Answers the next modal message box: clicks the button named `button`, or
// closes the box with its close command when `button` is empty.
inline void AnswerNextBox(const QString& button, TBoxSeen* seen) {
  auto* timer = new QTimer;
  timer->setInterval(5);
  QObject::connect(timer, &QTimer::timeout, [timer, button, seen] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box) return;
    timer->stop();
    timer->deleteLater();
    seen->shown = true;
    seen->title = box->windowTitle();
    seen->text = box->text();
    seen->icon = box->icon();
    QList<QAbstractButton*> buttons = box->buttons();
    std::stable_sort(buttons.begin(), buttons.end(), [](QAbstractButton* a, QAbstractButton* b) {
      return a->mapToGlobal(QPoint()).x() < b->mapToGlobal(QPoint()).x();
    });
    for (QAbstractButton* b : buttons) {
      seen->button_names << b->objectName();
      seen->captions[b->objectName()] = b->text();
    }
    auto* target = box->findChild<QPushButton*>(button);
    if (target && !button.isEmpty())
      target->click();
    else
      box->close();
  });
  timer->start();
}

template <typename F>
QString ErrorOf(F&& f) {
  try {
    f();
  } catch (const EZelError& e) {
    return e.Message();
  }
  return "(no error)";
}
