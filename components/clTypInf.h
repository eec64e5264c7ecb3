// Property access by name over Qt's meta-object system: find a published
// property without regard to case, tell its kind, read object properties,
// write a property from a variant and list the sub-objects (fonts, string
// lists) an object holds. The language sections set texts through it on
// components whose classes they do not know.
#pragma once

#include <QList>
#include <QMetaEnum>
#include <QMetaProperty>
#include <QObject>
#include <QPair>
#include <QStringList>
#include <QVariant>
#include <initializer_list>

#include "clCollEx.h"

class ETypeInfoError : public EZelError {
 public:
  using EZelError::EZelError;
};

// A value that does not convert to the type it is written to.
class EVariantError : public EZelError {
 public:
  EVariantError() : EZelError("Invalid variant type conversion") {}
};

// Property kinds, with the ordinals callers rely on.
enum TTypeKind {
  tkUnknown = 0,
  tkInteger = 1,
  tkChar = 2,
  tkEnumeration = 3,
  tkFloat = 4,
  tkString = 5,
  tkSet = 6,
  tkClass = 7,
  tkMethod = 8,
  tkWChar = 9,
  tkLString = 10,
  tkWString = 11,
  tkVariant = 12,
};

using TTypeKinds = quint16;
constexpr TTypeKinds KindSet(std::initializer_list<TTypeKind> kinds) {
  TTypeKinds set = 0;
  for (TTypeKind kind : kinds) set |= static_cast<TTypeKinds>(1u << kind);
  return set;
}
constexpr bool InKinds(TTypeKinds set, TTypeKind kind) { return (set >> kind) & 1u; }

// Objects that live inside a component's properties and are not components
// themselves: fonts, string lists. Everything else derived from QObject
// counts as a component (widgets, actions, menus, sections).
class TZelPersistent : public QObject {
  Q_OBJECT

 public:
  using QObject::QObject;
};

bool IsComponent(const QObject* object);

// The type descriptor: what the meta-object system says of one property's
// type (or, for a class, of the object's class).
struct TTypeInfo {
  TTypeKind kind = tkUnknown;
  QMetaType type;
  QMetaEnum enumerator;
  const QMetaObject* meta = nullptr;

  static TTypeInfo FromProperty(const QMetaProperty& property);
  static TTypeInfo FromClass(const QMetaObject* meta);
};

class TTypeInfoBase : public TZelObject {
 public:
  // `info` is required.
  explicit TTypeInfoBase(const TTypeInfo* info);
  const TTypeInfo& Info() const { return info_; }

 protected:
  explicit TTypeInfoBase(const TTypeInfo& info) : info_(info) {}

 private:
  TTypeInfo info_;
};

// Reader of one property type.
class TTypeInfoProvider : public TTypeInfoBase {
 public:
  explicit TTypeInfoProvider(const TTypeInfo* info);

  TTypeKind Kind() const { return Info().kind; }
  void CheckKind(TTypeKinds kinds, bool expected) const;
  qint64 MinValue() const;
  qint64 MaxValue() const;
  bool IsBoolean() const;
  QString GetEnumName(qint64 value) const;
  void GetEnumNames(QStringList& lines) const;

 private:
  bool IsBoolType() const { return Info().type.id() == QMetaType::Bool; }
};

// Property access on one object (not owned). Type readers are cached by the
// exact name they were asked for.
class TObjectInfoProvider : public TTypeInfoBase {
 public:
  explicit TObjectInfoProvider(QObject* instance);

  QObject* Instance() const { return instance_; }
  bool HasProperty(const QString& name) const;
  QMetaProperty PropInfo(const QString& name) const;
  TTypeInfoProvider* PropType(const QString& name);
  void GetPropNames(TTypeKinds kinds, QStringList& lines) const;
  QObject* GetObjectProp(const QString& name) const;
  void SetPropValue(const QString& name, const QVariant& value);
  // The non-component objects held by object properties, by property name.
  void GetSubObjects(QList<QPair<QString, QObject*>>& lines) const;

 private:
  QObject* instance_;
  TZelDictionary cache_;
};

// The conversions SetPropValue applies to a value; each raises
// EVariantError for a value that does not convert.
bool VariantToBoolean(const QVariant& value);
qint64 VariantToInteger(const QVariant& value);
double VariantToFloat(const QVariant& value);
