#include "cpCntner.h"

#include <QMetaObject>

namespace {
const char* const kExists = "Item <%s> already exists in container <%s>";
const char* const kNotFound = "Item <%s> not found in container <%s>";
}  // namespace

void SetComponentName(QObject* component, const QString& name) {
  if (QObject* owner = component->parent(); owner && !name.isEmpty()) {
    for (QObject* sibling : owner->children()) {
      if (sibling != component && sibling->objectName().compare(name, Qt::CaseInsensitive) == 0)
        throw EComponentError(FillIn("A component named %s already exists", {name}));
    }
  }
  component->setObjectName(name);
}

TZelContainer::TZelContainer(QObject* owner) : QObject(owner) {}

TZelContainer::~TZelContainer() {
  // Each item leaves the list as it is destroyed.
  while (!items_.isEmpty()) delete items_.last();
}

int TZelContainer::IndexOfItem(const QString& name) const {
  for (int i = 0; i < items_.size(); ++i) {
    if (items_[i]->item_name_.compare(name, Qt::CaseInsensitive) == 0) return i;
  }
  return -1;
}

void TZelContainer::CheckName(const QString& name) const {
  if (!allow_internal_ && internal_names_.contains(name, Qt::CaseInsensitive))
    throw EZelContainer(FillIn("This name is for internal use only: %s", {name}));
}

void TZelContainer::AddItem(TZelContainerItem* item) {
  if (IndexOfItem(item->item_name_) >= 0)
    throw EZelContainer(FillIn(kExists, {item->item_name_, objectName()}));
  item->container_ = this;
  items_.append(item);
}

void TZelContainer::RemoveItem(TZelContainerItem* item) {
  // Looked up by identity: another item may not carry the same name, but a
  // name-only lookup would drop the wrong entry if it ever did.
  qsizetype at = items_.indexOf(item);
  if (at < 0) throw EZelContainer(FillIn(kNotFound, {item->item_name_, objectName()}));
  item->container_ = nullptr;
  items_.removeAt(at);
}

void TZelContainer::RenameItem(const QString& old_name, const QString& new_name) {
  CheckName(new_name);
  int old_at = IndexOfItem(old_name);
  int new_at = IndexOfItem(new_name);
  // A change of case only is a rename of the item onto itself.
  if (new_at >= 0 && new_at != old_at)
    throw EZelContainer(FillIn(kExists, {new_name, objectName()}));
  if (old_at < 0) throw EZelContainer(FillIn(kNotFound, {old_name, objectName()}));
  items_[old_at]->item_name_ = new_name;
}

TZelContainerItem* TZelContainer::FindOrCreateItem(const QString& name, bool& created) {
  if (int at = IndexOfItem(name); at >= 0) {
    created = false;
    return items_[at];
  }
  created = true;
  CheckName(name);
  QObject* made = ItemClass()->newInstance(Q_ARG(QObject*, parent()));
  auto* item = qobject_cast<TZelContainerItem*>(made);
  if (!item) {
    delete made;
    throw EZelContainer(FillIn("Cannot create an item of class %s",
                               {QString::fromLatin1(ItemClass()->className())}));
  }
  try {
    item->item_name_ = name;
    SetComponentName(item, item->NamePrefix() + name);
    AddItem(item);
  } catch (...) {
    delete item;
    throw;
  }
  return item;
}

void TZelContainer::GetChildren(const std::function<void(TZelContainerItem*)>& proc,
                                QObject* root) const {
  for (TZelContainerItem* item : items_) {
    if (item->parent() == root) proc(item);
  }
}

void TZelContainer::SetChildOrder(TZelContainerItem* item, int order) {
  qsizetype at = items_.indexOf(item);
  if (at < 0) return;
  order = std::clamp(order, 0, static_cast<int>(items_.size()) - 1);
  items_.move(at, order);
}

TZelContainerItem::TZelContainerItem(QObject* owner) : QObject(owner) {}

TZelContainerItem::~TZelContainerItem() {
  if (container_) container_->RemoveItem(this);
}

void TZelContainerItem::SetItemName(const QString& name) {
  if (name == item_name_) return;
  const QString old_name = item_name_;
  if (container_)
    container_->RenameItem(old_name, name);
  else
    item_name_ = name;
  if (DeleteFirst(objectName(), NamePrefix()) == old_name)
    SetComponentName(this, NamePrefix() + name);
}

void TZelContainerItem::SetContainer(TZelContainer* container) {
  if (container == container_) return;
  if (container_) container_->RemoveItem(this);
  if (container) container->AddItem(this);
}
