// TFormVardex as the macro engine sees it: the selection, the Tools menu,
// the password, the options and the drive selection, reached through the
// engine's TMacroHost interface.

#include "clMacro.h"
#include "cpDdeMac.h"
#include "fmDbPwd.h"
#include "fmVdx.h"

// Declared a friend of the window, whose runs it starts as the menu does.
class TFormVardexMacroHost : public TMacroHost {
 public:
  explicit TFormVardexMacroHost(TFormVardex* form) : form_(form) {}

  QString CurrentAlias() const override { return form_->CurrentAlias; }
  bool ToolRunning() const override { return form_->ToolRunning; }
  void SelectAliasByName(const QString& name) override { form_->SelectAliasByName(name); }
  void SetControllerName(const QString& name) override { form_->ControllerName = name; }

  bool RunTool(TToolType tool, TToolResult* result, bool* logged) override {
    return form_->RunToolForMacro(tool, result, logged);
  }

  void ApplyPassword(const QString& password) override { form_->ApplyPassword(password); }
  void SetPasswordDialogTexts(const QString& text) override {
    form_->PasswordDialog()->SetTexts(text);
  }
  void RequestClose() override { form_->RequestClose(); }

  void SetOption(TMacroOption option, bool on) override {
    const TVdxOption flag = option == moConfirm ? voConfirm : voEndMsg;
    if (on) {
      form_->Options.insert(flag);
    } else {
      form_->Options.erase(flag);
    }
  }
  void SetBackupDrive(QChar drive) override { form_->SetBackupDrive(drive); }
  void SetBackupComplement(bool on) override { form_->SetBackupComplement(on); }

 private:
  TFormVardex* form_;
};

void TFormVardex::AttachMacroEngine() {
  macro_host_ = std::make_unique<TFormVardexMacroHost>(this);
  MacroEngine().SetHost(macro_host_.get());
  macro_server_ = new TZelMacroServer(this, "MacroServer");
  macro_server_->OnProcessMacro = [this](QObject*, const QString& name, const QStringList& params,
                                         QString& result) {
    MacroServerProcessMacro(name, params, result);
  };
}

void TFormVardex::MacroServerProcessMacro(const QString& name, const QStringList& params,
                                          QString& result) {
  QStringList list = params;
  QString text;
  MacroEngine().Execute(name, list, text);
  result = text.left(TZelMacroServer::kMaxResult);
}

bool TFormVardex::RunToolForMacro(TToolType tool, TToolResult* result, bool* logged) {
  if (ToolRunning || !ToolMenuItem(tool)->isEnabled()) return false;
  const long finished = run_->RunsFinished();
  Guarded([this, tool] { RunTool(tool); });
  if (run_->RunsFinished() == finished) return false;
  *result = run_->LastResult();
  *logged = run_->LastLogged();
  return true;
}

QString TFormVardex::RunForwardedRequest(const QString& alias, QChar letter) {
  QString result;
  MacroServerProcessMacro(
      "USETOOL",
      {QString::fromStdString(ToolName(ToolFromLetter(static_cast<char>(letter.unicode())))), alias},
      result);
  return result;
}

void TFormVardex::DetachMacroEngine() {
  if (MacroEngine().Host() == macro_host_.get()) MacroEngine().SetHost(nullptr);
}
