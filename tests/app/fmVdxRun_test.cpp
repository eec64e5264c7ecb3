// Tool runs of the main window on copies of real databases: Update, Copy,
// Retrieve and Pack from the menu, their Check step, their cancel questions,
// their end messages and log records, and the password asked once per run.

#include <QRegularExpression>
#include <QTableWidget>
#include <QtTest>

#include "ParadoxTable.h"
#include "RunTestUtil.h"
#include "TTable.h"
#include "TableWriter.h"
#include "cpTbTool.h"
#include "fmPrgrss.h"

namespace {

// The end message of a finished run: its keys as the window asked for them.
const QStringList kSuccess{"Success", "RightNow"};

std::string ToStd(const QString& text) { return text.toStdString(); }

// The records of a table as pxlib reads them, one line each.
QStringList Rows(const QString& db_path) {
  return PxRecords(db_path).section("--\n", 0, 0).split('\n', Qt::SkipEmptyParts);
}

}  // namespace

class TRunTest : public TWindowTest {
  Q_OBJECT

 private:
  QString Db(const QString& name, const QString& sub = QString()) const {
    return sub.isEmpty() ? home_->Path(name) : home_->Path(name) + '/' + sub;
  }

  void MakeDemo() { QVERIFY(home_->MakeDemo({"DEMO", "SALES", "MIX"})); }

  // The run is over and the controls are back.
  void VerifyIdle() {
    QVERIFY(!form_->ToolRunning);
    QVERIFY(form_->ToolMenuItem(ttUpdate)->isEnabled());
    QVERIFY(form_->Grid()->isEnabled());
    QVERIFY(!FormProgress()->isVisible());
  }

  // Cancel is pressed while the n-th table is restructured.
  void CancelAtRestructure(int n) {
    auto count = std::make_shared<int>(0);
    form_->TableTools().OnRestructureRequest = [count, n](const CRTblDesc&) {
      if (++*count == n) FormProgress()->ButtonCancelClick();
    };
  }

 private slots:
  void init() { Begin(); }
  void cleanup() { End(); }

  // SALES already matches its reference copy: every record stays as it was,
  // the tables verify clean and one run is logged.
  void updateOfAMatchingDatabaseChangesNoRecord() {
    MakeDemo();
    MakeForm();
    // A first Update brings SALE in line (it lacks the reference's Remark).
    QCOMPARE(Run(ttUpdate, "SALES"), kSuccess);
    const QString region = PxRecords(Db("SALES", "REGION.DB"));
    const QString sale = PxRecords(Db("SALES", "SALE.DB"));
    QVERIFY2(!region.startsWith("pxlib") && region.count('\n') > 0, qPrintable(region));
    QCOMPARE(Run(ttUpdate, "SALES"), kSuccess);
    QCOMPARE(AllKeys(), (QStringList{"AreYouSure", "Success+RightNow"}));
    QCOMPARE(seen_[0].Args, QStringList{"Update"});
    QCOMPARE(PxRecords(Db("SALES", "REGION.DB")), region);
    QCOMPARE(PxRecords(Db("SALES", "SALE.DB")), sale);
    QString out;
    QCOMPARE(Vdx({"verify", Db("SALES")}, &out), 0);
    QCOMPARE(LogRecords("SALES", ttUpdate, trSuccess), 2);
    QCOMPARE(LogRecords("SALES", ttUpdate), 2);
    VerifyIdle();
  }

