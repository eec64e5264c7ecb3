#include "StartSwitches.h"

#include "clMacro.h"
#include "exVardex.h"
#include "tcVardex.h"

#ifndef VARDEX_VERSION
#define VARDEX_VERSION "unknown"
#endif

QString UsageText() {
  return QStringLiteral(
      "usage: Vdx32 [ALIAS -X | MACROSERVER | -EMBEDDING | -REGSERVER | -UNREGSERVER]\n"
      "\n"
      "  Vdx32                 interactive: the main window\n"
      "  Vdx32 ALIAS -X        select database ALIAS, run tool X, then end; /X works too.\n"
      "                        X is a tool letter, in either case: U Update, C Copy,\n"
      "                        R Retrieve, B Backup, T Restore, P Pack\n"
      "  Vdx32 MACROSERVER     server mode, driven by macro commands\n"
      "  Vdx32 -EMBEDDING      server mode, started for an automation client\n"
      "  Vdx32 -REGSERVER      register the automation object (D-Bus activation), then end\n"
      "  Vdx32 -UNREGSERVER    remove that registration, then end\n"
      "  Vdx32 --help          this text\n"
      "  Vdx32 --version       the version\n"
      "\n"
      "The program folder (engine.ini, drives.ini, Language.ini, VdxLog.db) is\n"
      "$VARDEX_HOME when set, else the program's own folder when it may write\n"
      "there, else $XDG_CONFIG_HOME/vardex (~/.config/vardex).\n"
      "VARDEX_ENGINE_CONFIG names another engine configuration file.\n"
      "A second start while Vardex runs brings its window forward; one with ALIAS -X\n"
      "has the running Vardex run tool X, waits for that run and ends with its code.\n");
}

QString VersionText() { return QStringLiteral("Vdx32 (Vardex) " VARDEX_VERSION "\n"); }

int AnswerInformationSwitch(const QStringList& params, std::FILE* out) {
  if (params.isEmpty()) return -1;
  const QString& first = params.first();
  QString text;
  if (first == QLatin1String("--help") || first == QLatin1String("-h")) text = UsageText();
  if (first == QLatin1String("--version")) text = VersionText();
  if (text.isEmpty()) return -1;
  std::fputs(text.toLocal8Bit().constData(), out);
  std::fflush(out);
  return 0;
}

int ExitCodeOfMacroAnswer(const QString& answer) {
  for (int result = trSuccess; result <= trBusy; ++result) {
    if (answer == QString::fromStdString(ResultName(static_cast<TToolResult>(result)))) {
      return result;
    }
  }
  if (answer == kMacroToolRunning) return trBusy;
  if (answer == kMacroAliasNotFound || answer == kMacroInvalidTool ||
      answer == kMacroInvalidParams) {
    return 64;
  }
  return trError;
}

bool ReadToolRequest(const QStringList& params, TToolRequest* request, QString* error) {
  const QString sw = params.value(1);
  request->Alias = params.value(0);
  if (sw.size() != 2 || (sw[0] != '-' && sw[0] != '/')) {
    *error = QString("\"%1\" is no tool switch: give -X or /X, X one of U C R B T P").arg(sw);
    return false;
  }
  try {
    if (sw[1].unicode() > 0x7f) throw EConvertTool("not a tool letter");
    ToolFromLetter(static_cast<char>(sw[1].unicode()));
  } catch (const EConvertTool&) {
    *error = QString("\"%1\" names no tool: give one of U C R B T P").arg(sw[1]);
    return false;
  }
  request->Letter = sw[1].toUpper();
  return true;
}
