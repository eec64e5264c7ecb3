#include "cpZelIni.h"

#include <QFileInfo>

QString ZelProgramFile() { return QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath(); }

QString ZelProgramFolder() {
  const QString home = qEnvironmentVariable("VARDEX_HOME");
  if (!home.isEmpty()) return home;
  const QString program = ZelProgramFile();
  return program.isEmpty() ? QStringLiteral(".") : QFileInfo(program).absolutePath();
}

TZelIni::TZelIni(QObject* owner) : TZelSetup(owner, &staticMetaObject) {}

void TZelIni::SetFileName(const QString& name) {
  if (name == file_name_) return;
  file_name_ = name;
  RefreshAll();
}

const QMetaObject* TZelIni::ItemClass() const { return &TZelIniSection::staticMetaObject; }

QString TZelIni::DefaultFileName() const {
  QString name = QFileInfo(ZelProgramFile()).fileName();
  if (name.isEmpty()) name = QStringLiteral("Vdx32");
  if (name.endsWith(QLatin1String(".exe"), Qt::CaseInsensitive)) name.chop(4);
  return ZelProgramFolder() + u'/' + name + QStringLiteral(".ini");
}

std::unique_ptr<TZelIniFile> TZelIni::OpenIniFile(bool for_write) const {
  QString name = file_name_;
  if (!name.isEmpty() && !name.contains(u'/')) name = ZelProgramFolder() + u'/' + name;
  if (name.isEmpty() || (!for_write && !QFileInfo::exists(name))) name = DefaultFileName();
  if (for_write || QFileInfo::exists(name)) return std::make_unique<TZelIniFile>(name);
  return nullptr;
}

TZelIniSection::~TZelIniSection() = default;

bool TZelIniSection::BeginRead() {
  TZelIni* ini = Ini();
  if (!ini) return false;
  file_ = ini->OpenIniFile(false);
  // A file that exists but cannot be read counts as missing: the entries
  // stay as they were.
  if (file_ && !file_->Load()) file_.reset();
  return file_ != nullptr;
}

void TZelIniSection::ReadKeys(QStringList& lines) {
  lines.clear();
  if (!file_ || SectionName().isEmpty()) return;
  file_->UpdateFile();
  file_->ReadSection(SectionName(), lines);
}

void TZelIniSection::ReadValue(const QString& key, QVariant& value) {
  value = QString();
  if (!file_ || SectionName().isEmpty() || key.isEmpty()) return;
  value = file_->ReadString(SectionName(), key, QString());
}

bool TZelIniSection::BeginWrite() {
  TZelIni* ini = Ini();
  if (!ini) return false;
  file_ = ini->OpenIniFile(true);
  return file_ != nullptr;
}

void TZelIniSection::WriteValue(const QString& key, const QVariant& value) {
  if (!file_ || key.isEmpty()) return;
  file_->WriteString(SectionName(), key, value.toString());
}
