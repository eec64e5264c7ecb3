#include "ProgramFolder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "Session.h"

namespace {

QString ToQt(const std::string& s) { return QString::fromStdString(s); }

// The language file that ships with the program: the installed data file,
// else the one beside the executable.
QString ShippedLanguageFile() {
  for (const std::string& folder : {engine::InstalledDataFolder(), engine::ExecutableFolder()}) {
    if (folder.empty()) continue;
    const QString file = ToQt(folder) + QStringLiteral("/Language.ini");
    if (QFileInfo(file).isFile()) return file;
  }
  return QString();
}

}  // namespace

QString SettleProgramFolder(QString* error) {
  const QString folder = ToQt(engine::ProgramFolder());
  if (qEnvironmentVariableIsEmpty("VARDEX_HOME") && folder == ToQt(engine::UserProgramFolder())) {
    const QString language = folder + QStringLiteral("/Language.ini");
    const QString shipped = ShippedLanguageFile();
    if (!QDir().mkpath(folder)) {
      *error = QStringLiteral("cannot create the program folder %1").arg(folder);
    } else if (!shipped.isEmpty() && !QFileInfo::exists(language)) {
      // Copied under a temporary name first, so a failed copy never leaves
      // half a language file behind.
      const QString temp = language + QStringLiteral(".new");
      QFile::remove(temp);
      if (!QFile::copy(shipped, temp) || !QFile::rename(temp, language)) {
        QFile::remove(temp);
        *error = QStringLiteral("cannot copy %1 to %2").arg(shipped, language);
      } else {
        QFile(language).setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup |
                                       QFile::ReadOther);
      }
    }
  }
  qputenv("VARDEX_HOME", QFile::encodeName(folder));
  return folder;
}
