#include "RestructureCopy.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "DataFileHeader.h"
#include "FieldCodec.h"
#include "FieldConvert.h"
#include "Heartbeat.h"
#include "SecondaryIndex.h"

namespace engine {

namespace {

constexpr std::uint32_t kProgressEvery = 4096;
constexpr std::uint32_t kBeatEvery = 256;  // records between looks at the clock

KeyOrder PrimaryOrder(const DataFileHeader& h) {
  std::vector<KeyField> keys;
  for (int k = 0; k < h.key_fields; ++k)
    keys.push_back(KeyFieldOf(h.fields[static_cast<std::size_t>(k)]));
  return KeyOrder(keys, h.sort_order);
}

}  // namespace

RecordCopier::RecordCopier(const ParadoxTable& source, RestructurePlan* plan,
                           const DataFileHeader& target)
    : source_(source), plan_(plan), target_(target), record_(target.record_size, '\0') {
  for (std::size_t i = 0; i < target.fields.size(); ++i) {
    const int from = plan->sourceOf[i];
    const FieldDesc& to = target.fields[i];
    bool same = from >= 0 && !plan->renumber[i] && !IsBlobType(to.type);
    if (same) {
      const FieldDesc& f = source.Fields()[static_cast<std::size_t>(from)];
      same = f.type == to.type && f.size == to.size && f.decimals == to.decimals;
    }
    raw_.push_back(same);
  }
  key_order_ = PrimaryOrder(target);
  for (int k = 0; k < target.key_fields; ++k)
    key_length_ += static_cast<std::size_t>(target.fields[static_cast<std::size_t>(k)].size);
  last_key_.assign(key_length_, '\0');
  per_block_ = static_cast<std::uint32_t>(target.RecordsPerBlock());
  in_block_ = per_block_;  // the first record starts block 1
  // A pack, or a restructure that keeps the layout: records go across whole.
  whole_ = source.Header().record_size == target.record_size &&
           source.Fields().size() == target.fields.size();
  for (std::size_t i = 0; whole_ && i < target.fields.size(); ++i)
    whole_ = raw_[i] && plan->sourceOf[i] == static_cast<int>(i) &&
             source.Fields()[i].offset == target.fields[i].offset;
  for (std::size_t i = 0; i < target.fields.size(); ++i)
    renumbers_ = renumbers_ || plan->renumber[i];
  // Fields added or dropped, the others unchanged (the usual restructure):
  // every record is a copy of the blank new record with the stored bytes of
  // the kept fields laid over it, a piece per run of neighbouring fields.
  direct_ = !whole_;
  blank_.assign(target.record_size, '\0');
  for (std::size_t i = 0; i < target.fields.size(); ++i) {
    const int from = plan->sourceOf[i];
    const FieldDesc& to = target.fields[i];
    if (raw_[i]) {
      const auto at =
          static_cast<std::size_t>(source.Fields()[static_cast<std::size_t>(from)].offset);
      const auto size = static_cast<std::size_t>(to.size);
      const auto offset = static_cast<std::size_t>(to.offset);
      if (!runs_.empty() && runs_.back().from + runs_.back().size == at &&
          runs_.back().to + runs_.back().size == offset) {
        runs_.back().size += size;
      } else {
        runs_.push_back({at, offset, size});
      }
      continue;
    }
    direct_ = direct_ && from < 0 && !plan->renumber[i];
    if (from < 0 && !IsBlobType(to.type))
      EncodeField(to, FieldValue{}, reinterpret_cast<std::uint8_t*>(blank_.data()));
  }
  stored_ = whole_ || direct_;
  for (const FieldDesc& f : target.fields) stored_ = stored_ && !IsBlobType(f.type);
}

Status RecordCopier::Convert(const TableCursor& cursor, std::size_t fields,
                             std::vector<FieldValue>* out) {
  out->resize(target_.fields.size());
  lossy_ = false;
  if (whole_ || direct_) return Status::OK();  // no value to convert
  for (std::size_t i = 0; i < out->size(); ++i) {
    const int from = i < fields ? plan_->sourceOf[i] : -1;
    if (raw_[i]) continue;  // never read: copied as stored
    if (from < 0) {
      (*out)[i] = FieldValue{};
      continue;
    }
    const FieldDesc& src = source_.Fields()[static_cast<std::size_t>(from)];
    FieldValue value = cursor.Value(from);
    if (IsBlobType(src.type) && !value.null) {
      Status s = source_.ReadBlob(from, value, &value.s);
      if (!s.ok()) return s.WithContext(src.name);
    }
    ConvertLoss loss = ConvertLoss::None;
    ConvertValue(src, target_.fields[i], value, &(*out)[i], &loss);
    if (loss == ConvertLoss::Blanked) ++blanked_;
    if (loss == ConvertLoss::Cut) ++cut_;
    if (loss == ConvertLoss::Rounded) ++rounded_;
    if (loss == ConvertLoss::Dropped) ++dropped_;
    lossy_ = lossy_ || loss != ConvertLoss::None;
  }
  return Status::OK();
}

void RecordCopier::EncodeInto(const TableCursor& cursor, const std::vector<FieldValue>& values,
                              std::size_t fields) {
  if (whole_ || direct_) {
    const char* laid = LayOut(cursor);
    if (laid != record_.data()) std::memcpy(record_.data(), laid, record_.size());
    return;
  }
  std::fill(record_.begin(), record_.end(), '\0');
  auto* rec = reinterpret_cast<std::uint8_t*>(record_.data());
  for (std::size_t i = 0; i < fields; ++i) {
    const FieldDesc& f = target_.fields[i];
    if (raw_[i]) {
      const FieldDesc& src = source_.Fields()[static_cast<std::size_t>(plan_->sourceOf[i])];
      std::memcpy(rec + f.offset, cursor.Record() + src.offset, static_cast<std::size_t>(f.size));
    } else if (!IsBlobType(f.type)) {
      EncodeField(f, values[i], rec);
    }
  }
}

std::size_t RecordCopier::KeyLength() const { return key_length_; }

// Reads the new keys of every record and sorts them with their record
// numbers; records whose key repeats an earlier one are violations.
Status RecordCopier::FindOrder(const CopyTargets& targets, std::size_t memory) {
  const std::size_t length = KeyLength();
  order_ = std::make_unique<ExternalSorter>(targets.env, targets.spillDir + "/order.sort~",
                                            KeyOrder(key_order_.Fields(), target_.sort_order),
                                            length + 4, memory);
  order_->SortInBackground();
  const std::uint32_t blanked = blanked_, cut = cut_, rounded = rounded_, dropped = dropped_;
  TableCursor cursor = source_.NewCursor();
  std::vector<FieldValue> values;
  std::string entry;
  while (cursor.Next()) {
    Status s = Convert(cursor, static_cast<std::size_t>(target_.key_fields), &values);
    if (!s.ok()) return s;
    EncodeInto(cursor, values, static_cast<std::size_t>(target_.key_fields));
    // The key, then the record number.
    entry.assign(record_.data(), length);
    const std::uint32_t number = cursor.RecordNumber();
    entry.append(reinterpret_cast<const char*>(&number), 4);
    s = order_->Add(entry.data());
    if (!s.ok()) return s;
    if (number % kBeatEvery == 0) Heartbeat();
  }
  if (!cursor.status().ok()) return cursor.status();
  blanked_ = blanked;  // counted again when the records are written
  cut_ = cut;
  rounded_ = rounded;
  dropped_ = dropped;
  return order_->Finish();
}

const char* RecordCopier::LayOut(const TableCursor& cursor) {
  const char* source = reinterpret_cast<const char*>(cursor.Record());
  if (whole_) return source;
  std::memcpy(record_.data(), blank_.data(), record_.size());
  for (const Piece& r : runs_) std::memcpy(record_.data() + r.to, source + r.from, r.size);
  return record_.data();
}

Status RecordCopier::CollectIndexes(const char* record) {
  if (!plan_->Keyed() && plan_->secondaries.empty()) return Status::OK();
  // The block the record goes to, counted along (a division per record
  // showed in the profile of a copy).
  if (in_block_ == per_block_) {
    in_block_ = 0;
    ++block_;
  }
  const bool starts = in_block_++ == 0;
  const std::uint16_t block = block_;
  if (plan_->Keyed()) {
    if (starts) leaves_.push_back({std::string(record, KeyLength()), block, 0});
    ++leaves_.back().count;
  }
  for (SecondaryPlan& p : plan_->secondaries) {
    if (p.deferred || !p.records) continue;
    MakeIndexRecord(p, record, block, p.records->Place());
    Status s = p.records->AddPlaced();
    if (!s.ok()) return s;
  }
  return Status::OK();
}

Status RecordCopier::WriteOriginal(const TableCursor& cursor, TableWriter* out) {
  const auto& fields = source_.Fields();
  std::string record(reinterpret_cast<const char*>(cursor.Record()), source_.Header().record_size);
  std::vector<FieldValue> values(fields.size());
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (!IsBlobType(fields[i].type)) continue;
    FieldValue v = cursor.Value(static_cast<int>(i));
    if (!v.null) {
      Status s = source_.ReadBlob(static_cast<int>(i), v, &v.s);
      if (!s.ok()) return s.WithContext(fields[i].name);
      v.blob = BlobRef{};  // stored anew in the set-aside table's blob file
    }
    values[i] = std::move(v);
  }
  return out->AppendEncoded(record, values);
}

