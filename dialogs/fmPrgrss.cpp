// The progress window; see fmPrgrss.h. Sizes are the window's design sizes
// in pixels.
#include "fmPrgrss.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QFrame>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPointer>
#include <QScreen>
#include <algorithm>

namespace {

constexpr int kClientWidth = 396;
constexpr int kClientHeight = 110;

}  // namespace

TGauge::TGauge(QWidget* parent) : QWidget(parent) {}

void TGauge::SetRange(int minValue, int maxValue) {
  min_ = minValue;
  max_ = maxValue;
  update();
}

void TGauge::SetProgress(int position) {
  progress_ = position;
  update();
}

int TGauge::PercentDone() const {
  if (max_ <= min_) return 0;
  const long long done = static_cast<long long>(std::clamp(progress_, min_, max_)) - min_;
  return static_cast<int>(done * 100 / (static_cast<long long>(max_) - min_));
}

void TGauge::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  const QRect all = rect();
  const QRect done(0, 0, all.width() * PercentDone() / 100, all.height());
  const QString text = QString::number(PercentDone()) + "%";
  painter.fillRect(all, Qt::white);
  painter.setPen(Qt::blue);
  painter.drawText(all, Qt::AlignCenter, text);
  // The text over the blue part is drawn in white so it stays readable.
  painter.setClipRect(done);
  painter.fillRect(done, Qt::blue);
  painter.setPen(Qt::white);
  painter.drawText(all, Qt::AlignCenter, text);
}

TFormProgress* TFormProgress::Instance() {
  static QPointer<TFormProgress> instance;
  if (instance.isNull()) {
    instance = new TFormProgress();
    if (auto* app = QCoreApplication::instance()) {
      QObject::connect(app, &QCoreApplication::aboutToQuit, app, [] { delete instance.data(); });
    }
  }
  return instance.data();
}

TFormProgress::TFormProgress(QWidget* parent)
    : QWidget(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowStaysOnTopHint) {
  setObjectName("FormProgress");
  setFixedSize(kClientWidth, kClientHeight);

  labelInfo_ = new QLabel(this);
  labelInfo_->setObjectName("LabelInfo");
  labelInfo_->setGeometry(10, 7, 375, 21);

  effect3D_ = new QFrame(this);
  effect3D_->setObjectName("Effect3D");
  effect3D_->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  effect3D_->setGeometry(10, 30, 375, 30);

  gauge_ = new TGauge(effect3D_);
  gauge_->setObjectName("Gauge");
  gauge_->setGeometry(effect3D_->contentsRect());

  buttonCancel_ = new TCaptionButton("Cancel", this);
  buttonCancel_->setObjectName("ButtonCancel");
  buttonCancel_->setGeometry(151, 71, 93, 31);
  connect(buttonCancel_, &QPushButton::clicked, this, &TFormProgress::ButtonCancelClick);

  FormCreate();
}

void TFormProgress::FormCreate() { fullHeight_ = height(); }

void TFormProgress::CenterOnScreen() {
  const QScreen* screen = QGuiApplication::primaryScreen();
  if (screen == nullptr) return;
  const QRect area = screen->availableGeometry();
  move(area.center() - QPoint(width() / 2, height() / 2));
}

void TFormProgress::Start(const QString& caption, int min, int max, int step, bool canCancel) {
  if (max < min) return;
  setWindowTitle(caption);
  gauge_->SetRange(min, max);
  // A new run starts with an empty bar, not the last run's end.
  gauge_->SetProgress(min);
  buttonCancel_->setVisible(canCancel);
  setFixedHeight(canCancel ? fullHeight_ : fullHeight_ - buttonCancel_->height());
  step_ = step < 1 ? 1 : step;
  cancelled_ = false;
  painted_.invalidate();
  if (!isVisible()) CenterOnScreen();
  show();
  raise();
}

bool TFormProgress::Progress(const QString& text, int position) {
  if (!cancelled_ && position % step_ == 0) {
    labelInfo_->setText(text);
    gauge_->SetProgress(position);
    if (!painted_.isValid() || painted_.hasExpired(kPaintInterval) || position >= gauge_->MaxValue()) {
      repaint();
      // Where a click on Cancel (and anything else the user does) is taken.
      QCoreApplication::processEvents();
      painted_.start();
    }
  }
  return !cancelled_;
}

void TFormProgress::ButtonCancelClick() { cancelled_ = true; }

void TFormProgress::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
    if (buttonCancel_->isVisible() && buttonCancel_->isEnabled()) buttonCancel_->click();
    event->accept();
    return;
  }
  QWidget::keyPressEvent(event);
}

void TFormProgress::closeEvent(QCloseEvent* event) {
  // The window has no close box; a close that still arrives (Alt+F4 through
  // the window manager) counts as Cancel where the tool allows one and never
  // takes the window away from a running tool. Tools hide it with hide().
  if (buttonCancel_->isVisible()) ButtonCancelClick();
  event->ignore();
}
