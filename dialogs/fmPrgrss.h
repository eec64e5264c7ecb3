// The one progress window of the tool runs: a caption naming the work, a line
// naming the current item, a bar with the percentage done and, when the tool
// allows it, a Cancel button. Tools reach it through FormProgress(), start it,
// report each item with Progress() and hide it when they finish.
#pragma once

#include <QElapsedTimer>
#include <QPushButton>
#include <QWidget>

class QFrame;
class QLabel;

// A bar drawn in blue over the range MinValue..MaxValue with the whole
// percentage done written in its middle.
class TGauge : public QWidget {
  Q_OBJECT
  Q_PROPERTY(int MinValue READ MinValue)
  Q_PROPERTY(int MaxValue READ MaxValue)
  Q_PROPERTY(int Progress READ Progress WRITE SetProgress)
  Q_PROPERTY(int PercentDone READ PercentDone)

 public:
  explicit TGauge(QWidget* parent = nullptr);
  int MinValue() const { return min_; }
  int MaxValue() const { return max_; }
  int Progress() const { return progress_; }
  void SetRange(int minValue, int maxValue);
  void SetProgress(int position);
  // (position - minimum) * 100 / (maximum - minimum), truncated; 0 for an
  // empty range. A position outside the range counts as its nearer end.
  int PercentDone() const;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  int min_ = 0;
  int max_ = 100;
  int progress_ = 0;
};

// A push button whose text the language sections set as "Caption".
class TCaptionButton : public QPushButton {
  Q_OBJECT
  Q_PROPERTY(QString Caption READ Caption WRITE SetCaption)

 public:
  using QPushButton::QPushButton;
  QString Caption() const { return text(); }
  void SetCaption(const QString& caption) { setText(caption); }
};

class TFormProgress : public QWidget {
  Q_OBJECT
  Q_PROPERTY(bool Cancelled READ Cancelled WRITE SetCancelled)
  Q_PROPERTY(int Step READ Step)

 public:
  // The single window, created on first request and deleted when the
  // application quits.
  static TFormProgress* Instance();

  explicit TFormProgress(QWidget* parent = nullptr);

  // Configures and shows the window; does nothing when max < min. A step
  // below 1 counts as 1.
  void Start(const QString& caption, int min, int max, int step, bool canCancel);
  // Shows `text` and moves the bar at positions divisible by the step, then
  // paints and lets pending window messages through: at the first step
  // after Start, at the end of the range, and otherwise at most every
  // kPaintInterval ms (a run of small tables would spend more time painting
  // than working). False once Cancel was pressed; nothing is updated until
  // the flag is cleared.
  bool Progress(const QString& text, int position);
  static constexpr int kPaintInterval = 40;

  bool Cancelled() const { return cancelled_; }
  void SetCancelled(bool cancelled) { cancelled_ = cancelled; }
  int Step() const { return step_; }
  int FullHeight() const { return fullHeight_; }

 public slots:
  void ButtonCancelClick();

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void FormCreate();
  void CenterOnScreen();

  QLabel* labelInfo_;
  QFrame* effect3D_;
  TGauge* gauge_;
  TCaptionButton* buttonCancel_;
  int step_ = 1;
  int fullHeight_ = 0;
  bool cancelled_ = false;
  QElapsedTimer painted_;  // since the last paint; invalid until the first after Start
};

// The program-wide accessor the tools use.
inline TFormProgress* FormProgress() { return TFormProgress::Instance(); }
