#include "svLogTable.h"

#include <strings.h>
#include <sys/stat.h>

#include "ByteOrder.h"
#include "CodePage.h"
#include "DataBlock.h"
#include "FieldCodec.h"
#include "ParadoxTable.h"
#include "TableFiles.h"

using engine::DataBlockHeader;
using engine::DataFileHeader;
using engine::FieldDesc;
using engine::FieldType;
using engine::FieldValue;
using engine::Status;

namespace {

enum LogColumn { kAlias = 0, kTool = 1, kResult = 2, kMoment = 3, kColumnCount = 4 };

struct ExpectedField {
  const char* name;
  FieldType type;
  int size;
};
constexpr ExpectedField kLogFields[kColumnCount] = {
    {"Alias", FieldType::Alpha, TLogTable::kAliasSize},
    {"Tool", FieldType::Alpha, 1},
    {"Result", FieldType::Alpha, 1},
    {"Moment", FieldType::Timestamp, 8},
};

Status NotALog(const std::string& why, const std::string& path) {
  return Status(DBIERR_HEADERCORRUPT, "not a tool log table: " + why).WithContext(path);
}

// A table written by another program may size its text fields differently;
// what matters is that the four fields are there, in order, of their kinds.
Status CheckStructure(const DataFileHeader& h, const std::string& path) {
  if (h.fields.size() != kColumnCount)
    return NotALog("it has " + std::to_string(h.fields.size()) + " fields", path);
  for (int i = 0; i < kColumnCount; ++i) {
    const FieldDesc& f = h.fields[i];
    if (::strcasecmp(f.name.c_str(), kLogFields[i].name) != 0 || f.type != kLogFields[i].type)
      return NotALog("field " + std::to_string(i + 1) + " is not " + kLogFields[i].name, path);
  }
  if (h.Keyed()) return NotALog("it has a primary key", path);
  if (h.key != 0) return NotALog("it is password protected", path);
  return Status::OK();
}

std::string RecordText(const engine::ParadoxTable& t, const engine::TableCursor& cur, int field) {
  FieldValue v = cur.Value(field);
  return v.null ? std::string() : t.Text(v.s);
}

Status WriteBlockHeader(engine::RandomFile* file, const DataFileHeader& h, std::uint32_t number,
                        const DataBlockHeader& bh) {
  std::uint8_t bytes[DataBlockHeader::kEncodedLength];
  bh.EncodeTo(bytes);
  return file->WriteAt(engine::BlockOffset(h, number), bytes, sizeof bytes);
}

Status EncodeLogRecord(const DataFileHeader& h, const TLogRecord& record, std::string* out) {
  out->assign(h.record_size, '\0');
  auto* rec = engine::Bytes(*out);
  const int code_page = h.code_page ? h.code_page : 437;
  const std::string* texts[] = {&record.Alias, &record.Tool, &record.Result};
  for (int i = kAlias; i <= kResult; ++i) {
    FieldValue v;  // blank unless there is text
    if (!texts[i]->empty()) {
      std::string bytes;
      if (!engine::FromUtf8(*texts[i], code_page, &bytes))
        return Status::InvalidParam("the text cannot be stored in the log's code page")
            .WithContext(*texts[i]);
      v = FieldValue::Str(bytes);
    }
    Status s = engine::EncodeField(h.fields[i], v, rec);
    if (!s.ok()) return s.WithContext(h.fields[i].name);
  }
  const FieldDesc& moment = h.fields[kMoment];
  FieldValue m = record.HasMoment ? engine::FromDateTime(moment, record.Moment) : FieldValue();
  return engine::EncodeField(moment, m, rec);
}

}  // namespace

DataFileHeader NewLogHeader(const std::string& tableName) {
  DataFileHeader h;
  for (const ExpectedField& f : kLogFields)
    h.fields.push_back(FieldDesc{f.name, f.type, f.size, 0, 0});
  h.ComputeLayout();
  h.file_type = 2;
  h.version_id = 12;
  h.code_page = 1252;
  h.sort_order = 0x62;  // "ANSIINTL", the usual order for code page 1252
  h.sort_order_id = "ANSIINTL";
  h.block_size_code = 4;
  h.change_count1 = 2;
  h.change_count2 = 1;
  h.table_name = tableName;
  h.header_size = h.RequiredHeaderSize();
  return h;
}

TLogTable::TLogTable(engine::Env* env) : env_(env ? env : engine::Env::Default()) {}
TLogTable::~TLogTable() { Close(); }

void TLogTable::SetLocation(const std::string& folder, const std::string& tableName) {
  Close();
  path_ = engine::FindNoCase(folder, tableName);
}

