#include "fmPrgrss.h"

#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QTest>

class TestFormProgress : public QObject {
  Q_OBJECT

 private:
  TFormProgress* form_ = nullptr;
  QLabel* Label() { return form_->findChild<QLabel*>("LabelInfo"); }
  TGauge* Gauge() { return form_->findChild<TGauge*>("Gauge"); }
  QPushButton* Cancel() { return form_->findChild<QPushButton*>("ButtonCancel"); }

 private slots:
  void init() {
    form_ = FormProgress();
    form_->hide();
  }

  void OneInstanceWithTheDesignedParts() {
    QCOMPARE(FormProgress(), form_);
    QVERIFY(Label() && Gauge() && Cancel());
    QVERIFY(form_->findChild<QWidget*>("Effect3D"));
    QCOMPARE(form_->size(), QSize(396, 110));
    QCOMPARE(Label()->geometry(), QRect(10, 7, 375, 21));
    QCOMPARE(Cancel()->geometry(), QRect(151, 71, 93, 31));
    QCOMPARE(Cancel()->text(), QString("Cancel"));
    QVERIFY(form_->windowFlags() & Qt::WindowStaysOnTopHint);
    QVERIFY(!(form_->windowFlags() & Qt::WindowCloseButtonHint));
    QVERIFY(Cancel()->setProperty("Caption", "Abbrechen"));
    QCOMPARE(Cancel()->text(), QString("Abbrechen"));
    Cancel()->setProperty("Caption", "Cancel");
  }

  void StartWithMaxBelowMinLeavesTheWindowAlone() {
    form_->setWindowTitle("before");
    form_->Start("Packing", 5, 4, 1, true);
    QVERIFY(!form_->isVisible());
    QCOMPARE(form_->windowTitle(), QString("before"));
  }

  void WithoutCancelTheWindowIsShorterAndEscapeDoesNothing() {
    form_->Start("Packing", 0, 3, 1, false);
    QVERIFY(form_->isVisible());
    QCOMPARE(form_->windowTitle(), QString("Packing"));
    QVERIFY(!Cancel()->isVisible());
    QCOMPARE(form_->height(), 110 - 31);
    QTest::keyClick(form_, Qt::Key_Escape);
    QVERIFY(!form_->Cancelled());
    QVERIFY(form_->Progress("ORDERS", 1));

    form_->Start("Copying", 0, 3, 1, true);
    QCOMPARE(form_->height(), 110);
    QVERIFY(Cancel()->isVisible());
    QTest::keyClick(form_, Qt::Key_Escape);
    QVERIFY(form_->Cancelled());
  }

  void AfterCancelNothingIsUpdatedUntilTheFlagIsCleared() {
    form_->Start("Copying", 0, 10, 1, true);
    QVERIFY(form_->Progress("CUSTOMER", 1));
    QTest::mouseClick(Cancel(), Qt::LeftButton);
    QVERIFY(form_->Cancelled());
    QVERIFY(!form_->Progress("ORDERS", 2));
    QCOMPARE(Label()->text(), QString("CUSTOMER"));
    QCOMPARE(Gauge()->Progress(), 1);
    QVERIFY(form_->isVisible());  // the tool decides what happens next

    form_->SetCancelled(false);
    QVERIFY(form_->Progress("ORDERS", 2));
    QCOMPARE(Label()->text(), QString("ORDERS"));
    QCOMPARE(Gauge()->Progress(), 2);
    // A new start clears the flag, keeps the text and empties the bar.
    QTest::mouseClick(Cancel(), Qt::LeftButton);
    form_->Start("Packing", 0, 4, 1, true);
    QVERIFY(!form_->Cancelled());
    QCOMPARE(Label()->text(), QString("ORDERS"));
    QCOMPARE(Gauge()->PercentDone(), 0);
  }

  void AClickWaitingInTheQueueIsTakenByProgress() {
    form_->Start("Copying", 0, 3, 1, true);
    const QPointF at = QPointF(Cancel()->rect().center());
    const QPointF global = QPointF(Cancel()->mapToGlobal(at.toPoint()));
    for (auto type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
      QCoreApplication::postEvent(
          Cancel(),
          new QMouseEvent(type, at, global, Qt::LeftButton,
                          type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton,
                          Qt::NoModifier));
    }
    QVERIFY(!form_->Cancelled());
    QVERIFY(!form_->Progress("ORDERS", 1));
    QCOMPARE(Label()->text(), QString("ORDERS"));
  }

  void OnlyPositionsDivisibleByTheStepUpdate() {
    form_->Start("Packing", 0, 20, 5, true);
    QVERIFY(form_->Progress("T0", 0));
    for (int i = 1; i <= 4; ++i) QVERIFY(form_->Progress("T" + QString::number(i), i));
    QCOMPARE(Label()->text(), QString("T0"));
    QCOMPARE(Gauge()->Progress(), 0);
    QVERIFY(form_->Progress("T5", 5));
    QCOMPARE(Label()->text(), QString("T5"));
    QCOMPARE(Gauge()->PercentDone(), 25);
    form_->SetCancelled(true);
    QVERIFY(!form_->Progress("T6", 6));  // between steps the cancel state still comes back

    form_->Start("Packing", 0, 4, 0, true);
    QCOMPARE(form_->Step(), 1);
    QVERIFY(form_->Progress("T1", 1));
  }

  // Steps that come faster than the eye can follow are not each painted:
  // the first is, then one every paint interval, and the last.
  void QuickStepsArePaintedAtTheFirstTheLastAndNowAndThen() {
    struct TPaints : QObject {
      TGauge* gauge = nullptr;
      QList<int> percents;
      bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == QEvent::Paint) percents << gauge->PercentDone();
        return false;
      }
    } paints;
    paints.gauge = Gauge();
    form_->Start("Packing", 0, 400, 1, true);
    Gauge()->installEventFilter(&paints);
    QElapsedTimer took;
    took.start();
    for (int i = 1; i <= 400; ++i) QVERIFY(form_->Progress("T", i));
    Gauge()->removeEventFilter(&paints);
    QVERIFY(!paints.percents.isEmpty());
    QCOMPARE(paints.percents.front(), 0);  // 1 of 400
    QCOMPARE(paints.percents.back(), 100);
    QVERIFY(paints.percents.size() <= 2 + took.elapsed() / TFormProgress::kPaintInterval);
  }

  void PercentageIsTruncatedAndZeroForAnEmptyRange() {
    form_->Start("Packing", 0, 3, 1, false);
    form_->Progress("A", 2);
    QCOMPARE(Gauge()->PercentDone(), 66);
    form_->Progress("A", 3);
    QCOMPARE(Gauge()->PercentDone(), 100);
    form_->Start("Packing", 7, 7, 1, false);
    QVERIFY(form_->isVisible());
    form_->Progress("A", 7);
    QCOMPARE(Gauge()->PercentDone(), 0);
    form_->Start("Packing", 10, 14, 1, false);
    form_->Progress("A", 11);
    QCOMPARE(Gauge()->PercentDone(), 25);
  }

  void ACloseRequestCountsAsCancelAndKeepsTheWindow() {
    form_->Start("Copying", 0, 3, 1, true);
    QVERIFY(!form_->close());
    QVERIFY(form_->isVisible());
    QVERIFY(form_->Cancelled());

    form_->Start("Packing", 0, 3, 1, false);
    QVERIFY(!form_->close());
    QVERIFY(form_->isVisible());
    QVERIFY(!form_->Cancelled());
    form_->hide();
    QVERIFY(!form_->isVisible());
  }
};

QTEST_MAIN(TestFormProgress)
#include "fmPrgrss_test.moc"
