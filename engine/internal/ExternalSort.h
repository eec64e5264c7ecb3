// Sorting many fixed-size records in bounded memory. Records gather in an
// arena of fixed chunks until the memory budget is used; that run is sorted
// and written to a spill file, and the next run starts in the same chunks.
// At the end the spilled runs and the last run (kept in memory) are merged.
// The order is a KeyOrder over each record's leading bytes; records of equal
// keys come back in the order they were added. A table of any size sorts in
// the budget plus a read buffer per spilled run (and, in the background
// mode, a queue of incoming records of up to a quarter of the budget). Used
// by the index builds of a restructure, whose spill file lives in the
// staging folder.
//
// In the background mode the sorter's own work (sort keys, sorting and
// spilling runs, the last run's sort, the merge) runs on a thread of its
// own: Add copies the record into a batch and hands full batches over, so
// the caller's loop goes on while the records are sorted; after Finish the
// thread merges ahead into batches of sorted records that Next hands out,
// so the caller writes one batch while the next is merged. A large merge is
// split by key into parts: the thread merges them from the lowest up as it
// hands them out, a second thread from the highest down into the spill file,
// and where they meet the second thread's parts are read back in turn.
#pragma once

#ifndef VARDEX_ENGINE_INTERNAL
#error "engine/internal is the engine's own; use the engine's public headers"
#endif

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Env.h"
#include "IndexKey.h"
#include "Status.h"

namespace engine {

class ExternalSorter {
 public:
  // recordSize bytes a record, order.length() <= recordSize of them the key.
  // The spill file at spillPath is made only when a second run is needed,
  // and removed when the sorter goes.
  ExternalSorter(Env* env, std::string spillPath, KeyOrder order, std::size_t recordSize,
                 std::size_t memoryBudget);
  ~ExternalSorter();  // a background thread is stopped first
  ExternalSorter(const ExternalSorter&) = delete;
  ExternalSorter& operator=(const ExternalSorter&) = delete;

  // Switches to the background mode; before the first Add.
  void SortInBackground();
  // A failure of the background thread comes back from the next Add.
  Status Add(const char* record);
  // Add in two steps, the caller making the record in place: Place gives
  // room for recordSize bytes, AddPlaced adds what the caller wrote there.
  char* Place();
  Status AddPlaced();
  // Ends the input (waits for the background thread); Next() then yields
  // the records in order.
  Status Finish();
  // The next record (recordSize bytes, valid until the next call); nullptr
  // at the end or when a spilled run cannot be read back (status()).
  const char* Next();
  Status status() const;

  std::uint64_t size() const { return added_; }
  std::size_t recordSize() const { return recordSize_; }
  std::size_t spilledRuns() const { return runs_.size(); }
  std::size_t chunks() const { return chunks_.size(); }
  // Records a run holds before it is spilled.
  std::size_t runCapacity() const { return capacity_; }
  // The final merge went in parts, on two threads.
  bool mergedInParts() const { return !parts_.empty(); }

 private:
  struct Slot {
    std::uint64_t prefix[2];  // the first 16 sort key bytes, big-endian
    const char* entry;        // the record, in the arena
  };
  struct Run {
    std::uint64_t offset = 0;  // bytes into the spill file
    std::uint64_t count = 0;   // records
  };
  struct Reader;
  // A merge of sorted runs: their readers and the tournament over them.
  struct Merge {
    std::vector<std::unique_ptr<Reader>> readers;
    std::vector<std::size_t> tree;  // StartTree
    bool started = false;           // a record went out: its reader moves on first
    Status status;                  // a spilled run that could not be read back
  };

  // prefix: the record's first 16 sort key bytes when already made.
  Status AddNow(const char* record, const char* prefix = nullptr);
  Status FinishNow();
  const char* NextNow();
  // Background mode, after the last run is sorted: fills batches of sorted
  // records for Next until the records or the room run out.
  void MergeAhead();
  // Hands the batch being filled to the background thread.
  void HandOver(bool last);
  void Background();

