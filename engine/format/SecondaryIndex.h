// Secondary indexes: the .Xnn (one field) or .XGn (several, named) file is a
// small table of the indexed fields, the primary key and the data block each
// record lives in, kept in index order; its .Ynn / .YGn file indexes the
// .Xnn blocks as a primary index does. Pure format code over bytes; the
// table layer supplies the records.
#pragma once

#ifndef VARDEX_ENGINE_INTERNAL
#error "engine/format is the engine's own; use the engine's public headers"
#endif

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "IndexKey.h"
#include "PrimaryIndex.h"
#include "Status.h"

namespace engine {

// A field of the indexed table, as the index files describe it.
struct IndexedField {
  std::uint16_t number = 0;  // position in the table, from 1
  KeyField key;
  std::string name;
};

struct SecondaryIndexDef {
  std::string name;  // composite (.XGn) indexes only
  bool composite = false;
  bool maintained = true;  // kept up to date on every change; needs a keyed table
  bool descending = false;
  std::vector<IndexedField> fields;     // the indexed fields
  std::vector<IndexedField> keyFields;  // the table's primary key (maintained only)
};

// What the index files take from the data file.
struct SecondaryFileParams {
  std::uint8_t versionId = 12;
  std::uint8_t blockSizeCode = 2;
  std::uint8_t sortOrder = 0;
  std::string sortOrderId = "ascii";
  std::uint16_t codePage = 0;
  std::uint8_t tableChangeCount2 = 0;  // the data file's byte 0x2E, repeated in .Xnn
  std::uint8_t changeCount = 1;        // .Xnn's own count, repeated in its .Ynn
  std::uint16_t updateCount = 1;
  std::string fileName;  // e.g. "CUSTOMER.X06"
};

class SecondaryIndex {
 public:
  Status DecodeFrom(std::string_view x);

  const SecondaryIndexDef& Def() const { return def_; }
  const SecondaryFileParams& Params() const { return params_; }
  const std::string& Header() const { return header_; }
  // The records in file order: indexed fields, key fields, block number
  // (for an index that is not maintained: record number, block, offset).
  const std::vector<std::string>& Records() const { return records_; }
  // The order of the records; its key is what the .Ynn file indexes.
  KeyOrder Order() const { return OrderOf(def_, params_.sortOrder); }
  // The data block a record names.
  std::uint16_t BlockOf(const std::string& record) const;

  // A fault of the pages that reading passes over (a block's back link,
  // the header's last block or block count); empty when there is none.
  const std::string& PageFault() const { return pageFault_; }
  // The blocks of the .Xnn in chain order, each as the .Ynn should name it.
  const std::vector<IndexEntry>& Blocks() const { return blocks_; }
  // Checks the records against those built from the table (any order): the
  // same records, kept in index order. An index that is not maintained may
  // lag behind its table by design; check only maintained ones.
  Status CheckRecords(std::vector<std::string> expected) const;

  static KeyOrder OrderOf(const SecondaryIndexDef& def, std::uint8_t sortOrder);
  // The record of one data record: its fields are cut from `dbRecord` at the
  // offsets given (same order as def.fields then def.keyFields).
  static std::string MakeRecord(const SecondaryIndexDef& def, const std::vector<int>& offsets,
                                const char* dbRecord, std::uint16_t block);

  struct Files {
    std::string x, y;
  };
  // Both files over these records (sorted here). An index that is not
  // maintained is written empty: the engine refills it when it is next used.
  // Header bytes not modelled come from the earlier files' headers if given.
  // Both empty where WriteSorted refuses the index.
  static Files Build(const SecondaryIndexDef& def, const SecondaryFileParams& params,
                     std::vector<std::string> records,
                     const std::string& templateHeader = std::string(),
                     const std::string& templateYHeader = std::string());
  // What Build writes, over `count` records that `next` yields already in
  // index order (nullptr at the end): the .Xnn goes out through writeX in
  // pieces of about a megabyte (offset, bytes; its header last), the .Ynn
  // comes back whole (one entry per .Xnn block). The block sizes are those
  // ChooseBlockCodes gives; where it refuses, nothing is written.
  using FileWriter = std::function<Status(std::uint64_t offset, std::string_view bytes)>;
  static Status WriteSorted(const SecondaryIndexDef& def, const SecondaryFileParams& params,
                            std::uint64_t count, const std::function<const char*()>& next,
                            const FileWriter& writeX, std::string* y,
                            const std::string& templateHeader = std::string(),
                            const std::string& templateYHeader = std::string());

  // The block size codes of the .Xnn and its .Ynn over `count` records.
  // Block numbers are 16 bits: an .Xnn holds at most 65535 blocks, each of
  // at least two records. Those of params (the .Ynn's from templateYHeader
  // when given) while the index fits them, so an index that fits keeps its
  // files as they were; otherwise the smallest larger .Xnn size (see
  // LargerIndexBlockCode) that holds it, its .Ynn in IndexTreeBlockCode of
  // that, each larger where a key needs. Refused, naming the file, when
  // even 32 KiB blocks are too small.
  struct BlockCodes {
    std::uint8_t x = 0, y = 0;
    bool operator==(const BlockCodes&) const = default;
  };
  static Status ChooseBlockCodes(const SecondaryIndexDef& def, const SecondaryFileParams& params,
                                 std::uint64_t count, const std::string& templateYHeader,
                                 BlockCodes* out);

 private:
  Status DecodeLayout(std::string_view b, std::uint16_t nf);
  Status DecodeRecords(std::string_view b);

  SecondaryIndexDef def_;
  SecondaryFileParams params_;
  std::string header_;
  std::vector<std::string> records_;
  std::vector<IndexEntry> blocks_;
  std::string pageFault_;
  std::uint16_t recordSize_ = 0;
};

}  // namespace engine
