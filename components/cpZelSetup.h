// The setup component: a container of setup sections that belongs to one
// window (or other component). One per class and owner; RefreshAll reloads
// and reapplies every section.
#pragma once

#include "clSetup.h"
#include "cpCntner.h"

class TZelSetup : public TZelContainer {
  Q_OBJECT

 public:
  void RefreshAll();
  TZelSetupSection* Sections(int index) const;
  // The section with that section name, or none.
  TZelSetupSection* FindSection(const QString& section_name) const;

 protected:
  // `cls` is the class being built (the most derived one), which the owner
  // rule names; it must be given because a constructor cannot ask for it.
  TZelSetup(QObject* owner, const QMetaObject* cls);

 private:
  static QObject* CheckOwner(QObject* owner, const QMetaObject* cls);
};
