#include "clMacro.h"

#include <QRegularExpression>

#include "clMacroDate.h"
#include "svLog.h"

namespace {

bool SameWord(const QString& a, const char* b) { return a.compare(b, Qt::CaseInsensitive) == 0; }

std::string ToStd(const QString& text) { return text.toStdString(); }

// The tool a name stands for in LASTTIME and STATISTICS.
bool ReadTool(const QString& name, TToolType* tool) {
  try {
    *tool = ToolFromName(ToStd(name));
    return true;
  } catch (const EConvertTool&) {
    return false;
  }
}

}  // namespace

TMacroEngine& MacroEngine() {
  static TMacroEngine engine;
  return engine;
}

TMacroEngine::TMacroEngine() {
  AddCommand("INIT", &TMacroEngine::Init);
  AddCommand("USETOOL", &TMacroEngine::UseTool);
  AddCommand("USEDAILY", &TMacroEngine::UseDaily);
  AddCommand("USEWEEKLY", &TMacroEngine::UseWeekly);
  AddCommand("USEMONTHLY", &TMacroEngine::UseMonthly);
  AddCommand("USEOFTEN", &TMacroEngine::UseOften);
  AddCommand("SELECTALIAS", &TMacroEngine::SelectAlias);
  AddCommand("SETPASSWORD", &TMacroEngine::SetPassword);
  AddCommand("CLOSE", &TMacroEngine::Close);
  AddCommand("LOCKUSER", &TMacroEngine::LockUser);
  AddCommand("UNLOCKUSER", &TMacroEngine::UnlockUser);
  AddCommand("LASTTIME", &TMacroEngine::LastTime);
  AddCommand("STATISTICS", &TMacroEngine::Statistics);
  AddCommand("SETDRIVE", &TMacroEngine::SetDrive);
  AddCommand("SETOPTIONS", &TMacroEngine::SetOptions);
}

void TMacroEngine::AddCommand(const char* name, TMacroProc proc) {
  commands_.emplace_back(QString(name), std::make_unique<TMacroHandler>(proc));
}

QStringList TMacroEngine::Commands() const {
  QStringList names;
  for (const auto& command : commands_) names << command.first;
  return names;
}

void TMacroEngine::Execute(const QString& name, QStringList& params, QString& result) {
  const QString upper = name.toUpper();
  for (const auto& [command, handler] : commands_) {
    if (command == upper && host_) {
      (this->*handler->Proc)(params, result);
      return;
    }
  }
  result = kMacroCannotHandle;
}

void TMacroEngine::Init(QStringList& params, QString& result) {
  if (params.size() != 5 || params[0].isEmpty()) {
    result = kMacroInvalidParams;
    return;
  }
  host_->SetControllerName(params[0]);
  result = kMacroSuccess;
}

void TMacroEngine::SelectAlias(QStringList& params, QString& result) {
  if (host_->ToolRunning()) {
    result = kMacroToolRunning;
    return;
  }
  if (params.size() != 1 || params[0].isEmpty()) {
    result = kMacroInvalidParams;
    return;
  }
  host_->SelectAliasByName(params[0]);
  result = host_->CurrentAlias().isEmpty() ? kMacroAliasNotFound : kMacroSuccess;
}

void TMacroEngine::UseTool(QStringList& params, QString& result) {
  if (params.isEmpty() || params[0].isEmpty() || params.size() > 2) {
    result = kMacroInvalidParams;
    return;
  }
  const QString tool = params[0];
  if (params.size() == 2 && !params[1].isEmpty()) {
    params.removeFirst();
    SelectAlias(params, result);
  } else {
    result = kMacroSuccess;
  }
  if (result == kMacroSuccess) RunToolByName(tool, result);
}

void TMacroEngine::UseDaily(QStringList& params, QString& result) {
  params << "1";
  UseOften(params, result);
}

void TMacroEngine::UseWeekly(QStringList& params, QString& result) {
  params << "7";
  UseOften(params, result);
}

void TMacroEngine::UseMonthly(QStringList& params, QString& result) {
  params << "30";
  UseOften(params, result);
}

void TMacroEngine::UseOften(QStringList& params, QString& result) {
  static const QRegularExpression kInteger("^[+-]?[0-9]{1,9}$");
  if (params.size() != 3 || params[0].isEmpty() || params[2].isEmpty() ||
      !kInteger.match(params[2]).hasMatch()) {
    result = kMacroInvalidParams;
    return;
  }
  const QString tool = params[0];
  const int days = params[2].toInt();
  if (!params[1].isEmpty()) {
    QStringList alias{params[1]};
    SelectAlias(alias, result);
    if (result != kMacroSuccess) return;
  }
  QStringList last{tool, params[1]};
  QString when;
  LastTime(last, when);
  if (when == kMacroNeverHappened) {
    RunToolByName(tool, result);
    return;
  }
  if (when.startsWith('(')) {  // (invalid tool), (log error)
    result = when;
    return;
  }
  double moment = 0;
  const double now = LogNow();
  if (!ReadMacroDateTime(when, now, &moment)) {
    result = kMacroLogError;
    return;
  }
  if (DaysBetween(moment, now) < days) {
    result = kMacroNotYet;
    return;
  }
  RunToolByName(tool, result);
}