Status RecordCopier::WriteOne(const TableCursor& cursor, bool violation, bool streaming,
                              bool* unordered, const CopyTargets& targets,
                              RestructureReport* report) {
  Status s;
  const char* record = nullptr;
  if (stored_) {
    record = LayOut(cursor);
  } else {
    s = Convert(cursor, target_.fields.size(), &values_);
    if (!s.ok()) return s;
    for (std::size_t i = 0; renumbers_ && i < values_.size(); ++i) {
      if (plan_->renumber[i] && !violation) values_[i] = FieldValue::Int(++counter_);
    }
    EncodeInto(cursor, values_, values_.size());
    record = record_.data();
  }
  if (streaming && written_ > 0) {
    const std::string_view key(record, KeyLength());
    const int order = key_order_.Compare(last_key_, key);
    if (order > 0) {
      *unordered = true;
      return Status::OK();
    }
    violation = order == 0;
  }
  if (violation) {
    // Kept as the source had it, so that nothing of it is lost.
    TableWriter* keyviol = nullptr;
    s = targets.keyViolations(&keyviol);
    if (s.ok()) s = WriteOriginal(cursor, keyviol);
    ++report->keyViolations;
    return s;
  }
  if (lossy_) {
    TableWriter* problems = nullptr;
    s = targets.problems(&problems);
    if (s.ok()) s = WriteOriginal(cursor, problems);
    if (!s.ok()) return s;
    ++report->problems;
  }
  if (plan_->Keyed()) std::memcpy(last_key_.data(), record, KeyLength());
  s = CollectIndexes(record);
  if (s.ok())
    s = stored_ ? targets.table->AppendStored(record)
                : targets.table->AppendEncoded(record_, values_);
  ++written_;
  return s;
}

