// Database > Export... and the table browser's Export...: the selected
// database, or one table, written for other programs, as one SQLite file or
// CSV or JSON Lines files, under the progress window. The export library does the work; this asks where to,
// asks before replacing anything, and tells what came of it.
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <algorithm>

#include "Export.h"
#include "Session.h"
#include "TableFiles.h"
#include "fmPrgrss.h"
#include "fmVdx.h"

namespace {

using tableexport::ExportFormat;

constexpr ExportFormat kFormats[] = {ExportFormat::Sqlite, ExportFormat::Csv, ExportFormat::Jsonl};

// Where to and in which form; the texts come from section "ExportDialog".
class TFormExport : public QDialog {
 public:
  TFormExport(TFormVardex* owner, const QString& alias) : QDialog(owner), alias_(alias) {
    setObjectName("FormExport");
    auto text = [owner](const char* key) { return owner->Value("ExportDialog", key); };
    setWindowTitle(text("FormCaption"));
    format_ = new QComboBox(this);
    format_->setObjectName("ComboFormat");
    for (const char* key : {"FormatSqlite", "FormatCsv", "FormatJsonl"})
      format_->addItem(text(key));
    target_ = new QLineEdit(QDir::homePath() + '/' + alias + ".sqlite", this);
    target_->setObjectName("EditTarget");
    target_->setMinimumWidth(360);
    auto* browse = new QPushButton(text("ButtonBrowse"), this);
    browse->setObjectName("ButtonBrowse");
    auto* row = new QHBoxLayout;
    row->addWidget(target_);
    row->addWidget(browse);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setObjectName("ButtonOk");
    buttons->button(QDialogButtonBox::Ok)->setText(owner->Value("StandardButtons", "ButtonOk"));
    buttons->button(QDialogButtonBox::Cancel)->setObjectName("ButtonCancel");
    buttons->button(QDialogButtonBox::Cancel)
        ->setText(owner->Value("StandardButtons", "ButtonCancel"));
    auto* form = new QFormLayout(this);
    form->addRow(text("LabelFormat"), format_);
    form->addRow(text("LabelTarget"), row);
    form->addRow(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(format_, &QComboBox::currentIndexChanged, this, [this] { FitTargetToFormat(); });
    connect(browse, &QPushButton::clicked, this, [this] { Browse(); });
  }

  ExportFormat Format() const { return kFormats[std::max(0, format_->currentIndex())]; }
  QString Target() const { return target_->text().trimmed(); }

 private:
  // A SQLite export is one file; the others fill a folder.
  void FitTargetToFormat() {
    QString t = Target();
    if (t.endsWith(".sqlite")) t.chop(7);
    target_->setText(Format() == ExportFormat::Sqlite ? t + ".sqlite" : t);
  }
  void Browse() {
    const QString chosen =
        Format() == ExportFormat::Sqlite
            ? QFileDialog::getSaveFileName(this, windowTitle(), Target(), "SQLite (*.sqlite *.db)",
                                           nullptr, QFileDialog::DontConfirmOverwrite)
            : QFileDialog::getExistingDirectory(this, windowTitle(), QDir::homePath());
    if (chosen.isEmpty()) return;
    target_->setText(Format() == ExportFormat::Sqlite ? chosen : chosen + '/' + alias_);
  }

  QString alias_;
  QComboBox* format_;
  QLineEdit* target_;
};

}  // namespace

void TFormVardex::ExportDatabase() {
  if (ToolRunning) return;
  // The database's own folder only: METADATA and SAFE are the tools' copies.
  const std::vector<std::string> paths = tableexport::TablesOfFolder(CurrentPath.toStdString());
  if (CurrentAlias.isEmpty() || paths.empty()) {
    ShowMessageKey("Notifications", "ExportNoTables", {CurrentAlias}, mkWarning);
    return;
  }
  ExportPaths(paths, true, CurrentAlias);
}

void TFormVardex::ExportTable(const QString& path) {
  if (ToolRunning) return;
  ExportPaths({path.toStdString()}, false,
              QString::fromStdString(engine::Stem(path.toStdString())));
}

void TFormVardex::ExportPaths(const std::vector<std::string>& paths, bool whole_folder,
                              const QString& name) {
  TFormExport dialog(this, name);
  if (dialog.exec() != QDialog::Accepted || dialog.Target().isEmpty()) return;
  tableexport::ExportOptions options;
  options.format = dialog.Format();
  options.passwords = engine::TSession::Default().Passwords();
  const std::string target = dialog.Target().toStdString();

  TFormProgress* progress = FormProgress();
  options.progress = [&](const tableexport::ExportProgress& p) {
    const std::uint64_t total = std::max<std::uint64_t>(p.records_total, 1);
    const int permille =
        static_cast<int>(std::min<std::uint64_t>(1000, p.records_done * 1000 / total));
    return progress->Progress(
        FormatValue("ProcessCaptions", "Table", {QString::fromStdString(p.name)}), permille);
  };
  const std::vector<std::string> existing =
      tableexport::ExistingOutputs(paths, whole_folder, target, options.format);
  if (!existing.empty()) {
    if (ShowMessageKey("Notifications", "ExportReplace", {QString::fromStdString(existing[0])},
                       mkConfirmation, QMessageBox::Yes | QMessageBox::No) != QMessageBox::Yes) {
      return;  // what is there stays
    }
    options.force = true;
  }
  ToolRunning = true;
  SetToolControlsEnabled(false);
  progress->SetCancelled(false);
  progress->Start(FormatValue("ProcessCaptions", "Export", {name}), 0, 1000, 1, true);
  const tableexport::ExportReport report = tableexport::ExportTables(paths, whole_folder, target, options);
  progress->hide();
  ToolRunning = false;
  SetToolControlsEnabled(true);
  const QString where = dialog.Target();
  if (report.cancelled) {
    ShowMessageKey("Notifications", "ExportCanceled", {where}, mkInformation);
  } else if (!report.status.ok()) {
    ShowMessageKey("Notifications", "ExportFailed", {where}, mkError, QMessageBox::Ok,
                   QString::fromStdString(report.status.ToString()));
  } else if (report.Skipped()) {
    QStringList lines;
    for (const tableexport::TableOutcome& t : report.tables) {
      if (!t.status.ok()) {
        lines << QString::fromStdString(engine::BaseName(t.path) + ": " + t.status.message());
      }
    }
    ShowMessageKey("Notifications", "ExportSkipped", {where, QString::number(lines.size())},
                   mkWarning, QMessageBox::Ok, lines.join('\n'));
  } else {
    ShowMessageKey("Notifications", "ExportDone", {where}, mkInformation);
  }
}