void TMacroEngine::RunToolByName(const QString& tool, QString& result) {
  TToolType type = ttUpdate;
  if (!ReadTool(tool, &type)) {
    result = kMacroInvalidTool;
    return;
  }
  // A run already in progress starts nothing: its result is not this
  // command's.
  TToolResult ended = trError;
  bool logged = false;
  if (!host_->RunTool(type, &ended, &logged)) {
    result = kMacroError;
    return;
  }
  result = logged ? QString::fromStdString(ResultName(ended)) : QString(kMacroLogError);
}

void TMacroEngine::SetPassword(QStringList& params, QString& result) {
  if (host_->ToolRunning()) {
    result = kMacroToolRunning;
    return;
  }
  if (params.size() != 1) {
    result = kMacroInvalidParams;
  } else {
    try {
      host_->ApplyPassword(params[0]);
      result = kMacroSuccess;
    } catch (const std::exception&) {
      try {
        host_->ApplyPassword(QString());
      } catch (const std::exception&) {
      }
      params[0].clear();
      result = kMacroError;
    }
  }
  host_->SetPasswordDialogTexts(params.value(0));
}

void TMacroEngine::Close(QStringList&, QString&) { host_->RequestClose(); }

void TMacroEngine::LockUser(QStringList&, QString& result) { result = kMacroSuccess; }

void TMacroEngine::UnlockUser(QStringList&, QString& result) { result = kMacroSuccess; }

void TMacroEngine::LastTime(QStringList& params, QString& result) {
  TToolType tool = ttUpdate;
  // More than Tool and Alias would answer for another database than named.
  if (params.isEmpty() || params[0].isEmpty() || params.size() > 2) {
    result = kMacroInvalidParams;
    return;
  }
  if (!ReadTool(params[0], &tool)) {
    result = kMacroInvalidTool;
    return;
  }
  result = kMacroSuccess;
  if (params.size() == 2 && !params[1].isEmpty()) {
    params.removeFirst();
    SelectAlias(params, result);
    if (result != kMacroSuccess) return;
  }
  try {
    const std::string alias = ToStd(host_->CurrentAlias());
    PurgeFutureEntries(alias, tool);
    SelectLogResult(alias, tool, "MAX(Moment)", trSuccess);
    const engine::TQueryField field = LogQueryField(0);
    result = field.IsNull() ? QString() : MacroDateTimeText(field.AsDateTime());
    CloseLogQuery();
  } catch (const std::exception&) {
    CloseLogQuery();
    result = kMacroLogError;
    return;
  }
  if (result.isEmpty()) result = kMacroNeverHappened;
}

void TMacroEngine::Statistics(QStringList& params, QString& result) {
  if (params.size() != 4 || params[0].isEmpty() || params[2].isEmpty() || params[3].isEmpty()) {
    result = kMacroInvalidParams;
    return;
  }
  TToolType tool = ttUpdate;
  double from = 0, to = 0;
  const double now = LogNow();
  if (!ReadTool(params[0], &tool)) {
    result = kMacroInvalidTool;
    return;
  }
  if (!ReadMacroDateTime(params[2], now, &from) || !ReadMacroDateTime(params[3], now, &to)) {
    result = kMacroInvalidDate;
    return;
  }
  result = kMacroSuccess;
  if (!params[1].isEmpty()) {
    QStringList alias{params[1]};
    SelectAlias(alias, result);
    if (result != kMacroSuccess) return;
  }
  try {
    SelectLogRange(ToStd(host_->CurrentAlias()), tool, "COUNT(Alias)", from, to);
    result = QString::fromStdString(LogQueryField(0).AsString());
    CloseLogQuery();
  } catch (const std::exception&) {
    CloseLogQuery();
    result = kMacroLogError;
  }
}

void TMacroEngine::SetDrive(QStringList& params, QString& result) {
  if (host_->ToolRunning()) {
    result = kMacroToolRunning;
    return;
  }
  if (params.size() != 2 || params[0].size() != 1 ||
      !(SameWord(params[1], "DIRECT") || SameWord(params[1], "COMPLEMENT"))) {
    result = kMacroInvalidParams;
    return;
  }
  host_->SetBackupDrive(params[0][0]);
  host_->SetBackupComplement(SameWord(params[1], "COMPLEMENT"));
  result = kMacroSuccess;
}

void TMacroEngine::SetOptions(QStringList& params, QString& result) {
  if (host_->ToolRunning()) {
    result = kMacroToolRunning;
    return;
  }
  const bool include = params.size() == 2 && SameWord(params[0], "INCLUDE");
  const bool exclude = params.size() == 2 && SameWord(params[0], "EXCLUDE");
  const bool confirm = params.size() == 2 && SameWord(params[1], "CONFIRM");
  const bool endmsg = params.size() == 2 && SameWord(params[1], "ENDMSG");
  if (!(include || exclude) || !(confirm || endmsg)) {
    result = kMacroInvalidParams;
    return;
  }
  host_->SetOption(confirm ? moConfirm : moEndMsg, include);
  result = kMacroSuccess;
}
