// Repairing a damaged table (`vdx repair`): every record that can still be
// read is salvaged into a new table, which is then packed so that the
// primary index and every secondary index are built anew from the records,
// and the new files replace the damaged ones in one journalled commit.
//
// Salvage trusts no count and no link alone: every data block the chain's
// links lead to (from either end) is a candidate. A block whose header is
// damaged (blank, a count that does not fit, both links wrong) is skipped,
// unless it is the only one and the header's count gives it records that
// read whole and in key order; a block with one bad link keeps its
// records. What was lost is counted against two witnesses, the header's
// record count and the blocks' counts; where they disagree the report says
// so and which was trusted, and a block's count that runs past its true
// end (the last record blank, out of key order, or one more than the
// primary index counts) is not taken, so no record is invented. Each value is
// checked on its own: one that cannot be decoded becomes blank; a blob
// whose leader, block or blob file is damaged or missing becomes blank too.
// Validity checks and links are kept when the .VAL file reads, else they
// are reported lost. The damaged files are kept in
// <folder>/DAMAGED/<TABLE>_<moment>/ before anything is replaced. A work
// folder left by a repair that was killed is cleared by the next one.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

#include "Env.h"
#include "Status.h"

namespace engine {

struct RepairOptions {
  Env* env = nullptr;  // Env::Default() when null
  bool dryRun = false;  // count what would be saved and lost; write nothing
  std::time_t moment = 0;  // names the DAMAGED folder; 0: now
};

struct RepairReport {
  // The table verified and every value decoded: nothing was written.
  bool sound = false;
  // False when the header cannot be read: then nothing can be salvaged.
  bool repairable = true;
  std::uint32_t recordsSaved = 0;
  std::uint32_t recordsLost = 0;     // records of the original the result lacks
  std::uint32_t recordsDropped = 0;  // records a block counted past its true end, not taken
  std::uint32_t recordsDoubtful = 0;  // saved records beyond the header's count
  std::uint32_t recordsDamaged = 0;  // saved records with a value or blob blanked
  std::uint32_t valuesBlanked = 0;   // values (not blobs) that could not be decoded
  std::uint32_t blobsLost = 0;       // blobs that could not be read
  std::uint32_t blocksSkipped = 0;   // blocks of the chain whose header is damaged
  std::vector<std::string> notes;    // where the counts disagree, and which was trusted
  std::vector<std::string> indexesRebuilt;  // index files written anew (file names)
  std::vector<std::string> lost;  // other parts that are lost (indexes, checks), and why
  std::uint32_t keyViolations = 0;  // salvaged records that broke the key
  std::string keyViolTable;  // where those were written (beside the table)
  std::string damagedFolder;  // where the damaged files were kept
  // True when anything at all was lost or blanked.
  bool SomethingLost() const {
    return recordsLost || recordsDoubtful || recordsDamaged || valuesBlanked || blobsLost ||
           !lost.empty() || keyViolations;
  }
};

// Repairs the table whose data file is db_path. Returns an error when the
// table cannot be repaired (report->repairable is false when its header is
// unreadable) or when writing failed; the table is then left as it was.
Status RepairTable(const std::string& db_path, const RepairOptions& options, RepairReport* report);

}  // namespace engine
