// The engine session: the aliases of the engine configuration, the list of
// passwords used to open protected tables, and the password-request callback
// asked when none of them fits. One default session per program.
#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "EngineConfig.h"

namespace engine {

class TSession {
 public:
  // Asked when a protected table opens and no listed password fits. The
  // handler may add passwords; it sets Continue to true to have the open
  // retried with the new list, false to give up.
  using PasswordRequest = std::function<void(const std::string& table_path, bool& Continue)>;

  static TSession& Default();

  // Aliases. The configuration file is read anew by every question, so a
  // change made while the program runs shows at the next refresh.
  std::vector<std::string> GetAliasNames() const;
  // For a standard alias "PATH=<folder>" first, then its other keys as
  // KEY=value; for another driver its keys as written. Raises
  // EDBEngineError (DBIERR_UNKNOWNDB) for a name that is no alias.
  std::vector<std::string> GetAliasParams(const std::string& alias) const;
  // "STANDARD" for a standard alias; raises EDatabaseError whose text holds
  // "Invalid alias name" for a name that is no alias.
  std::string GetAliasDriverName(const std::string& alias) const;
  // The folder of an alias (its PATH=), or "" for an unknown name.
  std::string AliasPath(const std::string& alias) const;

  // Overrides where the configuration is read from (tests, `vdx --config`).
  void SetConfigFile(std::string path) { config_file_ = std::move(path); }
  std::string ConfigFile() const;
  // Whether the configuration file (at ConfigFile()) exists and can be
  // read; without it there are no aliases, and the program says where it
  // looked.
  bool ConfigFileFound() const;

  // Passwords. The list may be read on any thread while the window's
  // thread adds to it.
  void AddPassword(const std::string& password);
  void RemoveAllPasswords();
  std::vector<std::string> Passwords() const;
  void SetOnPassword(PasswordRequest handler) { on_password_ = std::move(handler); }
  // Asks the handler; false when there is none or it declined.
  bool RequestPassword(const std::string& table_path);

 private:
  EngineConfig LoadConfig() const;

  std::string config_file_;
  mutable std::mutex passwords_mutex_;
  std::vector<std::string> passwords_;
  PasswordRequest on_password_;
};

// The program folder, which holds engine.ini, drives.ini, Language.ini and
// the tool log: $VARDEX_HOME when set; else the folder of the running
// executable when the program runs where it was built and may write there;
// else (an installed program, or a read-only folder) UserProgramFolder().
// Never ends in "/" unless it is "/".
std::string ProgramFolder();
// $XDG_CONFIG_HOME/vardex, or ~/.config/vardex when that is unset or not an
// absolute path. It is not created here.
std::string UserProgramFolder();
// The folder of the running executable.
std::string ExecutableFolder();
// The data folder of an installed program: <prefix>/share/vardex beside the
// executable's <prefix>/bin, or "" when there is none.
std::string InstalledDataFolder();

}  // namespace engine