Status RecordCopier::Run(const CopyTargets& targets, const RestructureOptions& options, bool sorted,
                         bool* unordered, RestructureReport* report) {
  *unordered = false;
  std::size_t held = 0, sorts = 0;
  const bool findOrder = options.copyRecords && plan_->Keyed() && sorted;
  for (SecondaryPlan& p : plan_->secondaries) {
    // The first index, and more while their records stay few, come along
    // with the copy; the others are read back one by one afterwards.
    held += source_.RecordCount();
    p.deferred = &p != &plan_->secondaries.front() && held > options.indexRecordsHeld;
    p.records.reset();
    p.offsets.clear();
    p.sizes.clear();
    for (const auto* list : {&p.def.fields, &p.def.keyFields})
      for (const IndexedField& f : *list) {
        p.offsets.push_back(target_.fields[f.number - 1u].offset);
        p.sizes.push_back(f.key.size);
      }
    if (options.copyRecords && !p.deferred) ++sorts;
  }
  // The sorts gathering at the same time share the memory.
  const std::size_t memory = targets.sortMemory / std::max<std::size_t>(1, sorts + findOrder);
  std::size_t number = 0;
  for (SecondaryPlan& p : plan_->secondaries) {
    ++number;
    if (options.copyRecords && !p.deferred) {
      p.records = NewIndexSorter(p, target_, targets.env, targets.spillDir, number, memory);
      p.records->SortInBackground();  // sorted beside the copy
    }
  }
  const std::uint32_t total = source_.RecordCount();
  Status s;
  if (findOrder) s = FindOrder(targets, memory);
  const bool streaming = plan_->Keyed() && !sorted;
  const std::size_t length = KeyLength();
  std::string previous;  // sorted copy: the key taken last
  TableCursor cursor = source_.NewCursor();
  std::uint32_t done = 0;
  while (s.ok() && options.copyRecords && done < total && !*unordered) {
    bool violation = false;
    if (findOrder) {
      const char* next = order_->Next();
      if (!next) {
        s = order_->status().ok() ? Status::Corruption("fewer records than the header counts")
                                  : order_->status();
        break;
      }
      std::uint32_t ordinal = 0;
      std::memcpy(&ordinal, next + length, 4);
      violation = done > 0 && key_order_.Compare(previous, std::string_view(next, length)) == 0;
      previous.assign(next, length);
      s = cursor.Seek(ordinal);
    }
    if (!s.ok()) break;
    if (!cursor.Next()) {
      s = cursor.status().ok() ? Status::Corruption("fewer records than the header counts")
                               : cursor.status();
      break;
    }
    s = WriteOne(cursor, violation, streaming, unordered, targets, report);
    if (++done % kBeatEvery == 0) Heartbeat();
    if (done % kProgressEvery == 0 && options.progress) options.progress(done, total);
  }
  order_.reset();
  if (s.ok() && options.progress && !*unordered) options.progress(done, total);
  report->records = written_;
  report->blanked = blanked_;
  report->cut = cut_;
  report->rounded = rounded_;
  report->dropped = dropped_;
  return s;
}

