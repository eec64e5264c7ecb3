// Conversions between tools, results and their texts. Every refusal raises
// EConvertTool with a fixed text so callers can tell a bad log record or
// macro parameter from other failures.
#include "tcVardex.h"

#include <cctype>

namespace {

struct ToolEntry {
  const char* name;
  char letter;
};

constexpr ToolEntry kTools[kToolCount] = {
    {"UPDATE", 'U'},   {"PACK", 'P'},   {"COPY", 'C'},
    {"RETRIEVE", 'R'}, {"BACKUP", 'B'}, {"RESTORE", 'T'},
};

struct ResultEntry {
  char letter;  // 0: the result has no letter
  const char* text;
};

constexpr ResultEntry kResults[kToolResultCount] = {
    {'S', "(success)"},  {'C', "(cancel)"},    {'U', "(update)"},    {'R', "(repeat)"},
    {'E', "(error)"},    {'G', "(give up)"},   {'N', "(no tables)"}, {'M', "(not match)"},
    {'P', "(password)"}, {'X', "(corrupted)"}, {'B', "(busy)"},      {0, "(not yet)"},
};

constexpr const char* kToolRefusal = "Cannot convert the tool to a string or a char";
constexpr const char* kResultRefusal =
    "Cannot convert the tool result to a macro result or a char.";

bool ValidTool(TToolType tool) { return tool >= 0 && tool < kToolCount; }
bool ValidResult(TToolResult result) { return result >= 0 && result < kToolResultCount; }

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

char UpperChar(char ch) { return static_cast<char>(std::toupper(static_cast<unsigned char>(ch))); }

}  // namespace

std::string ToolName(TToolType tool) {
  if (!ValidTool(tool)) throw EConvertTool(kToolRefusal);
  return kTools[tool].name;
}

TToolType ToolFromName(const std::string& text) {
  const std::string upper = Upper(text);
  for (int i = 0; i < kToolCount; ++i) {
    if (upper == kTools[i].name) return static_cast<TToolType>(i);
  }
  throw EConvertTool("The string \"" + upper + "\" does not represent any tool type");
}

char ToolLetter(TToolType tool) {
  if (!ValidTool(tool)) throw EConvertTool(kToolRefusal);
  return kTools[tool].letter;
}

TToolType ToolFromLetter(char ch) {
  const char upper = UpperChar(ch);
  for (int i = 0; i < kToolCount; ++i) {
    if (upper == kTools[i].letter) return static_cast<TToolType>(i);
  }
  throw EConvertTool("The character \"" + std::string(1, ch) +
                     "\" does not represent any tool type");
}

char ResultLetter(TToolResult result) {
  if (result == trNotYet) {
    throw EConvertTool("trNotYet is a special tool result and cannot be converted");
  }
  if (!ValidResult(result)) throw EConvertTool(kResultRefusal);
  return kResults[result].letter;
}

TToolResult ResultFromLetter(char ch) {
  const char upper = UpperChar(ch);
  for (int i = 0; i < kToolResultCount; ++i) {
    if (kResults[i].letter != 0 && upper == kResults[i].letter) {
      return static_cast<TToolResult>(i);
    }
  }
  throw EConvertTool("The character \"" + std::string(1, ch) +
                     "\" does not represent any tool result");
}

std::string ResultName(TToolResult result) {
  if (!ValidResult(result)) throw EConvertTool(kResultRefusal);
  return kResults[result].text;
}