Status TLogTable::Open() {
  Close();
  // A file without any write bit is read-only on the platform the tables
  // come from, whoever runs the program.
  struct stat st {};
  if (::stat(path_.c_str(), &st) == 0 && (st.st_mode & 0222) == 0)
    return Status(DBIERR_NOTSUFFTABLERIGHTS, "the log table is read-only").WithContext(path_);
  auto lock = std::make_unique<engine::TableLock>();
  Status s = lock->Acquire(path_, true);
  if (!s.ok()) return s;
  s = LoadRecords();
  if (s.ok()) s = env_->OpenWrite(path_, false, &file_);
  if (!s.ok()) {
    records_.clear();
    file_.reset();
    return s;
  }
  lock_ = std::move(lock);
  return s;
}

Status TLogTable::LoadRecords() {
  engine::OpenOptions options;
  options.env = env_;
  options.lock = false;  // the exclusive lock is held by Open already
  std::unique_ptr<engine::ParadoxTable> table;
  Status s = engine::ParadoxTable::Open(path_, options, &table);
  if (!s.ok()) return s;
  header_ = table->Header();
  s = CheckStructure(header_, path_);
  if (!s.ok()) return s;
  records_.clear();
  records_.reserve(table->RecordCount());
  engine::TableCursor cur = table->NewCursor();
  while (cur.Next()) {
    TLogRecord r;
    r.Alias = RecordText(*table, cur, kAlias);
    r.Tool = RecordText(*table, cur, kTool);
    r.Result = RecordText(*table, cur, kResult);
    FieldValue moment = cur.Value(kMoment);
    r.HasMoment = !moment.null;
    r.Moment = engine::ToDateTime(header_.fields[kMoment], moment);
    records_.push_back(std::move(r));
  }
  if (!cur.status().ok()) return cur.status();
  RebuildIndex();
  const auto& chain = table->Chain();
  last_block_records_ = chain.empty() ? 0 : chain.back().records;
  // The header's bookkeeping must agree with the chain, or appending would
  // write over records or leave them unreachable.
  if (!chain.empty() && chain.back().number != header_.last_block)
    return NotALog("its last block is not the end of the chain", path_);
  return Status::OK();
}

void TLogTable::Close() {
  file_.reset();
  lock_.reset();
  records_.clear();
  by_alias_tool_.clear();
}

namespace {
std::string IndexKey(const std::string& alias, const std::string& tool) {
  return alias + '\t' + tool;
}
}  // namespace

void TLogTable::IndexRecord(std::size_t position) {
  const TLogRecord& r = records_[position];
  by_alias_tool_[IndexKey(r.Alias, r.Tool)].push_back(position);
}

void TLogTable::RebuildIndex() {
  by_alias_tool_.clear();
  for (std::size_t i = 0; i < records_.size(); ++i) IndexRecord(i);
}

const std::vector<std::size_t>& TLogTable::PositionsOf(const std::string& alias,
                                                       const std::string& tool) const {
  static const std::vector<std::size_t> kNone;
  auto it = by_alias_tool_.find(IndexKey(alias, tool));
  return it == by_alias_tool_.end() ? kNone : it->second;
}

Status TLogTable::Create() {
  Close();
  std::string data;
  const std::string name = path_.substr(path_.find_last_of('/') + 1);
  Status s = EncodeLogFile(NewLogHeader(name), {}, &data);
  if (!s.ok()) return s;
  for (const std::string& stale : engine::StaleCompanions(path_)) {
    s = env_->Remove(stale);
    if (!s.ok()) return s;
  }
  return engine::WriteFileAtomically(env_, path_, data);
}

Status TLogTable::Insert(const TLogRecord& record) {
  if (!Active()) return Status::InvalidParam("the log table is not open");
  std::string bytes;
  Status s = EncodeLogRecord(header_, record, &bytes);
  if (!s.ok()) return s;
  const DataFileHeader before = header_;
  const std::uint16_t before_records = last_block_records_;
  const bool room = header_.used_blocks > 0 && last_block_records_ < header_.RecordsPerBlock();
  s = room ? AppendToLastBlock(bytes) : AppendNewBlock(bytes);
  if (s.ok()) s = WriteCounts();
  if (s.ok()) s = file_->Sync();
  if (!s.ok()) {
    UndoAppend(room, before, before_records);
    return s;
  }
  records_.push_back(record);
  IndexRecord(records_.size() - 1);
  return s;
}

