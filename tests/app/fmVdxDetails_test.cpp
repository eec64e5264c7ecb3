// The details pane and the table browser through the offscreen window, on a
// sample database: live tables, references, the safe copy, kept sets and a
// tool log record.
#include "fmVdxDetails.h"

#include <QDir>
#include <QDockWidget>
#include <QFile>
#include <QLabel>
#include <QPlainTextEdit>
#include <QSignalSpy>
#include <QTableView>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>
#include <fstream>

#include "Session.h"
#include "TableWriter.h"
#include "fmTableBrowser.h"
#include "fmVdx.h"
#include "svLog.h"

namespace {

const QString kData = VARDEX_TEST_DATA_DIR;

void Copy(const QString& from, const QString& to) {
  QDir().mkpath(QFileInfo(to).path());
  QFile::remove(to);
  QVERIFY2(QFile::copy(from, to), qPrintable(from));
  QFile(to).setPermissions(QFile::ReadOwner | QFile::WriteOwner);
}

QStringList Children(QTreeWidgetItem* item) {
  QStringList rows;
  for (int i = 0; i < item->childCount(); ++i) {
    rows << item->child(i)->text(0) + "|" + item->child(i)->text(1) + "|" + item->child(i)->text(2);
  }
  return rows;
}

}  // namespace

class TFormVdxDetailsTest : public QObject {
  Q_OBJECT

  QTemporaryDir home_, dir_;
  QString db_;

  std::unique_ptr<TFormVardex> MakeForm() {
    auto form = std::make_unique<TFormVardex>(QStringList{});
    form->MessageHandler = [](const TMessageRequest& m) {
      qWarning() << "message" << m.Key << m.Args;
      return QMessageBox::Ok;
    };
    form->ToolRunHandler = [](TToolType) {};
    form->OpenToolLogHandler = [] { return true; };
    return form;
  }

 private slots:
  void initTestCase() {
    qputenv("VARDEX_HOME", home_.path().toLocal8Bit());
    db_ = dir_.filePath("demo");
    const QString r = kData + "/paradox-restructure/";
    for (const char* f : {"A.db", "A.PX", "A.VAL", "B.db", "B.PX", "B.VAL"})
      Copy(r + f, db_ + "/" + f);
    Copy(kData + "/paradox/memo.db", db_ + "/memo.db");
    Copy(kData + "/paradox/memo.mb", db_ + "/memo.mb");
    for (const char* f : {"A.db", "A.PX", "A.VAL"}) Copy(r + f, db_ + "/METADATA/" + f);
    // B's reference has another structure: an Update is due.
    for (const char* f : {"C.DB", "C.PX"}) Copy(r + f, db_ + "/METADATA/B" + QString(f).mid(1));
    for (const char* f : {"A.db", "A.PX", "A.VAL"}) Copy(r + f, db_ + "/SAFE/" + f);
    Copy(r + "A.db", db_ + "/KEYVIOL/A_20261201_101500.DB");
    Copy(r + "B.db", db_ + "/DAMAGED/B_20261130_090000/B.db");
    // A data file whose header is garbage: it fails the quick check.
    QFile broken(db_ + "/BROKEN.DB");
    QVERIFY(broken.open(QIODevice::WriteOnly));
    broken.write(QByteArray(4096, '\xff'));
    broken.close();
    QDir().mkpath(dir_.filePath("empty"));
    std::ofstream(dir_.filePath("engine.ini").toStdString())
        << "[demo]\nPATH=" << db_.toStdString()
        << "\n[empty]\nPATH=" << dir_.filePath("empty").toStdString() << "\n";
    engine::TSession::Default().SetConfigFile(dir_.filePath("engine.ini").toStdString());
    QVERIFY(OpenLog());
    QVERIFY(AddLogEntry("Demo", ttPack, trSuccess));
    QVERIFY(AddLogEntry("demo", ttCopy, trError));
  }

  void cleanupTestCase() { CloseLog(); }

  // The pane shows the selected database: counts, Update due, the failed
  // quick check, the last successful run, the safe copy and the kept sets.
  void paneShowsTheDatabaseAtAGlance() {
    auto form = MakeForm();
    auto* pane = form->findChild<TFormVdxDetails*>("DetailsPane");
    QVERIFY(pane);
    form->show();
    QVERIFY(QTest::qWaitForWindowExposed(form.get()));
    QTRY_COMPARE(pane->Glance().folder, db_);
    const TDatabaseGlance& g = pane->Glance();
    QStringList names;
    for (const TTableGlance& t : g.live) names << t.name;
    QCOMPARE(names, QStringList({"A.db", "B.db", "BROKEN.DB", "memo.db"}));
    QVERIFY(g.live[0].records > 0);
    QVERIFY(!g.live[0].updateDue && g.live[0].problem.isEmpty());
    QVERIFY(g.live[1].updateDue);
    QVERIFY(!g.live[2].problem.isEmpty());
    QVERIFY(g.live[3].noReference);
    QVERIFY(g.live[3].bytes > QFileInfo(db_ + "/memo.db").size());  // the blob file counts
    QVERIFY(g.lastSuccess[ttPack].isValid());
    QVERIFY(!g.lastSuccess[ttCopy].isValid());  // only an error was logged
    QVERIFY(g.hasSafe && g.safeBytes > 0 && g.safeDate.isValid());
    QCOMPARE(g.kept.size(), 2u);
    QCOMPARE(g.kept[0].where, QString("KEYVIOL"));
    QCOMPARE(g.kept[1].where, QString("DAMAGED/B_20261130_090000"));
    // What the user reads.
    QTreeWidget* tree = pane->Tree();
    const QStringList tables = Children(tree->topLevelItem(0));
    QVERIFY2(tables[1].contains(form->Value("DetailsPane", "UpdateDue")),
             qPrintable(tables.join('\n')));
    QVERIFY(tables[2].contains("quick check"));
    QVERIFY(Children(tree->topLevelItem(1)).join('\n').contains(form->Run().DisplayName(ttPack)));
    // The grid still ends 3 margins short of the room the pane leaves.
    QTRY_COMPARE(form->Grid()->geometry().right() + 1 + 20 + pane->Room(),
                 form->frameGeometry().width());
  }

