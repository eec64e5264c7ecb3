// Applying a section to its targets: each target component gets the value
// stored under its name in the property the section names; its sub-objects
// (a memo's lines, a control's font) get the value stored under
// "<component>.<property>".
#include <QMainWindow>
#include <QMenu>

#include "clSetup.h"
#include "clTypInf.h"
#include "cpZelCtrls.h"

namespace {

// The controls placed directly on a window or group, in child order. The
// client area of a main window is its central widget, so the controls on it
// count as the window's own; controls inside panels are not listed.
QList<QObject*> DirectControls(QWidget* parent) {
  QList<QObject*> controls;
  auto* main = qobject_cast<QMainWindow*>(parent);
  QWidget* central = main ? main->centralWidget() : nullptr;
  for (QObject* child : parent->children()) {
    if (!child->isWidgetType()) continue;
    if (child != central) {
      controls << child;
      continue;
    }
    for (QObject* inner : central->children()) {
      if (inner->isWidgetType()) controls << inner;
    }
  }
  return controls;
}

}  // namespace

void TZelSetupSection::Apply() {
  auto* window = qobject_cast<QWidget*>(SetupOwner());
  switch (section_type_) {
    case stForm:
      if (!window) return;
      if (property_name_ == QLatin1String("Caption") && HasEntry("FormCaption"))
        window->setWindowTitle(Values("FormCaption"));
      for (QObject* control : DirectControls(window)) ApplyComponent(control);
      break;
    case stGroup:
      if (QWidget* group = group_ ? group_.data() : window) {
        for (QObject* control : DirectControls(group)) ApplyComponent(control);
      }
      break;
    case stMenu:
      if (menu_) {
        QList<QWidget*> visited;
        ApplyMenu(menu_, visited);
      }
      break;
    case stCustom:
      break;
    case stComponent:
      if (QObject* owner = SetupOwner()) {
        for (QObject* child : owner->children()) {
          if (IsComponent(child)) ApplyComponent(child);
        }
      }
      break;
  }
}

// Depth first: each item, then the items of its sub-menu. A drop-down menu
// is addressed by its own name, a plain item by the action's name.
void TZelSetupSection::ApplyMenu(QWidget* menu, QList<QWidget*>& visited) {
  if (visited.contains(menu)) return;  // a menu that holds itself
  visited << menu;
  for (QAction* action : menu->actions()) {
    QMenu* sub = action->menu();
    ApplyComponent(sub && !sub->objectName().isEmpty() ? static_cast<QObject*>(sub) : action);
    if (sub) ApplyMenu(sub, visited);
  }
}

void TZelSetupSection::ApplyComponent(QObject* component) {
  // A component without a name has no key to be found under.
  const QString name = component->objectName();
  if (name.isEmpty() || property_name_.isEmpty()) return;
  ApplyTarget(component, name);
  QList<QPair<QString, QObject*>> subs;
  TObjectInfoProvider(component).GetSubObjects(subs);
  for (const auto& [property, object] : subs) ApplyTarget(object, name + u'.' + property);
}

bool TZelSetupSection::ApplyTarget(QObject* target, const QString& key) {
  TObjectInfoProvider info(target);
  if (!info.HasProperty(property_name_)) return false;
  QStringList lines;
  GetTexts({key}, lines);
  if (lines.isEmpty()) return false;
  if (TTypeInfo::FromProperty(info.PropInfo(property_name_)).kind == tkClass) {
    if (auto* strings = qobject_cast<TZelStrings*>(info.GetObjectProp(property_name_)))
      strings->SetStrings(lines);
    return true;
  }
  info.SetPropValue(property_name_, Values(key));
  return true;
}
