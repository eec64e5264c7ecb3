// The main window and the password dialog in another language: captions,
// hints, the status-bar hint, the grid header, the progress window's button
// and real message boxes all take their texts from the language file; the
// password dialog's rules (confirmation, Cancel, Clear) through its buttons.
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTableWidget>
#include <QtTest>

#include "RunTestUtil.h"
#include "cpLang.h"
#include "fmDbPwd.h"
#include "fmPrgrss.h"

namespace {

// Replaces `key=...` in `section` of an INI text.
void SetValue(QByteArray& ini, const QByteArray& section, const QByteArray& key,
              const QByteArray& value) {
  const int start = ini.indexOf("[" + section + "]");
  QVERIFY(start >= 0);
  const int at = ini.indexOf("\n" + key + "=", start);
  QVERIFY(at >= 0);
  const int end = ini.indexOf('\n', at + 1);
  ini.replace(at + 1, end - at - 1, key + "=" + value);
}

struct TBox {
  QString title, text;
  QMap<QString, QString> captions;  // by button name
};

// Answers the next modal boxes in turn with the buttons named in `answers`,
// recording what each showed.
void AnswerBoxes(const QStringList& answers, QList<TBox>* seen) {
  auto* timer = new QTimer;
  auto left = std::make_shared<QStringList>(answers);
  timer->setInterval(5);
  QObject::connect(timer, &QTimer::timeout, [timer, left, seen] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box || !box->isVisible()) return;
    TBox b{box->windowTitle(), box->text(), {}};
    for (QAbstractButton* button : box->buttons())
      b.captions[button->objectName()] = button->text();
    seen->append(b);
    QAbstractButton* button = box->findChild<QAbstractButton*>(left->takeFirst());
    if (button) button->click();
    if (left->isEmpty()) {
      timer->stop();
      timer->deleteLater();
    }
  });
  timer->start();
}

}  // namespace

class TLanguageTest : public QObject {
  Q_OBJECT

 private slots:
  void windowTakesItsTextsFromTheLanguageFile() {
    TRunHome home;
    QByteArray ini;
    {
      QFile f(VARDEX_LANGUAGE_FILE);
      QVERIFY(f.open(QIODevice::ReadOnly));
      ini = f.readAll();
    }
    SetValue(ini, "MenuCaptions", "MenuUpdate", "&Aktualisieren...");
    SetValue(ini, "MenuCaptions", "MenuTools", "&Werkzeuge");
    SetValue(ini, "MenuContext", "PopupPack", "&Packen...");
    SetValue(ini, "MenuHints", "MenuPack", "Packt jede Tabelle.");
    SetValue(ini, "SpeedButtonHints", "SpdBtnPack", "Packen");
    SetValue(ini, "MainWindow", "AliasNameHeader", "Datenbank");
    SetValue(ini, "MainWindow", "FormCaption", "Vardex auf Deutsch");
    SetValue(ini, "ToolNames", "PACK", "Packen");
    SetValue(ini, "Notifications", "AreYouSure", "Das Werkzeug %s jetzt ausführen?");
    SetValue(ini, "Notifications", "GiveUp", "%s wurde nicht ausgeführt.");
    SetValue(ini, "MessageDialog", "Confirm", "Rückfrage");
    SetValue(ini, "MessageDialog", "Info", "Hinweis");
    SetValue(ini, "MessageDialog", "Yes", "&Ja");
    SetValue(ini, "MessageDialog", "No", "&Nein");
    SetValue(ini, "StandardButtons", "ButtonCancel", "Abbrechen");
    QFile::remove(home.Path("Language.ini"));
    QFile f(home.Path("Language.ini"));
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(ini);
    f.close();
    QVERIFY(home.MakeDemo({"DEMO"}));

    TFormVardex form({});
    form.TerminateHandler = [] {};
    QCOMPARE(form.findChild<QAction*>("MenuUpdate")->text(), QString("&Aktualisieren..."));
    QCOMPARE(form.findChild<QMenu*>("MenuTools")->title(), QString("&Werkzeuge"));
    QCOMPARE(form.findChild<QAction*>("PopupPack")->text(), QString("&Packen..."));
    QCOMPARE(form.ToolMenuItem(ttPack)->statusTip(), QString("Packt jede Tabelle."));
    QCOMPARE(form.ToolButton(ttPack)->toolTip(), QString("Packen"));
    QCOMPARE(form.Grid()->horizontalHeaderItem(0)->text(), QString("Datenbank"));
    QCOMPARE(form.Grid()->horizontalHeaderItem(1)->text(), QString("Folder"));
    QCOMPARE(FormProgress()->findChild<QPushButton*>("ButtonCancel")->text(), QString("Abbrechen"));
    form.SetApplicationHint("Packen");
    QCOMPARE(form.statusBar()->currentMessage(), QString("Packt jede Tabelle."));
    // The application's title stands at start; a language chosen later
    // captions the window from its file.
    QCOMPARE(form.windowTitle(), QString("Vardex 1.0d"));

    // A real run asks and ends with boxes of the language.
    QList<TBox> boxes;
    AnswerBoxes({"No", "OK"}, &boxes);
    form.FormActivate();
    form.SelectAliasByName("DEMO");
    form.ToolButton(ttPack)->click();
    QCOMPARE(boxes.size(), 2);
    QCOMPARE(boxes[0].title, QString::fromUtf8("Rückfrage"));
    QCOMPARE(boxes[0].text, QString::fromUtf8("Das Werkzeug Packen jetzt ausführen?"));
    QCOMPARE(boxes[0].captions["Yes"], QString("&Ja"));
    QCOMPARE(boxes[0].captions["No"], QString("&Nein"));
    QCOMPARE(boxes[1].title, QString("Hinweis"));
    QCOMPARE(boxes[1].text, QString::fromUtf8("Packen wurde nicht ausgeführt."));
    QCOMPARE(LogRecords("DEMO", ttPack, trGiveUp), 1);

    form.Language()->SetFileName(home.Path("Language.ini"));
    QCOMPARE(form.windowTitle(), QString("Vardex auf Deutsch"));
  }