  // Fields added and dropped by position, an index and a link taken from
  // the reference copy, and the master restructured before its detail.
  void updateTakesTheReferenceStructureMastersFirst() {
    const QString samples = QString(VARDEX_TEST_DATA_DIR) + "/paradox-tables";
    home_->WriteAliases({"MIX"});
    QDir().mkpath(Db("MIX", "METADATA"));
    for (const char* t : {"primary.db", "fk1.db"}) {
      QCOMPARE(Vdx({"borrow", samples + '/' + t, Db("MIX", QString("METADATA/") + t)}), 0);
    }
    {
      engine::TTable detail;  // the live detail: no link, no index, one field too many
      detail.DatabaseName = Db("MIX").toStdString() + "/";
      detail.TableName = "fk1.db";
      detail.FieldDefs.Add("ID", engine::FieldType::AutoInc);
      detail.FieldDefs.Add("FK", engine::FieldType::Long);
      detail.FieldDefs.Add("Old", engine::FieldType::Alpha, 10);
      detail.KeyFields = 1;
      detail.CreateTable();
      detail.Open();
      for (int i = 1; i <= 3; ++i) {
        detail.Insert();
        detail.FieldByName("FK").SetAsString(std::to_string(i));
        detail.FieldByName("Old").SetAsString("x" + std::to_string(i));
        detail.Post();
      }
      detail.Close();
      engine::TTable master;  // the live master lacks the Name field
      master.DatabaseName = detail.DatabaseName;
      master.TableName = "primary.db";
      master.FieldDefs.Add("ID", engine::FieldType::AutoInc);
      master.KeyFields = 1;
      master.CreateTable();
      master.Open();
      for (int i = 1; i <= 3; ++i) {
        master.Insert();
        master.Post();
      }
      master.Close();
    }
    MakeForm();
    QStringList order;
    form_->TableTools().OnRestructureRequest = [&order](const CRTblDesc& r) {
      order << QString(r.szTblName).toLower();
    };
    QCOMPARE(Run(ttUpdate, "MIX"), kSuccess);
    QCOMPARE(order, (QStringList{"primary.db", "fk1.db"}));

    TZelTableTools tools;
    tools.DatabaseName = Db("MIX").toStdString() + "/";
    tools.TableName = "fk1.db";
    tools.Open();
    QCOMPARE(tools.FieldCount(), 2);
    QVERIFY(tools.FindField("Old") == nullptr);
    QStringList kept;  // by position: FK stays the second field
    for (tools.First(); !tools.Eof(); tools.Next())
      kept << tools.FieldByName("FK").AsString().c_str();
    QCOMPARE(kept, (QStringList{"1", "2", "3"}));
    QCOMPARE(tools.MasterCount(false), 1);
    QCOMPARE(QString::fromStdString(tools.MasterName(false, 1)).toLower(), QString("primary.db"));
    tools.Close();
    tools.TableName = "primary.db";
    tools.Open();
    QVERIFY(tools.FindField("Name") != nullptr);
    QCOMPARE(tools.RecordCount(), 3);
    tools.Close();
    QVERIFY(!QDir(Db("MIX")).entryList({"fk1.x*"}).isEmpty());  // the reference's index
    QCOMPARE(Vdx({"verify", Db("MIX")}), 0);
  }

  void copyThenRetrieveBringsTheTablesBack() {
    MakeDemo();
    MakeForm();
    QCOMPARE(Run(ttCopy, "DEMO"), kSuccess);
    QVERIFY(!QDir(Db("DEMO", "SA$$")).exists());
    const QString customers = PxRecords(Db("DEMO", "CUSTOMER.DB"));
    const QString orders = PxRecords(Db("DEMO", "ORDERS.DB"));
    QVERIFY2(!orders.startsWith("pxlib") && orders.count('\n') > 10, qPrintable(orders));
    QCOMPARE(PxRecords(Db("DEMO", "SAFE/CUSTOMER.DB")), customers);
    QCOMPARE(PxRecords(Db("DEMO", "SAFE/ORDERS.DB")), orders);
    // Stripped: the safe copy keeps no secondary index and no link file.
    QVERIFY(QDir(Db("DEMO", "SAFE")).entryList({"*.X??", "*.Y??"}).isEmpty());

    QFile::remove(Db("DEMO", "ORDERS.MB"));  // the live tables may be in any state
    QFile(Db("DEMO", "ORDERS.DB")).resize(100);
    QCOMPARE(Run(ttRetrieve, "DEMO"), kSuccess);
    QCOMPARE(PxRecords(Db("DEMO", "CUSTOMER.DB")), customers);
    QCOMPARE(PxRecords(Db("DEMO", "ORDERS.DB")), orders);
    QCOMPARE(PxRecords(Db("DEMO", "SAFE/ORDERS.DB")), orders);
    QCOMPARE(Vdx({"verify", Db("DEMO")}), 0);
    QCOMPARE(LogRecords("DEMO", ttCopy, trSuccess), 1);
    QCOMPARE(LogRecords("DEMO", ttRetrieve, trSuccess), 1);
  }

