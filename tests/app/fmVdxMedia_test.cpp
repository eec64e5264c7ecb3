// A backup onto a removable medium that UDisks2 reports: a stand-in UDisks2
// on a private bus of the test's own serves as the system bus; the medium
// is chosen in the drive dialog and the archive lands on it, nowhere else.
#include <QComboBox>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

#include "RunTestUtil.h"
#include "fmSelDrv.h"

class TMediaBackupTest : public QObject {
  Q_OBJECT

 private:
  TRunHome home_;
  QProcess bus_, standin_;

 private slots:
  void initTestCase() {
    // A private bus in place of the system bus, with the stand-in on it.
    bus_.start("dbus-daemon", {"--session", "--nofork", "--print-address"});
    QVERIFY(bus_.waitForReadyRead(20000));
    const QByteArray address = bus_.readLine().trimmed();
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", address);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("DBUS_SESSION_BUS_ADDRESS", address);
    standin_.setProcessEnvironment(env);
    QVERIFY(QDir().mkpath(home_.Path("stick")));
    standin_.start(UDISKS_STANDIN_PATH, {"STICK", home_.Path("stick"), "-"});
    QVERIFY(standin_.waitForReadyRead(20000));
  }

  void cleanupTestCase() {
    for (QProcess* p : {&standin_, &bus_}) {
      p->kill();
      p->waitForFinished();
    }
  }

  void theBackupIsWrittenToTheMediumChosen() {
    home_.WriteAliases({"MTDEMO"});
    QVERIFY(home_.MakeSampleDatabase("MTDEMO"));
    home_.WriteDrives({{"A", home_.Path("drive").toStdString()}});

    QStringList keys;
    const auto form = MakeWindow([&keys](const TMessageRequest& m) {
      keys << m.Key;
      return DefaultAnswer(m);
    });
    form->SetBackupComplement(true);
    QStringList offered;
    QTimer pick;
    connect(&pick, &QTimer::timeout, [&] {
      TFormSelectDrive* dialog = form->SelectDriveDialog();
      if (!dialog->isVisible()) return;
      pick.stop();
      auto* combo = dialog->findChild<QComboBox*>("ComboDrive");
      for (int i = 0; i < combo->count(); ++i) offered << combo->itemText(i);
      combo->setCurrentIndex(combo->count() - 1);
      dialog->findChild<QPushButton*>("ButtonOk")->click();
    });
    pick.start(10);
    form->SelectAliasByName("MTDEMO");
    form->ToolMenuItem(ttBackup)->trigger();

    QCOMPARE(offered.size(), 2);
    QCOMPARE(offered[0], QString("A"));
    QVERIFY2(offered[1].startsWith("STICK ("), qPrintable(offered[1]));
    QVERIFY2(keys.endsWith("Success"), qPrintable(keys.join(" ")));
    QVERIFY(QFile::exists(home_.Path("stick/MTDEMO.DBK")));
    QVERIFY(QDir(home_.Path("drive")).isEmpty());
    QProcess list;
    list.start("7z", {"l", "-slt", home_.Path("stick/MTDEMO.DBK")});
    QVERIFY(list.waitForFinished(60000));
    QVERIFY(QString(list.readAllStandardOutput()).contains("Path = METADATA/"));
  }
};

QTEST_MAIN(TMediaBackupTest)
#include "fmVdxMedia_test.moc"
