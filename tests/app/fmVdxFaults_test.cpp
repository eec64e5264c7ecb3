// Every tool run is lossless whatever stops it. A small database of four
// tables (blobs, a level-3 table with its checks file, a keyed master and a
// detail with secondary indexes and a link) goes through Update, Copy,
// Retrieve and Pack while a fault strikes: a table locked after the check,
// a damaged blob file, a full disk, a cancel answered No, a kill at several
// points. Each run happens in a process of its own (fault_runner). After the
// fault every table holds the records it held before; after at most one
// more run of the same tool every table also has its reference's indexes,
// checks and links, and the folder holds nothing else.
#include <QDirIterator>
#include <QProcess>
#include <QtTest>
#include <csignal>

#include "RunLock.h"
#include "RunTestUtil.h"
#include "TableFiles.h"
#include "tlFile.h"

namespace {

const QString kAlias = "MTX";
const QStringList kTables{"ORDERS.DB", "STORE.DB", "primary.db", "fk1.db"};

enum TFault { fLock, fBlob, fDiskFull, fCancel, fKillFirst, fKillThird, fKillAtEnd };

struct TCase {
  TToolType tool;
  TFault fault;
  int expected;  // the run's result; -1: killed
};

// `vdx info` of a table without what differs between a live table and its
// reference: its path, its record count, the folder its links name, and the
// master's side of the links (a borrowed reference names details that this
// database does not hold; each link is compared on its detail's side).
QString Structure(const QString& table) {
  QString info;
  Vdx({"info", table}, &info);
  QStringList kept;
  for (QString line : info.split('\n')) {
    if (line.startsWith("table:") || line.startsWith("records:") || line.startsWith("links:") ||
        line.startsWith("  master of")) {
      continue;
    }
    line.replace(QRegularExpression("dependent on \\S*/"), "dependent on ");
    kept << line;
  }
  return kept.join('\n');
}

// The names in a folder (files and folders, hidden ones too), sorted.
QStringList Entries(const QString& dir) {
  QStringList names = QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
  names.sort();
  return names;
}

}  // namespace

class TFaultTest : public QObject {
  Q_OBJECT

 private:
  TRunHome home_;
  QString template_;  // the database as every case starts from it
  QMap<QString, QString> records_;

  QString Db(const QString& sub = QString()) const {
    return sub.isEmpty() ? home_.Path(kAlias) : home_.Path(kAlias) + '/' + sub;
  }

  // Runs a tool in its own process: its result, or -1 when it was killed.
  int RunTool(TToolType tool, const QStringList& fault = {},
              const QString& disk_budget = QString()) {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    if (!disk_budget.isEmpty()) env.insert("VARDEX_FAIL_WRITES_AFTER", disk_budget);
    p.setProcessEnvironment(env);
    p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    p.start(FAULT_RUNNER_PATH, QStringList{kAlias, QString(ToolLetter(tool))} + fault);
    if (!p.waitForFinished(120000)) return -2;
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
  }

  // Records of the tool log for the alias, the tool and a result. The log is
  // the program's alone while it runs, so it is opened only to count.
  static int Logged(TToolType tool, int result) {
    if (!OpenLog()) return -1;
    const int n = LogRecords(kAlias, tool, result);
    CloseLog();
    return n;
  }

  static void CopyTree(const QString& from, const QString& to) {
    QDir().mkpath(to);
    QDirIterator it(from, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
      const QString path = it.next();
      const QString target = to + path.mid(from.size());
      if (it.fileInfo().isDir()) {
        QDir().mkpath(target);
      } else {
        QFile::copy(path, target);
      }
    }
  }

  void VerifyRecords(const char* when) {
    for (const QString& t : kTables) {
      QVERIFY2(PxRecords(Db(t)) == records_[t], qPrintable(QString("%1: %2").arg(when, t)));
    }
  }

  // Every table has its reference's structure, and a checks file when the
  // reference has one; the folder holds the tables' files and the two work
  // folders (and the run lock's file), nothing parked, staged or journaled.
  void VerifyComplete() {
    QStringList expected{"METADATA", "SAFE", toolrun::kRunLockFile};
    for (const QString& t : kTables) {
      QCOMPARE(Structure(Db(t)), Structure(Db("METADATA/" + t)));
      const QString stem = t.chopped(3);
      for (const QString& name : Entries(Db("METADATA"))) {
        if (name.startsWith(stem + '.', Qt::CaseInsensitive)) {
          expected << QString::fromStdString(
                          engine::FindNoCase(Db().toStdString(), name.toStdString()))
                          .section('/', -1);
        }
      }
    }
    // Blob files come with the records; indexes are written anew.
    QStringList actual = Entries(Db());
    expected.sort();
    for (const QString& name : actual) {
      QVERIFY2(expected.contains(name, Qt::CaseInsensitive) ||
                   QRegularExpression("\\.(MB|X..|Y..)$", QRegularExpression::CaseInsensitiveOption)
                       .match(name)
                       .hasMatch(),
               qPrintable("stray file " + name));
    }
    for (const QString& name : expected) {
      if (!name.contains(QChar(0x2e))) continue;
      QVERIFY2(actual.contains(name, Qt::CaseInsensitive), qPrintable("missing " + name));
    }
  }

