// The backup dialogs with a language file of their own: the progress
// dialog's Cancel button, close box and status texts (translations that
// hold the word they replace included), and the drive dialog's texts per
// tool, its drive list and a missing key.
#include "fmZipPrg.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include "clSetup.h"
#include "fmPrgrss.h"
#include "fmSelDrv.h"

namespace {

const char* kLanguage = R"([ToolNames]
BACKUP=Sichern
RESTORE=Laden
[BackupProcess]
Wait=Warten
Init=Vorbereiten
DbItem=Items
DbOf=von
Current=Datei: %s
[Notifications]
Cancel=%s abbrechen?
[StandardButtons]
ButtonCancel=Abbrechen
[SelectDriveDialogMessages]
TargetDrive=Ziel:
ExecuteCopy=Erst kopieren
BackupNote=Alles wird geloescht
SourceDrive=Quelle:
ExecuteRetrieve=Danach zurueckholen
)";

}  // namespace

class TestZipDialogs : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir home_;
  TFormZipProgress* progress_ = nullptr;
  QStringList asked_;
  bool answer_ = false;

  QLabel* Label(const char* name) { return progress_->findChild<QLabel*>(name); }
  QPushButton* Cancel() { return progress_->findChild<QPushButton*>("ButtonCancel"); }
  void Major(const QString& item, int percent = 10) {
    bool cancel = false;
    progress_->MajorStatus(item, percent, cancel);
  }

 private slots:
  void initTestCase() {
    QFile f(home_.filePath("Language.ini"));
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(kLanguage);
    f.close();
    qputenv("VARDEX_HOME", home_.path().toUtf8());
    progress_ = new TFormZipProgress();
    progress_->ConfirmCancel = [this](const QString& text) {
      asked_ << text;
      return answer_;
    };
  }
  void cleanupTestCase() { delete progress_; }

  void startResetsAndCancelWaitsForTheFirstItem() {
    progress_->Start("BACKUP", "SALES");
    QCOMPARE(progress_->windowTitle(), QString("Sichern: SALES"));
    QCOMPARE(Label("LabelCurrent")->text(), QString("Warten"));
    QVERIFY(!Cancel()->isEnabled());
    Major("Please wait.");
    QCOMPARE(Label("LabelCurrent")->text(), QString("Vorbereiten"));
    QVERIFY(!Cancel()->isEnabled());
    // "Item" becomes "Items" once (no endless replacement), and "of" is
    // replaced wherever it stands, also inside words.
    Major("Item 3 of 12 (proof)", 25);
    QCOMPARE(Label("LabelDatabase")->text(), QString("Items 3 von 12 (provon)"));
    QVERIFY(Cancel()->isEnabled());
    QCOMPARE(progress_->findChild<TGauge*>("GaugeDatabase")->Progress(), 25);
    Major("Please wait.");
    QVERIFY(!Cancel()->isEnabled());
    Major(QString(), 100);
    QVERIFY(Label("LabelDatabase")->text().isEmpty());
    QVERIFY(!Cancel()->isEnabled());
  }

  // Shown over the main window, centred on it, wherever that stands.
  void progressIsCentredOverItsOwner() {
    QWidget owner;
    owner.setGeometry(500, 400, 800, 600);
    owner.show();
    auto* dialog = new TFormZipProgress(&owner);
    dialog->Start("BACKUP", "SALES");
    const QPoint offset = dialog->frameGeometry().center() - owner.frameGeometry().center();
    QVERIFY2(offset.manhattanLength() <= 4, qPrintable(QString("%1,%2").arg(offset.x()).arg(offset.y())));
    dialog->hide();
  }

  void minorStatusShowsTheFileNameOnly() {
    bool cancel = true;
    progress_->MinorStatus("SAFE/sub/CUSTOMER.DB", 40, cancel);
    QVERIFY(!cancel);
    QCOMPARE(Label("LabelCurrent")->text(), QString("Datei: CUSTOMER.DB"));
    QCOMPARE(progress_->findChild<TGauge*>("GaugeCurrent")->Progress(), 40);
    progress_->MinorStatus(QString(), 0, cancel);
    QVERIFY(Label("LabelCurrent")->text().isEmpty());
  }

  void cancelAndTheCloseBoxAskFirst() {
    progress_->Start("RESTORE", "SALES");
    progress_->show();
    asked_.clear();
    answer_ = false;
    QCloseEvent no;
    QCoreApplication::sendEvent(progress_, &no);
    QVERIFY(!no.isAccepted());
    QVERIFY(!progress_->CancelRequested());
    QCOMPARE(asked_, QStringList{"Laden abbrechen?"});
    answer_ = true;
    progress_->ButtonCancelClick();
    bool cancel = false;
    progress_->MinorStatus("x", 1, cancel);
    QVERIFY(cancel);
    answer_ = false;  // No after Yes clears the flag again
    progress_->ButtonCancelClick();
    QVERIFY(!progress_->CancelRequested());
    answer_ = true;
    QCloseEvent yes;
    QCoreApplication::sendEvent(progress_, &yes);
    QVERIFY(yes.isAccepted());
    QVERIFY(progress_->CancelRequested());
  }

  void driveDialogTextsFollowTheTool() {
    TFormSelectDrive dialog;
    QCOMPARE(dialog.Drive(), QChar('A'));
    QVERIFY(dialog.Complement());
    dialog.SetDrives({"A", "b", "D"});
    QVERIFY(dialog.SetDrive('b'));
    QCOMPARE(dialog.Drive(), QChar('B'));
    QVERIFY(!dialog.SetDrive('Z'));
    dialog.SetDrives({"D", "B"});  // the selection stays where it can
    QCOMPARE(dialog.Drive(), QChar('B'));
    dialog.Prepare("BACKUP", "SALES");
    QCOMPARE(dialog.windowTitle(), QString("Sichern: SALES"));
    QCOMPARE(dialog.findChild<QLabel*>("LabelDrive")->text(), QString("Ziel:"));
    QCOMPARE(dialog.findChild<QCheckBox*>("CheckComplement")->text(), QString("Erst kopieren"));
    QCOMPARE(dialog.findChild<QPushButton*>("ButtonCancel")->text(), QString("Abbrechen"));
    // RestoreNote is missing from the file: the restore's texts raise.
    QVERIFY_THROWS_EXCEPTION(EZelSetup, dialog.Prepare("RESTORE", "SALES"));
    QCOMPARE(dialog.findChild<QLabel*>("LabelDrive")->text(), QString("Quelle:"));
  }
};

QTEST_MAIN(TestZipDialogs)
#include "fmZipPrg_test.moc"
