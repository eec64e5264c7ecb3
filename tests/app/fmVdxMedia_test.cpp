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

  QString Db(const QString& sub = QString()) const {
    return sub.isEmpty() ? home_.Path("MTDEMO") : home_.Path("MTDEMO/" + sub);
  }

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
    const QString samples = QString(VARDEX_SAMPLES_DIR) + "/mtdemo";
    home_.WriteAliases({"MTDEMO"});
    QVERIFY(CopyFiles(samples, Db()));
    QDir().mkpath(Db("METADATA"));
    for (const QString& t : QDir(samples).entryList({"*.DB"}, QDir::Files)) {
      QCOMPARE(Vdx({"borrow", samples + '/' + t, Db("METADATA/" + t)}), 0);
    }
    QDir().mkpath(home_.Path("drive"));
    QFile ini(home_.Path("drives.ini"));
    QVERIFY(ini.open(QIODevice::WriteOnly));
    ini.write(("[Drives]\nA=" + home_.Path("drive") + "\n").toUtf8());
    ini.close();

    TFormVardex form({});
    QStringList keys;
    form.MessageHandler = [&keys](const TMessageRequest& m) {
      keys << m.Key;
      return m.Kind == mkConfirmation ? QMessageBox::Yes : QMessageBox::Ok;
    };
    form.TerminateHandler = [] {};
    form.FormActivate();
    form.SetBackupComplement(true);
    QStringList offered;
    QTimer pick;
    connect(&pick, &QTimer::timeout, [&] {
      TFormSelectDrive* dialog = form.SelectDriveDialog();
      if (!dialog->isVisible()) return;
      pick.stop();
      auto* combo = dialog->findChild<QComboBox*>("ComboDrive");
      for (int i = 0; i < combo->count(); ++i) offered << combo->itemText(i);
      combo->setCurrentIndex(combo->count() - 1);
      dialog->findChild<QPushButton*>("ButtonOk")->click();
    });
    pick.start(10);
    form.SelectAliasByName("MTDEMO");
    form.ToolMenuItem(ttBackup)->trigger();

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