  // Cancelled and answered No, Copy leaves the former SAFE as it was.
  void cancelledCopyKeepsTheFormerSafeCopy() {
    MakeDemo();
    MakeForm();
    QCOMPARE(Run(ttCopy, "DEMO"), kSuccess);
    const QString safe_orders = PxRecords(Db("DEMO", "SAFE/ORDERS.DB"));
    QFile(Db("DEMO", "SAFE/marker.txt")).open(QIODevice::WriteOnly);
    CancelAtRestructure(1);
    answers_["NotFinished"] = QMessageBox::No;
    Run(ttCopy, "DEMO");
    QCOMPARE(AllKeys(),
             (QStringList{"AreYouSure", "NotFinished+Update+Continue", "NotFinished+Update"}));
    QVERIFY(!QDir(Db("DEMO", "SA$$")).exists());
    QVERIFY(QFile::exists(Db("DEMO", "SAFE/marker.txt")));
    QCOMPARE(PxRecords(Db("DEMO", "SAFE/ORDERS.DB")), safe_orders);
    QCOMPARE(LogRecords("DEMO", ttCopy, trUpdate), 1);
    VerifyIdle();
  }

  // Cancel during Update: No ends with trRepeat and one record; Yes goes on
  // and records nothing for the interruption.
  void cancelledUpdateAsksWhetherToGoOn() {
    MakeDemo();
    MakeForm();
    CancelAtRestructure(1);
    answers_["NotFinished"] = QMessageBox::No;
    Run(ttUpdate, "DEMO");
    QCOMPARE(AllKeys(),
             (QStringList{"AreYouSure", "NotFinished+Repeat+Continue", "NotFinished+Repeat"}));
    QCOMPARE(seen_[1].Args, (QStringList{"Update", "Update"}));
    QCOMPARE(LogRecords("DEMO", ttUpdate), 1);
    QCOMPARE(LogRecords("DEMO", ttUpdate, trRepeat), 1);
    VerifyIdle();

    CancelAtRestructure(1);
    QCOMPARE(Run(ttUpdate, "DEMO"), kSuccess);
    QCOMPARE(AllKeys(),
             (QStringList{"AreYouSure", "NotFinished+Repeat+Continue", "Success+RightNow"}));
    QCOMPARE(LogRecords("DEMO", ttUpdate), 2);
    QCOMPARE(LogRecords("DEMO", ttUpdate, trSuccess), 1);
  }

  void packDropsDeadSpaceAndKeepsRecords() {
    MakeDemo();
    MakeForm();
    const QString orders = PxRecords(Db("DEMO", "ORDERS.DB"));
    QVERIFY2(!orders.startsWith("pxlib") && orders.count('\n') > 10, qPrintable(orders));
    QFile mb(Db("DEMO", "ORDERS.MB"));
    QVERIFY(mb.open(QIODevice::Append));
    mb.write(QByteArray(64 * 1024, '\0'));
    mb.close();
    const qint64 before = QFileInfo(mb).size();
    QCOMPARE(Run(ttPack, "DEMO"), kSuccess);
    QVERIFY(QFileInfo(Db("DEMO", "ORDERS.MB")).size() < before);
    QCOMPARE(PxRecords(Db("DEMO", "ORDERS.DB")), orders);
    QCOMPARE(LogRecords("DEMO", ttPack, trSuccess), 1);

    // Cancel during the first table: the run ends before the second.
    form_->TableTools().OnRestructureRequest = [](const CRTblDesc&) {
      FormProgress()->ButtonCancelClick();
    };
    QCOMPARE(Run(ttPack, "DEMO"), (QStringList{"Canceled", "NoProblems", "RightNow"}));
    QCOMPARE(LogRecords("DEMO", ttPack, trCancel), 1);
    VerifyIdle();
  }

