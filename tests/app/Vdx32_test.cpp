// Program start: one instance per user, the registration switches, the start
// window's platform line. The instance tests start the real program.
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include "AutomationRegistration.h"
#include "RunTestUtil.h"
#include "SingleInstance.h"
#include "fmVdx.h"
#include "fmVdxSplash.h"

class TVdx32Test : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir runtime_;
  QTemporaryDir home_;

  QProcessEnvironment Environment() const {
    return ProgramEnvironment(home_.path(), runtime_.path());
  }

 private slots:
  void init() {
    qputenv("XDG_RUNTIME_DIR", runtime_.path().toLocal8Bit());
    qputenv("VARDEX_HOME", home_.path().toLocal8Bit());
  }

  // A second start finds the first whatever its XDG_RUNTIME_DIR; a plain
  // one brings it forward, a tool request is run by it and ends with that
  // run's code, never 0 for a run that did not happen.
  void secondStartHandsItsRequestToTheFirst() {
    QTemporaryDir other_runtime;
    QCOMPARE(Vdx({"create-demo", home_.path()}), 0);
    WriteAliasFile(home_.path(), {"DEMO", "EMPTY"});
    QDir(home_.path()).mkpath("EMPTY");
    QProcess first;
    first.setProcessEnvironment(Environment());
    first.start(VDX32_PATH, {});
    QVERIFY(first.waitForStarted());
    TSingleInstance probe("Vdx32");
    QTRY_VERIFY_WITH_TIMEOUT(probe.AskFirstToComeForward(200), 15000);
    // No questions in the first one: it runs as a macro client wants it.
    for (const char* option : {"CONFIRM", "ENDMSG"}) {
      QProcess macro;
      macro.setProcessEnvironment(Environment());
      macro.start(VDX_PATH, {"macro", QString("SETOPTIONS(EXCLUDE,%1)").arg(option)});
      QVERIFY(macro.waitForFinished(10000));
      QVERIFY2(macro.readAll().contains("(success)"), option);
    }

    const struct {
      QStringList params;
      int code;
    } cases[] = {
        {{}, 0},                        // comes forward
        {{"DEMO", "-P"}, 0},            // Pack runs in the first one
        {{"EMPTY", "/u"}, trNoTables},  // runs, and fails
        {{"NOSUCH", "-P"}, TFormVardex::kExitBadCommandLine},
        {{"DEMO", "-Q"}, TFormVardex::kExitBadCommandLine},
        {{"DEMO"}, TFormVardex::kExitBadCommandLine},
    };
    for (const auto& c : cases) {
      QProcess second;
      QProcessEnvironment env = Environment();
      env.insert("XDG_RUNTIME_DIR", other_runtime.path());
      second.setProcessEnvironment(env);
      second.start(VDX32_PATH, c.params);
      QVERIFY(second.waitForFinished(60000));
      QCOMPARE(second.exitStatus(), QProcess::NormalExit);
      QVERIFY2(second.exitCode() == c.code,
               qPrintable(c.params.join(' ') + ": " + QString::number(second.exitCode()) + " " +
                          second.readAllStandardError()));
      QCOMPARE(first.state(), QProcess::Running);
    }
    QVERIFY(!probe.Claim());
    first.terminate();
    QVERIFY(first.waitForFinished(5000));

    // A first start that takes the request but ends without a result.
    auto fake = std::make_unique<TSingleInstance>("Vdx32");
    QVERIFY(fake->Claim());
    bool asked = false;
    fake->Listen(nullptr, [&asked](const QString&, QChar, auto) { asked = true; });
    QProcess second;
    second.setProcessEnvironment(Environment());
    second.start(VDX32_PATH, {"DEMO", "-P"});
    QTRY_VERIFY_WITH_TIMEOUT(asked, 15000);
    fake.reset();
    QVERIFY(second.waitForFinished(10000));
    QCOMPARE(second.exitCode(), int(trError));
    QVERIFY(second.readAllStandardError().contains("nothing is known to have run"));
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
