// TFormZipProgress: the backup progress dialog shown while the compression
// library works: the current file and its bar, the overall state and its
// bar, and Cancel, which asks before it sets CancelRequested. The main
// window's library callbacks feed it through MajorStatus and MinorStatus.
#pragma once

#include <QWidget>
#include <functional>

#include "cpZelCtrls.h"

class TGauge;
class TZelLanguage;

class TFormZipProgress : public QWidget {
  Q_OBJECT

 public:
  explicit TFormZipProgress(QWidget* parent = nullptr);

  // Resets the dialog for a run of the tool named `tool_key` in "ToolNames"
  // on `alias` and shows it. Raises EZelSetup when a key is missing.
  void Start(const QString& tool_key, const QString& alias);

  // Overall progress: "Please wait." while the library prepares, "Item i of
  // n" per item (translated), empty at the end. Sets `cancel` when the
  // user has confirmed Cancel.
  void MajorStatus(const QString& item, int percent, bool& cancel);
  // Progress of the current file, named by its stored path.
  void MinorStatus(const QString& item, int percent, bool& cancel);

  bool CancelRequested() const { return cancel_requested_; }
  void ButtonCancelClick();
  TZelLanguage* Language() const { return language_; }
  void SetLanguageFile(const QString& file);
  // Answers the Cancel question instead of a box (tests, the main window's
  // message routing); true means Yes.
  std::function<bool(const QString& text)> ConfirmCancel;

 protected:
  void closeEvent(QCloseEvent* e) override;

 private:
  QString Text(const QString& section, const QString& key) const;

  TZelLabel* label_current_;
  TZelLabel* label_database_;
  TGauge* gauge_current_;
  TGauge* gauge_database_;
  TZelButton* button_cancel_;
  TZelLanguage* language_;
  QString tool_key_;
  bool cancel_requested_ = false;
};