void MakeIndexRecord(const SecondaryPlan& p, const char* dbRecord, std::uint16_t block,
                     std::string* out) {
  // Once per record of the copy: plain copies into a buffer of the
  // record's size (sized once).
  std::size_t length = 2;
  for (const std::size_t size : p.sizes) length += size;
  out->resize(length);
  MakeIndexRecord(p, dbRecord, block, out->data());
}

void MakeIndexRecord(const SecondaryPlan& p, const char* dbRecord, std::uint16_t block,
                     char* out) {
  for (std::size_t i = 0; i < p.sizes.size(); ++i) {
    std::memcpy(out, dbRecord + p.offsets[i], p.sizes[i]);
    out += p.sizes[i];
  }
  PutIndexShort(out, block);
}

std::unique_ptr<ExternalSorter> NewIndexSorter(const SecondaryPlan& p, const DataFileHeader& table,
                                               Env* env, const std::string& spillDir,
                                               std::size_t number, std::size_t memory) {
  std::size_t size = 2;
  for (const auto* list : {&p.def.fields, &p.def.keyFields})
    for (const IndexedField& f : *list) size += f.key.size;
  return std::make_unique<ExternalSorter>(
      env, spillDir + "/index" + std::to_string(number) + ".sort~",
      SecondaryIndex::OrderOf(p.def, table.sort_order), size, memory);
}

}  // namespace engine
