// Writing Paradox tables: creating a table from field definitions (replacing
// any table of that name) and appending records to a table, with blobs going
// to the blob file and protected tables scrambled with the password's key.
// What is written reads back identically here and in other Paradox readers.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Env.h"
#include "FieldTypes.h"
#include "FieldValue.h"
#include "Status.h"

namespace engine {

struct DataFileHeader;  // format/DataFileHeader.h, for the engine's own units
class BlobWriter;

struct TableDefinition {
  // name, type and size (record bytes: leader + 10 for blobs, the text width
  // for A, the byte count for Y) and decimals for #; offsets are computed.
  std::vector<FieldDesc> fields;
  int key_fields = 0;     // the first n fields form the primary key
  std::string password;   // protects the table when not empty
  std::uint32_t key = 0;  // protects with this key when password is empty
  int code_page = 1252;
  int block_size_kb = 0;  // 0: chosen from the record size
  // A table this one is derived from: its header's unknown bytes, sort order,
  // code page and level are carried forward.
  const DataFileHeader* source = nullptr;
};

// Checks a definition: names, sizes, key count, record size.
Status ValidateDefinition(const TableDefinition& def);

// Creates the table (header only, and an empty blob file when a field needs
// one), replacing an existing table of that name and its stale companions
// (blob file, indexes, validity checks). The new data file is written beside
// the old one, synced and renamed into place.
Status CreateTable(Env* env, const std::string& db_path, const TableDefinition& def);

// The same files written straight at their paths, the data file not synced:
// for a table built in a staging folder, whose writer syncs it before the
// set is committed.
Status CreateStagedTable(Env* env, const std::string& db_path, const TableDefinition& def);

// The bytes of a whole table file holding these records (values in field
// order), for a small unkeyed table without blobs that is rewritten at once:
// the header is `like`'s with the counts of the new records, every byte it
// does not model kept; the blocks are filled in order.
Status EncodeTableFile(const DataFileHeader& like,
                       const std::vector<std::vector<FieldValue>>& records, std::string* out);

class TableWriter {
 public:
  // Opens an existing table to append records; key is the table's password
  // key (0 when not protected).
  static Status Open(Env* env, const std::string& db_path, std::uint32_t key,
                     std::unique_ptr<TableWriter>* out);
  ~TableWriter();

  const DataFileHeader& Header() const { return *header_; }
  // Appends one record. values are in field order; blob fields take their
  // data in value.s. A blank + field is numbered from the table's counter.
  Status Append(std::vector<FieldValue> values);
  // Appends a record already in the table's encoding (a restructure keeps
  // unchanged fields byte for byte this way). Blob fields are stored from
  // values (data in value.s) as Append stores them; other values are unused.
  // Both arguments may be changed (blob references are filled in).
  Status AppendEncoded(std::string& record, std::vector<FieldValue>& values);
  // The same for a table without blob fields: record_size bytes, unchanged.
  Status AppendStored(const char* record);
  // Appends one record, as Append does, and syncs it. On failure the table
  // reads as before (the last block and the header are written back as they
  // were; the new record's bytes lie beyond every count) and so does this
  // writer; blob data already stored stays, unreferenced, in the blob file.
  // Putting things back is best effort: the write that failed may fail again,
  // and the next Flush then tries once more.
  Status AppendSynced(std::vector<FieldValue> values);
  // Writes the pending block and the header (not synced).
  Status Flush();
  // Flush and sync the data and blob files.
  Status Sync();

 private:
  TableWriter();
  Status StartBlock();
  // Queues the current block for writing; finished blocks go out in
  // sequential batches of about a megabyte.
  Status WriteBlock();
  Status WritePending();
  Status StoreBlobs(std::vector<FieldValue>* values);
  Status PutRecord(const std::string& record);
  Status PutRecord(const char* record);
  // Raises the header's auto-increment value to the record's + fields.
  void NoteAutoIncrement(const char* record);

  Env* env_ = nullptr;
  std::string path_;
  std::unique_ptr<RandomFile> file_;
  std::unique_ptr<BlobWriter> blobs_;
  std::unique_ptr<DataFileHeader> header_;
  std::uint32_t key_ = 0;
  std::string block_;  // the last block of the chain, decrypted
  std::uint32_t block_number_ = 0;
  int block_records_ = 0;
  int per_block_ = -1;  // records a block holds; -1 until the first record
  bool dirty_ = false;
  bool has_blobs_ = false, has_auto_inc_ = false;  // fields of these kinds
  std::string pending_;  // encrypted blocks from pending_first_ on, not yet written
  std::uint32_t pending_first_ = 0;
};

}  // namespace engine
