// The keyed collection: TZelDictionary holds TZelItem entries with unique,
// case-sensitive keys, each able to own one object. The property-access layer
// uses it as its per-object cache of type readers.
#pragma once

#include <QString>
#include <functional>
#include <memory>
#include <vector>

#include "clZelText.h"

class ECollExError : public EZelError {
 public:
  using EZelError::EZelError;
};

// Base of the objects an item can own; freed with the item.
class TZelObject {
 public:
  virtual ~TZelObject() = default;
};

class TZelCollection;

// An entry of a collection; knows the collection that lists it.
class TZelCollectionItem {
 public:
  virtual ~TZelCollectionItem() = default;
  TZelCollection* Collection() const { return collection_; }
  // Copies what the source carries; refuses sources of another kind.
  virtual void Assign(const TZelCollectionItem& source);

 private:
  friend class TZelCollection;
  TZelCollection* collection_ = nullptr;
};

// An ordered collection that owns its items.
class TZelCollection {
 public:
  using ItemFactory = std::function<std::unique_ptr<TZelCollectionItem>()>;
  explicit TZelCollection(ItemFactory factory) : factory_(std::move(factory)) {}
  virtual ~TZelCollection() = default;

  int Count() const { return static_cast<int>(items_.size()); }
  TZelCollectionItem* Items(int index) const { return items_.at(index).get(); }
  TZelCollectionItem* Add();
  void Clear() { items_.clear(); }

 private:
  ItemFactory factory_;
  std::vector<std::unique_ptr<TZelCollectionItem>> items_;
};

class TZelItem : public TZelCollectionItem {
 public:
  QString Key() const { return key_; }
  void SetKey(const QString& key) { key_ = key; }
  TZelObject* Object() const { return object_.get(); }
  void SetObject(std::unique_ptr<TZelObject> object) { object_ = std::move(object); }

  // Copies the key; inside a dictionary that already holds it, the key gets
  // the first free suffix 2, 3, ... so keys stay unique.
  void Assign(const TZelCollectionItem& source) override;

 private:
  QString key_;
  std::unique_ptr<TZelObject> object_;
};

class TZelDictionary : public TZelCollection {
 public:
  // `factory` makes the items (TZelItem or a class derived from it).
  explicit TZelDictionary(ItemFactory factory = [] { return std::make_unique<TZelItem>(); })
      : TZelCollection(std::move(factory)) {}

  TZelItem* Items(int index) const;
  TZelItem* FindKey(const QString& key) const;
  bool ContainsKey(const QString& key) const { return FindKey(key) != nullptr; }
  TZelItem* AddKey(const QString& key);
  // The owner of `key` other than `except`, or none.
  TZelItem* FindKeyExcept(const QString& key, const TZelItem* except) const;
};