 private slots:
  void initTestCase() {
    QVERIFY(Vdx({"create-demo", home_.Path("demo")}) == 0);
    home_.WriteAliases({kAlias});
    const QString data = VARDEX_TEST_DATA_DIR;
    QVERIFY(CopyFiles(home_.Path("demo/DEMO"), Db(), {"ORDERS.*"}));
    QVERIFY(CopyFiles(data + "/paradox-restructure", Db(), {"STORE.*"}));
    QVERIFY(CopyFiles(data + "/paradox-tables", Db(), {"primary.*", "fk1.*"}));
    QDir().mkpath(Db("METADATA"));
    for (const QString& t : kTables) {
      QCOMPARE(Vdx({"borrow", Db(t), Db("METADATA/" + t)}), 0);
    }
    // A first Copy makes SAFE and brings the live tables in line.
    QCOMPARE(RunTool(ttCopy), int(trSuccess));
    for (const QString& t : kTables) {
      records_[t] = PxRecords(Db(t));
      QVERIFY2(!records_[t].startsWith("pxlib"), qPrintable(records_[t]));
    }
    VerifyComplete();
    template_ = home_.Path("template");
    CopyTree(Db(), template_);
  }

  void faultsLoseNothing_data() {
    QTest::addColumn<int>("tool");
    QTest::addColumn<int>("fault");
    QTest::addColumn<int>("expected");
    const struct {
      TToolType tool;
      int cancel;
    } tools[] = {
        {ttUpdate, trRepeat}, {ttCopy, trUpdate}, {ttRetrieve, trRepeat}, {ttPack, trCancel}};
    const struct {
      TFault fault;
      const char* name;
    } faults[] = {{fLock, "table locked after the check"},
                  {fBlob, "damaged blob file"},
                  {fDiskFull, "disk full"},
                  {fCancel, "cancel answered No"},
                  {fKillFirst, "killed at the first table"},
                  {fKillThird, "killed at the third table"},
                  {fKillAtEnd, "killed before its log record"}};
    for (const auto& t : tools) {
      for (const auto& f : faults) {
        int expected = -1;
        if (f.fault == fLock) expected = trBusy;
        if (f.fault == fBlob) expected = trCorrupted;
        if (f.fault == fDiskFull) expected = trError;
        if (f.fault == fCancel) expected = t.cancel;
        QTest::newRow(qPrintable(QString("%1, %2").arg(ToolName(t.tool).c_str(), f.name)))
            << int(t.tool) << int(f.fault) << expected;
      }
    }
  }

  void faultsLoseNothing() {
    QFETCH(int, tool);
    QFETCH(int, fault);
    QFETCH(int, expected);
    const auto t = static_cast<TToolType>(tool);
    RemoveFolderTree(Db().toStdString());
    CopyTree(template_, Db());
    // Retrieve reads the safe copy; the others the live tables.
    const QString blob = Db(t == ttRetrieve ? "SAFE/ORDERS.MB" : "ORDERS.MB");
    QByteArray blob_bytes;
    QStringList args;
    QString budget;
    switch (static_cast<TFault>(fault)) {
      case fLock:
        args = {"lock", "2"};
        break;
      case fBlob: {
        QFile f(blob);
        QVERIFY(f.open(QIODevice::ReadWrite));
        blob_bytes = f.readAll();
        QVERIFY(f.resize(blob_bytes.size() / 2));
        break;
      }
      case fDiskFull:
        budget = "20000";
        break;
      case fCancel:
        args = {"cancel", "2"};
        break;
      case fKillFirst:
        args = {"kill", "1"};
        break;
      case fKillThird:
        args = {"kill", "3"};
        break;
      case fKillAtEnd:
        args = {"kill", "0"};
        break;
    }
    const int logged = Logged(t, expected < 0 ? 0 : expected);
    QCOMPARE(RunTool(t, args, budget), expected);
    if (expected >= 0 && fault != fDiskFull) {
      QCOMPARE(Logged(t, expected), logged + 1);
    }
    if (!blob_bytes.isEmpty()) {
      QFile f(blob);
      QVERIFY(f.open(QIODevice::WriteOnly));
      f.write(blob_bytes);
    }
    VerifyRecords("after the fault");
    if (expected != trSuccess) QCOMPARE(RunTool(t), int(trSuccess));
    VerifyRecords("after the rerun");
    VerifyComplete();
  }
};

QTEST_MAIN(TFaultTest)
#include "fmVdxFaults_test.moc"