  // A protected table asks for the password once per run; a password that
  // does not open it, or none, ends the run with trPassword.
  void protectedTablesAskForThePasswordOnce() {
    home_->WriteAliases({"PROT"});
    for (const QString& folder : {Db("PROT"), Db("PROT", "METADATA")}) {
      QDir().mkpath(folder);
      engine::TTable t;
      t.DatabaseName = folder.toStdString() + "/";
      t.TableName = "SECRET.DB";
      t.Password = "Sesame";
      t.FieldDefs.Add("ID", engine::FieldType::Long);
      t.FieldDefs.Add("Name", engine::FieldType::Alpha, 20);
      t.KeyFields = 1;
      t.CreateTable();
    }
    MakeForm();
    QString given;
    int dialogs = 0;
    form_->PasswordHandler = [&] {
      ++dialogs;
      form_->SetPassword(given);
    };
    struct Case {
      const char* name;
      QString password;
      QMessageBox::StandardButton answer;
      QStringList end;
      int dialogs;
    };
    const Case cases[] = {
        {"declined", "Sesame", QMessageBox::No, {"Protected", "Password", "NotStarted"}, 0},
        {"wrong", "sesame", QMessageBox::Yes, {"Protected", "Password", "NotStarted"}, 1},
        {"empty", "", QMessageBox::Yes, {"Protected", "Password", "NotStarted"}, 1},
        {"right", "Sesame", QMessageBox::Yes, kSuccess, 1},
    };
    for (const Case& c : cases) {
      form_->ApplyPassword(QString());
      given = c.password;
      dialogs = 0;
      answers_["Protected"] = c.answer;
      QVERIFY2(Run(ttUpdate, "PROT") == c.end, c.name);
      QVERIFY2(AllKeys().count("Protected+NewPassword") == 1, c.name);
      QVERIFY2(dialogs == c.dialogs, c.name);
      VerifyIdle();
    }
    QCOMPARE(LogRecords("PROT", ttUpdate, trPassword), 3);
    QCOMPARE(form_->Password(), QString("Sesame"));
    // Known now: the next run asks nothing, and the table stays protected.
    QCOMPARE(Run(ttPack, "PROT"), kSuccess);
    QCOMPARE(AllKeys(), (QStringList{"AreYouSure", "Success+RightNow"}));
    form_->ApplyPassword(QString());
    QVERIFY(engine::TSession::Default().Passwords().empty());
    QVERIFY(Vdx({"dump", Db("PROT", "SECRET.DB")}) != 0);
    QCOMPARE(Vdx({"dump", Db("PROT", "SECRET.DB"), "--password", "Sesame"}), 0);
  }

  // An engine failure in the middle of a run: its message, then trError,
  // logged, with the controls back. Outside a run only the message shows.
  void exceptionsEndTheRunWithAnError() {
    MakeDemo();
    MakeForm();
    form_->TableTools().OnRestructureRequest = [](const CRTblDesc&) { throw EBdeApi("Disk full"); };
    QCOMPARE(Run(ttUpdate, "DEMO"), QStringList{"Error"});
    QCOMPARE(AllKeys(), (QStringList{"AreYouSure", "Disk full", "Error"}));
    QCOMPARE(seen_[1].Section, QString());
    QCOMPARE(LogRecords("DEMO", ttUpdate, trError), 1);
    VerifyIdle();

    seen_.clear();
    form_->HandleException(std::make_exception_ptr(EVardex("Not in a run")));
    QCOMPARE(AllKeys(), QStringList{"Not in a run"});
    QCOMPARE(LogRecords("DEMO", ttUpdate), 1);
    QVERIFY(form_->ToolMenuItem(ttPack)->isEnabled());
  }

  // A live table held by another program is not deleted by Retrieve, and
  // neither is any other.
  void retrieveDeletesNothingWhileATableIsHeld() {
    MakeDemo();
    MakeForm();
    QCOMPARE(Run(ttCopy, "DEMO"), kSuccess);
    engine::TTable holder;
    holder.DatabaseName = Db("DEMO").toStdString() + "/";
    holder.TableName = "ORDERS.DB";
    holder.Open();
    QCOMPARE(Run(ttRetrieve, "DEMO"), (QStringList{"Busy", "CloseApps", "NotStarted"}));
    holder.Close();
    QVERIFY(QFile::exists(Db("DEMO", "CUSTOMER.DB")));
    QVERIFY(QFile::exists(Db("DEMO", "ORDERS.DB")));
    QCOMPARE(LogRecords("DEMO", ttRetrieve, trBusy), 1);
  }

