#include "clTypInf.h"

#include <QLocale>
#include <algorithm>
#include <limits>
#include <map>

namespace {

const char* const kInvalidUse = "Invalid use of type info";
const char* const kInvalidProperty = "Invalid use of property";

// The one place that maps Qt property types onto kinds. A text property of
// a widget is a long text; an enumeration is written by its ordinal.
TTypeKind KindOfType(const QMetaType& type) {
  if (type.flags() & QMetaType::PointerToQObject) return tkClass;
  switch (type.id()) {
    case QMetaType::Bool:
      return tkEnumeration;
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::Long:
    case QMetaType::ULong:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::SChar:
    case QMetaType::UChar:
      return tkInteger;
    case QMetaType::Char:
      return tkChar;
    case QMetaType::QChar:
    case QMetaType::Char16:
      return tkWChar;
    case QMetaType::Double:
    case QMetaType::Float:
      return tkFloat;
    case QMetaType::QByteArray:
      return tkString;
    case QMetaType::QString:
      return tkLString;
    case QMetaType::QVariant:
      return tkVariant;
    default:
      return tkUnknown;
  }
}

// Own class first, then its ancestors; ASCII letters without regard to case.
int FindProperty(const QMetaObject* meta, const QString& name) {
  for (const QMetaObject* m = meta; m; m = m->superClass()) {
    for (int i = m->propertyOffset(); i < m->propertyCount(); ++i) {
      if (QString::fromLatin1(m->property(i).name()).compare(name, Qt::CaseInsensitive) == 0)
        return i;
    }
  }
  return -1;
}

std::pair<qint64, qint64> IntegerRange(int type_id) {
  switch (type_id) {
    case QMetaType::UInt:
      return {0, std::numeric_limits<quint32>::max()};
    case QMetaType::Short:
      return {std::numeric_limits<qint16>::min(), std::numeric_limits<qint16>::max()};
    case QMetaType::UShort:
    case QMetaType::QChar:
    case QMetaType::Char16:
      return {0, 65535};
    case QMetaType::SChar:
      return {-128, 127};
    case QMetaType::UChar:
    case QMetaType::Char:
      return {0, 255};
    case QMetaType::Long:
    case QMetaType::LongLong:
    case QMetaType::ULong:
    case QMetaType::ULongLong:
      return {std::numeric_limits<qint64>::min(), std::numeric_limits<qint64>::max()};
    default:
      return {std::numeric_limits<qint32>::min(), std::numeric_limits<qint32>::max()};
  }
}

}  // namespace

bool IsComponent(const QObject* object) { return !qobject_cast<const TZelPersistent*>(object); }

TTypeInfo TTypeInfo::FromProperty(const QMetaProperty& property) {
  TTypeInfo info;
  info.type = property.metaType();
  if (property.isEnumType()) {
    info.enumerator = property.enumerator();
    info.kind = property.isFlagType() ? tkSet : tkEnumeration;
  } else {
    info.kind = KindOfType(info.type);
  }
  info.meta = info.type.metaObject();
  return info;
}

TTypeInfo TTypeInfo::FromClass(const QMetaObject* meta) {
  TTypeInfo info;
  info.kind = tkClass;
  info.meta = meta;
  return info;
}

TTypeInfoBase::TTypeInfoBase(const TTypeInfo* info) {
  if (!info) throw ETypeInfoError("Invalid type info pointer");
  info_ = *info;
}

TTypeInfoProvider::TTypeInfoProvider(const TTypeInfo* info) : TTypeInfoBase(info) {
  if (Kind() == tkUnknown || Kind() == tkMethod) throw ETypeInfoError(kInvalidUse);
}

void TTypeInfoProvider::CheckKind(TTypeKinds kinds, bool expected) const {
  if (InKinds(kinds, Kind()) != expected) throw ETypeInfoError(kInvalidUse);
}

qint64 TTypeInfoProvider::MinValue() const {
  CheckKind(KindSet({tkInteger, tkChar, tkEnumeration, tkWChar}), true);
  if (IsBoolType()) return 0;
  if (Kind() == tkEnumeration) {
    qint64 low = std::numeric_limits<qint64>::max();
    for (int i = 0; i < Info().enumerator.keyCount(); ++i)
      low = std::min<qint64>(low, Info().enumerator.value(i));
    return Info().enumerator.keyCount() ? low : 0;
  }
  return IntegerRange(Info().type.id()).first;
}

