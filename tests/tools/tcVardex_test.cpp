#include "tcVardex.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// Runs `fn` and returns the EConvertTool text it raised ("" when none).
template <typename Fn>
std::string Refusal(Fn fn) {
  try {
    fn();
  } catch (const EConvertTool& e) {
    return e.what();
  }
  return "";
}

TEST(ToolConversions, NamesAndLettersRoundTripForEveryTool) {
  const char* names[] = {"UPDATE", "PACK", "COPY", "RETRIEVE", "BACKUP", "RESTORE"};
  const char letters[] = {'U', 'P', 'C', 'R', 'B', 'T'};
  for (int i = 0; i < kToolCount; ++i) {
    const auto tool = static_cast<TToolType>(i);
    EXPECT_EQ(ToolName(tool), names[i]);
    EXPECT_EQ(ToolLetter(tool), letters[i]);
    EXPECT_EQ(ToolFromName(names[i]), tool);
    EXPECT_EQ(ToolFromLetter(letters[i]), tool);
  }
  // The ordinals are stored and exchanged; they must never move.
  EXPECT_EQ(static_cast<int>(ttRestore), 5);
  EXPECT_EQ(static_cast<int>(ttRetrieve), 3);
}

TEST(ToolConversions, CaseIsIgnoredOnInput) {
  EXPECT_EQ(ToolFromName("retrieve"), ttRetrieve);
  EXPECT_EQ(ToolFromName("Pack"), ttPack);
  EXPECT_EQ(ToolFromLetter('t'), ttRestore);
  EXPECT_EQ(ToolFromLetter('r'), ttRetrieve);
}

TEST(ToolConversions, RefusalsCarryTheExactTexts) {
  EXPECT_EQ(Refusal([] { ToolFromLetter('Q'); }),
            "The character \"Q\" does not represent any tool type");
  EXPECT_EQ(Refusal([] { ToolFromName("Restore "); }),
            "The string \"RESTORE \" does not represent any tool type");
  EXPECT_EQ(Refusal([] { ToolFromName(""); }), "The string \"\" does not represent any tool type");
  const auto bad = static_cast<TToolType>(6);
  EXPECT_EQ(Refusal([&] { ToolName(bad); }), "Cannot convert the tool to a string or a char");
  EXPECT_EQ(Refusal([&] { ToolLetter(static_cast<TToolType>(-1)); }),
            "Cannot convert the tool to a string or a char");
}

TEST(ResultConversions, LettersAndTextsForEveryResult) {
  const char letters[] = {'S', 'C', 'U', 'R', 'E', 'G', 'N', 'M', 'P', 'X', 'B'};
  const char* texts[] = {"(success)",  "(cancel)",    "(update)",    "(repeat)",
                         "(error)",    "(give up)",   "(no tables)", "(not match)",
                         "(password)", "(corrupted)", "(busy)",      "(not yet)"};
  for (int i = 0; i < kToolResultCount; ++i) {
    const auto result = static_cast<TToolResult>(i);
    EXPECT_EQ(ResultName(result), texts[i]);
    if (result == trNotYet) continue;
    EXPECT_EQ(ResultLetter(result), letters[i]);
    EXPECT_EQ(ResultFromLetter(letters[i]), result);
  }
  EXPECT_EQ(ResultFromLetter('x'), trCorrupted);
  EXPECT_EQ(ResultName(trNotYet), "(not yet)");
}

TEST(ResultConversions, RefusalsCarryTheExactTexts) {
  EXPECT_EQ(Refusal([] { ResultLetter(trNotYet); }),
            "trNotYet is a special tool result and cannot be converted");
  EXPECT_EQ(Refusal([] { ResultLetter(static_cast<TToolResult>(12)); }),
            "Cannot convert the tool result to a macro result or a char.");
  EXPECT_EQ(Refusal([] { ResultName(static_cast<TToolResult>(-1)); }),
            "Cannot convert the tool result to a macro result or a char.");
  EXPECT_EQ(Refusal([] { ResultFromLetter('Q'); }),
            "The character \"Q\" does not represent any tool result");
  // trNotYet has no letter, so no character may map back to it.
  EXPECT_FALSE(Refusal([] { ResultFromLetter(0); }).empty());
}

TEST(ToolExceptions, HierarchyAndDebugPrefix) {
  try {
    throw EDebugNote("tool 7 has no handler");
  } catch (const EVardex& e) {
    EXPECT_STREQ(e.what(), "Debug note: tool 7 has no handler");
  }
  EXPECT_STREQ(EDebugNote::Fmt("tool %d, step %s", 7, "Check").what(),
               "Debug note: tool 7, step Check");
  EXPECT_THROW(throw EConvertTool("x"), EVardex);
  EXPECT_THROW(throw EVardex(kCannotRenameSupportDir), std::runtime_error);
}

}  // namespace