  char* EntryAt(std::size_t i);
  void Prefetch(const char* entry) const;  // the entry's bytes, soon needed
  void SizeScratch();  // scratch_ as long as slots_
  // Sorts slots_ by prefix, stably.
  void SortPrefixes();
  // Past the stretch of slots from i on whose prefixes are the same.
  std::size_t TiesEnd(std::size_t i) const;
  // Puts the slots of such a stretch in the order of their keys, stably.
  void OrderTies(std::size_t begin, std::size_t end);
  void SortRun();  // SortPrefixes, then OrderTies throughout
  Status SpillRun();
  // A record of a spilled run, after its sort key prefix, into writeBuffer_.
  void AppendSpilled(std::uint64_t head, std::uint64_t next, const char* record);
  Status Flush();
  // Read buffers of `records` records for the spilled runs from `first` on.
  void AddReaders(Merge* m, std::size_t first, std::size_t count, std::size_t records);
  std::size_t ReaderRecords(std::size_t readers) const;
  Status MergeRuns(std::size_t count);
  // The merge's next record; nullptr at its end or on a failed read.
  const char* NextOf(Merge& m);
  bool Less(const Merge& m, std::size_t a, std::size_t b);  // merge heads, by reader
  void StartTree(Merge& m);
  void Replay(Merge& m, std::size_t reader);
  // Moves a reader to its next record; false when it has none left.
  bool Advance(Merge& m, std::size_t reader);
  // The order of the merge on two records' keys.
  bool KeyLess(const char* a, const char* b) const;
  // The keys' order (negative, zero, positive), as order_.Compare; quicker
  // when they first differ where their bytes alone order them (bytewise_).
  int CompareKeys(const char* a, const char* b) const;
  void LearnByteOrder();
  // Records of run `run` (runs_.size(): the one in memory) whose keys
  // order before `key`.
  Status CountBelow(std::size_t run, const char* key, std::uint64_t* below);
  // Background mode: splits the final merge by key into parts_ of about
  // the same size (none when it is not worth it).
  Status SplitMerge();
  // A merge of the part's records.
  void StartPart(Merge* m, std::size_t part);
  // The second thread: merges parts from the highest down into the spill
  // file until it meets the parts taken from below.
  void MergeParts();
  // Stops the second thread (when it is still merging) and waits for it.
  void StopHelper();
  // The next part into merge_: merged here, or read back once the second
  // thread has merged it; false after the last one or on a failure.
  bool NextPart();

  Env* env_;
  std::string spillPath_;
  KeyOrder order_;
  std::size_t recordSize_, spilledSize_, keySize_, entrySize_;
  std::vector<unsigned char> bytewise_;  // a key byte orders by its value
  bool ascending_ = true;
  std::size_t capacity_ = 0;  // entries a run holds
  std::size_t perChunk_ = 0;  // entries a chunk holds
  std::vector<std::unique_ptr<char[]>> chunks_;
  std::vector<Slot> slots_;
  std::vector<Slot> scratch_;  // where the sorts of slots_ merge into
  std::size_t inRun_ = 0;
  char* place_ = nullptr;      // where the run's next entry goes,
  std::size_t placeLeft_ = 0;  // and the entries its chunk has room for after it
  std::uint64_t added_ = 0;
  std::unique_ptr<RandomFile> spill_;
  std::string writeBuffer_;
  std::uint64_t spillBytes_ = 0;
  std::vector<Run> runs_;
  bool finished_ = false;
  std::size_t next_ = 0;  // one run: the next slot
  Merge merge_;
  Status status_;
  // A merge in parts, each the records of a range of keys: from[r] to
  // to[r] of each run (the one in memory last). The second thread's go to
  // the spill file, `count` records from `at` on, and are then `done`.
  struct Part {
    std::vector<std::uint64_t> from, to;
    std::uint64_t at = 0, count = 0;
    bool done = false;
  };
  std::vector<Part> parts_;
  std::size_t part_ = 0;  // the one merge_ hands out
  // Under partsMutex_: parts below below_ are this thread's, from above_ on
  // the second thread's; helperStatus_ is the latter's failure.
  std::size_t below_ = 0, above_ = 0;
  Status helperStatus_;
  std::uint64_t helperAt_ = 0;  // where the second thread's parts start
  std::thread helper_;
  std::atomic<bool> stopHelper_{false};
  std::mutex partsMutex_;
  std::condition_variable partDone_;

  // Background mode. The thread owns everything above until it ends; the
  // caller touches only batch_, merged_/at_ and, under mutex_, the queues
  // and shared_.
  bool background_ = false;
  std::thread worker_;
  std::string batch_;
  std::string placed_;  // Place's room when the records are not batched
  std::deque<std::string> queue_, spare_;
  std::size_t queued_ = 0;  // batches the queue holds at most
  bool ending_ = false, stopping_ = false;
  std::atomic<bool> failed_{false};  // status_ holds the thread's failure
  // Merged batches: out_ from the thread, spent ones back in outSpare_.
  std::deque<std::string> out_, outSpare_;
  bool sorted_ = false;    // the last run is sorted (or the sort failed)
  bool outEnded_ = false;  // the last merged batch is in out_
  std::string merged_;     // the batch Next hands out, from at_ on
  std::size_t at_ = 0;
  bool drained_ = false;  // merged_ is the last batch
  Status shared_;         // the thread's status as of its last report
  mutable std::mutex mutex_;
  std::condition_variable wake_, room_, ready_;
};

}  // namespace engine