qint64 TTypeInfoProvider::MaxValue() const {
  CheckKind(KindSet({tkInteger, tkChar, tkEnumeration, tkWChar}), true);
  if (IsBoolType()) return 1;
  if (Kind() == tkEnumeration) {
    qint64 high = std::numeric_limits<qint64>::min();
    for (int i = 0; i < Info().enumerator.keyCount(); ++i)
      high = std::max<qint64>(high, Info().enumerator.value(i));
    return Info().enumerator.keyCount() ? high : -1;
  }
  return IntegerRange(Info().type.id()).second;
}

bool TTypeInfoProvider::IsBoolean() const {
  if (Kind() != tkEnumeration) return false;
  QStringList names;
  GetEnumNames(names);
  return names.size() == 2 && names[0].toUpper() == "FALSE" && names[1].toUpper() == "TRUE";
}

QString TTypeInfoProvider::GetEnumName(qint64 value) const {
  CheckKind(KindSet({tkEnumeration}), true);
  if (value < MinValue() || value > MaxValue())
    throw ETypeInfoError("Enumeration value is out of range");
  if (IsBoolType()) return value ? "True" : "False";
  const char* key = Info().enumerator.valueToKey(static_cast<int>(value));
  // Qt enumerations may have gaps; a value inside the range without a name
  // is shown by its ordinal.
  return key ? QString::fromLatin1(key) : QString::number(value);
}

void TTypeInfoProvider::GetEnumNames(QStringList& lines) const {
  CheckKind(KindSet({tkEnumeration}), true);
  lines.clear();
  if (IsBoolType()) {
    lines << "False"
          << "True";
    return;
  }
  std::map<int, QString> by_value;  // first name of each value, by value
  for (int i = Info().enumerator.keyCount() - 1; i >= 0; --i)
    by_value[Info().enumerator.value(i)] = QString::fromLatin1(Info().enumerator.key(i));
  for (const auto& [value, name] : by_value) lines << name;
}

namespace {

const QMetaObject* CheckedClass(QObject* instance) {
  if (!instance) throw ETypeInfoError("Invalid object reference");
  if (!instance->metaObject()) throw ETypeInfoError("Invalid type info pointer");
  return instance->metaObject();
}

// A plain char counts as a number here; the kinds keep it apart as tkChar.
bool IsIntegral(const QVariant& value) {
  const TTypeKind kind = KindOfType(value.metaType());
  return kind == tkInteger || kind == tkChar;
}

bool IsText(const QVariant& value) {
  return value.typeId() == QMetaType::QString || value.typeId() == QMetaType::QByteArray;
}

}  // namespace

bool VariantToBoolean(const QVariant& value) {
  if (value.typeId() == QMetaType::Bool) return value.toBool();
  if (IsIntegral(value)) return value.toLongLong() != 0;
  if (value.typeId() == QMetaType::Double) return value.toDouble() != 0;
  if (!IsText(value)) throw EVariantError();
  const QString text = value.toString().trimmed();
  if (text.compare("True", Qt::CaseInsensitive) == 0) return true;
  if (text.compare("False", Qt::CaseInsensitive) == 0) return false;
  bool ok = false;
  double number = text.toDouble(&ok);
  if (!ok) number = QLocale().toDouble(text, &ok);
  if (!ok) throw EVariantError();
  return number != 0;
}

qint64 VariantToInteger(const QVariant& value) {
  if (value.typeId() == QMetaType::Bool) return value.toBool() ? 1 : 0;
  if (IsIntegral(value)) return value.toLongLong();
  if (value.typeId() == QMetaType::Double) return qRound64(value.toDouble());
  if (!IsText(value)) throw EVariantError();
  bool ok = false;
  qint64 number = value.toString().trimmed().toLongLong(&ok, 10);
  if (!ok) throw EVariantError();
  return number;
}

