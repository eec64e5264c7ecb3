// Language sections: keyed texts and their formatting, the message boxes
// with captions from "MessageDialog", and what each section type applies.
#include <QMainWindow>
#include <QMenuBar>
#include <QtTest>

#include "LangTestUtil.h"
#include "cpLang.h"
#include "cpZelCtrls.h"

namespace {

const QByteArray kMessages =
    "[Notifications]\n"
    "Success=The %0:s tool has finished.\n"
    "RightNow=Use %0:s again any time.\n"
    "Code=Failed with code %d.\n"
    "Named=Hello %s!\n"
    "Broken=%s and %s\n"
    "[MessageDialog]\n"
    "OK=Accept\n"
    "Error=Failure\n"
    "Yes=Go on\n"
    "No=Stop\n"
    "Confirm=Question\n";

}  // namespace

class LanguageTest : public QObject {
  Q_OBJECT

 private slots:
  void TextsAndFormatting() {
    TProgramFolder folder;
    folder.Write("Language.ini", kMessages);
    QWidget window;
    auto* language = new TZelLanguage(&window);
    auto* notify = language->AddSection("LangNotify", "Notifications", stCustom);
    QCOMPARE(notify->GetText({"Success", "RightNow"}),
             QString("The %0:s tool has finished.\rUse %0:s again any time."));
    QCOMPARE(notify->FormatText({"Success", "RightNow"}, {QString("Pack")}),
             QString("The Pack tool has finished.\rUse Pack again any time."));
    QCOMPARE(notify->GetText({"Absent"}), QString("(not found)"));
    QCOMPARE(notify->FormatText({"Code"}, {48}), QString("Failed with code 48."));
    // Directives that do not fit: the text unformatted, no error.
    QCOMPARE(notify->FormatText({"Code"}, {QString()}), QString("Failed with code %d."));
    QCOMPARE(notify->FormatText({"Broken"}, {QString("one")}), QString("%s and %s"));
    QCOMPARE(notify->FormatText({"Named"}, {QString()}), QString("Hello !"));
  }

  void MessageBoxesTakeTheirCaptionsFromTheFile() {
    TProgramFolder folder;
    folder.Write("Language.ini", kMessages);
    QWidget window;
    auto* language = new TZelLanguage(&window);
    auto* notify = language->AddSection("LangNotify", "Notifications", stCustom);

    TBoxSeen error;
    AnswerNextBox("OK", &error);
    notify->ShowError({"Code"}, {4});
    QVERIFY(error.shown);
    QCOMPARE(error.title, QString("Failure"));
    QCOMPARE(error.text, QString("Failed with code 4."));
    QCOMPARE(error.icon, QMessageBox::Critical);
    QCOMPARE(error.button_names, QStringList({"OK"}));
    QCOMPARE(error.captions["OK"], QString("Accept"));
    QCOMPARE(language->Count(), 1);  // the temporary section is gone again
    QVERIFY(!window.findChild<QObject*>("LangMessageDialog"));

    TBoxSeen retry;
    AnswerNextBox("Retry", &retry);
    QCOMPARE(language->MessageDlg("Disk?", mtWarning, {mbOK, mbRetry, mbCancel}), int(mrRetry));
    QCOMPARE(retry.title, QString("Warning"));  // no "Warning" key: the kind's own caption
    QCOMPARE(retry.button_names, QStringList({"OK", "Cancel", "Retry"}));  // the order of the set
    QCOMPARE(retry.captions["Retry"], QString("&Retry"));                  // Retry has no key
    QCOMPARE(retry.captions["Cancel"], QString("Cancel"));

    TBoxSeen multi;
    AnswerNextBox("OK", &multi);
    notify->ShowInfo({"Success", "RightNow"}, {QString("Copy")});
    QCOMPARE(multi.text, QString("The Copy tool has finished.\nUse Copy again any time."));
  }

  void ConfirmIsTrueOnlyForYes() {
    TProgramFolder folder;
    folder.Write("Language.ini", kMessages);
    QWidget window;
    auto* language = new TZelLanguage(&window);
    auto* notify = language->AddSection("LangNotify", "Notifications", stCustom);
    TBoxSeen seen;
    AnswerNextBox("Yes", &seen);
    QVERIFY(notify->Confirm({"Named"}, {QString("you")}));
    QCOMPARE(seen.title, QString("Question"));
    QCOMPARE(seen.captions["Yes"], QString("Go on"));
    QCOMPARE(seen.captions["No"], QString("Stop"));
    AnswerNextBox("No", &seen);
    QVERIFY(!notify->Confirm({"Named"}));
    AnswerNextBox(QString(), &seen);  // the close command
    QVERIFY(!notify->Confirm({"Named"}));
  }

  // A program folder without Language.ini speaks the English built into the
  // program; a key that file lacks too still says so.
  void WithoutALanguageFileTheBuiltInEnglishSpeaks() {
    TProgramFolder folder;
    QWidget window;
    auto* language = new TZelLanguage(&window);
    auto* notify = language->AddSection("LangNotify", "Notifications", stCustom);
    TBoxSeen seen;
    AnswerNextBox("OK", &seen);
    notify->ShowError({"LogCannotCreate"});
    QCOMPARE(seen.text,
             QString("The tool log VdxLog.db could not be opened or created. Vardex will close."));
    QCOMPARE(seen.title, QString("Error"));
    AnswerNextBox("OK", &seen);
    notify->ShowError({"NoSuchKey"});
    QCOMPARE(seen.text, QString("(not found)"));
    QCOMPARE(ErrorOf([&] { notify->Values("NoSuchKey"); }),
             QString("They entry NoSuchKey was not found in section: Notifications"));
  }

  void KindsOutsideTheFourShowNothing() {
    TProgramFolder folder;
    QWidget window;
    auto* language = new TZelLanguage(&window);
    QCOMPARE(language->MessageDlg("x", 4, {mbOK}), int(mrCancel));
    QCOMPARE(language->MessageDlg("x", -1, {mbOK}), int(mrCancel));
    QVERIFY(!QApplication::activeModalWidget());
    // A section outside any language shows nothing either.
    TZelLangSection loose(&window);
    QVERIFY(!loose.Confirm({"AreYouSure"}));
  }
};

QTEST_MAIN(LanguageTest)
#include "cpLang_qtest.moc"
