// Inside a restructure: moving the records into the new table in key
// order, converting each value, setting key violations aside, and
// collecting what the index files are rebuilt from. Only the Restructure
// units include this.
#pragma once

#ifndef VARDEX_ENGINE_INTERNAL
#error "engine/internal is the engine's own; use the engine's public headers"
#endif

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ParadoxTable.h"
#include "PrimaryIndex.h"
#include "Restructure.h"
#include "RestructurePlan.h"
#include "TableWriter.h"

namespace engine {

struct CopyTargets {
  TableWriter* table = nullptr;
  // Where the sorts of the index records spill what does not fit their
  // memory, and how much memory they share.
  Env* env = nullptr;
  std::string spillDir;
  std::size_t sortMemory = 0;
  // Tables in the source's structure, each opened on its first record: the
  // records that broke the new key, and the records whose values were cut,
  // rounded, blanked or lost a part (which also go to the table, converted).
  std::function<Status(TableWriter**)> keyViolations;
  std::function<Status(TableWriter**)> problems;
};

class RecordCopier {
 public:
  RecordCopier(const ParadoxTable& source, RestructurePlan* plan, const DataFileHeader& target);

  // Copies every record (in key order for a keyed result) and collects the
  // primary index leaves and the secondary index records. A keyed result is
  // first written in the source's order, which is its key order as a rule;
  // when a record turns out of order, Run stops with *unordered set, and the
  // caller starts again on fresh targets with sorted = true.
  Status Run(const CopyTargets& targets, const RestructureOptions& options, bool sorted,
             bool* unordered, RestructureReport* report);
  const std::vector<IndexEntry>& Leaves() const { return leaves_; }

 private:
  Status Convert(const TableCursor& cursor, std::size_t fields, std::vector<FieldValue>* out);
  // Lays the first `fields` fields into record_: unchanged ones as stored,
  // the others from their converted values.
  void EncodeInto(const TableCursor& cursor, const std::vector<FieldValue>& values,
                  std::size_t fields);
  std::size_t KeyLength() const;
  // Sorts the new keys of every record (with the record numbers) into
  // order_, which then yields them in the order the records are written.
  Status FindOrder(const CopyTargets& targets, std::size_t memory);
  // Writes the record under the cursor; in streaming mode checks its key
  // against the last one written (set *unordered and stop when it is out of
  // order, set the record aside when it repeats it).
  Status WriteOne(const TableCursor& cursor, bool violation, bool streaming, bool* unordered,
                  const CopyTargets& targets, RestructureReport* report);
  // Lays the record under the cursor out in the new layout when every
  // field is copied as stored or new and blank (stored_); the record is
  // valid until the next call or the cursor moves on.
  const char* LayOut(const TableCursor& cursor);
  Status CollectIndexes(const char* record);
  // Appends the record under the cursor as the source holds it, blobs too.
  Status WriteOriginal(const TableCursor& cursor, TableWriter* out);

  const ParadoxTable& source_;
  RestructurePlan* plan_;
  const DataFileHeader& target_;
  std::uint32_t blanked_ = 0, cut_ = 0, rounded_ = 0, dropped_ = 0;
  bool lossy_ = false;  // a value of the record converted last was changed
  std::uint32_t written_ = 0;
  // The data block the last record went to, and the records in it so far.
  std::uint32_t per_block_ = 0, in_block_ = 0;
  std::uint16_t block_ = 0;
  std::int64_t counter_ = 0;  // numbers given to renumbered + fields
  std::string record_;        // scratch record in the new layout
  std::vector<IndexEntry> leaves_;
  std::vector<bool> raw_;  // per new field: copied byte for byte
  bool whole_ = false;     // every field: the record is copied as one piece
  // Every field either copied as stored or new and blank: the record is the
  // blank new record with these runs of stored bytes copied over it.
  struct Piece {
    std::size_t from, to, size;
  };
  bool direct_ = false;
  // whole_ or direct_, and no blob field: records go to the table as laid
  // out, without values.
  bool stored_ = false;
  std::string blank_;
  std::vector<Piece> runs_;
  bool renumbers_ = false;
  std::vector<FieldValue> values_;
  std::string last_key_;
  KeyOrder key_order_;
  std::size_t key_length_ = 0;             // bytes of the new key
  std::unique_ptr<ExternalSorter> order_;  // sorted copy: keys and record numbers
};

// The secondary index record of a data record (fields at p.offsets, then
// the block number), as SecondaryIndex::MakeRecord makes it, into *out.
void MakeIndexRecord(const SecondaryPlan& p, const char* dbRecord, std::uint16_t block,
                     std::string* out);
// The same into out, which has room for it.
void MakeIndexRecord(const SecondaryPlan& p, const char* dbRecord, std::uint16_t block, char* out);
// A sort for the index records of p; its spill file goes in spillDir.
std::unique_ptr<ExternalSorter> NewIndexSorter(const SecondaryPlan& p, const DataFileHeader& table,
                                               Env* env, const std::string& spillDir,
                                               std::size_t number, std::size_t memory);

}  // namespace engine