  // Records that do not fit the reference (a key cut to a repeated value, a
  // text cut short) are kept whole, as they were, in KEYVIOL and PROBLEMS,
  // and the end of the run names the table, the count and the folder.
  void recordsSetAsideAreKeptAndReported() {
    home_->WriteAliases({"MIX"});
    for (const QString& folder : {Db("MIX"), Db("MIX", "METADATA")}) {
      const bool live = folder == Db("MIX");
      QDir().mkpath(folder);
      engine::TTable t;
      t.DatabaseName = folder.toStdString() + "/";
      t.TableName = "T.DB";
      t.FieldDefs.Add("Code", engine::FieldType::Alpha, live ? 4 : 2);
      t.FieldDefs.Add("Name", engine::FieldType::Alpha, live ? 12 : 4);
      t.KeyFields = 1;
      t.CreateTable();
      if (!live) continue;
      t.Open();
      for (const char* row : {"AB01|Long name", "AB02|Bo", "CD01|Cy"}) {
        t.Insert();
        t.FieldByName("Code").SetAsString(QString(row).section('|', 0, 0).toStdString());
        t.FieldByName("Name").SetAsString(QString(row).section('|', 1).toStdString());
        t.Post();
      }
      t.Close();
    }
    MakeForm();
    QCOMPARE(Run(ttUpdate, "MIX"), QStringList{"RecordsSetAside"});
    QCOMPARE(seen_.last().Kind, mkWarning);
    const QString detail = seen_.last().Detail;
    QVERIFY2(detail.contains("T.DB: 1 records in " + Db("MIX", "KEYVIOL")), qPrintable(detail));
    // Both kept records lost the end of their key; one a name too.
    QVERIFY2(detail.contains("T.DB: 2 records in " + Db("MIX", "PROBLEMS")), qPrintable(detail));
    // The records as they were, before the new structure touched them.
    for (const auto& [folder, value] : {std::pair{"KEYVIOL", "AB02"}, {"PROBLEMS", "Long name"}}) {
      const QStringList kept = QDir(Db("MIX", folder)).entryList({"T_*.DB"});
      QCOMPARE(kept.size(), 1);
      QString dump;
      QCOMPARE(Vdx({"dump", Db("MIX", folder) + '/' + kept[0]}, &dump), 0);
      QVERIFY2(dump.contains(value), qPrintable(dump));
    }
    QCOMPARE(LogRecords("MIX", ttUpdate, trSuccess), 1);
  }

