#include "cpZelSetup.h"

QObject* TZelSetup::CheckOwner(QObject* owner, const QMetaObject* cls) {
  if (!owner) throw EZelSetup("A owner is always required");
  // Checked before this component joins its owner, so only earlier ones count.
  for (QObject* child : owner->children()) {
    if (child->metaObject()->inherits(cls))
      throw EZelSetup(
          FillIn("Only one %s per owner is allowed", {QString::fromLatin1(cls->className())}));
  }
  return owner;
}

TZelSetup::TZelSetup(QObject* owner, const QMetaObject* cls)
    : TZelContainer(CheckOwner(owner, cls)) {}

void TZelSetup::RefreshAll() {
  for (int i = 0; i < Count(); ++i) Sections(i)->Refresh();
}

TZelSetupSection* TZelSetup::Sections(int index) const {
  return static_cast<TZelSetupSection*>(Items(index));
}

TZelSetupSection* TZelSetup::FindSection(const QString& section_name) const {
  int at = IndexOfItem(section_name);
  return at < 0 ? nullptr : Sections(at);
}
