#include "FieldTypes.h"

namespace engine {

namespace {

struct TypeInfo {
  FieldType type;
  char letter;
  int fixed_size;  // 0: declared per field
  bool blob;
};

constexpr TypeInfo kTypes[] = {
    {FieldType::Alpha, 'A', 0, false},    {FieldType::Date, 'D', 4, false},
    {FieldType::Short, 'S', 2, false},    {FieldType::Long, 'I', 4, false},
    {FieldType::Currency, '$', 8, false}, {FieldType::Number, 'N', 8, false},
    {FieldType::Logical, 'L', 1, false},  {FieldType::Memo, 'M', 0, true},
    {FieldType::Blob, 'B', 0, true},      {FieldType::FmtMemo, 'F', 0, true},
    {FieldType::Ole, 'O', 0, true},       {FieldType::Graphic, 'G', 0, true},
    {FieldType::Time, 'T', 4, false},     {FieldType::Timestamp, '@', 8, false},
    {FieldType::AutoInc, '+', 4, false},  {FieldType::Bcd, '#', 17, false},
    {FieldType::Bytes, 'Y', 0, false},
};

const TypeInfo* Find(FieldType type) {
  for (const auto& info : kTypes) {
    if (info.type == type) return &info;
  }
  return nullptr;
}

}  // namespace

char TypeLetter(FieldType type) {
  const TypeInfo* info = Find(type);
  return info ? info->letter : '?';
}

bool TypeFromLetter(char letter, FieldType* type) {
  if (letter >= 'a' && letter <= 'z') letter = static_cast<char>(letter - 'a' + 'A');
  for (const auto& info : kTypes) {
    if (info.letter == letter) {
      *type = info.type;
      return true;
    }
  }
  return false;
}

bool IsKnownType(std::uint8_t code) { return Find(static_cast<FieldType>(code)) != nullptr; }

bool IsBlobType(FieldType type) {
  const TypeInfo* info = Find(type);
  return info && info->blob;
}

int FixedSize(FieldType type) {
  const TypeInfo* info = Find(type);
  return info ? info->fixed_size : 0;
}

int HeaderSizeByte(const FieldDesc& field) {
  return field.type == FieldType::Bcd ? field.decimals : field.size;
}

bool IsValidFieldSize(FieldType type, int size) {
  if (!Find(type)) return false;
  if (FixedSize(type) != 0) return size == FixedSize(type);
  if (IsBlobType(type)) return size >= 10 && size <= 250;  // leader (0..240) + 10
  return size >= 1 && size <= 255;
}

}  // namespace engine
