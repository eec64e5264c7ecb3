#include "TableWriter.h"

#include <strings.h>

#include <algorithm>
#include <cstring>

#include "BlobFile.h"
#include "ByteOrder.h"
#include "DataBlock.h"
#include "DataFileHeader.h"
#include "FieldCodec.h"
#include "ParadoxCrypt.h"
#include "ParadoxTable.h"
#include "TableFiles.h"

namespace engine {

namespace {

Status Invalid(const std::string& what) { return Status(DBIERR_INVALIDPARAM, what); }

std::uint8_t ChooseBlockCode(const TableDefinition& def, std::size_t record_size) {
  int kb = def.block_size_kb;
  if (kb == 0) {
    kb = 4;  // room for a useful number of records, as the engine's default
    while (kb < 32 && static_cast<std::size_t>(kb) * 1024 < record_size * 4 + 6) kb *= 2;
  }
  return static_cast<std::uint8_t>(kb);
}

DataFileHeader NewHeader(const TableDefinition& def) {
  DataFileHeader h;
  if (def.source) {
    h.raw = def.source->raw.substr(0, def.source->Extended() ? DataFileHeader::kExtendedLength
                                                            : DataFileHeader::kCommonLength);
    h.sort_order = def.source->sort_order;
    h.sort_order_id = def.source->sort_order_id;
    // A header that names no code page (0) keeps saying so; a 3.x header
    // has no room for one and takes the definition's.
    h.code_page = def.source->code_page || def.source->Extended() ? def.source->code_page
                                                                   : def.code_page;
    // The source's level stays unless a field needs a later one: the
    // engine of that level may refuse a table of a level it does not know.
    const std::uint8_t lowest = DataFileHeader::LowestVersionFor(def.fields);
    h.version_id = std::max(def.source->version_id, lowest);
    h.auto_inc = def.source->auto_inc;
  } else {
    h.sort_order = 0x62;  // "ANSIINTL", the engine's default for code page 1252
    h.sort_order_id = "ANSIINTL";
    h.code_page = def.code_page;
    h.version_id = 12;
  }
  // A 3.x table raised to a later level names its sort order: 0 is "ascii".
  if (h.Extended() && h.sort_order_id.empty()) h.sort_order_id = "ascii";
  h.fields = def.fields;
  h.ComputeLayout();
  h.file_type = def.key_fields > 0 ? 0 : 2;
  h.key_fields = static_cast<std::uint16_t>(def.key_fields);
  h.block_size_code = ChooseBlockCode(def, h.record_size);
  h.key = def.password.empty() ? def.key : PasswordKey(def.password);
  // The engine trusts an index only when the header was updated at least
  // once after creation.
  h.change_count1 = 2;
  // The .VAL repeats the second count; a table derived from another keeps
  // the source's so the source's .VAL stays valid for it.
  h.change_count2 = def.source ? def.source->change_count2 : 1;
  h.header_size = h.RequiredHeaderSize();
  return h;
}

}  // namespace

Status ValidateDefinition(const TableDefinition& def) {
  if (def.fields.empty() || def.fields.size() > 255)
    return Invalid("a table needs 1 to 255 fields");
  std::size_t record = 0;
  for (std::size_t i = 0; i < def.fields.size(); ++i) {
    const FieldDesc& f = def.fields[i];
    if (f.name.empty() || f.name.size() > 25)
      return Invalid("field name '" + f.name + "' must have 1 to 25 characters");
    for (std::size_t j = 0; j < i; ++j) {
      if (::strcasecmp(def.fields[j].name.c_str(), f.name.c_str()) == 0)
        return Invalid("duplicate field name " + f.name);
    }
    const int size = FixedSize(f.type) ? FixedSize(f.type) : f.size;
    if (!IsValidFieldSize(f.type, size)) {
      return Invalid("field " + f.name + " has an invalid size " + std::to_string(f.size));
    }
    if (f.type == FieldType::Bcd && (f.decimals < 0 || f.decimals > 32))
      return Invalid("field " + f.name + ": decimals 0..32");
    if (f.type == FieldType::Memo && f.size < 11)
      return Invalid("memo field " + f.name + " needs a leader of at least 1");
    record += static_cast<std::size_t>(size);
  }
  if (def.key_fields < 0 || def.key_fields > static_cast<int>(def.fields.size()))
    return Invalid("key field count out of range");
  if (record + 6 > 32 * 1024)
    return Invalid("records of " + std::to_string(record) + " bytes do not fit a block");
  if (def.block_size_kb != 0 && (def.block_size_kb < 1 || def.block_size_kb > 32 ||
                                 static_cast<std::size_t>(def.block_size_kb) * 1024 < record + 6)) {
    return Invalid("block size does not fit the record");
  }
  return Status::OK();
}

namespace {

// The empty table's files at these paths; the data file synced when
// `sync_db`. The blob file is always synced: a writer that stores no blob
// never opens it again.
Status WriteEmptyTable(Env* env, const DataFileHeader& h, bool blobs, const std::string& db_path,
                       const std::string& mb_path, bool sync_db) {
  std::unique_ptr<RandomFile> file;
  Status s = env->OpenWrite(db_path, true, &file);
  const std::string bytes = h.EncodeTo();
  if (s.ok()) s = file->WriteAt(0, bytes.data(), bytes.size());
  if (s.ok() && sync_db) s = file->Sync();
  file.reset();
  if (s.ok() && blobs) {
    std::unique_ptr<BlobWriter> mb;
    s = BlobWriter::Create(env, mb_path, h.key, &mb);
    if (s.ok()) s = mb->Sync();
  }
  return s;
}

Status NewTableHeader(const std::string& db_path, const TableDefinition& def, DataFileHeader* h,
                      bool* blobs) {
  Status s = ValidateDefinition(def);
  if (!s.ok()) return s.WithContext(db_path);
  *h = NewHeader(def);
  h->table_name = db_path.substr(db_path.find_last_of('/') + 1);
  *blobs = false;
  for (const FieldDesc& f : h->fields) *blobs = *blobs || IsBlobType(f.type);
  return s;
}

Status RemoveStaleCompanions(Env* env, const std::string& db_path) {
  for (const std::string& stale : StaleCompanions(db_path)) {
    Status s = env->Remove(stale);
    if (!s.ok()) return s;
  }
  return Status::OK();
}

}  // namespace

Status CreateTable(Env* env, const std::string& db_path, const TableDefinition& def) {
  DataFileHeader h;
  bool blobs = false;
  // A new table beside one whose name differs only in case would take over
  // that table's companions.
  Status s = RefuseCaseTwins(db_path);
  if (s.ok()) s = NewTableHeader(db_path, def, &h, &blobs);
  if (!s.ok()) return s;
  // The new files are written and synced beside the old ones first, so a
  // failure before the renames leaves the old table whole.
  const std::string db_temp = TempPathFor(db_path), mb_path = CompanionPath(db_path, ".MB");
  const std::string mb_temp = TempPathFor(mb_path);
  s = WriteEmptyTable(env, h, blobs, db_temp, mb_temp, true);
  if (s.ok()) s = RemoveStaleCompanions(env, db_path);
  if (s.ok() && blobs) s = env->Rename(mb_temp, mb_path);
  if (s.ok()) return CommitReplacement(env, db_temp, db_path);
  env->Remove(db_temp);
  env->Remove(mb_temp);
  return s;
}

Status CreateStagedTable(Env* env, const std::string& db_path, const TableDefinition& def) {
  DataFileHeader h;
  bool blobs = false;
  Status s = NewTableHeader(db_path, def, &h, &blobs);
  if (s.ok()) s = RemoveStaleCompanions(env, db_path);
  if (s.ok()) s = WriteEmptyTable(env, h, blobs, db_path, CompanionPath(db_path, ".MB"), false);
  return s;
}

TableWriter::TableWriter() : header_(std::make_unique<DataFileHeader>()) {}

Status EncodeTableFile(const DataFileHeader& like,
                       const std::vector<std::vector<FieldValue>>& records, std::string* out) {
  DataFileHeader h = like;
  h.ComputeLayout();
  h.header_size = std::max(h.header_size, h.RequiredHeaderSize());
  const std::size_t per_block = static_cast<std::size_t>(h.RecordsPerBlock());
  if (per_block == 0) return Invalid("records do not fit a block");
  const std::size_t blocks = (records.size() + per_block - 1) / per_block;
  if (blocks > 0xFFFF) return Status(DBIERR_TABLEFULL, "too many records for one table");
  h.num_records = static_cast<std::uint32_t>(records.size());
  h.used_blocks = h.file_blocks = h.last_block = static_cast<std::uint16_t>(blocks);
  h.first_block = blocks ? 1 : 0;
  h.first_free_block = 0;
  *out = h.EncodeTo();
  for (std::size_t b = 0; b < blocks; ++b) {
    std::string block(h.BlockSize(), '\0');
    const std::size_t first = b * per_block;
    const std::size_t count = std::min(per_block, records.size() - first);
    DataBlockHeader{static_cast<std::uint16_t>(b + 1 < blocks ? b + 2 : 0),
                    static_cast<std::uint16_t>(b),
                    DataBlockHeader::SizeFor(static_cast<int>(count), h.record_size)}
        .EncodeTo(Bytes(block));
    for (std::size_t i = 0; i < count; ++i) {
      const std::vector<FieldValue>& values = records[first + i];
      if (values.size() != h.fields.size()) return Invalid("wrong number of values");
      std::uint8_t* rec = Bytes(block) + DataBlockHeader::kEncodedLength + i * h.record_size;
      for (std::size_t f = 0; f < values.size(); ++f) {
        Status s = EncodeField(h.fields[f], values[f], rec);
        if (!s.ok()) return s.WithContext(h.fields[f].name);
      }
    }
    out->append(block);
  }
  return Status::OK();
}

Status TableWriter::Open(Env* env, const std::string& db_path, std::uint32_t key,
                         std::unique_ptr<TableWriter>* out) {
  OpenOptions options;
  options.env = env;
  options.key = key;
  options.lock = false;  // the caller holds the table's lock
  std::unique_ptr<ParadoxTable> table;
  Status s = ParadoxTable::Open(db_path, options, &table);
  if (!s.ok()) return s;
  auto w = std::unique_ptr<TableWriter>(new TableWriter);
  w->env_ = env;
  w->path_ = db_path;
  *w->header_ = table->Header();
  w->key_ = w->header_->key;
  for (const FieldDesc& f : w->header_->fields) {
    w->has_blobs_ = w->has_blobs_ || IsBlobType(f.type);
    w->has_auto_inc_ = w->has_auto_inc_ || f.type == FieldType::AutoInc;
  }
  if (!table->Chain().empty()) {
    const BlockRef& last = table->Chain().back();
    s = table->LoadBlock(last.number, &w->block_);
    w->block_number_ = last.number;
    w->block_records_ = last.records;
  }
  if (s.ok()) s = env->OpenWrite(db_path, false, &w->file_);
  if (!s.ok()) return s;
  *out = std::move(w);
  return s;
}

TableWriter::~TableWriter() { Flush(); }

Status TableWriter::AppendSynced(std::vector<FieldValue> values) {
  Status s = Flush();  // what is on disk then is the state to return to
  if (!s.ok()) return s;
  const DataFileHeader header = *header_;
  const std::string block = block_;
  const std::uint32_t number = block_number_;
  const int records = block_records_;
  s = Append(std::move(values));
  if (s.ok()) s = Sync();
  if (s.ok()) return s;
  *header_ = header;
  block_ = block;
  block_number_ = number;
  block_records_ = records;
  pending_.clear();  // blocks of the failed append not yet written
  Status undo = number != 0 ? WriteBlock() : Status::OK();
  if (undo.ok()) undo = WritePending();
  if (undo.ok()) undo = file_->WriteAt(0, header_->raw.data(), header_->raw.size());
  dirty_ = !undo.ok();
  return s;
}

Status TableWriter::StartBlock() {
  // New blocks go to the end of the file and the end of the chain.
  const std::uint32_t number = std::uint32_t{header_->file_blocks} + 1;
  if (number > 0xFFFF)
    return Status(DBIERR_TABLEFULL, "the table has no room for another block").WithContext(path_);
  if (block_number_ != 0) {
    DataBlockHeader bh = DataBlockHeader::DecodeFrom(Bytes(block_));
    bh.next = static_cast<std::uint16_t>(number);
    bh.EncodeTo(Bytes(block_));
    Status s = WriteBlock();
    if (!s.ok()) return s;
  }
  DataBlockHeader fresh;
  fresh.prev = static_cast<std::uint16_t>(block_number_);
  fresh.add_data_size = DataBlockHeader::SizeFor(0, header_->record_size);
  block_.assign(header_->BlockSize(), '\0');
  fresh.EncodeTo(Bytes(block_));
  block_number_ = number;
  block_records_ = 0;
  header_->file_blocks = static_cast<std::uint16_t>(number);
  header_->used_blocks = static_cast<std::uint16_t>(header_->used_blocks + 1);
  header_->last_block = static_cast<std::uint16_t>(number);
  if (header_->first_block == 0) header_->first_block = static_cast<std::uint16_t>(number);
  dirty_ = true;
  return Status::OK();
}

namespace {
constexpr std::size_t kBatch = std::size_t{1} << 20;  // blocks written at once
constexpr std::uint64_t kEarlyWriteback = std::uint64_t{32} << 20;
}  // namespace

Status TableWriter::WriteBlock() {
  const std::size_t size = block_.size();
  if (!pending_.empty() && block_number_ != pending_first_ + pending_.size() / size) {
    Status s = WritePending();
    if (!s.ok()) return s;
  }
  if (pending_.empty()) pending_first_ = block_number_;
  // One buffer for the whole batch, kept from batch to batch.
  if (pending_.capacity() < kBatch + size) pending_.reserve(kBatch + size);
  const std::size_t at = pending_.size();
  pending_.append(block_);
  if (key_) EncryptDataBlock(Bytes(pending_) + at, size, key_, block_number_);
  return pending_.size() >= kBatch ? WritePending() : Status::OK();
}

Status TableWriter::WritePending() {
  if (pending_.empty()) return Status::OK();
  const std::uint64_t offset = BlockOffset(*header_, pending_first_);
  const std::size_t size = pending_.size();
  Status s = file_->WriteBuffer(offset, &pending_);
  // The disk takes the batch while the next one is made, so the closing
  // sync of a table of a few megabytes waits for little. Past the first
  // megabytes it stops: starting writeback on the writing thread slowed the
  // copy of a table of a gigabyte by more than the sync gained.
  if (s.ok() && offset < kEarlyWriteback) file_->StartWriteback(offset, size);
  pending_.clear();
  return s;
}

Status TableWriter::StoreBlobs(std::vector<FieldValue>* values) {
  for (std::size_t i = 0; i < header_->fields.size(); ++i) {
    const FieldDesc& f = header_->fields[i];
    FieldValue& v = (*values)[i];
    if (!IsBlobType(f.type) || v.null) continue;
    std::string data = v.s;
    if (f.type == FieldType::Graphic) {  // the engine keeps an 8-byte prefix before a picture
      std::string prefix(8, '\0');
      PutU32(Bytes(prefix), 0x01000001);
      PutU32(Bytes(prefix) + 4, static_cast<std::uint32_t>(data.size()));
      data = prefix + data;
    }
    if (data.size() > static_cast<std::size_t>(f.size - 10) && !blobs_) {
      const std::string mb = CompanionPath(path_, ".MB");
      Status s = env_->Exists(mb) ? BlobWriter::OpenAppend(env_, mb, key_, &blobs_)
                                  : BlobWriter::Create(env_, mb, key_, &blobs_);
      if (!s.ok()) return s;
    }
    Status s = blobs_ ? blobs_->Add(data, f.size - 10, &v.blob) : Status::OK();
    if (!blobs_) {  // fits the leader
      v.blob.leader = data;
      v.blob.length = static_cast<std::uint32_t>(data.size());
    }
    if (!s.ok()) return s;
  }
  return Status::OK();
}

Status TableWriter::Append(std::vector<FieldValue> values) {
  if (values.size() != header_->fields.size()) return Invalid("wrong number of values");
  for (std::size_t i = 0; i < values.size(); ++i) {
    if (header_->fields[i].type != FieldType::AutoInc) continue;
    if (values[i].null) values[i] = FieldValue::Int(std::int64_t{header_->auto_inc} + 1);
    if (values[i].i > header_->auto_inc) header_->auto_inc = static_cast<std::uint32_t>(values[i].i);
  }
  std::string record(header_->record_size, '\0');
  Status s = StoreBlobs(&values);
  for (std::size_t i = 0; s.ok() && i < values.size(); ++i) {
    s = EncodeField(header_->fields[i], values[i], Bytes(record));
  }
  if (!s.ok()) return s.WithContext(path_);
  return PutRecord(record);
}

Status TableWriter::AppendEncoded(std::string& record, std::vector<FieldValue>& values) {
  if (record.size() != header_->record_size || values.size() != header_->fields.size()) {
    return Invalid("record does not fit the table");
  }
  bool blobs = false;
  for (std::size_t i = 0; has_blobs_ && i < values.size(); ++i)
    blobs = blobs || (IsBlobType(header_->fields[i].type) && !values[i].null);
  Status s = blobs ? StoreBlobs(&values) : Status::OK();
  for (std::size_t i = 0; blobs && s.ok() && i < values.size(); ++i) {
    if (IsBlobType(header_->fields[i].type))
      s = EncodeField(header_->fields[i], values[i], Bytes(record));
  }
  if (!s.ok()) return s.WithContext(path_);
  NoteAutoIncrement(record.data());
  return PutRecord(record);
}

void TableWriter::NoteAutoIncrement(const char* record) {
  for (std::size_t i = 0; has_auto_inc_ && i < header_->fields.size(); ++i) {
    const FieldDesc& f = header_->fields[i];
    if (f.type != FieldType::AutoInc) continue;
    const FieldValue v = DecodeField(f, reinterpret_cast<const std::uint8_t*>(record));
    if (!v.null && v.i > header_->auto_inc) header_->auto_inc = static_cast<std::uint32_t>(v.i);
  }
}

Status TableWriter::AppendStored(const char* record) {
  if (has_blobs_) return Invalid("a record with blob fields needs its values");
  NoteAutoIncrement(record);
  return PutRecord(record);
}

Status TableWriter::PutRecord(const std::string& record) { return PutRecord(record.data()); }

Status TableWriter::PutRecord(const char* record) {
  Status s;
  // Worked out once: a division for every record showed in the profile.
  if (per_block_ < 0) per_block_ = header_->RecordsPerBlock();
  if (block_number_ == 0 || block_records_ >= per_block_) {
    s = StartBlock();
    if (!s.ok()) return s;
  }
  std::memcpy(block_.data() + DataBlockHeader::kEncodedLength +
                  static_cast<std::size_t>(block_records_) * header_->record_size,
              record, header_->record_size);
  ++block_records_;
  PutU16(Bytes(block_) + 4,
         static_cast<std::uint16_t>(DataBlockHeader::SizeFor(block_records_, header_->record_size)));
  ++header_->num_records;
  dirty_ = true;
  return Status::OK();
}

Status TableWriter::Flush() {
  if (!dirty_ || !file_) return Status::OK();
  Status s = WriteBlock();
  if (s.ok()) s = WritePending();
  if (!s.ok()) return s;
  header_->PatchCounts();
  s = file_->WriteAt(0, header_->raw.data(), header_->raw.size());
  if (s.ok()) dirty_ = false;
  return s;
}

Status TableWriter::Sync() {
  Status s = Flush();
  if (s.ok() && blobs_) s = blobs_->Sync();
  if (s.ok()) s = file_->Sync();
  return s;
}

}  // namespace engine
