#include "ParadoxTable.h"

#include <strings.h>

#include <algorithm>

#include "BlobFile.h"
#include "ByteOrder.h"
#include "DataBlock.h"
#include "DataFileHeader.h"
#include "FieldCodec.h"
#include "CodePage.h"
#include "Journal.h"
#include "ParadoxCrypt.h"
#include "TableFiles.h"

namespace engine {

namespace {
constexpr std::size_t kReadWindow = 256 * 1024;
}  // namespace

bool TableCursor::Next() {
  if (!status_.ok()) return false;
  const auto& chain = table_->Chain();
  const std::size_t rs = table_->Header().record_size;
  while (true) {
    if (loaded_ && in_block_ + 1 < chain[chain_pos_].records) {
      ++in_block_;
      record_ = reinterpret_cast<const std::uint8_t*>(block_.data()) + block_at_ +
                DataBlockHeader::kEncodedLength + static_cast<std::size_t>(in_block_) * rs;
      ordinal_ = chain[chain_pos_].first_record + static_cast<std::uint32_t>(in_block_);
      return true;
    }
    if (loaded_) ++chain_pos_;
    if (chain_pos_ >= std::min(chain.size(), end_)) {
      record_ = nullptr;
      return false;
    }
    const std::size_t size = table_->Header().BlockSize();
    if (chain_pos_ < window_pos_ || chain_pos_ >= window_pos_ + window_count_) {
      const auto n =
          static_cast<std::uint32_t>(std::min(WindowEnd(*table_, chain_pos_), end_) - chain_pos_);
      status_ = table_->LoadBlocks(chain[chain_pos_].number, n, &block_);
      if (!status_.ok()) return false;
      window_pos_ = chain_pos_;
      window_count_ = n;
    }
    block_at_ = (chain_pos_ - window_pos_) * size;
    loaded_ = true;
    in_block_ = -1;
  }
}

std::size_t TableCursor::WindowEnd(const ParadoxTable& table, std::size_t pos) {
  const auto& chain = table.Chain();
  const std::size_t most = std::max<std::size_t>(1, kReadWindow / table.Header().BlockSize());
  std::size_t n = 1;
  while (n < most && pos + n < chain.size() && chain[pos + n].number == chain[pos].number + n) ++n;
  return pos + n;
}

Status TableCursor::Seek(std::uint32_t ordinal) {
  const auto& chain = table_->Chain();
  if (ordinal >= table_->RecordCount()) return Status(DBIERR_EOF, "record number out of range");
  std::size_t lo = 0, hi = chain.size();
  while (hi - lo > 1) {  // last block whose first record <= ordinal
    const std::size_t mid = (lo + hi) / 2;
    (chain[mid].first_record <= ordinal ? lo : hi) = mid;
  }
  if (lo < window_pos_ || lo >= window_pos_ + window_count_ || !status_.ok()) {
    status_ = table_->LoadBlock(chain[lo].number, &block_);
    if (!status_.ok()) return status_;
    window_pos_ = lo;
    window_count_ = 1;
  }
  block_at_ = (lo - window_pos_) * table_->Header().BlockSize();
  chain_pos_ = lo;
  loaded_ = true;
  in_block_ = static_cast<int>(ordinal - chain[lo].first_record) - 1;
  return Status::OK();
}

FieldValue TableCursor::Value(int field) const {
  return DecodeField(table_->Fields()[static_cast<std::size_t>(field)], record_);
}

ParadoxTable::ParadoxTable() : header_(std::make_unique<DataFileHeader>()) {}
ParadoxTable::~ParadoxTable() = default;

const std::vector<FieldDesc>& ParadoxTable::Fields() const { return header_->fields; }
std::uint32_t ParadoxTable::RecordCount() const { return header_->num_records; }
bool ParadoxTable::Protected() const { return header_->key != 0; }
bool ParadoxTable::Keyed() const { return header_->Keyed(); }
bool ParadoxTable::LastBlockEndsChain() const {
  return chain_.empty() || chain_.back().number == header_->last_block;
}
int ParadoxTable::TextCodePage() const { return header_->code_page ? header_->code_page : 437; }

Status ParadoxTable::Open(const std::string& path, OpenOptions options,
                          std::unique_ptr<ParadoxTable>* out) {
  // Nothing is read, recovered or locked of a table that has a twin.
  if (Status twins = RefuseCaseTwins(path); !twins.ok()) return twins;
  auto table = std::unique_ptr<ParadoxTable>(new ParadoxTable);
  table->env_ = options.env ? options.env : Env::Default();
  table->path_ = path;
  // A replacement of this table's files (a restructure, a pack, a set of
  // files) that a crash interrupted is finished, or undone, first.
  if (options.recover) {
    if (Status r = RecoverTable(table->env_, path); !r.ok()) return r;
  }
  if (options.lock) {
    Status s = table->lock_.Acquire(path, options.exclusive);
    if (!s.ok()) return s;
  }
  Status s = table->env_->OpenRead(path, &table->file_);
  if (s.ok()) s = table->ReadHeader();
  if (s.ok()) s = table->Unlock(options);
  table->structure_only_ = options.structureOnly;
  if (s.ok() && !options.structureOnly)
    s = ReadBlockChain(table->file_.get(), *table->header_, table->key_, &table->chain_,
                       &table->note_);
  if (!s.ok()) {
    if (s.code() == DBIERR_NOSUCHFILE) s = Status(DBIERR_NOSUCHTABLE, "table does not exist");
    if (s.contexts()[0].empty()) s.WithContext(path);
    return s;
  }
  *out = std::move(table);
  return s;
}

TableCursor ParadoxTable::NewCursor() const {
  TableCursor cursor(this);
  if (structure_only_) {
    cursor.status_ = Status(DBIERR_NOTSUPPORTED, "the table was opened for its structure only")
                         .WithContext(path_);
  }
  return cursor;
}

Status ParadoxTable::ReadHeader() {
  const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(file_->Size(), 0x10000));
  std::string bytes(n, '\0');
  Status s = n ? file_->ReadAt(0, n, bytes.data()) : Status::OK();
  if (!s.ok()) return s;
  return header_->DecodeFrom(bytes, file_->Size());
}

