#include "ProgramFolder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "Session.h"

namespace {

QString ToQt(const std::string& s) { return QString::fromStdString(s); }

// The language files that ship with the program (Language.ini and its
// translations Language.<lang>.ini): the installed data files, else the ones
// beside the executable.
QFileInfoList ShippedLanguageFiles() {
  for (const std::string& folder : {engine::InstalledDataFolder(), engine::ExecutableFolder()}) {
    if (folder.empty() || !QFileInfo(ToQt(folder) + QStringLiteral("/Language.ini")).isFile())
      continue;
    return QDir(ToQt(folder)).entryInfoList({QStringLiteral("Language*.ini")}, QDir::Files);
  }
  return {};
}

// Copies `shipped` into `folder` unless the folder has a file of its name.
// Under a temporary name first, so a failed copy never leaves half a
// language file behind.
bool CopyLanguageFile(const QFileInfo& shipped, const QString& folder) {
  const QString language = folder + u'/' + shipped.fileName();
  if (QFileInfo::exists(language)) return true;
  const QString temp = language + QStringLiteral(".new");
  QFile::remove(temp);
  if (!QFile::copy(shipped.filePath(), temp) || !QFile::rename(temp, language)) {
    QFile::remove(temp);
    return false;
  }
  QFile(language).setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup |
                                 QFile::ReadOther);
  return true;
}

}  // namespace

QString SettleProgramFolder(QString* error) {
  const QString folder = ToQt(engine::ProgramFolder());
  if (qEnvironmentVariableIsEmpty("VARDEX_HOME") && folder == ToQt(engine::UserProgramFolder())) {
    if (!QDir().mkpath(folder)) {
      *error = QStringLiteral("cannot create the program folder %1").arg(folder);
    } else {
      for (const QFileInfo& shipped : ShippedLanguageFiles()) {
        if (!CopyLanguageFile(shipped, folder)) {
          *error = QStringLiteral("cannot copy %1 to %2").arg(shipped.filePath(), folder);
        }
      }
    }
  }
  qputenv("VARDEX_HOME", QFile::encodeName(folder));
  return folder;
}