  // Confirmation must match; Cancel brings back the texts the dialog was
  // shown with; Clear then OK removes the password.
  void passwordDialogRules() {
    TRunHome home;
    home.WriteAliases({});
    TFormVardex form({});
    TFormDbPasswd* dialog = form.PasswordDialog();
    auto* edit = dialog->findChild<QLineEdit*>("EditPassword");
    auto* confirm = dialog->findChild<QLineEdit*>("EditConfirm");
    QVERIFY(edit && confirm);
    QCOMPARE(dialog->findChild<QPushButton*>("ButtonClear")->text(),
             QString("Clear (do not apply password)"));
    QVERIFY(
        dialog->findChild<QPlainTextEdit*>("MemoAttention")->toPlainText().contains("password"));
    auto click = [dialog](const char* name) { dialog->findChild<QPushButton*>(name)->click(); };
    auto when_shown = [dialog](std::function<void()> steps) {
      QTimer::singleShot(0, [dialog, steps] {
        QTRY_VERIFY(dialog->isVisible());
        steps();
      });
    };

    QList<TBox> boxes;
    when_shown([&] {
      edit->setText("Sesame");
      confirm->setText("sesame");
      AnswerBoxes({"OK"}, &boxes);
      click("ButtonOk");  // differs only by case: refused, the dialog stays
      QVERIFY(dialog->isVisible());
      confirm->setText("Sesame");
      click("ButtonOk");
    });
    form.MenuPasswordClick();
    QCOMPARE(boxes.size(), 1);
    QVERIFY(boxes[0].text.contains("do not match"));
    QCOMPARE(form.Password(), QString("Sesame"));
    QCOMPARE(engine::TSession::Default().Passwords(), std::vector<std::string>{"Sesame"});

    when_shown([&] {
      QCOMPARE(edit->text(), QString("Sesame"));  // the dialog keeps the last one
      edit->setText("Other");
      confirm->setText("Other");
      click("ButtonCancel");
    });
    form.MenuPasswordClick();
    QCOMPARE(edit->text(), QString("Sesame"));
    QCOMPARE(confirm->text(), QString("Sesame"));
    QCOMPARE(form.Password(), QString("Sesame"));

    when_shown([&] {
      click("ButtonClear");
      QVERIFY(dialog->isVisible());
      click("ButtonOk");
    });
    form.MenuPasswordClick();
    QCOMPARE(form.Password(), QString());
    QVERIFY(engine::TSession::Default().Passwords().empty());

    form.SetPassword("Macro");
    QCOMPARE(edit->text(), QString("Macro"));
    QCOMPARE(confirm->text(), QString("Macro"));
    form.ApplyPassword(QString());
  }
};

QTEST_MAIN(TLanguageTest)
#include "fmVdxLang_test.moc"
