#include "clCollEx.h"

#include <typeinfo>

void TZelCollectionItem::Assign(const TZelCollectionItem& source) {
  throw ECollExError(FillIn(
      "Cannot assign a %s to a %s",
      {QString::fromLatin1(typeid(source).name()), QString::fromLatin1(typeid(*this).name())}));
}

TZelCollectionItem* TZelCollection::Add() {
  items_.push_back(factory_());
  items_.back()->collection_ = this;
  return items_.back().get();
}

void TZelItem::Assign(const TZelCollectionItem& source) {
  const auto* other = dynamic_cast<const TZelItem*>(&source);
  if (!other) {
    TZelCollectionItem::Assign(source);
    return;
  }
  QString key = other->key_;
  if (auto* dictionary = dynamic_cast<TZelDictionary*>(Collection())) {
    for (int n = 2; dictionary->FindKeyExcept(key, this); ++n)
      key = other->key_ + QString::number(n);
  }
  key_ = key;
}

TZelItem* TZelDictionary::Items(int index) const {
  return static_cast<TZelItem*>(TZelCollection::Items(index));
}

TZelItem* TZelDictionary::FindKeyExcept(const QString& key, const TZelItem* except) const {
  for (int i = 0; i < Count(); ++i) {
    TZelItem* item = Items(i);
    if (item != except && item->Key() == key) return item;
  }
  return nullptr;
}

TZelItem* TZelDictionary::FindKey(const QString& key) const { return FindKeyExcept(key, nullptr); }

TZelItem* TZelDictionary::AddKey(const QString& key) {
  if (ContainsKey(key)) throw ECollExError("Key already exists in the dictionary");
  auto* item = static_cast<TZelItem*>(Add());
  item->SetKey(key);
  return item;
}
