// The engine's internal view of one open Paradox table: its header and field
// descriptors, record iteration block by block, value decoding and blob
// reading. Everything above (the dataset layer, `vdx`, and later indexes,
// restructure, pack and local SQL) reads tables through this unit.
//
//   std::unique_ptr<ParadoxTable> table;
//   Status s = ParadoxTable::Open(path, OpenOptions{}, &table);
//   TableCursor cur = table->NewCursor();
//   while (cur.Next()) { FieldValue v = cur.Value(0); ... }
//   if (!cur.status().ok()) ...   // damage found while reading
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Env.h"
#include "FieldTypes.h"
#include "FieldValue.h"
#include "Status.h"
#include "TableLock.h"

namespace engine {

// The format's own units; the engine's units that need them include
// format/DataFileHeader.h, format/DataBlock.h and format/BlobFile.h.
struct DataFileHeader;
struct BlockRef;
class BlobReader;

struct OpenOptions {
  Env* env = nullptr;                  // Env::Default() when null
  std::vector<std::string> passwords;  // tried in order on a protected table
  // Asked when no password fits; may add to `passwords` and returns true to
  // have the open retry, false to give up.
  std::function<bool(std::vector<std::string>* passwords)> request_password;
  std::uint32_t key = 0;        // open a protected table by its key
  bool useHeaderKey = false;  // trust the key in the header (verify, tools)
  bool exclusive = false;       // whole-file write lock instead of a read lock
  bool lock = true;             // take the OS lock at all
  // Finish an interrupted replacement of the table's files first. A check
  // that must not write (verify) turns it off and asks PendingReplacement.
  bool recover = true;
  // Only the header and the fields: the block chain is not read, and a
  // cursor of the table finds no records but an error.
  bool structureOnly = false;
};

class ParadoxTable;

// Iterates the records of a table in block-chain order. Holds one block in
// memory at a time.
class TableCursor {
 public:
  explicit TableCursor(const ParadoxTable* table) : table_(table) {}
  // Iterates only the blocks at chain positions [first, end). Reads are the
  // same as a whole-table cursor's when first is where one of its reads
  // begins (0 or a WindowEnd).
  TableCursor(const ParadoxTable* table, std::size_t first, std::size_t end)
      : table_(table), end_(end), chain_pos_(first) {}
  // Where the cursor's read from chain position pos ends: the blocks that
  // follow it in the chain and in the file, up to one read window.
  static std::size_t WindowEnd(const ParadoxTable& table, std::size_t pos);
  // Advances to the next record; false at the end or on damage (status()).
  bool Next();
  // Positions before the record with this ordinal (0-based) so that Next()
  // lands on it.
  Status Seek(std::uint32_t ordinal);
  const std::uint8_t* Record() const { return record_; }
  std::uint32_t RecordNumber() const { return ordinal_; }  // 0-based
  FieldValue Value(int field) const;
  const Status& status() const { return status_; }

 private:
  friend class ParadoxTable;
  const ParadoxTable* table_;
  // Blocks that follow each other in the chain and in the file are read
  // together: block_ holds window_count_ of them from chain position
  // window_pos_ on; the current one begins at block_at_.
  std::string block_;
  std::size_t end_ = SIZE_MAX;  // chain position where iteration stops
  std::size_t window_pos_ = 0, window_count_ = 0;
  std::size_t block_at_ = 0;
  std::size_t chain_pos_ = 0;
  int in_block_ = -1;
  bool loaded_ = false;
  const std::uint8_t* record_ = nullptr;
  std::uint32_t ordinal_ = 0;
  Status status_;
};

class ParadoxTable {
 public:
  static Status Open(const std::string& path, OpenOptions options,
                     std::unique_ptr<ParadoxTable>* out);

  const std::string& Path() const { return path_; }
  ~ParadoxTable();
  const DataFileHeader& Header() const { return *header_; }
  const std::vector<FieldDesc>& Fields() const;
  // Field index by name without regard to case, -1 when absent.
  int FieldIndex(const std::string& name) const;
  std::uint32_t RecordCount() const;
  bool Protected() const;
  bool Keyed() const;
  // Whether the header's last block is where the block chain ends (always
  // so for an empty chain); appending relies on it.
  bool LastBlockEndsChain() const;
  // The code page used for text (437 when the header names none).
  int TextCodePage() const;
  // A harmless irregularity found at open (e.g. a final block cut short).
  const std::string& Note() const { return note_; }
  const std::vector<BlockRef>& Chain() const { return chain_; }

  TableCursor NewCursor() const;
  // Text of an A or M value in UTF-8.
  std::string Text(const std::string& code_page_bytes) const;
  // A blob's data (for G fields without the engine's 8-byte picture prefix).
  Status ReadBlob(int field, const FieldValue& value, std::string* out) const;
  // Reads one whole block (decrypted) for the cursor and for tools.
  Status LoadBlock(std::uint32_t number, std::string* buf) const;
  // Reads `count` blocks that follow each other in the file, from `first`.
  Status LoadBlocks(std::uint32_t first, std::uint32_t count, std::string* buf) const;

 private:
  ParadoxTable();
  Status ReadHeader();
  Status Unlock(OpenOptions& options);

  Env* env_ = nullptr;
  std::string path_;
  std::unique_ptr<RandomFile> file_;
  std::unique_ptr<DataFileHeader> header_;
  std::uint32_t key_ = 0;
  std::vector<BlockRef> chain_;
  bool structure_only_ = false;  // chain_ not read
  std::string note_;
  TableLock lock_;
  mutable std::unique_ptr<BlobReader> blobs_;
};

// Strips the 8-byte prefix the engine keeps before a graphic's picture when
// it is there (its second word is the picture's length).
std::string GraphicPayload(const std::string& stored);

}  // namespace engine
