// The removable media of the drive dialog against a stand-in UDisks2 on a
// private bus (the test runs under dbus-run-session): which file systems
// are offered, how the dialog lists and selects them beside the letters,
// and that without UDisks2 only the letters remain, with nothing said.
#include <QComboBox>
#include <QDBusConnection>
#include <QDir>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include "fmSelDrv.h"
#include "fmSelDrvMedia.h"

class TMediaTest : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir root_;
  QProcess standin_;

  QString Folder(const QString& name) const { return root_.filePath(name); }
  QStringList Items(const TFormSelectDrive& dialog) const {
    auto* combo = dialog.findChild<QComboBox*>("ComboDrive");
    QStringList items;
    for (int i = 0; i < combo->count(); ++i) items << combo->itemText(i);
    return items;
  }

 private slots:
  void initTestCase() {
    for (const char* name : {"stick", "Card", "system", "ignored", "unmounted"})
      QVERIFY(QDir().mkpath(Folder(name)));
    // label, mount point, flags: see udisks_standin.cpp.
    standin_.start(UDISKS_STANDIN_PATH,
                   {"STICK", Folder("stick"), "-",          // a USB stick
                    "", Folder("Card"), "sr",               // a card reader: its drive is removable
                    "SYSTEM", Folder("system"), "s",        // a fixed disk
                    "IGNORED", Folder("ignored"), "i",      // hidden by the system
                    "AWAY", Folder("unmounted"), "u",       // not mounted
                    "GONE", Folder("no-such-folder"), "-"}  // a mount point that is not there
    );
    QVERIFY(standin_.waitForReadyRead(20000));
    QCOMPARE(standin_.readLine().trimmed(), QByteArray("ready"));
  }

  void cleanupTestCase() {
    standin_.kill();
    standin_.waitForFinished();
  }

  void mountedRemovableFileSystemsAreOffered() {
    const QList<TRemovableMedium> media = RemovableMedia(QDBusConnection::sessionBus());
    QStringList found;
    for (const TRemovableMedium& m : media) {
      found << m.label + " " + m.mount_point;
      QVERIFY2(m.free > 0, qPrintable(m.mount_point));
    }
    QCOMPARE(found, (QStringList{"Card " + Folder("Card"), "STICK " + Folder("stick")}));
  }

  void theDialogListsMediaBesideTheLetters() {
    TFormSelectDrive dialog;
    const QList<TRemovableMedium> media = RemovableMedia(QDBusConnection::sessionBus());
    dialog.SetDrives({"a", "B"}, media);
    const QStringList items = Items(dialog);
    QCOMPARE(items.mid(0, 2), (QStringList{"A", "B"}));
    QCOMPARE(items.size(), 4);
    QVERIFY2(QRegularExpression(R"(^STICK \(\d.* free\)$)").match(items[3]).hasMatch(),
             qPrintable(items[3]));
    QCOMPARE(dialog.Drive(), QChar('A'));
    QVERIFY(dialog.Medium().isEmpty());

    dialog.findChild<QComboBox*>("ComboDrive")->setCurrentIndex(3);
    QCOMPARE(dialog.Medium(), Folder("stick"));
    QVERIFY(dialog.Drive().isNull());
    // Offered again: the medium stays chosen; gone: the first letter is.
    dialog.SetDrives({"A", "B"}, media);
    QCOMPARE(dialog.Medium(), Folder("stick"));
    dialog.SetDrives({"A", "B"}, media.mid(0, 1));
    QCOMPARE(dialog.Drive(), QChar('A'));
    // SETDRIVE's letter wins over a medium.
    dialog.SetDrives({"A", "B"}, media);
    dialog.findChild<QComboBox*>("ComboDrive")->setCurrentIndex(3);
    QVERIFY(dialog.SetDrive('b'));
    QCOMPARE(dialog.Drive(), QChar('B'));
    QVERIFY(dialog.Medium().isEmpty());
  }

  void withoutUDisksOnlyTheLettersRemain() {
    standin_.kill();
    standin_.waitForFinished();
    QElapsedTimer clock;
    clock.start();
    QVERIFY(RemovableMedia(QDBusConnection::sessionBus()).isEmpty());
    QVERIFY(RemovableMedia(QDBusConnection("no bus at all")).isEmpty());
    QVERIFY2(clock.elapsed() < 3000, "waited for a service that is not there");
    TFormSelectDrive dialog;
    dialog.SetDrives({"A"}, RemovableMedia(QDBusConnection::sessionBus()));
    QCOMPARE(Items(dialog), QStringList{"A"});
    QVERIFY(QApplication::topLevelWidgets().size() >= 1);
    for (QWidget* w : QApplication::topLevelWidgets()) QVERIFY(!qobject_cast<QMessageBox*>(w));
  }
};

QTEST_MAIN(TMediaTest)
#include "fmSelDrvMedia_bustest.moc"
