// The setup section: one named section of a storage, held as an ordered list
// of key/value entries and pushed into a window's components by property
// name. The storage operations are left to the derived sections (INI), the
// rules of the section's properties and of applying it live here.
#pragma once

#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QVariant>
#include <QWidget>

#include "cpCntner.h"

class EZelSetup : public EZelError {
 public:
  using EZelError::EZelError;
};

namespace ZelSetup {
Q_NAMESPACE
// What a section is applied to; the property rules compare types by order.
enum TSectionType { stForm, stGroup, stMenu, stCustom, stComponent };
Q_ENUM_NS(TSectionType)
}  // namespace ZelSetup
using ZelSetup::TSectionType;
using enum ZelSetup::TSectionType;

// One entry's value; after a load always a text.
struct TEntry {
  QVariant value;
};

class TZelSetupSection : public TZelContainerItem {
  Q_OBJECT
  Q_PROPERTY(QWidget* Group READ Group WRITE SetGroup)
  Q_PROPERTY(QWidget* Menu READ Menu WRITE SetMenu)
  Q_PROPERTY(QString PropertyName READ PropertyName WRITE SetPropertyName)
  Q_PROPERTY(QString SectionName READ SectionName WRITE SetSectionName)
  Q_PROPERTY(ZelSetup::TSectionType SectionType READ SectionType WRITE SetSectionType)
  Q_PROPERTY(bool Empty READ Empty)

 public:
  // A section of a window starts as stCustom, any other as stComponent.
  explicit TZelSetupSection(QObject* owner);
  ~TZelSetupSection() override;

  QWidget* Group() const { return group_; }
  void SetGroup(QWidget* group);
  // A menu bar, or a menu (drop-down or context menu).
  QWidget* Menu() const { return menu_; }
  void SetMenu(QWidget* menu);
  QString PropertyName() const { return property_name_; }
  void SetPropertyName(const QString& name);
  QString SectionName() const { return ItemName(); }
  void SetSectionName(const QString& name);
  TSectionType SectionType() const { return section_type_; }
  void SetSectionType(TSectionType type);
  bool Empty() const { return entries_.isEmpty(); }

  // Keyed lookup of the entries loaded last; keys without regard to case.
  // Values raises EZelSetup for a key that is not there.
  QString Values(const QString& key) const;
  bool HasEntry(const QString& key) const { return IndexOfEntry(key) >= 0; }
  // For each key: its own value, or the values of key0, key1 ... up to the
  // first gap.
  void GetTexts(const QStringList& keys, QStringList& lines) const;
  QStringList EntryKeys() const;

  void Load();
  virtual void Apply();
  void Refresh();

  // Storage, opened anew for every read or write.
  virtual bool BeginRead() = 0;
  virtual void EndRead() = 0;
  virtual void ReadKeys(QStringList& lines) = 0;
  virtual void ReadValue(const QString& key, QVariant& value) = 0;
  virtual bool BeginWrite() = 0;
  virtual void EndWrite() = 0;
  virtual void WriteValue(const QString& key, const QVariant& value) = 0;

  QString NameSuffix() const override { return QStringLiteral("Section"); }

 protected:
  // The owner of the setup component, which the type rules look at; a
  // section outside any setup component answers with its own owner.
  QObject* SetupOwner() const;

 private:
  struct Entry {
    QString key;
    TEntry entry;
  };
  int IndexOfEntry(const QString& key) const;
  void DeriveSectionName();
  // Applying (clSetupApply.cpp).
  void ApplyComponent(QObject* component);
  bool ApplyTarget(QObject* target, const QString& key);
  void ApplyMenu(QWidget* menu, QList<QWidget*>& visited);

  QPointer<QWidget> group_;
  QPointer<QWidget> menu_;
  QString property_name_;
  TSectionType section_type_;
  QList<Entry> entries_;
  QHash<QString, int> entry_index_;  // entries by folded key
};
