// Test helper: a table with every field type, filled through the engine's
// writer, with the values kept for comparison.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cmath>
#include <string>
#include <vector>

#include "TableWriter.h"
#include "TempDir.h"

namespace enginetest {

inline engine::FieldDesc Field(const std::string& name, engine::FieldType type, int size = 0,
                               int decimals = 0) {
  engine::FieldDesc f;
  f.name = name;
  f.type = type;
  f.size = size ? size : engine::FixedSize(type);
  f.decimals = decimals;
  return f;
}

// One field of each type, blobs with short leaders so that every blob kind
// (in the record, suballocated, single block) occurs.
inline engine::TableDefinition EveryTypeDefinition() {
  using engine::FieldType;
  engine::TableDefinition def;
  def.fields = {Field("Id", FieldType::AutoInc),      Field("Name", FieldType::Alpha, 20),
                Field("Born", FieldType::Date),       Field("Small", FieldType::Short),
                Field("Count", FieldType::Long),      Field("Price", FieldType::Currency),
                Field("Ratio", FieldType::Number),    Field("Done", FieldType::Logical),
                Field("Notes", FieldType::Memo, 15),  Field("Data", FieldType::Blob, 10),
                Field("Fmt", FieldType::FmtMemo, 10), Field("Ole", FieldType::Ole, 10),
                Field("Pic", FieldType::Graphic, 10), Field("At", FieldType::Time),
                Field("Stamp", FieldType::Timestamp), Field("Amount", FieldType::Bcd, 17, 2),
                Field("Raw", FieldType::Bytes, 6)};
  return def;
}

inline std::string BlobOfSize(std::size_t n, int seed) {
  std::string s(n, '\0');
  for (std::size_t i = 0; i < n; ++i)
    s[i] = static_cast<char>((i * 31 + static_cast<std::size_t>(seed) * 7) % 251 + 1);
  return s;
}

// The values of record r; every seventh record is blank in most fields.
inline std::vector<engine::FieldValue> EveryTypeRecord(int r) {
  using engine::FieldValue;
  std::vector<FieldValue> v(17);
  const bool blank = r % 7 == 6;
  v[0] = FieldValue::Int(r + 1);
  if (!blank) {
    v[1] = FieldValue::Str("Name " + std::to_string(r) + (r % 2 ? " \xE9t\xE9" : ""));
    v[2] = FieldValue::Int(engine::DayNumber(1990 + r % 30, 1 + r % 12, 1 + r % 28));
    v[3] = FieldValue::Int(r % 2 ? -r : r);
    v[4] = FieldValue::Int(r * 100003 - 5000000);
    v[5] = FieldValue::Float(r * 1.25 - 10);
    v[6] = FieldValue::Float(r % 3 ? 1.0 / (r + 1) : -r * 1e10);
    v[7] = FieldValue::Int(r % 2);
    const std::size_t sizes[] = {5, 100, 3000, 15, 2048, 2049};
    v[8] = FieldValue::Str(BlobOfSize(sizes[r % 6], r));
    v[9] = FieldValue::Str(BlobOfSize(sizes[(r + 1) % 6], r + 1));
    v[10] = FieldValue::Str(BlobOfSize(50 + r, r));
    v[11] = FieldValue::Str(BlobOfSize(5000 + r, r));
    v[12] = FieldValue::Str(BlobOfSize(r % 2 ? 300 : 9000, r));
    v[13] = FieldValue::Int((r * 37171) % 86400000);
    v[14] = FieldValue::Float(static_cast<double>(engine::DayNumber(2000, 1, 1) + r) * 86400000.0 +
                              r * 1000);
    v[15] = FieldValue::Str((r % 2 ? "-" : "") + std::to_string(r * 13) + "." +
                            std::to_string(10 + r % 90));
    v[16] = FieldValue::Str(std::string("\x01\x02\x03", 3) + std::to_string(r % 1000));
  }
  return v;
}

}  // namespace enginetest
