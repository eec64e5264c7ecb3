#include "Session.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <string>

#include "DbExceptions.h"
#include "Env.h"

#ifndef VARDEX_BIN_TO_DATA
#define VARDEX_BIN_TO_DATA "../share/vardex"
#endif

namespace engine {

std::string ExecutableFolder() {
  std::string exe(4096, '\0');
  ssize_t n = ::readlink("/proc/self/exe", exe.data(), exe.size() - 1);
  if (n <= 0) return ".";
  exe.resize(static_cast<std::size_t>(n));
  return DirName(exe);
}

std::string InstalledDataFolder() {
  const std::string data = JoinPath(ExecutableFolder(), VARDEX_BIN_TO_DATA);
  char resolved[PATH_MAX];
  struct stat st {};
  if (::stat(data.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return "";
  return ::realpath(data.c_str(), resolved) ? resolved : data;
}

std::string UserProgramFolder() {
  const char* config = std::getenv("XDG_CONFIG_HOME");
  std::string base = config && config[0] == '/' ? config : "";
  if (base.empty()) {
    const char* home = std::getenv("HOME");
    if (!home || !*home) {
      const passwd* pw = ::getpwuid(::getuid());
      home = pw ? pw->pw_dir : "/tmp";
    }
    base = JoinPath(home, ".config");
  }
  return JoinPath(base, "vardex");
}

std::string ProgramFolder() {
  if (const char* home = std::getenv("VARDEX_HOME"); home && *home) {
    std::string folder = home;
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    return folder;
  }
  const std::string exe = ExecutableFolder();
  if (InstalledDataFolder().empty() && ::access(exe.c_str(), W_OK) == 0) return exe;
  return UserProgramFolder();
}

TSession& TSession::Default() {
  static TSession session;
  return session;
}

std::string TSession::ConfigFile() const {
  if (!config_file_.empty()) return config_file_;
  if (const char* file = std::getenv("VARDEX_ENGINE_CONFIG"); file && *file) return file;
  return JoinPath(ProgramFolder(), "engine.ini");
}

EngineConfig TSession::LoadConfig() const { return EngineConfig::Load(ConfigFile()); }

bool TSession::ConfigFileFound() const { return LoadConfig().Found(); }

std::vector<std::string> TSession::GetAliasNames() const { return LoadConfig().AliasNames(); }

std::vector<std::string> TSession::GetAliasParams(const std::string& alias) const {
  EngineConfig config = LoadConfig();
  const AliasEntry* entry = config.Find(alias);
  if (!entry) {
    throw EDBEngineError(Status(DBIERR_UNKNOWNDB, "Invalid alias name.").WithContext(alias));
  }
  // Only a standard alias states its folder first; other drivers (SQL
  // servers) keep their lines as written, so the database list skips them.
  std::vector<std::string> lines;
  const bool standard = entry->Driver() == "STANDARD";
  if (standard) lines.push_back("PATH=" + entry->Param("PATH"));
  for (const auto& [key, value] : entry->params) {
    if (!standard || key != "PATH") lines.push_back(key + "=" + value);
  }
  return lines;
}

std::string TSession::GetAliasDriverName(const std::string& alias) const {
  EngineConfig config = LoadConfig();
  const AliasEntry* entry = config.Find(alias);
  if (!entry) throw EDatabaseError("Invalid alias name: " + alias);
  return entry->Driver();
}

std::string TSession::AliasPath(const std::string& alias) const {
  EngineConfig config = LoadConfig();
  const AliasEntry* entry = config.Find(alias);
  return entry ? entry->Param("PATH") : "";
}

void TSession::AddPassword(const std::string& password) {
  const std::lock_guard<std::mutex> lock(passwords_mutex_);
  if (std::find(passwords_.begin(), passwords_.end(), password) == passwords_.end()) {
    passwords_.push_back(password);
  }
}

void TSession::RemoveAllPasswords() {
  const std::lock_guard<std::mutex> lock(passwords_mutex_);
  passwords_.clear();
}

std::vector<std::string> TSession::Passwords() const {
  const std::lock_guard<std::mutex> lock(passwords_mutex_);
  return passwords_;
}

bool TSession::RequestPassword(const std::string& table_path) {
  if (!on_password_) return false;
  bool again = false;
  on_password_(table_path, again);
  return again;
}

}  // namespace engine