double VariantToFloat(const QVariant& value) {
  if (value.typeId() == QMetaType::Bool) return value.toBool() ? 1 : 0;
  if (IsIntegral(value) || value.typeId() == QMetaType::Double) return value.toDouble();
  if (!IsText(value)) throw EVariantError();
  bool ok = false;
  double number = QLocale().toDouble(value.toString().trimmed(), &ok);
  if (!ok) throw EVariantError();
  return number;
}

TObjectInfoProvider::TObjectInfoProvider(QObject* instance)
    : TTypeInfoBase(TTypeInfo::FromClass(CheckedClass(instance))), instance_(instance) {}

bool TObjectInfoProvider::HasProperty(const QString& name) const {
  return FindProperty(instance_->metaObject(), name) >= 0;
}

QMetaProperty TObjectInfoProvider::PropInfo(const QString& name) const {
  int index = FindProperty(instance_->metaObject(), name);
  if (index < 0) throw ETypeInfoError(FillIn("Property \"%s\" not found", {name}));
  return instance_->metaObject()->property(index);
}

TTypeInfoProvider* TObjectInfoProvider::PropType(const QString& name) {
  if (TZelItem* item = cache_.FindKey(name)) return static_cast<TTypeInfoProvider*>(item->Object());
  const TTypeInfo info = TTypeInfo::FromProperty(PropInfo(name));
  auto reader = std::make_unique<TTypeInfoProvider>(&info);
  TTypeInfoProvider* result = reader.get();
  cache_.AddKey(name)->SetObject(std::move(reader));
  return result;
}

void TObjectInfoProvider::GetPropNames(TTypeKinds kinds, QStringList& lines) const {
  lines.clear();
  QStringList names;
  for (const QMetaObject* m = instance_->metaObject(); m; m = m->superClass()) {
    for (int i = m->propertyOffset(); i < m->propertyCount(); ++i) {
      const QString name = QString::fromLatin1(m->property(i).name());
      // A property redeclared by a descendant is listed once.
      if (names.contains(name, Qt::CaseInsensitive)) continue;
      names << name;
      if (InKinds(kinds, TTypeInfo::FromProperty(m->property(i)).kind)) lines << name;
    }
  }
  std::sort(lines.begin(), lines.end(), [](const QString& a, const QString& b) {
    return a.compare(b, Qt::CaseInsensitive) < 0;
  });
}

QObject* TObjectInfoProvider::GetObjectProp(const QString& name) const {
  const QMetaProperty property = PropInfo(name);
  if (TTypeInfo::FromProperty(property).kind != tkClass) throw ETypeInfoError(kInvalidProperty);
  return property.read(instance_).value<QObject*>();
}

void TObjectInfoProvider::SetPropValue(const QString& name, const QVariant& value) {
  const QMetaProperty property = PropInfo(name);
  const TTypeInfo info = TTypeInfo::FromProperty(property);
  if (!property.isWritable()) throw ETypeInfoError(kInvalidProperty);
  QVariant stored;
  switch (info.kind) {
    case tkInteger:
    case tkChar:
    case tkEnumeration:
    case tkSet:
    case tkWChar:
      if (info.type.id() == QMetaType::Bool) {
        stored = VariantToBoolean(value);
      } else {
        qint64 ordinal = VariantToInteger(value);
        stored = info.kind == tkInteger ? QVariant(ordinal) : QVariant(static_cast<int>(ordinal));
        if (info.kind == tkWChar)
          stored = QVariant::fromValue(QChar(static_cast<char16_t>(ordinal)));
        if (info.kind == tkChar) stored = QVariant::fromValue(static_cast<char>(ordinal));
      }
      break;
    case tkFloat:
      stored = VariantToFloat(value);
      break;
    case tkString:
    case tkLString:
      stored = value.toString();
      break;
    case tkVariant:
      stored = value;
      break;
    default:
      throw ETypeInfoError(kInvalidProperty);
  }
  if (!property.write(instance_, stored)) throw ETypeInfoError(kInvalidProperty);
}

void TObjectInfoProvider::GetSubObjects(QList<QPair<QString, QObject*>>& lines) const {
  lines.clear();
  QStringList names;
  GetPropNames(KindSet({tkClass}), names);
  for (const QString& name : names) {
    QObject* object = GetObjectProp(name);
    if (object && !IsComponent(object)) lines.append({name, object});
  }
}
