#include "fmVdxSplash.h"

#include <QDialogButtonBox>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QSysInfo>
#include <QVBoxLayout>

#include "ZelControls.h"

namespace {

TZelLabel* AddLine(QVBoxLayout* layout, const QString& name, const QString& text, int pixel_size,
                   bool bold) {
  auto* label = new TZelLabel(name, text, nullptr);
  label->setAlignment(Qt::AlignCenter);
  QFont font = label->font();
  font.setPixelSize(pixel_size);
  font.setBold(bold);
  label->setFont(font);
  layout->addWidget(label);
  return label;
}

}  // namespace

QString TFormVdxSplash::PlatformLine() {
  const QString kernel = QSysInfo::kernelType();
  if (kernel == "linux") return "for Linux";
  if (kernel == "freebsd") return "for FreeBSD";
  if (kernel == "darwin") return "for macOS";
  return "for " + (kernel.isEmpty() ? QSysInfo::prettyProductName() : kernel);
}

TFormVdxSplash::TFormVdxSplash(const QString& title, QWidget* parent)
    : QFrame(parent, Qt::SplashScreen | Qt::FramelessWindowHint) {
  setObjectName("FormVdxSplash");
  setFrameStyle(QFrame::Box | QFrame::Raised);
  setLineWidth(2);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(40, 30, 40, 30);
  AddLine(layout, "LabelTitle", title, 28, true);
  AddLine(layout, "LabelPlatform", PlatformLine(), 14, false);
  adjustSize();
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    move(screen->availableGeometry().center() - rect().center());
  }
}

TFormAbout::TFormAbout(const QString& title, QWidget* parent) : QDialog(parent) {
  setObjectName("FormAbout");
  setWindowTitle("About");
  auto* layout = new QVBoxLayout(this);
  AddLine(layout, "LabelProduct", title, 20, true);
  AddLine(layout, "LabelDescription", "Maintenance of Paradox databases", 12, false);
  AddLine(layout, "LabelPlatform", TFormVdxSplash::PlatformLine(), 12, false);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
  buttons->button(QDialogButtonBox::Ok)->setObjectName("OK");
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  layout->addWidget(buttons);
}
