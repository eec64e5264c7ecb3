// Program start: one instance per user, the registration switches, the start
// window's platform line. The instance tests start the real program.
#include <sys/stat.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include "AutomationRegistration.h"
#include "SingleInstance.h"
#include "fmVdxSplash.h"

class TVdx32Test : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir runtime_;
  QTemporaryDir home_;

  QProcessEnvironment Environment() const {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("XDG_RUNTIME_DIR", runtime_.path());
    env.insert("VARDEX_HOME", home_.path());
    return env;
  }

 private slots:
  void init() { qputenv("XDG_RUNTIME_DIR", runtime_.path().toLocal8Bit()); }

  void secondStartEndsAtOnceAndAsksTheFirstToComeForward() {
    QFile(home_.filePath("engine.ini")).open(QIODevice::WriteOnly);
    QProcess first;
    first.setProcessEnvironment(Environment());
    first.start(VDX32_PATH, {});
    QVERIFY(first.waitForStarted());
    TSingleInstance probe("Vdx32");
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(probe.SocketPath()), 15000);

    QProcess second;
    second.setProcessEnvironment(Environment());
    QElapsedTimer clock;
    clock.start();
    second.start(VDX32_PATH, {"DEMO", "-U"});
    QVERIFY(second.waitForFinished(5000));
    QVERIFY2(clock.elapsed() < 2000, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(second.exitStatus(), QProcess::NormalExit);
    QCOMPARE(second.exitCode(), 0);
    QCOMPARE(first.state(), QProcess::Running);

    QVERIFY(!probe.Claim());
    QVERIFY(probe.AskFirstToComeForward());  // the first one answers
    QCOMPARE(QFileInfo(probe.SocketPath()).permissions() &
                 (QFile::ReadGroup | QFile::WriteGroup | QFile::ReadOther | QFile::WriteOther),
             QFile::Permissions());
    first.terminate();
    QVERIFY(first.waitForFinished(5000));
  }

  void lockIsHeldUntilTheFirstEnds() {
    auto first = std::make_unique<TSingleInstance>("VdxLockTest");
    QVERIFY(first->Claim());
    TSingleInstance second("VdxLockTest");
    QVERIFY(!second.Claim());
    QElapsedTimer clock;
    clock.start();
    QVERIFY(!second.AskFirstToComeForward(200));  // nobody listens: gives up in time
    QVERIFY(clock.elapsed() < 1000);
    first.reset();
    TSingleInstance third("VdxLockTest");
    QVERIFY(third.Claim());
  }

  void withoutRuntimeFolderAPrivateOneUnderTmp() {
    for (const char* value : {"", "/nonexistent/runtime"}) {
      qputenv("XDG_RUNTIME_DIR", value);
      const QString folder = TSingleInstance::RuntimeFolder();
      QCOMPARE(folder, QString("/tmp/vardex-%1").arg(getuid()));
      struct stat st {};
      QCOMPARE(lstat(folder.toLocal8Bit().constData(), &st), 0);
      QVERIFY(S_ISDIR(st.st_mode));
      QCOMPARE(st.st_mode & 0777, 0700u);
    }
  }

  void registrationSwitches() {
    QCOMPARE(FindRegistrationSwitch({"-RegServer"}), TRegistrationSwitch::Register);
    QCOMPARE(FindRegistrationSwitch({"SALES", "/unregserver"}), TRegistrationSwitch::Unregister);
    QCOMPARE(FindRegistrationSwitch({"REGSERVER"}), TRegistrationSwitch::None);
    QCOMPARE(FindRegistrationSwitch({"-REGSERVERS", "-EMBEDDING"}), TRegistrationSwitch::None);

    QTemporaryDir data;
    QProcessEnvironment env = Environment();
    env.remove("QT_QPA_PLATFORM");  // ends before any window: no display needed
    env.remove("DISPLAY");
    env.insert("XDG_DATA_HOME", data.path());
    const QString file = data.filePath("dbus-1/services/Vdx32.OLEMacro.service");
    for (const char* option : {"-REGSERVER", "/UnRegServer"}) {
      QProcess vdx;
      vdx.setProcessEnvironment(env);
      vdx.start(VDX32_PATH, {option});
      QVERIFY(vdx.waitForFinished(5000));
      QCOMPARE(vdx.exitCode(), 0);
      if (option[1] == 'R') {
        QFile service(file);
        QVERIFY(service.open(QIODevice::ReadOnly));
        const QString text = service.readAll();
        QVERIFY(text.contains("Name=Vdx32.OLEMacro\n"));
        QVERIFY(text.contains(
            QString("\"%1\" -EMBEDDING").arg(QFileInfo(VDX32_PATH).absoluteFilePath())));
        QVERIFY(text.contains("VARDEX_HOME=" + home_.path()));
      } else {
        QVERIFY(!QFileInfo::exists(file));
      }
    }
  }

  void startWindowNamesThePlatformItRunsOn() {
    TFormVdxSplash splash("Vardex 1.0d");
    const auto* platform = splash.findChild<QLabel*>("LabelPlatform");
    QVERIFY(platform);
    QCOMPARE(platform->text(), QString("for Linux"));
    QCOMPARE(splash.findChild<QLabel*>("LabelTitle")->text(), QString("Vardex 1.0d"));
  }
};

QTEST_MAIN(TVdx32Test)
#include "Vdx32_test.moc"
