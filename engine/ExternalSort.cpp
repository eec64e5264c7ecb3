#include "ExternalSort.h"

#include <algorithm>
#include <cstring>
#include <string_view>

namespace engine {

namespace {

constexpr std::size_t kChunkBytes = std::size_t{1} << 20;
constexpr std::size_t kWriteBuffer = std::size_t{1} << 20;
// Runs read back side by side at most.
constexpr std::size_t kFanIn = 32;
// Background mode: bytes of records a batch carries, and batches queued
// (at least; records coming in may take a quarter of the budget more).
constexpr std::size_t kBatchBytes = std::size_t{128} << 10;
constexpr std::size_t kQueued = 2;
// Bytes of the sort key a slot holds, compared before anything else.
constexpr std::size_t kPrefix = 16;
// Background mode: a final merge of this many records or more is split
// into so many parts; each key it is split at is chosen among the records
// at the same place in at most so many runs.
constexpr std::uint64_t kSplitAt = 4096;
constexpr std::size_t kParts = 8;
constexpr std::size_t kSplitCandidates = 8;

}  // namespace

// One run being merged: a spilled run read back through a buffer, or the
// last run still in memory.
struct ExternalSorter::Reader {
  bool memory = false;
  std::uint64_t offset = 0;  // spilled: the next record's byte offset in the file
  std::uint64_t left = 0;    // records not yet taken into the buffer (or slots)
  std::string buffer;
  std::size_t at = 0, have = 0;       // spilled: position and records in the buffer
  std::size_t slot = 0, slotEnd = 0;  // memory: the next slot, and past the last
  // Spilled runs hold each record after its sort key prefix; the parts the
  // second thread merged hold the records alone.
  bool prefixed = true;
  const char* record = nullptr;
  bool done = false;                 // no record left
  std::uint64_t head = 0, next = 0;  // the key's first and second eight bytes, compared first
};

ExternalSorter::ExternalSorter(Env* env, std::string spillPath, KeyOrder order,
                               std::size_t recordSize, std::size_t memoryBudget)
    : env_(env),
      spillPath_(std::move(spillPath)),
      order_(std::move(order)),
      recordSize_(recordSize),
      spilledSize_(kPrefix + recordSize),
      keySize_(order_.SortKeyLength()),
      entrySize_(recordSize) {
  // A run's entries, their slots and the stable sort's buffer of slots.
  const std::size_t perEntry = entrySize_ + 2 * sizeof(Slot);
  capacity_ = std::max<std::size_t>(2, memoryBudget / perEntry);
  perChunk_ = std::min(capacity_, std::max<std::size_t>(1, kChunkBytes / entrySize_));
  // While a run is sorted and spilled the caller goes on adding: its
  // batches wait in the queue instead of the caller. Once they are all in,
  // as many merged batches may wait for the caller while it writes.
  queued_ = std::max(kQueued, memoryBudget / 4 / kBatchBytes);
  LearnByteOrder();
}

ExternalSorter::~ExternalSorter() {
  if (worker_.joinable()) {
    {
      std::lock_guard lock(mutex_);
      stopping_ = true;
    }
    stopHelper_ = true;
    wake_.notify_all();
    room_.notify_all();
    worker_.join();
  }
  if (spill_) {
    spill_.reset();
    env_->Remove(spillPath_);
  }
}

void ExternalSorter::Prefetch(const char* entry) const {
  // An entry may straddle two cache lines.
  __builtin_prefetch(entry);
  __builtin_prefetch(entry + entrySize_ - 1);
}

char* ExternalSorter::EntryAt(std::size_t i) {
  const std::size_t chunk = i / perChunk_;
  while (chunks_.size() <= chunk)
    chunks_.push_back(std::make_unique_for_overwrite<char[]>(perChunk_ * entrySize_));
  return chunks_[chunk].get() + (i % perChunk_) * entrySize_;
}

void ExternalSorter::SortInBackground() {
  if (worker_.joinable() || added_ > 0 || finished_) return;
  batch_.reserve(kBatchBytes);
  background_ = true;
  worker_ = std::thread([this] { Background(); });
}

Status ExternalSorter::Add(const char* record) {
  std::memcpy(Place(), record, recordSize_);
  return AddPlaced();
}

char* ExternalSorter::Place() {
  if (!worker_.joinable()) {
    placed_.resize(recordSize_);
    return placed_.data();
  }
  // In the batch, after the room for its sort key prefix (zeroed).
  const std::size_t at = batch_.size();
  batch_.resize(at + kPrefix + recordSize_);
  return batch_.data() + at + kPrefix;
}

Status ExternalSorter::AddPlaced() {
  if (!worker_.joinable()) return AddNow(placed_.data());
  const std::size_t entry = kPrefix + recordSize_;
  Status s;
  if (failed_.load(std::memory_order_acquire)) s = status_;
  if (s.ok() && ending_) s = Status(DBIERR_INVALIDPARAM, "records added after the sort");
  if (!s.ok()) {
    batch_.resize(batch_.size() - entry);
    return s;
  }
  // The sort key prefix is made here, beside the caller's own work: the
  // thread that sorts has the more to do.
  char* record = batch_.data() + batch_.size() - recordSize_;
  order_.WriteSortKeyPrefix(record, record - kPrefix, std::min(keySize_, kPrefix));
  if (batch_.size() + entry > kBatchBytes) HandOver(false);
  return Status::OK();
}

void ExternalSorter::HandOver(bool last) {
  std::unique_lock lock(mutex_);
  room_.wait(lock, [this] { return queue_.size() < queued_ || failed_.load(); });
  if (!batch_.empty()) queue_.push_back(std::move(batch_));
  ending_ = last;
  batch_.clear();
  if (!spare_.empty()) {
    batch_ = std::move(spare_.front());  // its buffer, emptied
    spare_.pop_front();
  }
  batch_.reserve(kBatchBytes);
  lock.unlock();
  wake_.notify_one();
}

void ExternalSorter::Background() {
  for (;;) {
    std::string batch;
    {
      std::unique_lock lock(mutex_);
      wake_.wait(lock, [this] { return stopping_ || ending_ || !queue_.empty(); });
      if (stopping_) return;
      if (queue_.empty()) break;  // ending, every batch taken
      batch = std::move(queue_.front());
      queue_.pop_front();
    }
    room_.notify_one();
    Status s;
    for (std::size_t at = 0; s.ok() && at < batch.size(); at += kPrefix + recordSize_)
      s = AddNow(batch.data() + at + kPrefix, batch.data() + at);
    if (!s.ok()) {
      {
        // Under the lock, so that a caller waiting for room sees it.
        std::lock_guard lock(mutex_);
        shared_ = s;
        failed_.store(true, std::memory_order_release);
      }
      room_.notify_one();
      ready_.notify_all();
      return;
    }
    batch.clear();
    std::lock_guard lock(mutex_);
    if (spare_.size() < kQueued) spare_.push_back(std::move(batch));
  }
  // The last run is sorted here too, and the merge goes on from here.
  const Status s = FinishNow();
  {
    std::lock_guard lock(mutex_);
    sorted_ = true;
    shared_ = s;
    if (!s.ok()) failed_.store(true, std::memory_order_release);
  }
  ready_.notify_all();
  if (s.ok()) MergeAhead();
  StopHelper();
}

void ExternalSorter::MergeAhead() {
  const std::size_t bytes = std::max(kBatchBytes, recordSize_);
  for (;;) {
    std::string batch;
    {
      std::lock_guard lock(mutex_);
      if (!outSpare_.empty()) {
        batch = std::move(outSpare_.front());
        outSpare_.pop_front();
      }
    }
    batch.clear();
    batch.reserve(bytes);
    bool end = false;
    while (batch.size() + recordSize_ <= bytes) {
      const char* record = NextNow();
      if (!record) {
        end = true;
        break;
      }
      batch.append(record, recordSize_);
    }
    {
      std::unique_lock lock(mutex_);
      room_.wait(lock, [this] { return stopping_ || out_.size() < queued_; });
      if (stopping_) return;
      out_.push_back(std::move(batch));
      outEnded_ = end;
      if (end) shared_ = status_;
    }
    ready_.notify_one();
    if (end) break;
  }
  // Every record is out: the spill file goes while the caller writes the
  // last batches (dropping its cached pages takes a while).
  StopHelper();
  if (spill_) {
    spill_.reset();
    env_->Remove(spillPath_);
  }
}

Status ExternalSorter::Finish() {
  if (!worker_.joinable()) return background_ ? status() : FinishNow();
  HandOver(true);
  std::unique_lock lock(mutex_);
  ready_.wait(lock, [this] { return sorted_ || failed_.load(); });
  if (!failed_.load()) return Status::OK();
  lock.unlock();
  worker_.join();
  return status_;
}

Status ExternalSorter::status() const {
  if (!background_) return status_;
  std::lock_guard lock(mutex_);
  return shared_;
}

Status ExternalSorter::AddNow(const char* record, const char* prefix) {
  if (!status_.ok()) return status_;
  if (finished_) return status_ = Status(DBIERR_INVALIDPARAM, "records added after the sort");
  if (inRun_ == capacity_) {
    status_ = SpillRun();
    if (!status_.ok()) return status_;
  }
  if (slots_.capacity() < capacity_) slots_.reserve(capacity_);  // one run's slots, allocated once
  if (placeLeft_ == 0) {  // the next chunk, or the first of a run
    place_ = EntryAt(inRun_);
    placeLeft_ = perChunk_ - inRun_ % perChunk_;
  }
  char* const entry = place_;
  place_ += entrySize_;
  --placeLeft_;
  std::memcpy(entry, record, recordSize_);
  char made[kPrefix] = {};
  if (!prefix) {
    order_.WriteSortKeyPrefix(record, made, std::min(keySize_, kPrefix));
    prefix = made;
  }
  slots_.push_back({{GetBe64(prefix), GetBe64(prefix + 8)}, entry});
  ++inRun_;
  ++added_;
  return Status::OK();
}

namespace {

// Byte `at` (0-15) of a slot's prefix.
template <typename S>
inline unsigned PrefixByte(const S& s, std::size_t at) {
  return static_cast<unsigned>(s.prefix[at / 8] >> (56 - 8 * (at % 8))) & 0xff;
}

template <typename S>
inline bool PrefixLess(const S& a, const S& b) {
  return a.prefix[0] != b.prefix[0] ? a.prefix[0] < b.prefix[0] : a.prefix[1] < b.prefix[1];
}

// A stable sort of n slots by their prefixes' bytes from `at` on (those
// before it are the same in all of them), most significant byte first.
// The slots are at `from`, `to` is as long a scratch; `intoTo` says where
// they end up. Each byte deals the slots into piles by its value in the
// order they lie, so equal bytes keep their order; a byte the same in every
// slot (in a run of names: their common start, the zeros after their end)
// moves nothing. `varies` marks the bytes that differ anywhere in the run.
// Small piles are sorted by insertion. `counts` holds 256 zeros for each
// level of piles (17), and is left so; only the values a byte takes are
// gone through.
template <typename S>
void RadixSort(S* from, S* to, std::size_t n, std::size_t at, bool intoTo, std::uint32_t varies,
               std::size_t* counts) {
  constexpr std::size_t kSmall = 32;
  if (n <= kSmall) {
    for (std::size_t k = 1; k < n; ++k) {
      const S slot = from[k];
      std::size_t j = k;
      for (; j > 0 && PrefixLess(slot, from[j - 1]); --j) from[j] = from[j - 1];
      from[j] = slot;
    }
    if (intoTo) std::copy(from, from + n, to);
    return;
  }
  std::size_t* const count = counts;
  unsigned lo = 255, hi = 0;  // the values the byte takes lie in [lo, hi]
  for (;; ++at) {
    while (at < 16 && !(varies >> at & 1)) ++at;
    if (at == 16) {  // the prefixes are all the same
      if (intoTo) std::copy(from, from + n, to);
      return;
    }
    lo = 255;
    hi = 0;
    for (std::size_t i = 0; i < n; ++i) {
      const unsigned v = PrefixByte(from[i], at);
      ++count[v];
      lo = std::min(lo, v);
      hi = std::max(hi, v);
    }
    if (lo != hi) break;
    count[lo] = 0;
  }
  // Where each pile goes; the counts are zeros again after.
  std::size_t start[256];
  for (std::size_t b = lo, sum = 0; b <= hi; ++b) {
    start[b] = sum;
    sum += count[b];
    count[b] = 0;
  }
  for (std::size_t i = 0; i < n; ++i) {
    const S slot = from[i];  // read whole before the write, which may look to alias it
    to[start[PrefixByte(slot, at)]++] = slot;
  }
  // start[b] is now where pile b ends.
  for (std::size_t b = lo, begin = 0; b <= hi; begin = start[b], ++b) {
    const std::size_t size = start[b] - begin;
    if (size > 1) {
      RadixSort(to + begin, from + begin, size, at + 1, !intoTo, varies, counts + 256);
    } else if (size == 1 && !intoTo) {
      from[begin] = to[begin];
    }
  }
}

}  // namespace

void ExternalSorter::SizeScratch() {
  // Reserved once for a whole run, like slots_; pages are taken as used.
  if (scratch_.capacity() < capacity_) scratch_.reserve(capacity_);
  scratch_.resize(slots_.size());
}

// The slots are sorted by their prefixes alone, which keeps the sort off
// the entries scattered in the arena; then each stretch of slots whose
// prefixes tie, in the order they came, is put in the order of their keys
// (OrderTies; a run being spilled has it done as its entries are written).
void ExternalSorter::SortPrefixes() {
  const std::size_t n = slots_.size();
  if (n < 2) return;
  // The bytes of the prefixes that differ anywhere: the others are skipped.
  std::uint64_t all[2] = {~std::uint64_t{0}, ~std::uint64_t{0}}, any[2] = {0, 0};
  for (const Slot& s : slots_) {
    all[0] &= s.prefix[0];
    all[1] &= s.prefix[1];
    any[0] |= s.prefix[0];
    any[1] |= s.prefix[1];
  }
  std::uint32_t varies = 0;
  for (std::size_t at = 0; at < 16; ++at) {
    const std::size_t shift = 56 - 8 * (at % 8);
    if (((all[at / 8] ^ any[at / 8]) >> shift & 0xff) != 0) varies |= std::uint32_t{1} << at;
  }
  SizeScratch();
  std::vector<std::size_t> counts(17 * 256, 0);  // a level of piles a byte
  RadixSort(slots_.data(), scratch_.data(), n, 0, false, varies, counts.data());
}

std::size_t ExternalSorter::TiesEnd(std::size_t i) const {
  const Slot& first = slots_[i];
  std::size_t end = i + 1;
  while (end < slots_.size() && slots_[end].prefix[0] == first.prefix[0] &&
         slots_[end].prefix[1] == first.prefix[1])
    ++end;
  return end;
}

// Past the prefix the keys order as their sort keys do, and mostly they
// are equal or differ in a later field.
void ExternalSorter::OrderTies(std::size_t begin, std::size_t end) {
  const auto byRest = [this](const Slot& a, const Slot& b) {
    return CompareKeys(a.entry, b.entry) < 0;
  };
  if (end - begin <= 16) {  // an insertion sort, stable, for the usual few
    for (std::size_t k = begin + 1; k < end; ++k) {
      const Slot slot = slots_[k];
      std::size_t to = k;
      for (; to > begin && byRest(slot, slots_[to - 1]); --to) slots_[to] = slots_[to - 1];
      slots_[to] = slot;
    }
  } else {
    std::stable_sort(slots_.begin() + static_cast<std::ptrdiff_t>(begin),
                     slots_.begin() + static_cast<std::ptrdiff_t>(end), byRest);
  }
}

// The run kept in memory: its ties are ordered in a pass of their own,
// the entries of tied slots fetched a little ahead.
void ExternalSorter::SortRun() {
  SortPrefixes();
  if (keySize_ <= kPrefix) return;  // the prefixes hold the whole sort keys
  const std::size_t n = slots_.size();
  constexpr std::size_t kAhead = 16;
  std::size_t fetched = 1;  // slots below this are looked at for prefetching
  for (std::size_t i = 0; i < n;) {
    for (; fetched < n && fetched < i + kAhead; ++fetched) {
      if (slots_[fetched - 1].prefix[0] == slots_[fetched].prefix[0] &&
          slots_[fetched - 1].prefix[1] == slots_[fetched].prefix[1]) {
        Prefetch(slots_[fetched - 1].entry);
        Prefetch(slots_[fetched].entry);
      }
    }
    const std::size_t end = TiesEnd(i);
    if (end - i > 1) OrderTies(i, end);
    i = end;
  }
}

void ExternalSorter::AppendSpilled(std::uint64_t head, std::uint64_t next, const char* record) {
  // As the slot holds it (the file is this sort's own).
  const std::uint64_t prefix[2] = {head, next};
  writeBuffer_.append(reinterpret_cast<const char*>(prefix), kPrefix);
  writeBuffer_.append(record, recordSize_);
}

Status ExternalSorter::Flush() {
  if (writeBuffer_.empty()) return Status::OK();
  Status s = spill_->WriteAt(spillBytes_, writeBuffer_.data(), writeBuffer_.size());
  spillBytes_ += writeBuffer_.size();
  writeBuffer_.clear();
  return s;
}

Status ExternalSorter::SpillRun() {
  SortPrefixes();
  if (!spill_) {
    Status s = env_->OpenWrite(spillPath_, true, &spill_);
    if (!s.ok()) return s;
    writeBuffer_.reserve(kWriteBuffer);
  }
  Run run;
  run.offset = spillBytes_ + writeBuffer_.size();
  run.count = slots_.size();
  // The entries lie in the order they came: fetch a few slots ahead. Each
  // stretch of tied prefixes is put in key order just before it is written,
  // while its entries are at hand.
  constexpr std::size_t kAhead = 8;
  const std::size_t n = slots_.size();
  for (std::size_t i = 0, tiesEnd = 0; i < n; ++i) {
    if (i + kAhead < n) Prefetch(slots_[i + kAhead].entry);
    if (i == tiesEnd) {
      tiesEnd = TiesEnd(i);
      if (tiesEnd - i > 1 && keySize_ > kPrefix) OrderTies(i, tiesEnd);
    }
    const Slot& slot = slots_[i];
    AppendSpilled(slot.prefix[0], slot.prefix[1], slot.entry);
    if (writeBuffer_.size() + spilledSize_ > kWriteBuffer) {
      Status s = Flush();
      if (!s.ok()) return s;
    }
  }
  runs_.push_back(run);
  slots_.clear();
  inRun_ = 0;
  placeLeft_ = 0;
  return Status::OK();
}

Status ExternalSorter::FinishNow() {
  if (!status_.ok() || finished_) return status_;
  finished_ = true;
  SortRun();
  std::vector<Slot>().swap(scratch_);  // the merge's buffers take its place
  if (runs_.empty()) return status_;
  status_ = Flush();
  // Too many runs to read back side by side: merge the earliest ones into
  // one longer run at the end of the file until few enough are left.
  while (status_.ok() && runs_.size() > kFanIn) status_ = MergeRuns(kFanIn);
  if (!status_.ok()) return status_;
  std::string().swap(writeBuffer_);
  if (background_) status_ = SplitMerge();
  if (!status_.ok()) return status_;
  if (!parts_.empty()) {
    StartPart(&merge_, 0);
  } else {
    AddReaders(&merge_, 0, runs_.size(), ReaderRecords(runs_.size()));
    auto last = std::make_unique<Reader>();
    last->memory = true;
    last->slotEnd = slots_.size();
    merge_.readers.push_back(std::move(last));
  }
  StartTree(merge_);
  if (!merge_.status.ok()) return status_ = merge_.status;
  if (!parts_.empty()) helper_ = std::thread([this] { MergeParts(); });
  return status_;
}

// Buffers of whole records; all of them together take about half the
// budget a run takes.
std::size_t ExternalSorter::ReaderRecords(std::size_t readers) const {
  const std::size_t budget = capacity_ * entrySize_ / 2;
  const std::size_t perRun = std::clamp<std::size_t>(budget / readers, 16 * 1024, 1 << 20);
  return std::max<std::size_t>(1, perRun / spilledSize_);
}

void ExternalSorter::AddReaders(Merge* m, std::size_t first, std::size_t count,
                                std::size_t records) {
  for (std::size_t k = first; k < first + count; ++k) {
    auto r = std::make_unique<Reader>();
    r->offset = runs_[k].offset;
    r->left = runs_[k].count;
    r->buffer.resize(records * spilledSize_);
    m->readers.push_back(std::move(r));
  }
}

Status ExternalSorter::MergeRuns(std::size_t count) {
  AddReaders(&merge_, 0, count, ReaderRecords(count));
  StartTree(merge_);
  Run merged;
  merged.offset = spillBytes_;
  while (const char* record = NextOf(merge_)) {
    const Reader& from = *merge_.readers[merge_.tree[0]];
    AppendSpilled(from.head, from.next, record);
    ++merged.count;
    if (writeBuffer_.size() + spilledSize_ > kWriteBuffer) {
      Status s = Flush();
      if (!s.ok()) return s;
    }
  }
  const Status read = merge_.status;
  merge_ = Merge();
  if (!read.ok()) return read;
  Status s = Flush();
  if (!s.ok()) return s;
  // The merged run takes the place of the runs it holds, keeping the order
  // in which records came for equal keys.
  runs_.erase(runs_.begin(), runs_.begin() + static_cast<std::ptrdiff_t>(count));
  runs_.insert(runs_.begin(), merged);
  return Status::OK();
}

bool ExternalSorter::KeyLess(const char* a, const char* b) const {
  const std::size_t n = std::min(keySize_, kPrefix);
  char pa[kPrefix] = {}, pb[kPrefix] = {};
  order_.WriteSortKeyPrefix(a, pa, n);
  order_.WriteSortKeyPrefix(b, pb, n);
  const int c = std::memcmp(pa, pb, kPrefix);
  if (c != 0 || keySize_ <= kPrefix) return c < 0;
  return CompareKeys(a, b) < 0;
}

// Which key bytes order by their value alone (KeyOrder::OrdersByValue).
void ExternalSorter::LearnByteOrder() {
  bytewise_.assign(order_.length(), 0);
  ascending_ = !order_.descending();
  std::size_t at = 0;
  for (const KeyField& f : order_.Fields()) {
    std::fill_n(bytewise_.begin() + static_cast<std::ptrdiff_t>(at), f.size,
                order_.OrdersByValue(f));
    at += f.size;
  }
}

// Keys whose first difference is in a byte that orders by its value are
// ordered by that byte, found eight bytes at a time; only a difference in
// letters takes the order's own comparison. Prefixes that tie mostly hold
// the same value, the keys differing in a later field (a record's key).
int ExternalSorter::CompareKeys(const char* a, const char* b) const {
  const std::size_t length = bytewise_.size();
  const auto* x = reinterpret_cast<const unsigned char*>(a);
  const auto* y = reinterpret_cast<const unsigned char*>(b);
  std::size_t d = length;  // the first byte that differs
  for (std::size_t i = 0; d == length && i < length; i += 8) {
    // The last word ends with the key (overlapping the one before).
    const std::size_t from = i + 8 <= length ? i : length >= 8 ? length - 8 : i;
    if (from + 8 <= length) {
      const std::uint64_t diff = GetBe64(x + from) ^ GetBe64(y + from);
      if (diff != 0) d = from + static_cast<std::size_t>(__builtin_clzll(diff)) / 8;
    } else {
      for (std::size_t k = from; k < length; ++k)
        if (x[k] != y[k]) {
          d = k;
          break;
        }
    }
  }
  if (d == length) return 0;
  if (!bytewise_[d])
    return order_.Compare(std::string_view(a, length), std::string_view(b, length));
  return (x[d] < y[d]) == ascending_ ? -1 : 1;
}

Status ExternalSorter::CountBelow(std::size_t run, const char* key, std::uint64_t* below) {
  std::uint64_t lo = 0, hi = run < runs_.size() ? runs_[run].count : slots_.size();
  std::string record(recordSize_, '\0');
  while (lo < hi) {
    const std::uint64_t mid = lo + (hi - lo) / 2;
    const char* at = nullptr;
    if (run < runs_.size()) {
      Status s = spill_->ReadAt(runs_[run].offset + mid * spilledSize_ + kPrefix, recordSize_,
                                record.data());
      if (!s.ok()) return s;
      at = record.data();
    } else {
      at = slots_[static_cast<std::size_t>(mid)].entry;
    }
    if (KeyLess(at, key)) {
      lo = mid + 1;
    } else {
      hi = mid;
    }
  }
  *below = lo;
  return Status::OK();
}

// Each key a part ends at is a record at that place in one of the runs (a
// few of them when there are many): the one whose count of lower records in
// all runs is nearest the part's share. Records of equal keys all go to the
// same part, so each part merges as the whole would, and the parts one
// after the other are the same order.
Status ExternalSorter::SplitMerge() {
  const std::size_t runs = runs_.size() + 1;  // the one in memory last
  const std::uint64_t total = added_;
  if (total < kSplitAt) return Status::OK();
  const auto countOf = [&](std::size_t run) -> std::uint64_t {
    return run < runs_.size() ? runs_[run].count : slots_.size();
  };
  std::vector<std::uint64_t> cut(runs), best, last(runs, 0);
  std::vector<Part> parts;
  std::uint64_t lastBelow = 0;
  std::string key(recordSize_, '\0');
  const std::size_t step = std::max<std::size_t>(1, runs / kSplitCandidates);
  for (std::size_t j = 1; j <= kParts; ++j) {
    std::uint64_t bestBelow = total;
    best.clear();
    for (std::size_t c = 0; j < kParts && c < runs; c += step) {
      const std::uint64_t place = countOf(c) * j / kParts;
      if (place >= countOf(c)) continue;
      if (c < runs_.size()) {
        Status s = spill_->ReadAt(runs_[c].offset + place * spilledSize_ + kPrefix, recordSize_,
                                  key.data());
        if (!s.ok()) return s;
      } else {
        std::memcpy(key.data(), slots_[static_cast<std::size_t>(place)].entry, recordSize_);
      }
      std::uint64_t below = 0;
      for (std::size_t r = 0; r < runs; ++r) {
        Status s = CountBelow(r, key.data(), &cut[r]);
        if (!s.ok()) return s;
        below += cut[r];
      }
      const std::uint64_t share = total * j / kParts;
      const auto distance = [share](std::uint64_t n) { return n > share ? n - share : share - n; };
      if (below >= lastBelow && (best.empty() || distance(below) < distance(bestBelow))) {
        bestBelow = below;
        best = cut;
      }
    }
    if (j == kParts) {  // the last part ends with the runs
      for (std::size_t r = 0; r < runs; ++r) best.push_back(countOf(r));
      bestBelow = total;
    }
    if (best.empty() || bestBelow == lastBelow) continue;  // no part, or an empty one
    parts.push_back({last, best});
    last = best;
    lastBelow = bestBelow;
  }
  if (parts.size() < 2) return Status::OK();  // one key throughout, or nearly
  parts_ = std::move(parts);
  part_ = 0;
  below_ = 1;                  // the first part is this thread's,
  above_ = parts_.size() - 1;  // the last the second thread's
  helperAt_ = spillBytes_;
  return Status::OK();
}

void ExternalSorter::StartPart(Merge* m, std::size_t part) {
  // Two merges read side by side, each through half the buffers one would.
  const std::size_t records = std::max<std::size_t>(1, ReaderRecords(runs_.size()) / 2);
  const Part& p = parts_[part];
  for (std::size_t r = 0; r < p.from.size(); ++r) {
    auto reader = std::make_unique<Reader>();
    if (r < runs_.size()) {
      reader->offset = runs_[r].offset + p.from[r] * spilledSize_;
      reader->left = p.to[r] - p.from[r];
      reader->buffer.resize(records * spilledSize_);
    } else {
      reader->memory = true;
      reader->slot = static_cast<std::size_t>(p.from[r]);
      reader->slotEnd = static_cast<std::size_t>(p.to[r]);
    }
    m->readers.push_back(std::move(reader));
  }
}

void ExternalSorter::MergeParts() {
  std::string buffer;
  buffer.reserve(kWriteBuffer);
  std::uint64_t at = helperAt_;
  std::size_t part = parts_.size() - 1;
  for (;;) {
    Merge m;
    StartPart(&m, part);
    StartTree(m);
    const std::uint64_t start = at;
    std::uint64_t count = 0;
    Status s;
    while (s.ok()) {
      if (stopHelper_.load(std::memory_order_relaxed)) {
        s = Status(DBIERR_INVALIDPARAM, "the merge was stopped");
        break;
      }
      const char* record = NextOf(m);
      if (record) {
        buffer.append(record, recordSize_);
        ++count;
      }
      if (!buffer.empty() && (!record || buffer.size() + recordSize_ > kWriteBuffer)) {
        s = spill_->WriteAt(at, buffer.data(), buffer.size());
        at += buffer.size();
        buffer.clear();
      }
      if (!record) break;
    }
    if (s.ok()) s = m.status;
    bool more = false;
    {
      std::lock_guard lock(partsMutex_);
      if (s.ok()) {
        parts_[part].at = start;
        parts_[part].count = count;
        parts_[part].done = true;
        more = above_ > below_;  // the next one down is nobody's yet
        if (more) part = --above_;
      } else {
        helperStatus_ = s;
      }
    }
    partDone_.notify_all();
    if (!more) return;
  }
}

void ExternalSorter::StopHelper() {
  if (!helper_.joinable()) return;
  stopHelper_ = true;
  helper_.join();
}

bool ExternalSorter::NextPart() {
  if (part_ + 1 >= parts_.size()) return false;
  const std::size_t part = ++part_;
  merge_ = Merge();
  std::unique_lock lock(partsMutex_);
  if (part < above_) {  // not the second thread's: merged here
    below_ = part + 1;
    lock.unlock();
    StartPart(&merge_, part);
  } else {
    partDone_.wait(lock, [&] { return parts_[part].done || !helperStatus_.ok(); });
    if (!parts_[part].done) {
      status_ = helperStatus_;
      return false;
    }
    auto r = std::make_unique<Reader>();
    r->offset = parts_[part].at;
    r->left = parts_[part].count;
    r->prefixed = false;
    r->buffer.resize(std::max<std::size_t>(1, kWriteBuffer / recordSize_) * recordSize_);
    merge_.readers.push_back(std::move(r));
  }
  StartTree(merge_);
  return true;
}

// A tournament of the readers' first records: tree[0] holds the winner,
// each inner node the loser of its match (leaves k..2k-1 stand for the k
// readers, node n plays its children 2n and 2n+1). A record out costs one
// match per level on the winner's path.
void ExternalSorter::StartTree(Merge& m) {
  const std::size_t k = m.readers.size();
  for (std::size_t i = 0; i < k; ++i) m.readers[i]->done = !Advance(m, i);
  m.tree.assign(k, 0);
  std::vector<std::size_t> winners(2 * k);
  for (std::size_t i = 0; i < k; ++i) winners[k + i] = i;
  for (std::size_t node = k - 1; node >= 1; --node) {
    const std::size_t a = winners[2 * node], b = winners[2 * node + 1];
    const bool first = Less(m, a, b);
    winners[node] = first ? a : b;
    m.tree[node] = first ? b : a;
  }
  m.tree[0] = k > 1 ? winners[1] : 0;
}

// The winner moved on (or is done): it plays its way up again.
void ExternalSorter::Replay(Merge& m, std::size_t reader) {
  std::size_t winner = reader;
  for (std::size_t node = (reader + m.readers.size()) / 2; node >= 1; node /= 2)
    if (Less(m, m.tree[node], winner)) std::swap(m.tree[node], winner);
  m.tree[0] = winner;
}

bool ExternalSorter::Advance(Merge& m, std::size_t index) {
  Reader& r = *m.readers[index];
  if (r.memory) {
    if (r.slot >= r.slotEnd) return false;
    if (r.slot + 8 < r.slotEnd) Prefetch(slots_[r.slot + 8].entry);
    r.record = slots_[r.slot].entry;
    r.head = slots_[r.slot].prefix[0];
    r.next = slots_[r.slot].prefix[1];
    ++r.slot;
    return true;
  }
  const std::size_t stride = r.prefixed ? spilledSize_ : recordSize_;
  if (r.at == r.have) {
    if (r.left == 0) return false;
    const std::size_t take = std::min<std::uint64_t>(r.left, r.buffer.size() / stride);
    const Status s = spill_->ReadAt(r.offset, take * stride, r.buffer.data());
    if (!s.ok()) {
      if (m.status.ok()) m.status = s;
      return false;
    }
    r.offset += take * stride;
    r.left -= take;
    r.at = 0;
    r.have = take;
  }
  const char* at = r.buffer.data() + r.at * stride;
  ++r.at;
  r.record = r.prefixed ? at + kPrefix : at;
  // The first sixteen bytes of the sort key settle most comparisons; when
  // they tie, the keys themselves are compared (Less). A spilled run keeps
  // them from its sort.
  if (r.prefixed) {
    std::memcpy(&r.head, at, 8);
    std::memcpy(&r.next, at + 8, 8);
    return true;
  }
  if (m.readers.size() == 1) return true;  // nothing to compare with
  char prefix[kPrefix] = {};
  order_.WriteSortKeyPrefix(r.record, prefix, std::min(keySize_, kPrefix));
  r.head = GetBe64(prefix);
  r.next = GetBe64(prefix + 8);
  return true;
}

bool ExternalSorter::Less(const Merge& m, std::size_t a, std::size_t b) {
  const Reader& ra = *m.readers[a];
  const Reader& rb = *m.readers[b];
  if (ra.done || rb.done) return rb.done && (!ra.done || a < b);  // done: past every record
  if (ra.head != rb.head) return ra.head < rb.head;
  if (ra.next != rb.next) return ra.next < rb.next;
  // Past the prefixes the keys order as their sort keys do; mostly they
  // are equal (a value repeated), which the first look at their bytes says.
  const int c = keySize_ > kPrefix ? CompareKeys(ra.record, rb.record) : 0;
  return c != 0 ? c < 0 : a < b;  // an earlier run holds earlier records
}

// The reader whose record went out last is still the winner: it moves on
// and plays again.
const char* ExternalSorter::NextOf(Merge& m) {
  if (m.started) {
    const std::size_t top = m.tree[0];
    m.readers[top]->done = !Advance(m, top);
    Replay(m, top);
  }
  m.started = true;
  if (!m.status.ok() || m.readers[m.tree[0]]->done) return nullptr;
  return m.readers[m.tree[0]]->record;
}

const char* ExternalSorter::Next() {
  if (!background_) return NextNow();
  if (at_ + recordSize_ <= merged_.size()) {
    const char* record = merged_.data() + at_;
    at_ += recordSize_;
    return record;
  }
  if (drained_ || !worker_.joinable()) return nullptr;  // every batch taken, or the sort failed
  std::unique_lock lock(mutex_);
  if (!sorted_ || failed_.load()) return nullptr;  // not finished
  ready_.wait(lock, [this] { return !out_.empty(); });
  if (merged_.capacity() > 0 && outSpare_.size() < queued_) outSpare_.push_back(std::move(merged_));
  merged_ = std::move(out_.front());
  out_.pop_front();
  drained_ = outEnded_ && out_.empty();
  lock.unlock();
  room_.notify_one();
  at_ = 0;
  return Next();
}

const char* ExternalSorter::NextNow() {
  if (!status_.ok() || !finished_) return nullptr;
  if (merge_.readers.empty()) {  // everything fitted one run
    if (next_ >= slots_.size()) return nullptr;
    if (next_ + 8 < slots_.size()) Prefetch(slots_[next_ + 8].entry);
    return slots_[next_++].entry;
  }
  for (;;) {
    if (const char* record = NextOf(merge_)) return record;
    if (!merge_.status.ok()) status_ = merge_.status;
    // This part is out: the next one follows.
    if (!status_.ok() || !NextPart()) return nullptr;
  }
}

}  // namespace engine