Status ParadoxTable::Unlock(OpenOptions& options) {
  if (header_->key == 0) return Status::OK();
  if (options.useHeaderKey || options.key == header_->key) {
    key_ = header_->key;
    return Status::OK();
  }
  while (true) {
    for (const std::string& password : options.passwords) {
      if (PasswordKey(password) == header_->key) {
        key_ = header_->key;
        return Status::OK();
      }
    }
    if (!options.request_password || !options.request_password(&options.passwords)) {
      return Status(DBIERR_NOTSUFFTABLERIGHTS,
                    "the table is protected and no valid password was given");
    }
  }
}

int ParadoxTable::FieldIndex(const std::string& name) const {
  for (std::size_t i = 0; i < header_->fields.size(); ++i) {
    if (::strcasecmp(header_->fields[i].name.c_str(), name.c_str()) == 0) return static_cast<int>(i);
  }
  return -1;
}

std::string ParadoxTable::Text(const std::string& bytes) const {
  return ToUtf8(bytes, TextCodePage());
}

Status ParadoxTable::LoadBlock(std::uint32_t number, std::string* buf) const {
  Status s = ReadDataBlock(file_.get(), *header_, key_, number, buf);
  if (!s.ok() && s.contexts()[0].empty()) s.WithContext(path_);
  return s;
}

Status ParadoxTable::LoadBlocks(std::uint32_t first, std::uint32_t count,
                               std::string* buf) const {
  if (count <= 1) return LoadBlock(first, buf);
  const std::uint64_t offset = BlockOffset(*header_, first);
  const std::size_t size = header_->BlockSize();
  if (offset >= file_->Size()) return LoadBlock(first, buf);  // names the damage
  buf->resize(size * count);
  const std::size_t avail =
      static_cast<std::size_t>(std::min<std::uint64_t>(buf->size(), file_->Size() - offset));
  Status s = file_->ReadAt(offset, avail, buf->data());
  if (!s.ok()) return s.contexts()[0].empty() ? s.WithContext(path_) : s;
  std::fill(buf->begin() + static_cast<std::ptrdiff_t>(avail), buf->end(), '\0');
  for (std::uint32_t k = 0; key_ != 0 && k < count; ++k)
    DecryptDataBlock(Bytes(*buf) + std::size_t{k} * size, size, key_, first + k);
  return Status::OK();
}

Status ParadoxTable::ReadBlob(int field, const FieldValue& value, std::string* out) const {
  out->clear();
  if (value.null) return Status::OK();
  if (value.blob.BlockOffset() == 0) {
    if (value.blob.length > value.blob.leader.size()) {
      return Status(DBIERR_BLOBCORRUPT, "a blob of " + std::to_string(value.blob.length) +
                                            " bytes has no block in the blob file")
          .WithContext(path_);
    }
    *out = value.blob.leader.substr(0, value.blob.length);
  } else {
    const std::string mb = CompanionPath(path_, ".MB");
    Status s;
    if (!blobs_) s = BlobReader::Open(env_, mb, key_, &blobs_);
    if (s.code() == DBIERR_NOSUCHFILE) s = Status(DBIERR_BLOBCORRUPT, "the blob file is missing");
    if (s.ok()) s = blobs_->Read(value.blob, out);
    if (!s.ok()) return s.contexts()[0].empty() ? s.WithContext(mb) : s;
  }
  if (Fields()[static_cast<std::size_t>(field)].type == FieldType::Graphic)
    *out = GraphicPayload(*out);
  return Status::OK();
}

std::string GraphicPayload(const std::string& stored) {
  if (stored.size() >= 8 && GetU32(Bytes(stored) + 4) == stored.size() - 8) return stored.substr(8);
  return stored;
}

}  // namespace engine
