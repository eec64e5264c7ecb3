#include "EngineConfig.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <optional>

#include "DbExceptions.h"
#include "Session.h"
#include "TempDir.h"

using engine::EngineConfig;

TEST(EngineConfig, AliasesSortedWithoutCaseAndMalformedLinesSkipped) {
  EngineConfig c = EngineConfig::Parse(
      "; comment\n"
      "stray=line before any section\n"
      "[sales]\nPATH = /srv/Sales data/ünï \nTYPE=STANDARD\n"
      "[Demo]\r\nTYPE=STANDARD\r\nPATH=/srv/demo\r\n"
      "[broken\nPATH=/nowhere\n"
      "[ODBC1]\nTYPE=MSSQL\nnonsense\n=novalue\nPATH=/x\n"
      "[Quoted]\nPATH=\"/srv/my data\"\n");
  EXPECT_EQ(c.AliasNames(), (std::vector<std::string>{"Demo", "ODBC1", "Quoted", "sales"}));
  EXPECT_EQ(c.Find("quoted")->Param("PATH"), "/srv/my data");  // the quotes are no part of it
  ASSERT_NE(c.Find("SALES"), nullptr);
  EXPECT_EQ(c.Find("Sales")->Param("path"), "/srv/Sales data/ünï");
  EXPECT_EQ(c.Find("demo")->Param("PATH"), "/srv/demo");
  EXPECT_EQ(c.Find("odbc1")->Driver(), "MSSQL");
  EXPECT_EQ(c.Find("broken"), nullptr);
}

TEST(EngineConfig, MissingFileHasNoAliasesAndSaysSo) {
  EXPECT_TRUE(EngineConfig::Load("/nonexistent/engine.ini").AliasNames().empty());
  EXPECT_FALSE(EngineConfig::Load("/nonexistent/engine.ini").Found());
  EXPECT_TRUE(EngineConfig::Load("/").AliasNames().empty());  // a folder, not a file
  EXPECT_FALSE(EngineConfig::Load("/").Found());
  EXPECT_TRUE(EngineConfig::Parse("").Found());
  engine::TSession s;
  s.SetConfigFile("/nonexistent/engine.ini");
  EXPECT_FALSE(s.ConfigFileFound());
  EXPECT_EQ(s.ConfigFile(), "/nonexistent/engine.ini");
}

TEST(Session, AliasQuestionsPathFirstAndUnknownNamesRefused) {
  const TempDir dir;
  const std::string file = dir / "engine.ini";
  std::ofstream(file) << "[SALES]\nTYPE=STANDARD\nLANGDRIVER=ascii\nPATH=/srv/sales\n";
  engine::TSession s;
  s.SetConfigFile(file);
  EXPECT_EQ(s.GetAliasParams("sales"),
            (std::vector<std::string>{"PATH=/srv/sales", "TYPE=STANDARD", "LANGDRIVER=ascii"}));
  EXPECT_EQ(s.GetAliasDriverName("Sales"), "STANDARD");
  try {
    s.GetAliasDriverName("NOSUCH");
    FAIL() << "no error for an unknown alias";
  } catch (const engine::EDatabaseError& e) {
    std::string text = e.what();
    for (char& ch : text) ch = static_cast<char>(toupper(ch));
    EXPECT_NE(text.find("INVALID ALIAS NAME"), std::string::npos);
  }
  EXPECT_THROW(s.GetAliasParams("NOSUCH"), engine::EDBEngineError);
}

TEST(Session, PasswordRequestRetriesOnlyWhenTheHandlerSaysSo) {
  engine::TSession s;
  EXPECT_FALSE(s.RequestPassword("/t/A.DB"));
  int asked = 0;
  s.SetOnPassword([&](const std::string& table, bool& again) {
    ++asked;
    EXPECT_EQ(table, "/t/A.DB");
    s.AddPassword("secret");
    again = asked < 2;
  });
  EXPECT_TRUE(s.RequestPassword("/t/A.DB"));
  EXPECT_FALSE(s.RequestPassword("/t/A.DB"));
  EXPECT_EQ(s.Passwords(), std::vector<std::string>{"secret"});  // added once
  s.RemoveAllPasswords();
  EXPECT_TRUE(s.Passwords().empty());
}

// The program folder: VARDEX_HOME first, else the executable's own (writable,
// not installed) folder; the user's folder follows the XDG rules.
TEST(Session, ProgramFolderRule) {
  struct Saved {
    std::string name;
    std::optional<std::string> value;
  };
  std::vector<Saved> saved;
  for (const char* name : {"VARDEX_HOME", "XDG_CONFIG_HOME", "HOME"}) {
    const char* v = std::getenv(name);
    saved.push_back({name, v ? std::optional<std::string>(v) : std::nullopt});
  }
  ::setenv("VARDEX_HOME", "/srv/vardex//", 1);
  EXPECT_EQ(engine::ProgramFolder(), "/srv/vardex");
  ::setenv("VARDEX_HOME", "/", 1);
  EXPECT_EQ(engine::ProgramFolder(), "/");
  ::unsetenv("VARDEX_HOME");
  EXPECT_EQ(engine::ProgramFolder(), engine::ExecutableFolder());
  EXPECT_EQ(engine::InstalledDataFolder(), "");

  ::setenv("HOME", "/home/op", 1);
  const struct {
    const char* config;  // nullptr: unset
    const char* folder;
  } cases[] = {{"/cfg/", "/cfg/vardex"},
               {"/cfg", "/cfg/vardex"},
               {"relative/cfg", "/home/op/.config/vardex"},
               {"", "/home/op/.config/vardex"},
               {nullptr, "/home/op/.config/vardex"}};
  for (const auto& c : cases) {
    if (c.config)
      ::setenv("XDG_CONFIG_HOME", c.config, 1);
    else
      ::unsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ(engine::UserProgramFolder(), c.folder) << (c.config ? c.config : "(unset)");
  }
  for (const Saved& s : saved) {
    if (s.value)
      ::setenv(s.name.c_str(), s.value->c_str(), 1);
    else
      ::unsetenv(s.name.c_str());
  }
}
