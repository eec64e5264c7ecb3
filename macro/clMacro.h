// The macro engine: the command language other programs drive Vardex with.
// A macro is one line NAME(P1,...,Pn); the transports check and split it
// with IsValidMacro, MacroName and MacroParams and hand it to
// MacroEngine().Execute, which acts on the main window through TMacroHost
// and answers with one short result text. Main thread only.
#pragma once

#include <QString>
#include <QStringList>
#include <memory>
#include <utility>
#include <vector>

#include "tcVardex.h"


// The answers of the commands besides the tool results of ResultName.
inline constexpr char kMacroSuccess[] = "(success)";
inline constexpr char kMacroCannotHandle[] = "(cannot handle macro)";
inline constexpr char kMacroInvalidParams[] = "(invalid parameters)";
inline constexpr char kMacroAliasNotFound[] = "(alias not found)";
inline constexpr char kMacroInvalidTool[] = "(invalid tool)";
inline constexpr char kMacroInvalidDate[] = "(invalid date)";
inline constexpr char kMacroNeverHappened[] = "(never happened)";
inline constexpr char kMacroLogError[] = "(log error)";
inline constexpr char kMacroError[] = "(error)";
inline constexpr char kMacroNotYet[] = "(not yet)";
// A command that would change the database, password, drive or options of
// a run in progress is refused with this and changes nothing.
inline constexpr char kMacroToolRunning[] = "(tool running)";

// NAME(P1,...,Pn) with the closing parenthesis last; no delimiter in the
// name, no parenthesis or comma in a parameter. `text` is not empty.
bool IsValidMacro(const QString& text);
// The characters before the first opening parenthesis.
QString MacroName(const QString& text);
// The parameters between the first opening parenthesis and the last
// character, split at commas; never fewer than one (NAME() has one empty).
QStringList MacroParams(const QString& text);

enum TMacroOption { moConfirm, moEndMsg };

// What the commands need of the main window. Every operation acts at once;
// the engine decides what is allowed while a run is in progress.
class TMacroHost {
 public:
  virtual ~TMacroHost() = default;
  virtual QString CurrentAlias() const = 0;
  virtual bool ToolRunning() const = 0;
  // Selects the database; CurrentAlias is empty afterwards when none matched.
  virtual void SelectAliasByName(const QString& name) = 0;
  virtual void SetControllerName(const QString& name) = 0;
  // Runs a tool as its Tools menu entry does, with its questions, and tells
  // the result the run ended with and whether its log record was written.
  // False when no run started: one is in progress, or the tool controls are
  // off.
  virtual bool RunTool(TToolType tool, TToolResult* result, bool* logged) = 0;
  // The engine's password list and the table tools' password; an empty
  // text clears both. Raises on failure.
  virtual void ApplyPassword(const QString& password) = 0;
  virtual void SetPasswordDialogTexts(const QString& text) = 0;
  // Closes the program unless a run is in progress.
  virtual void RequestClose() = 0;
  virtual void SetOption(TMacroOption option, bool on) = 0;
  // The drive selection of Backup and Restore.
  virtual void SetBackupDrive(QChar drive) = 0;
  virtual void SetBackupComplement(bool on) = 0;
};

class TMacroEngine;
// A command's handler: the parameters (which it may change) and the result
// text, in and out.
using TMacroProc = void (TMacroEngine::*)(QStringList& params, QString& result);

class TMacroHandler {
 public:
  explicit TMacroHandler(TMacroProc proc) : Proc(proc) {}
  TMacroProc Proc;
};

class TMacroEngine {
 public:
  TMacroEngine();
  TMacroEngine(const TMacroEngine&) = delete;
  TMacroEngine& operator=(const TMacroEngine&) = delete;

  // Runs the command `name` (any case). A name that is no command gives
  // "(cannot handle macro)"; `result` is not cleared first, so a command
  // that sets nothing (CLOSE) leaves the caller's text.
  void Execute(const QString& name, QStringList& params, QString& result);

  // The window the commands act on; null detaches (every command is then
  // "(cannot handle macro)").
  void SetHost(TMacroHost* host) { host_ = host; }
  TMacroHost* Host() const { return host_; }
  // The command names in table order.
  QStringList Commands() const;

 private:
  void Init(QStringList& params, QString& result);
  void UseTool(QStringList& params, QString& result);
  void UseDaily(QStringList& params, QString& result);
  void UseWeekly(QStringList& params, QString& result);
  void UseMonthly(QStringList& params, QString& result);
  void UseOften(QStringList& params, QString& result);
  void SelectAlias(QStringList& params, QString& result);
  void SetPassword(QStringList& params, QString& result);
  void Close(QStringList& params, QString& result);
  void LockUser(QStringList& params, QString& result);
  void UnlockUser(QStringList& params, QString& result);
  void LastTime(QStringList& params, QString& result);
  void Statistics(QStringList& params, QString& result);
  void SetDrive(QStringList& params, QString& result);
  void SetOptions(QStringList& params, QString& result);

  void RunToolByName(const QString& tool, QString& result);
  void AddCommand(const char* name, TMacroProc proc);

  std::vector<std::pair<QString, std::unique_ptr<TMacroHandler>>> commands_;
  TMacroHost* host_ = nullptr;
};

// The one engine, alive from first use to program end.
TMacroEngine& MacroEngine();