// Puts the bookkeeping back so the file reads as it did before a failed
// append; the bytes of the record itself lie beyond every count and are
// never read. Best effort: the write that failed may fail again.
void TLogTable::UndoAppend(bool inLastBlock, const DataFileHeader& before,
                           std::uint16_t beforeRecords) {
  header_ = before;
  last_block_records_ = beforeRecords;
  WriteCounts();
  std::string block;
  if (header_.last_block == 0 ||
      !engine::ReadDataBlock(file_.get(), header_, 0, header_.last_block, &block).ok())
    return;
  DataBlockHeader bh = DataBlockHeader::DecodeFrom(engine::Bytes(block));
  if (inLastBlock)
    bh.add_data_size = DataBlockHeader::SizeFor(beforeRecords, header_.record_size);
  else
    bh.next = 0;
  WriteBlockHeader(file_.get(), header_, header_.last_block, bh);
}

Status TLogTable::AppendToLastBlock(const std::string& record) {
  const std::uint32_t number = header_.last_block;
  std::string block;
  Status s = engine::ReadDataBlock(file_.get(), header_, 0, number, &block);
  if (!s.ok()) return s;
  const std::uint64_t at = engine::BlockOffset(header_, number) + DataBlockHeader::kEncodedLength +
                           std::uint64_t{last_block_records_} * header_.record_size;
  s = file_->WriteAt(at, record.data(), record.size());
  if (!s.ok()) return s;
  DataBlockHeader bh = DataBlockHeader::DecodeFrom(engine::Bytes(block));
  bh.add_data_size = DataBlockHeader::SizeFor(last_block_records_ + 1, header_.record_size);
  s = WriteBlockHeader(file_.get(), header_, number, bh);
  if (!s.ok()) return s;
  ++last_block_records_;
  ++header_.num_records;
  return s;
}

Status TLogTable::AppendNewBlock(const std::string& record) {
  const std::uint32_t number = std::uint32_t{header_.file_blocks} + 1;
  if (number > 0xFFFF)
    return Status(DBIERR_TABLEFULL, "the log table has no room for another block")
        .WithContext(path_);
  const std::uint16_t prev = header_.used_blocks > 0 ? header_.last_block : 0;
  std::string block(header_.BlockSize(), '\0');
  DataBlockHeader{0, prev, DataBlockHeader::SizeFor(1, header_.record_size)}.EncodeTo(
      engine::Bytes(block));
  block.replace(DataBlockHeader::kEncodedLength, record.size(), record);
  Status s = file_->WriteAt(engine::BlockOffset(header_, number), block.data(), block.size());
  if (!s.ok()) return s;
  if (prev != 0) {
    std::string prev_block;
    s = engine::ReadDataBlock(file_.get(), header_, 0, prev, &prev_block);
    if (!s.ok()) return s;
    DataBlockHeader bh = DataBlockHeader::DecodeFrom(engine::Bytes(prev_block));
    bh.next = static_cast<std::uint16_t>(number);
    s = WriteBlockHeader(file_.get(), header_, prev, bh);
    if (!s.ok()) return s;
  } else {
    header_.first_block = static_cast<std::uint16_t>(number);
  }
  header_.last_block = static_cast<std::uint16_t>(number);
  ++header_.used_blocks;
  header_.file_blocks = static_cast<std::uint16_t>(number);
  ++header_.num_records;
  last_block_records_ = 1;
  return s;
}

// Patches only the counts into the header as found, so a log written by
// another program keeps every other header byte.
Status TLogTable::WriteCounts() {
  std::string& raw = header_.raw;
  if (raw.size() < DataFileHeader::kExtendedLength)
    return Status::Corruption("log header is too short");
  std::uint8_t* p = engine::Bytes(raw);
  engine::PutU32(p + 0x06, header_.num_records);
  engine::PutU16(p + 0x0A, header_.used_blocks);
  engine::PutU16(p + 0x0C, header_.file_blocks);
  engine::PutU16(p + 0x0E, header_.first_block);
  engine::PutU16(p + 0x10, header_.last_block);
  engine::PutU16(p + 0x3A, header_.file_blocks);
  return file_->WriteAt(0, raw.data(), DataFileHeader::kExtendedLength);
}

Status TLogTable::Delete(const std::vector<std::size_t>& positions) {
  if (!Active()) return Status::InvalidParam("the log table is not open");
  std::vector<bool> drop(records_.size(), false);
  for (std::size_t pos : positions) {
    if (pos >= records_.size()) return Status::InvalidParam("no such log record");
    drop[pos] = true;
  }
  std::vector<TLogRecord> kept;
  kept.reserve(records_.size());
  for (std::size_t i = 0; i < records_.size(); ++i)
    if (!drop[i]) kept.push_back(records_[i]);
  Status s = ReplaceFile(kept);
  if (s.ok()) {
    records_ = std::move(kept);
    RebuildIndex();
  }
  return s;
}