  // A newer selection wins: the older reading, started or not, is dropped.
  void newerSelectionDiscardsTheOlderResult() {
    auto form = MakeForm();
    auto* pane = form->findChild<TFormVdxDetails*>("DetailsPane");
    QSignalSpy shown(pane, &TFormVdxDetails::Shown);
    form->SelectAliasByName("demo");
    pane->Reload();
    form->SelectAliasByName("empty");
    pane->Reload();
    QTRY_COMPARE(pane->Glance().folder, dir_.filePath("empty"));
    QTest::qWait(300);
    QCOMPARE(pane->Glance().folder, dir_.filePath("empty"));
    QVERIFY(pane->Glance().live.empty());
    QCOMPARE(shown.count(), 1);
  }

  // The browser: records by position, a memo in the viewer, the structure,
  // and a protected table that asks for its password.
  void browserShowsRecordsBlobsStructureAndAsksForThePassword() {
    auto form = MakeForm();
    TTableBrowser* a = TTableBrowser::Open(db_ + "/A.db", form.get());
    QVERIFY(a);
    const int last = a->Model()->rowCount() - 1;
    QVERIFY(last > 0);
    QVERIFY(!a->Model()->CellText(last, 0).isEmpty());
    QCOMPARE(a->Model()->CachedPages(), 1u);
    QStringList structure;
    for (int i = 0; i < a->Structure()->topLevelItemCount(); ++i) {
      structure << a->Structure()->topLevelItem(i)->text(0) + "=" +
                       a->Structure()->topLevelItem(i)->text(1);
    }
    QVERIFY2(structure.join(';').contains(
                 "Key=" + a->Model()->headerData(0, Qt::Horizontal, Qt::DisplayRole).toString()),
             qPrintable(structure.join(';')));
    QVERIFY(structure.join(';').contains("Block size="));
    a->close();

    QWidget* shown = nullptr;
    TTableBrowser::ViewerShown = [&](QWidget* v) { shown = v; };
    TTableBrowser* memo = TTableBrowser::Open(db_ + "/memo.db", form.get());
    QVERIFY(memo);
    int memo_col = -1;
    for (int c = 0; c < memo->Model()->columnCount(); ++c) {
      if (engine::IsBlobType(memo->Model()->Table().Fields()[c].type)) memo_col = c;
    }
    QVERIFY(memo_col >= 0);
    int row = 0;
    while (row < memo->Model()->rowCount() && !memo->ViewBlob(row, memo_col)) ++row;
    QVERIFY(shown);
    auto* text = shown->findChild<QPlainTextEdit*>("Text");
    QVERIFY(text && !text->toPlainText().isEmpty());
    TTableBrowser::ViewerShown = nullptr;
    memo->close();

    // A protected copy of A: a wrong password, then the right one.
    std::unique_ptr<engine::ParadoxTable> source;
    engine::OpenOptions plain;
    plain.lock = false;
    QVERIFY(engine::ParadoxTable::Open((db_ + "/A.db").toStdString(), plain, &source).ok());
    engine::TableDefinition def;
    def.fields = source->Fields();
    def.password = "geheim";
    const std::string secret = (dir_.filePath("SECRET.DB")).toStdString();
    QVERIFY(engine::CreateTable(engine::Env::Default(), secret, def).ok());
    QStringList asked;
    QStringList answers{"wrong", "geheim"};
    TTableBrowser::PasswordPrompt = [&](const QString& table, QString* password) {
      asked << table;
      *password = answers.takeFirst();
      return true;
    };
    TTableBrowser* locked = TTableBrowser::Open(QString::fromStdString(secret), form.get());
    QVERIFY(locked);
    QCOMPARE(asked, QStringList({"SECRET.DB", "SECRET.DB"}));
    QCOMPARE(locked->Model()->columnCount(), static_cast<int>(def.fields.size()));
    // Cancelled: nothing opens.
    TTableBrowser::PasswordPrompt = [](const QString&, QString*) { return false; };
    QVERIFY(!TTableBrowser::Open(QString::fromStdString(secret), form.get()));
    TTableBrowser::PasswordPrompt = nullptr;
  }
};

QTEST_MAIN(TFormVdxDetailsTest)
#include "fmVdxDetails_test.moc"
