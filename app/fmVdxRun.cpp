// TFormVardex drives the tool runs of the run layer (TToolRun): it keeps the
// selected database, the run state and the options, shows the end messages
// and questions in its boxes and the progress in the progress window, turns
// the tool controls off for the length of a run, and keeps repainting while
// a table is rewritten. Callers reach the runs themselves through Run().
#include "fmVdxRun.h"

#include <QApplication>

#include "cpTbTool.h"
#include "fmPrgrss.h"
#include "fmSelDrv.h"
#include "fmVdx.h"
#include "fmZipPrg.h"

class TWindowRunDriver : public toolrun::TRunDriver {
 public:
  explicit TWindowRunDriver(TFormVardex* form) : f_(form) {}

  QString Alias() const override { return f_->CurrentAlias; }
  QString Path() const override { return f_->CurrentPath; }
  TToolType Tool() const override { return f_->CurrentTool; }
  void SetTool(TToolType tool) override { f_->CurrentTool = tool; }
  bool Running() const override { return f_->ToolRunning; }
  void SetRunning(bool running) override { f_->ToolRunning = running; }
  void SetAskPassword(bool ask) override { f_->AskPassword = ask; }
  bool Confirm() const override { return f_->Options.count(voConfirm) > 0; }
  bool EndMessages() const override { return f_->Options.count(voEndMsg) > 0; }

  QString Text(const QString& section, const QString& key) const override {
    return f_->Value(section, key);
  }
  QString Format(const QString& section, const QString& key,
                 const QStringList& args) const override {
    return f_->FormatValue(section, key, args);
  }
  bool Message(const toolrun::TRunMessage& m) override {
    const QMessageBox::StandardButtons buttons =
        m.Buttons == toolrun::rbYesNo      ? QMessageBox::Yes | QMessageBox::No
        : m.Buttons == toolrun::rbOkCancel ? QMessageBox::Ok | QMessageBox::Cancel
                                           : QMessageBox::Ok;
    const auto button = f_->ShowMessageKeys(m.Section, m.Keys, m.Args, m.Kind, buttons, m.Detail);
    if (m.Buttons == toolrun::rbYesNo) return button == QMessageBox::Yes;
    return button != QMessageBox::Cancel;
  }

  QChar Drive() const override { return f_->RunDrive(); }
  bool Complement() const override { return f_->select_drive_->Complement(); }
  bool ChooseDrive() override { return f_->ShowDriveDialog(); }
  QString DrivesFile() const override { return f_->RunDrivesFile(); }
  void ArchiveStart(const QString& tool_name, const QString& alias) override {
    f_->zip_progress_->Start(tool_name, alias);
  }
  void ArchiveStatus(bool whole, const QString& item, int percent, bool& cancel) override {
    if (whole) {
      f_->zip_progress_->MajorStatus(item, percent, cancel);
    } else {
      f_->zip_progress_->MinorStatus(item, percent, cancel);
    }
  }
  bool ArchiveCancelled() const override { return f_->zip_progress_->CancelRequested(); }
  void ArchiveHide() override { f_->zip_progress_->hide(); }
  void SetBusyCursor(bool on) override {
    if (on) {
      QApplication::setOverrideCursor(Qt::WaitCursor);
    } else {
      QApplication::restoreOverrideCursor();
    }
  }
  void LetEventsThrough() override { QCoreApplication::processEvents(); }

  void ProgressStart(const QString& caption, int max, bool can_cancel) override {
    FormProgress()->Start(caption, 0, max, 1, can_cancel);
  }
  bool ProgressStep(const QString& text, int position) override {
    return FormProgress()->Progress(text, position);
  }
  void ProgressResume() override {
    FormProgress()->SetCancelled(false);
    FormProgress()->show();
  }
  void ProgressHide() override { FormProgress()->hide(); }

  void RunStarted() override {
    f_->password_refused_ = false;
    f_->SetToolControlsEnabled(false);
  }
  void RunEnded() override { f_->SetToolControlsEnabled(true); }
  void RunFinishing() override { QApplication::restoreOverrideCursor(); }
  void KeepResponsive() override {
    // The window repaints while the table is rewritten; clicks and other
    // channels wait for the gap between two tables.
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents |
                                    QEventLoop::ExcludeSocketNotifiers);
  }

 private:
  TFormVardex* f_;
};

void TFormVardex::CreateRun() {
  run_driver_ = std::make_unique<TWindowRunDriver>(this);
  run_ = std::make_unique<toolrun::TToolRun>(*run_driver_, *table_tools_);
}
