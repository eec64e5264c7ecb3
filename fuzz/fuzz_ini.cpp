// libFuzzer target for the INI readers: the engine's configuration
// (engine.ini) and the program's own INI files (drives.ini, Language.ini),
// read through TZelIniFile from a file holding the input.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>

#include "EngineConfig.h"
#include "cpZelIniFile.h"

namespace {

const std::string& IniPath() {
  static const std::string path = [] {
    const char* tmp = std::getenv("TMPDIR");
    return std::string(tmp ? tmp : "/tmp") + "/vardex-fuzz-ini-" + std::to_string(::getpid()) + ".ini";
  }();
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const engine::EngineConfig config = engine::EngineConfig::Parse(text);
  for (const std::string& name : config.AliasNames()) {
    const engine::AliasEntry* alias = config.Find(name);
    if (!alias) std::abort();  // every listed alias is found by its name
    (void)alias->Driver();
    (void)alias->Param("PATH");
  }
  {
    std::ofstream out(IniPath(), std::ios::binary | std::ios::trunc);
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
  }
  TZelIniFile ini(QString::fromStdString(IniPath()));
  if (ini.Load()) {
    QStringList sections;
    for (const QString& line : TZelIniFile::DecodeLines(QByteArray(text.data(), text.size()))) {
      if (line.startsWith('[') && line.contains(']')) sections << line.mid(1, line.indexOf(']') - 1);
    }
    sections << "Drives" << "Language";
    for (const QString& section : sections) {
      QStringList keys;
      ini.ReadSection(section, keys);
      for (const QString& key : keys) (void)ini.ReadString(section, key, QString());
    }
  }
  ::unlink(IniPath().c_str());
  return 0;
}
