// The soundness check behind `vdx verify`: opens a table without trusting
// it, reads every record, every value and every blob, walks the blob file's
// blocks, then checks every page of the index files and the indexes
// against the records, the whole .VAL against the table, and the
// referential links against the tables they name. Protected tables are checked with the
// key in their header, so no password is needed. Nothing is written: an
// interrupted replacement of the table's files is reported, not finished.
#pragma once

#include <string>

#include "Env.h"
#include "Status.h"

namespace engine {

struct VerifyResult {
  Status status;     // ok, or the first damage found
  std::string note;  // a harmless irregularity worth reporting
  std::uint32_t records = 0;
  // The journal of an interrupted replacement that the next command
  // changing the table finishes (status then says so); the files were not
  // read.
  std::string pendingJournal;
};

VerifyResult VerifyTable(const std::string& db_path, Env* env = nullptr);

}  // namespace engine
