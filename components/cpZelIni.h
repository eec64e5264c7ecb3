// The INI setup component and its sections: TZelIni names the storage file
// (empty, a bare name in the program folder, or a full path) and opens it
// for each read or write; TZelIniSection reads and writes its entries in the
// INI section of its name.
#pragma once

#include <memory>

#include "cpZelIniFile.h"
#include "cpZelSetup.h"

// The program folder: $VARDEX_HOME when set, else the folder of the running
// executable. Vdx32 sets VARDEX_HOME at start to the folder the engine chose
// (an installed program's is under $XDG_CONFIG_HOME), so both agree.
QString ZelProgramFolder();
// The running executable's full file name.
QString ZelProgramFile();

class TZelIni : public TZelSetup {
  Q_OBJECT
  Q_PROPERTY(QString FileName READ FileName WRITE SetFileName)

 public:
  Q_INVOKABLE explicit TZelIni(QObject* owner);

  QString FileName() const { return file_name_; }
  // A different name reloads and reapplies every section.
  void SetFileName(const QString& name);

  const QMetaObject* ItemClass() const override;
  // The settings file that goes with the program: its name with ".exe"
  // replaced by ".ini", or with ".ini" added when it has no ".exe", so the
  // name can never be the program file itself.
  virtual QString DefaultFileName() const;
  // The file to read or write, or none when reading and nothing exists.
  std::unique_ptr<TZelIniFile> OpenIniFile(bool for_write) const;

 protected:
  TZelIni(QObject* owner, const QMetaObject* cls) : TZelSetup(owner, cls) {}

 private:
  QString file_name_;
};

class TZelIniSection : public TZelSetupSection {
  Q_OBJECT

 public:
  Q_INVOKABLE explicit TZelIniSection(QObject* owner) : TZelSetupSection(owner) {}
  ~TZelIniSection() override;

  QString NamePrefix() const override { return QStringLiteral("Ini"); }

  bool BeginRead() override;
  void EndRead() override { file_.reset(); }
  void ReadKeys(QStringList& lines) override;
  void ReadValue(const QString& key, QVariant& value) override;
  bool BeginWrite() override;
  void EndWrite() override { file_.reset(); }
  void WriteValue(const QString& key, const QVariant& value) override;

 private:
  TZelIni* Ini() const { return qobject_cast<TZelIni*>(Container()); }
  std::unique_ptr<TZelIniFile> file_;
};
