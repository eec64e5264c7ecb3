#include "ParadoxTable.h"

#include <strings.h>

#include "ByteOrder.h"
#include "CodePage.h"
#include "Journal.h"
#include "ParadoxCrypt.h"
#include "TableFiles.h"

namespace engine {

bool TableCursor::Next() {
  if (!status_.ok()) return false;
  const auto& chain = table_->Chain();
  const std::size_t rs = table_->Header().record_size;
  while (true) {
    if (loaded_ && in_block_ + 1 < chain[chain_pos_].records) {
      ++in_block_;
      record_ = reinterpret_cast<const std::uint8_t*>(block_.data()) +
                DataBlockHeader::kEncodedLength + static_cast<std::size_t>(in_block_) * rs;
      ordinal_ = chain[chain_pos_].first_record + static_cast<std::uint32_t>(in_block_);
      return true;
    }
    if (loaded_) ++chain_pos_;
    if (chain_pos_ >= chain.size()) {
      record_ = nullptr;
      return false;
    }
    status_ = table_->LoadBlock(chain[chain_pos_].number, &block_);
    if (!status_.ok()) return false;
    loaded_ = true;
    in_block_ = -1;
  }
}

Status TableCursor::Seek(std::uint32_t ordinal) {
  const auto& chain = table_->Chain();
  if (ordinal >= table_->RecordCount()) return Status(DBIERR_EOF, "record number out of range");
  std::size_t lo = 0, hi = chain.size();
  while (hi - lo > 1) {  // last block whose first record <= ordinal
    const std::size_t mid = (lo + hi) / 2;
    (chain[mid].first_record <= ordinal ? lo : hi) = mid;
  }
  status_ = table_->LoadBlock(chain[lo].number, &block_);
  if (!status_.ok()) return status_;
  chain_pos_ = lo;
  loaded_ = true;
  in_block_ = static_cast<int>(ordinal - chain[lo].first_record) - 1;
  return Status::OK();
}

FieldValue TableCursor::Value(int field) const {
  return DecodeField(table_->Fields()[static_cast<std::size_t>(field)], record_);
}

Status ParadoxTable::Open(const std::string& path, OpenOptions options,
                          std::unique_ptr<ParadoxTable>* out) {
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
  if (s.ok())
    s = ReadBlockChain(table->file_.get(), table->header_, table->key_, &table->chain_,
                       &table->note_);
  if (!s.ok()) {
    if (s.code() == DBIERR_NOSUCHFILE) s = Status(DBIERR_NOSUCHTABLE, "table does not exist");
    if (s.contexts()[0].empty()) s.WithContext(path);
    return s;
  }
  *out = std::move(table);
  return s;
}

Status ParadoxTable::ReadHeader() {
  const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(file_->Size(), 0x10000));
  std::string bytes(n, '\0');
  Status s = n ? file_->ReadAt(0, n, bytes.data()) : Status::OK();
  if (!s.ok()) return s;
  return header_.DecodeFrom(bytes, file_->Size());
}

Status ParadoxTable::Unlock(OpenOptions& options) {
  if (header_.key == 0) return Status::OK();
  if (options.use_header_key || options.key == header_.key) {
    key_ = header_.key;
    return Status::OK();
  }
  while (true) {
    for (const std::string& password : options.passwords) {
      if (PasswordKey(password) == header_.key) {
        key_ = header_.key;
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
  for (std::size_t i = 0; i < header_.fields.size(); ++i) {
    if (::strcasecmp(header_.fields[i].name.c_str(), name.c_str()) == 0) return static_cast<int>(i);
  }
  return -1;
}

std::string ParadoxTable::Text(const std::string& bytes) const {
  return ToUtf8(bytes, TextCodePage());
}

Status ParadoxTable::LoadBlock(std::uint32_t number, std::string* buf) const {
  Status s = ReadDataBlock(file_.get(), header_, key_, number, buf);
  if (!s.ok() && s.contexts()[0].empty()) s.WithContext(path_);
  return s;
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
