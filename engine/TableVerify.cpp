#include "TableVerify.h"

#include "BlobFile.h"
#include "DataFileHeader.h"
#include "DbiStructure.h"
#include "Journal.h"
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

// A keyed table needs its .PX: missing, or parked under another name by
// a run that did not finish, the table is not whole.
Status CheckPrimaryPresent(Env* env, const ParadoxTable& table) {
  if (!table.Header().Keyed()) return Status::OK();
  for (const std::string& path : CompanionFiles(table.Path())) {
    if (UpperExtension(path) == "PX") return Status::OK();
  }
  const std::string parked = CompanionPath(table.Path(), "." + ParkedExtension("PX"));
  if (env->Exists(parked)) {
    return Status(DBIERR_INDEXCORRUPT, "the primary index is parked, not in place")
        .WithContext(table.Path())
        .WithContext(parked);
  }
  return Status(DBIERR_INDEXCORRUPT, "the primary index (.PX) of a keyed table is missing")
      .WithContext(table.Path());
}

}  // namespace

VerifyResult VerifyTable(const std::string& db_path, Env* env) {
  VerifyResult result;
  Env* e = env ? env : Env::Default();
  result.pendingJournal = PendingReplacement(e, db_path);
  if (!result.pendingJournal.empty()) {
    result.status = CheckNothingPending(e, db_path);
    return result;
  }
  OpenOptions options;
  options.env = env;
  options.useHeaderKey = true;
  options.lock = false;
  options.recover = false;
  std::unique_ptr<ParadoxTable> table;
  result.status = ParadoxTable::Open(db_path, options, &table);
  if (!result.status.ok()) return result;
  result.note = table->Note();
  result.status = CheckRecords(*table, &result.records);
  if (!result.status.ok()) return result;
  bool has_blobs = false;
  for (const FieldDesc& f : table->Fields()) has_blobs = has_blobs || IsBlobType(f.type);
  const std::string mb = CompanionPath(db_path, ".MB");
  if (has_blobs && e->Exists(mb)) {
    result.status = CheckBlobFile(e, mb, table->Header().key);
    if (!result.status.ok()) return result;
  }
  result.status = CheckPrimaryPresent(e, *table);
  if (!result.status.ok()) return result;
  result.status = VerifyIndexes(e, *table);
  if (!result.status.ok()) return result;
  result.status = VerifyVal(e, *table);
  if (!result.status.ok()) return result;
  result.status = VerifyLinks(e, *table);
  return result;
}

}  // namespace engine