  // Retrieve against a reference that cuts FILMS' titles (A30 -> A10) and
  // keys EMPLOYEE on the first of its two key fields: the records set aside
  // are kept in the database folder's KEYVIOL and PROBLEMS (not in the work
  // folder it removes), the end of the run names them there, and with the
  // live tables they add up to SAFE's.
  void retrieveKeepsTheRecordsItSetsAsideInTheDatabaseFolder() {
    const QString samples = QString(VARDEX_TEST_DATA_DIR) + "/paradox-retrieve";
    home_->WriteAliases({"MTD"});
    QVERIFY(CopyFiles(samples, Db("MTD")));
    QVERIFY(CopyFiles(samples, Db("MTD", "SAFE")));
    QDir().mkpath(Db("MTD", "METADATA"));
    int title = -1;
    for (const QString name : {"FILMS.DB", "EMPLOYEE.DB"}) {
      std::unique_ptr<engine::ParadoxTable> source;
      QVERIFY(engine::ParadoxTable::Open(ToStd(samples + '/' + name), {}, &source).ok());
      engine::TableDefinition def;
      def.fields = source->Fields();
      def.key_fields = 1;  // FILMS keeps its one key field, EMPLOYEE loses one of two
      for (std::size_t i = 0; i < def.fields.size(); ++i) {
        if (def.fields[i].name != "Film Title") continue;
        title = static_cast<int>(i);
        QCOMPARE(def.fields[i].size, 30);
        def.fields[i].size = 10;
      }
      QVERIFY(engine::CreateTable(engine::Env::Default(), ToStd(Db("MTD", "METADATA/" + name)), def)
                  .ok());
    }
    QVERIFY(title >= 0);
    MakeForm();
    form_->Options = {voEndMsg};
    QCOMPARE(Run(ttRetrieve, "MTD"), QStringList{"RecordsSetAside"});
    QCOMPARE(AllKeys(), (QStringList{"Success+RightNow", "RecordsSetAside"}));
    QVERIFY(!QDir(Db("MTD", "RE$$")).exists());
    QCOMPARE(LogRecords("MTD", ttRetrieve, trSuccess), 1);

    // "<table>: <count> records in <folder> (table <file>)", one line a set.
    const QRegularExpression line(R"(^(\S+): (\d+) records in (.+) \(table (.+)\)$)");
    QMap<QString, QString> sets;  // "EMPLOYEE.DB KEYVIOL" -> the set's data file
    for (const QString& text : seen_.last().Detail.split('\n')) {
      const QRegularExpressionMatch m = line.match(text);
      QVERIFY2(m.hasMatch(), qPrintable(text));
      const QString folder = m.captured(3);
      QCOMPARE(QFileInfo(folder).absolutePath(), Db("MTD"));
      const QString path = folder + '/' + m.captured(4);
      QCOMPARE(Rows(path).size(), m.captured(2).toInt());
      sets.insert(m.captured(1) + ' ' + QFileInfo(folder).fileName(), path);
    }
    QCOMPARE(sets.keys(), (QStringList{"EMPLOYEE.DB KEYVIOL", "FILMS.DB PROBLEMS"}));

    // EMPLOYEE: the live table and its key violations are SAFE's records.
    QStringList employees = Rows(Db("MTD", "EMPLOYEE.DB")) + Rows(sets["EMPLOYEE.DB KEYVIOL"]);
    QStringList safe = Rows(Db("MTD", "SAFE/EMPLOYEE.DB"));
    QVERIFY(Rows(sets["EMPLOYEE.DB KEYVIOL"]).size() > 0);
    employees.sort();
    safe.sort();
    QCOMPARE(employees, safe);
    // FILMS: every record is live, the ones whose title was cut also whole
    // in PROBLEMS.
    const pxtest::PxTable films = pxtest::ReadWithPxlib(ToStd(Db("MTD", "SAFE/FILMS.DB")), "");
    QVERIFY(films.ok);
    qsizetype long_titles = 0;
    for (const auto& row : films.rows) long_titles += row[title].s.size() > 10;
    QVERIFY(long_titles > 0);
    QCOMPARE(Rows(Db("MTD", "FILMS.DB")).size(), films.rows.size());
    const QStringList problems = Rows(sets["FILMS.DB PROBLEMS"]);
    QCOMPARE(problems.size(), long_titles);
    const QStringList safe_films = Rows(Db("MTD", "SAFE/FILMS.DB"));
    for (const QString& row : problems) QVERIFY2(safe_films.contains(row), qPrintable(row));

    // A second run keeps the first one's sets and adds its own beside them.
    QCOMPARE(Run(ttRetrieve, "MTD"), QStringList{"RecordsSetAside"});
    QCOMPARE(QDir(Db("MTD", "KEYVIOL")).entryList({"EMPLOYEE_*.DB"}).size(), 2);
    QCOMPARE(QDir(Db("MTD", "PROBLEMS")).entryList({"FILMS_*.DB"}).size(), 2);
  }

  // No tool changes the case of a file name, whether the run finishes or
  // stops, and the reference copy is never renamed at all.
  void fileNamesKeepTheirCase() {
    const QString samples = QString(VARDEX_TEST_DATA_DIR) + "/paradox-tables";
    const QStringList tables{"A.*", "B.*", "C.*", "primary.*", "multiple.*", "to_multiple.*"};
    home_->WriteAliases({"MIX", "ONE"});
    QVERIFY(CopyFiles(samples, Db("MIX"), tables));
    QVERIFY(CopyFiles(samples, Db("MIX", "METADATA"), tables));
    const QStringList live = QDir(Db("MIX")).entryList(QDir::Files);
    const QStringList reference = QDir(Db("MIX", "METADATA")).entryList(QDir::Files);
    QCOMPARE(live.mid(0, 4), (QStringList{"A.db", "A.PX", "A.VAL", "B.db"}));
    QVERIFY(live.contains("to_multiple.X02") && live.contains("to_multiple.px"));
    MakeForm();
    for (TToolType tool : {ttUpdate, ttCopy, ttRetrieve, ttPack}) {
      QVERIFY2(Run(tool, "MIX") == kSuccess, qPrintable(AllKeys().join(' ') + seen_.last().Detail));
      QCOMPARE(QDir(Db("MIX")).entryList(QDir::Files), live);
      QCOMPARE(QDir(Db("MIX", "METADATA")).entryList(QDir::Files), reference);
    }
    // Without its master the table cannot be put in order: the Update stops
    // after its companions were parked, and puts them back as they were.
    QVERIFY(CopyFiles(samples, Db("ONE"), {"to_multiple.*"}));
    QVERIFY(CopyFiles(samples, Db("ONE", "METADATA"), {"to_multiple.*"}));
    const QStringList one = QDir(Db("ONE")).entryList(QDir::Files);
    QCOMPARE(Run(ttUpdate, "ONE"), QStringList{"Error"});
    QVERIFY(AllKeys().contains("CannotOrder"));
    QCOMPARE(QDir(Db("ONE")).entryList(QDir::Files), one);
  }

