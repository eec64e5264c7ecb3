#include "TableVerify.h"

#include "ParadoxTable.h"
#include "TableFiles.h"
#include "TableVerifyIndexes.h"

namespace engine {

namespace {

Status CheckRecords(const ParadoxTable& table, std::uint32_t* records) {
  TableCursor cursor = table.NewCursor();
  std::string blob;
  while (cursor.Next()) {
    ++*records;
    for (std::size_t i = 0; i < table.Fields().size(); ++i) {
      const FieldValue v = cursor.Value(static_cast<int>(i));
      if (!IsBlobType(table.Fields()[i].type) || v.null) continue;
      Status s = table.ReadBlob(static_cast<int>(i), v, &blob);
      if (!s.ok()) {
        return s.WithContext("record " + std::to_string(cursor.RecordNumber() + 1) + ", field " +
                             table.Fields()[i].name);
      }
    }
  }
  return cursor.status();
}

}  // namespace

VerifyResult VerifyTable(const std::string& db_path, Env* env) {
  VerifyResult result;
  OpenOptions options;
  options.env = env;
  options.use_header_key = true;
  options.lock = false;
  std::unique_ptr<ParadoxTable> table;
  result.status = ParadoxTable::Open(db_path, options, &table);
  if (!result.status.ok()) return result;
  result.note = table->Note();
  result.status = CheckRecords(*table, &result.records);
  if (!result.status.ok()) return result;
  bool has_blobs = false;
  for (const FieldDesc& f : table->Fields()) has_blobs = has_blobs || IsBlobType(f.type);
  const std::string mb = CompanionPath(db_path, ".MB");
  Env* e = env ? env : Env::Default();
  if (has_blobs && e->Exists(mb)) {
    result.status = CheckBlobFile(e, mb, table->Header().key);
    if (!result.status.ok()) return result;
  }
  result.status = VerifyIndexes(e, *table);
  if (!result.status.ok()) return result;
  result.status = VerifyLinks(e, *table);
  return result;
}

}  // namespace engine
