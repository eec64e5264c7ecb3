// Database > Export... (and the table browser's Export...) on a copy of the
// demo database: the dialog, the progress window (with its Cancel), the
// question before anything is replaced, and the end messages, with the
// files read back by sqlite3.
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

#include "RunTestUtil.h"
#include "cpZelCtrls.h"
#include "fmTableBrowser.h"
#include "fmPrgrss.h"

namespace {

QString Sqlite3(const QString& file, const QString& sql) {
  QProcess p;
  p.start("sqlite3", {file, sql});
  p.waitForFinished(60000);
  return QString::fromUtf8(p.readAllStandardOutput());
}

}  // namespace

class TExportTest : public TWindowTest {
  Q_OBJECT

 private:
  QMessageBox::StandardButton replace_ = QMessageBox::Yes;
  bool shown_ = false;  // the progress window showed during the last export

  // The question before replacing is answered with replace_.
  QMessageBox::StandardButton Answer(const TMessageRequest& m) override {
    seen_ << m;
    return m.Kind == mkConfirmation ? replace_ : QMessageBox::Ok;
  }

  // Answers the export dialog with a format (its index) and a target, then
  // runs the export from the Database menu; the keys of its end message.
  QString Export(int format, const QString& target, bool cancel = false,
                 const std::function<void()>& start = {}) {
    seen_.clear();
    QTimer::singleShot(0, [&] {
      QDialog* dialog = nullptr;
      for (QWidget* w : QApplication::topLevelWidgets())
        if (w->objectName() == "FormExport") dialog = static_cast<QDialog*>(w);
      QVERIFY(dialog);
      dialog->findChild<QComboBox*>("ComboFormat")->setCurrentIndex(format);
      dialog->findChild<QLineEdit*>("EditTarget")->setText(target);
      dialog->findChild<QPushButton*>("ButtonOk")->click();
    });
    // The progress window shows while the export runs; Cancel ends it.
    shown_ = false;
    QTimer watch;
    connect(&watch, &QTimer::timeout, [&] {
      if (!FormProgress()->isVisible()) return;
      shown_ = true;
      if (cancel) FormProgress()->ButtonCancelClick();
    });
    watch.start(0);
    if (start) {
      start();
    } else {
      form_->findChild<TZelMenuItem*>("MenuExport")->trigger();
    }
    watch.stop();
    return seen_.isEmpty() ? QString() : seen_.last().Key;
  }

 private slots:
  void init() {
    Begin();
    QVERIFY(home_->MakeDemo({"DEMO", "SALES"}));
    MakeForm();
    form_->SelectAliasByName("DEMO");
  }
  void cleanup() { End(); }

  void databaseBecomesOneSqliteFile() {
    QCOMPARE(form_->findChild<TZelMenuItem*>("MenuExport")->Caption(), QString("&Export..."));
    const QString target = home_->Path("demo.sqlite");
    QCOMPARE(Export(0, target), QString("ExportDone"));
    QVERIFY(shown_);
    QCOMPARE(Sqlite3(target, "SELECT count(*) FROM CUSTOMER; SELECT count(*) FROM ORDERS"),
             QString("240\n480\n"));
    QVERIFY(!form_->ToolRunning);
    QVERIFY(form_->ToolMenuItem(ttPack)->isEnabled());

    // Replacing is asked first; No keeps the file, Yes replaces it.
    QFile::resize(target, 0);
    replace_ = QMessageBox::No;
    Export(0, target);
    QCOMPARE(seen_.last().Key, QString("ExportReplace"));
    QCOMPARE(QFileInfo(target).size(), 0);
    QVERIFY(!shown_);
    replace_ = QMessageBox::Yes;
    QCOMPARE(Export(0, target), QString("ExportDone"));
    QCOMPARE(Sqlite3(target, "SELECT count(*) FROM CUSTOMER"), QString("240\n"));

    // Cancel in the progress window: nothing is written.
    QCOMPARE(Export(0, home_->Path("other.sqlite"), true), QString("ExportCanceled"));
    QVERIFY(!QFileInfo::exists(home_->Path("other.sqlite")));
  }

  // The table browser's Export... writes its one table.
  void oneTableFromTheBrowser() {
    TTableBrowser* browser = TTableBrowser::Open(home_->Path("DEMO/ORDERS.DB"), form_.get());
    QVERIFY(browser);
    const QString target = home_->Path("orders.sqlite");
    QCOMPARE(Export(0, target, false,
                    [&] { browser->findChild<QPushButton*>("ButtonExport")->click(); }),
             QString("ExportDone"));
    QCOMPARE(Sqlite3(target, "SELECT count(*) FROM ORDERS; SELECT count(*) FROM sqlite_master "
                             "WHERE type = 'table' AND name = 'CUSTOMER'"),
             QString("480\n0\n"));
    browser->close();
  }

  void damagedTableIsNamedAndTheRestWritten() {
    const QString mb = home_->Path("DEMO/ORDERS.MB");
    QFile::resize(mb, QFileInfo(mb).size() / 3);
    const QString folder = home_->Path("csv");
    QCOMPARE(Export(1, folder), QString("ExportSkipped"));
    QVERIFY2(seen_.last().Detail.startsWith("ORDERS.DB: "), qPrintable(seen_.last().Detail));
    QVERIFY(QFileInfo::exists(folder + "/CUSTOMER.csv"));
    QVERIFY(!QFileInfo::exists(folder + "/ORDERS.csv"));
  }
};

QTEST_MAIN(TExportTest)
#include "fmVdxExport_test.moc"