  // Tables whose names differ only in case: every tool ends in its Check
  // step naming them, and no byte of the database changes.
  void twinTableNamesAreRefused() {
    const QString samples = QString(VARDEX_TEST_DATA_DIR) + "/paradox-tables";
    home_->WriteAliases({"TWIN"});
    for (const QString& folder : {Db("TWIN"), Db("TWIN", "METADATA"), Db("TWIN", "SAFE")}) {
      QVERIFY(CopyFiles(samples, folder, {"C.*", "primary.*"}));
      for (const QString& name : QDir(folder).entryList({"primary.*"}, QDir::Files))
        QVERIFY(QFile::rename(folder + '/' + name, folder + "/c" + name.mid(7)));
    }
    const auto before = Tree(Db("TWIN"));
    QVERIFY(before.contains("c.px"));
    MakeForm();
    // Every tool goes through the one Check step; Retrieve also reads SAFE.
    for (TToolType tool : {ttPack, ttRetrieve}) {
      QCOMPARE(Run(tool, "TWIN"), (QStringList{"NotMatch", "NotStarted"}));
      const QString detail = seen_.last().Detail;
      QVERIFY2(detail.contains("C.DB, c.db, METADATA/C.DB, METADATA/c.db"), qPrintable(detail));
      QCOMPARE(detail.contains("SAFE/C.DB, SAFE/c.db"), tool == ttRetrieve);
      QVERIFY(Tree(Db("TWIN")) == before);
    }
    QCOMPARE(LogRecords("TWIN", ttPack, trNotMatch), 1);
    VerifyIdle();
  }

  // vdx run drives the same run layer without a window: on the same
  // database it leaves the same files, byte for byte (the tables carry no
  // time stamp of the run), and the same log record.
  void vdxRunWritesWhatTheWindowWrites() {
    MakeDemo();
    MakeForm();
    const QString pristine = home_->Path("pristine");
    QCOMPARE(QProcess::execute("cp", {"-a", Db("DEMO"), pristine}), 0);
    for (const TToolType tool : {ttUpdate, ttCopy, ttPack}) {
      const QString name = QString::fromStdString(ToolName(tool));
      QCOMPARE(Run(tool, "DEMO"), kSuccess);
      const QMap<QString, QByteArray> window = Tree(Db("DEMO"));
      QCOMPARE(QProcess::execute("rm", {"-rf", Db("DEMO")}), 0);
      QCOMPARE(QProcess::execute("cp", {"-a", pristine, Db("DEMO")}), 0);
      CloseLog();  // the window's process holds the log while it is open
      QString out;
      QCOMPARE(Vdx({"run", "demo", name.toLower(), "--yes"}, &out), 0);
      QVERIFY(OpenLog());
      const QMap<QString, QByteArray> cli = Tree(Db("DEMO"));
      QCOMPARE(cli.keys(), window.keys());
      for (const QString& file : window.keys()) {
        QVERIFY2(window[file] == cli[file], qPrintable(name + " " + file));
      }
      QCOMPARE(LogRecords("DEMO", tool, trSuccess), 2);
      QCOMPARE(LogRecords("DEMO", tool), 2);
      QCOMPARE(QProcess::execute("rm", {"-rf", Db("DEMO")}), 0);
      QCOMPARE(QProcess::execute("cp", {"-a", pristine, Db("DEMO")}), 0);
    }
  }
};

QTEST_MAIN(TRunTest)
#include "fmVdxRun_test.moc"
