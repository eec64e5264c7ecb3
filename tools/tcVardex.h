// The six tools and the twelve results of a tool run, with the names, letters
// and texts that the log stores, the menus use and the macro commands answer.
// The ordinals are fixed: the log and the macro channels depend on them.
#pragma once

#include <string>

#include "exVardex.h"

enum TToolType : int {
  ttUpdate = 0,
  ttPack = 1,
  ttCopy = 2,
  ttRetrieve = 3,
  ttBackup = 4,
  ttRestore = 5,
};
inline constexpr int kToolCount = 6;

enum TToolResult : int {
  trSuccess = 0,
  trCancel = 1,
  trUpdate = 2,
  trRepeat = 3,
  trError = 4,
  trGiveUp = 5,
  trNoTables = 6,
  trNotMatch = 7,
  trPassword = 8,
  trCorrupted = 9,
  trBusy = 10,
  trNotYet = 11,  // only ever a macro answer; never ends a run, has no letter
};
inline constexpr int kToolResultCount = 12;

// "UPDATE", "PACK", ...: the key in the "ToolNames" language section and the
// suffix of the Menu<name> and SpdBtn<name> components.
std::string ToolName(TToolType tool);
// The tool whose name equals `text` without regard to case.
TToolType ToolFromName(const std::string& text);

// The log's and the command line's letter for a tool (Restore is 'T').
char ToolLetter(TToolType tool);
// A lower-case letter counts as its upper-case form.
TToolType ToolFromLetter(char ch);

// The log's letter for a result; trNotYet has none and is refused.
char ResultLetter(TToolResult result);
TToolResult ResultFromLetter(char ch);

// The macro answer for a result: "(success)", "(cancel)", ...
std::string ResultName(TToolResult result);
