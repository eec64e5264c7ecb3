// Tools > Preview Update... on the demo database: the dialog opens at once and
// fills from its thread with one row per table, the window staying usable.
#include <QLabel>
#include <QTreeWidget>
#include <QtTest>

#include "RunTestUtil.h"
#include "cpZelCtrls.h"

class TPlanTest : public QObject {
  Q_OBJECT

 private slots:
  void previewFillsOneRowPerTable() {
    TRunHome home;
    QVERIFY(home.MakeDemo({"DEMO", "SALES"}));
    const auto form = MakeWindow([](const TMessageRequest&) { return QMessageBox::Ok; });
    form->SelectAliasByName("DEMO");
    form->findChild<TZelMenuItem*>("MenuPreviewUpdate")->trigger();
    QDialog* dialog = nullptr;
    for (QWidget* w : QApplication::topLevelWidgets())
      if (w->objectName() == "FormPlan" && w->isVisible()) dialog = static_cast<QDialog*>(w);
    QVERIFY(dialog);
    auto* tree = dialog->findChild<QTreeWidget*>("TreePlan");
    QTRY_COMPARE_WITH_TIMEOUT(tree->topLevelItemCount(), 2, 30000);
    QCOMPARE(tree->topLevelItem(0)->text(0), QString("CUSTOMER.DB"));
    QCOMPARE(tree->topLevelItem(0)->text(2), QString("0"));
    // ORDERS' reference has one field more.
    QVERIFY(tree->topLevelItem(1)->child(0)->text(0).startsWith(
        form->Value("PlanDialog", "ChangeFieldAdded")));
    QCOMPARE(dialog->findChild<QLabel*>("LabelStatus")->text(), form->Value("PlanDialog", "Done"));
    dialog->close();
  }
};

QTEST_MAIN(TPlanTest)
#include "fmVdxPlan_test.moc"
