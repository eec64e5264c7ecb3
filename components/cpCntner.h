// The named container: a component that lists child components (its items)
// under unique names, reserves some names for its own use and keeps item and
// component names in step. Setup and language components are containers and
// their sections are the items.
#pragma once

#include <QList>
#include <QObject>
#include <QStringList>
#include <functional>

#include "clZelText.h"

class TZelContainerItem;

class EZelContainer : public EZelError {
 public:
  using EZelError::EZelError;
};

// A component name already used by another component of the same owner.
class EComponentError : public EZelError {
 public:
  using EZelError::EZelError;
};

// Gives `component` the name `name`, refusing a name that another component
// of the same owner (QObject parent) already carries.
void SetComponentName(QObject* component, const QString& name);

class TZelContainer : public QObject {
  Q_OBJECT

 public:
  explicit TZelContainer(QObject* owner);
  // Destroys every item first: the container owns its items.
  ~TZelContainer() override;

  int Count() const { return static_cast<int>(items_.size()); }
  TZelContainerItem* Items(int index) const { return items_.at(index); }
  int IndexOfItem(const QString& name) const;

  bool AllowInternal() const { return allow_internal_; }
  void SetAllowInternal(bool allow) { allow_internal_ = allow; }
  const QStringList& InternalNames() const { return internal_names_; }

  void CheckName(const QString& name) const;
  void AddItem(TZelContainerItem* item);
  void RemoveItem(TZelContainerItem* item);
  void RenameItem(const QString& old_name, const QString& new_name);
  TZelContainerItem* FindOrCreateItem(const QString& name, bool& created);

  // The class of the items FindOrCreateItem creates. It must have an
  // invokable constructor taking the owner (QObject*).
  virtual const QMetaObject* ItemClass() const = 0;

  // What a stored window needs: the items owned by `root`, in list order,
  // and moving an item to another place in the list.
  void GetChildren(const std::function<void(TZelContainerItem*)>& proc, QObject* root) const;
  void SetChildOrder(TZelContainerItem* item, int order);

 protected:
  QStringList& InternalNamesRef() { return internal_names_; }

 private:
  QList<TZelContainerItem*> items_;
  QStringList internal_names_;
  bool allow_internal_ = false;
  bool destroying_ = false;
};

class TZelContainerItem : public QObject {
  Q_OBJECT

 public:
  explicit TZelContainerItem(QObject* owner);
  // Leaves its container.
  ~TZelContainerItem() override;

  QString ItemName() const { return item_name_; }
  void SetItemName(const QString& name);
  TZelContainer* Container() const { return container_; }
  void SetContainer(TZelContainer* container);

  // The class-level prefix of the component name ("Lang" for a language
  // section) and the class-level kind word that follows it in default names.
  virtual QString NamePrefix() const = 0;
  virtual QString NameSuffix() const = 0;

 private:
  friend class TZelContainer;
  QString item_name_;
  TZelContainer* container_ = nullptr;
};
