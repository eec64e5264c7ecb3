#include "clSetup.h"

#include "cpZelSetup.h"

TZelSetupSection::TZelSetupSection(QObject* owner)
    : TZelContainerItem(owner),
      section_type_(owner && owner->isWidgetType() ? stCustom : stComponent) {}

TZelSetupSection::~TZelSetupSection() {
  entries_.clear();
  entry_index_.clear();
  SetContainer(nullptr);
}

QObject* TZelSetupSection::SetupOwner() const {
  return Container() ? Container()->parent() : parent();
}

void TZelSetupSection::SetGroup(QWidget* group) {
  if (group == group_) return;
  group_ = group;
  if (section_type_ != stGroup) {
    section_type_ = stGroup;
    property_name_ = QStringLiteral("Caption");
    menu_ = nullptr;
  }
  DeriveSectionName();
  Refresh();
}

void TZelSetupSection::SetMenu(QWidget* menu) {
  if (menu == menu_) return;
  menu_ = menu;
  if (section_type_ != stMenu) {
    section_type_ = stMenu;
    property_name_ = QStringLiteral("Caption");
    group_ = nullptr;
  }
  DeriveSectionName();
  Refresh();
}

void TZelSetupSection::SetPropertyName(const QString& name) {
  if (name == property_name_) return;
  property_name_ = name;
  if (section_type_ == stCustom)
    section_type_ = stGroup;
  else
    DeriveSectionName();
  Refresh();
}

void TZelSetupSection::SetSectionName(const QString& name) {
  if (name == SectionName()) return;
  SetItemName(name);
  Refresh();
}

void TZelSetupSection::SetSectionType(TSectionType type) {
  if (type == section_type_) return;
  QObject* owner = SetupOwner();
  auto* window = qobject_cast<QWidget*>(owner);
  if ((type == stForm || type == stMenu) && !(window && window->isWindow()))
    throw EZelSetup("The owner is not a TForm");
  if (type != stComponent && !window)
    throw EZelSetup("The stComponent is required when owner is a TComponent");
  const bool targets = type == stForm || type == stGroup || type == stMenu;
  if ((section_type_ == stCustom || section_type_ == stComponent) && targets &&
      property_name_.isEmpty())
    property_name_ = QStringLiteral("Caption");
  section_type_ = type;
  if (type != stMenu) menu_ = nullptr;
  if (type != stGroup) group_ = nullptr;
  if (type == stCustom) property_name_.clear();
  if (targets) DeriveSectionName();
  Refresh();
}

// A default name is taken only when the target's name plus the property
// reads like a section name of this class and no such section exists; every
// window of the program names its sections itself.
void TZelSetupSection::DeriveSectionName() {
  QObject* target = menu_    ? static_cast<QObject*>(menu_.data())
                    : group_ ? static_cast<QObject*>(group_.data())
                             : SetupOwner();
  if (!target) return;
  const QString candidate = target->objectName() + property_name_;
  if (!candidate.contains(NamePrefix() + NameSuffix())) return;
  if (Container() && Container()->IndexOfItem(candidate) >= 0) return;
  SetItemName(candidate);
}

int TZelSetupSection::IndexOfEntry(const QString& key) const {
  return entry_index_.value(key.toCaseFolded(), -1);
}

QString TZelSetupSection::Values(const QString& key) const {
  int at = IndexOfEntry(key);
  if (at < 0)
    throw EZelSetup(FillIn("They entry %s was not found in section: %s", {key, SectionName()}));
  return entries_[at].entry.value.toString();
}

void TZelSetupSection::GetTexts(const QStringList& keys, QStringList& lines) const {
  lines.clear();
  int n = 0;
  for (int i = 0; i < keys.size();) {
    int at = IndexOfEntry(keys[i]);
    const bool own = at >= 0;
    if (!own) at = IndexOfEntry(keys[i] + QString::number(n++));
    if (at >= 0) lines << entries_[at].entry.value.toString();
    if (own || at < 0) {
      n = 0;
      ++i;
    }
  }
}

QStringList TZelSetupSection::EntryKeys() const {
  QStringList keys;
  for (const Entry& e : entries_) keys << e.key;
  return keys;
}

void TZelSetupSection::Load() {
  if (!BeginRead()) return;
  try {
    entries_.clear();
    entry_index_.clear();
    QStringList keys;
    ReadKeys(keys);
    for (const QString& key : keys) {
      QVariant value;
      ReadValue(key, value);
      // A storage that lists a key twice keeps the first.
      if (entry_index_.contains(key.toCaseFolded())) continue;
      entry_index_.insert(key.toCaseFolded(), static_cast<int>(entries_.size()));
      entries_.append({key, TEntry{value.toString()}});
    }
  } catch (...) {
    EndRead();
    throw;
  }
  EndRead();
}

void TZelSetupSection::Refresh() {
  Load();
  Apply();
}