// The remaining records go to a new file beside the old one. The new file
// is locked before it is renamed into place, so the log is never unlocked
// for another program to grab; a failure leaves the old file and its lock.
Status TLogTable::ReplaceFile(const std::vector<TLogRecord>& records) {
  std::string data;
  Status s = EncodeLogFile(header_, records, &data);
  if (!s.ok()) return s;
  const std::string temp = engine::TempPathFor(path_);
  std::unique_ptr<engine::RandomFile> file;
  s = env_->OpenWrite(temp, true, &file);
  if (s.ok()) s = file->WriteAt(0, data.data(), data.size());
  if (s.ok()) s = file->Sync();
  file.reset();
  auto lock = std::make_unique<engine::TableLock>();
  if (s.ok()) s = lock->Acquire(temp, true);
  if (s.ok()) s = engine::CommitReplacement(env_, temp, path_);
  if (s.ok()) s = env_->OpenWrite(path_, false, &file);
  if (!s.ok()) {
    env_->Remove(temp);
    return s;
  }
  DataFileHeader fresh;
  s = fresh.DecodeFrom(data, data.size());
  if (!s.ok()) return s;
  header_ = fresh;
  const int per_block = header_.RecordsPerBlock();
  last_block_records_ =
      records.empty() ? 0 : static_cast<std::uint16_t>((records.size() - 1) % per_block + 1);
  file_ = std::move(file);
  lock_ = std::move(lock);
  return s;
}

Status EncodeLogFile(DataFileHeader h, const std::vector<TLogRecord>& records, std::string* out) {
  h.ComputeLayout();
  h.header_size = std::max(h.header_size, h.RequiredHeaderSize());
  const std::size_t per_block = static_cast<std::size_t>(h.RecordsPerBlock());
  const std::size_t blocks = (records.size() + per_block - 1) / per_block;
  if (blocks > 0xFFFF) return Status(DBIERR_TABLEFULL, "too many records for one log table");
  h.num_records = static_cast<std::uint32_t>(records.size());
  h.used_blocks = h.file_blocks = h.last_block = static_cast<std::uint16_t>(blocks);
  h.first_block = blocks ? 1 : 0;
  h.first_free_block = 0;
  *out = h.EncodeTo();
  std::string rec;
  for (std::size_t b = 0; b < blocks; ++b) {
    std::string block(h.BlockSize(), '\0');
    const std::size_t first = b * per_block;
    const std::size_t count = std::min(per_block, records.size() - first);
    DataBlockHeader{static_cast<std::uint16_t>(b + 1 < blocks ? b + 2 : 0),
                    static_cast<std::uint16_t>(b),
                    DataBlockHeader::SizeFor(static_cast<int>(count), h.record_size)}
        .EncodeTo(engine::Bytes(block));
    for (std::size_t i = 0; i < count; ++i) {
      Status s = EncodeLogRecord(h, records[first + i], &rec);
      if (!s.ok()) return s;
      block.replace(DataBlockHeader::kEncodedLength + i * h.record_size, rec.size(), rec);
    }
    out->append(block);
  }
  return Status::OK();
}

namespace {

// The log as local SQL reads it: blank text and a blank moment are nulls,
// as the engine reports blank fields.
class LogView : public engine::SqlTable {
 public:
  LogView(TLogTable* table, std::vector<std::string> columns,
          const std::vector<std::size_t>* subset)
      : table_(table), columns_(std::move(columns)), subset_(subset) {}
  std::vector<std::string> Columns() const override { return columns_; }
  std::size_t RowCount() const override {
    return subset_ ? subset_->size() : table_->Records().size();
  }
  engine::SqlValue Value(std::size_t row, std::size_t column) const override {
    const TLogRecord& r = table_->Records()[Position(row)];
    if (column == kMoment)
      return r.HasMoment ? engine::SqlValue::DateTime(r.Moment) : engine::SqlValue();
    const std::string& text = column == kAlias ? r.Alias : column == kTool ? r.Tool : r.Result;
    return text.empty() ? engine::SqlValue() : engine::SqlValue::Text(text);
  }
  Status DeleteRows(const std::vector<std::size_t>& rows) override {
    std::vector<std::size_t> positions;
    for (std::size_t row : rows) positions.push_back(Position(row));
    return table_->Delete(positions);
  }

 private:
  std::size_t Position(std::size_t row) const { return subset_ ? (*subset_)[row] : row; }

  TLogTable* table_;
  std::vector<std::string> columns_;
  const std::vector<std::size_t>* subset_;
};

}  // namespace

std::unique_ptr<engine::SqlTable> TLogTable::QueryView(const std::vector<std::size_t>* subset) {
  std::vector<std::string> columns;
  for (const FieldDesc& f : header_.fields) columns.push_back(f.name);
  return std::make_unique<LogView>(this, std::move(columns), subset);
}
