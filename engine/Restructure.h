// Restructuring a table: a request (CRTblDesc) names the new field list and
// the changes to indexes, validity checks and links; the table is rewritten
// beside the old one (records converted field by field, every index rebuilt,
// the .VAL file and the masters' .VAL files brought in line) and the new
// files replace the old ones in one journalled commit. Packing is a
// restructure that changes nothing. Callers: the direct calls, `vdx`.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "DbiTypes.h"
#include "Env.h"
#include "Status.h"

namespace engine {

class CommitBatch;

struct RestructureOptions {
  Env* env = nullptr;                  // Env::Default() when null
  std::vector<std::string> passwords;  // tried on a protected source
  bool useHeaderKey = false;           // maintenance tools: open with the header's key
  // The data file of a new table that receives the result; the source is
  // left as it is. Empty: the source itself is rewritten.
  std::string saveAs;
  // False: the result holds no records (an empty table with the whole
  // structure, as a reference copy is made).
  bool copyRecords = true;
  // Index records held in memory while the records are copied: the first
  // secondary index always comes along; indexes beyond this bound are read
  // back from the written table one at a time, bounding memory.
  std::size_t indexRecordsHeld = 1500000;
  // Memory the sorts of index records use together; beyond it they spill
  // sorted runs to a file in the work folder and merge them.
  std::size_t sortMemory = std::size_t{24} << 20;
  // Called now and then with records done and the total.
  std::function<void(std::uint32_t done, std::uint32_t total)> progress;
  // Tests: called when every new file is staged, just before the commit.
  std::function<void()> beforeCommit;
  // A table rewritten in place leaves its commit in this batch (see
  // CommitBatch), to be made durable with the other tables' commits. A
  // table that writes another's files (a master's .VAL) or sets records
  // aside is committed at once, with every table before it; a table that
  // reads a master commits the batch first. Null: committed on its own.
  CommitBatch* batch = nullptr;
  // A dry run: the records go through the same conversion into a scratch
  // folder under $TMPDIR (removed at the end) and nothing of the table's
  // folder is written: no journal, no staging, no pending replacement
  // finished (a table with one is refused). The report gives the counts and
  // up to `examples` records of each set-aside table; saveAs only names
  // where the result would go.
  bool dryRun = false;
  std::size_t examples = 3;
};

// Records set aside are kept whole, as the source held them (its fields,
// its blobs), in tables beside the table written: KEYVIOL.DB for those that
// broke the new primary key (and are not in the result), PROBLEMS.DB for
// those whose values were cut, rounded, blanked or lost a part on the way (and are in
// the result, converted). Each replaces a table of that name there.
struct RestructureReport {
  std::uint32_t records = 0;        // records in the result
  std::uint32_t blanked = 0;        // values that could not convert and became blank
  std::uint32_t cut = 0;            // alpha values cut to the new width
  std::uint32_t rounded = 0;        // numbers given fewer decimals
  std::uint32_t dropped = 0;        // values that lost a part (a timestamp's time or date)
  std::uint32_t keyViolations = 0;  // records that broke the new primary key
  std::string keyViolTable;         // the table holding them (empty when none)
  std::uint32_t problems = 0;       // records with a value cut, rounded, blanked or dropped
  std::string problemsTable;        // the table holding them as they were (empty when none)
  std::vector<std::string> notes;   // index files that were unreadable and left out
  // Dry run: the first records set aside, as "FIELD=value, ..." (the
  // source's fields, text in UTF-8).
  std::vector<std::string> keyViolExamples;
  std::vector<std::string> problemExamples;
};

// Rewrites the table whose data file is db_path. An empty field list keeps
// the fields; empty index, check and link lists keep those parts; drops are
// applied before adds.
Status RestructureTable(const std::string& db_path, const CRTblDesc& request,
                        const RestructureOptions& options, RestructureReport* report);

// Packs the table: drops deleted space, rebuilds every index and the blob
// file, keeps its structure and protection (password: its own, when given).
Status PackTable(const std::string& db_path, const RestructureOptions& options,
                 RestructureReport* report);

}  // namespace engine
