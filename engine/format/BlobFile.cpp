#include "BlobFile.h"

#include <cstring>

#include "ByteOrder.h"
#include "ParadoxCrypt.h"

namespace engine {

namespace {

constexpr std::uint8_t kHeaderBlock = 0, kSingleBlock = 2, kSubBlock = 3, kFreeBlock = 4;
constexpr std::size_t kSingleHead = 9;    // type, units, length, modification number
constexpr std::size_t kSubPointers = 12;  // the pointer array's offset in a type 3 block
constexpr int kSubSlots = 64;
constexpr int kFirstSubChunk = 0x15;  // first 16-byte chunk after the pointer array
constexpr std::size_t kSubThreshold = 2048;

Status Corrupt(const std::string& what) { return Status(DBIERR_BLOBCORRUPT, what); }

// The fixed part of a blob file header as the Paradox engine writes it.
std::string NewHeaderBlock(std::uint16_t mod_count) {
  std::string h(kBlobUnit, '\0');
  std::uint8_t* p = Bytes(h);
  p[0] = kHeaderBlock;
  PutU16(p + 1, 1);
  PutU16(p + 3, mod_count);
  const std::uint8_t fixed[] = {0x82, 0x73, 0x02, 0x00, 0x29};
  std::memcpy(p + 5, fixed, sizeof fixed);
  PutU16(p + 0x0B, 0x1000);
  PutU16(p + 0x0D, 0x1000);
  p[0x0F] = 0x10;
  p[0x10] = 0x40;
  PutU16(p + 0x13, 0x0800);
  PutU16(p + 0x29, 0x02A1);
  return h;
}

}  // namespace

Status BlobReader::Open(Env* env, const std::string& path, std::uint32_t key,
                        std::unique_ptr<BlobReader>* out) {
  auto reader = std::unique_ptr<BlobReader>(new BlobReader);
  Status s = env->OpenRead(path, &reader->file_);
  if (!s.ok()) return s;
  reader->key_ = key;
  std::string head;
  s = reader->ReadRange(0, 3, &head);
  if (!s.ok() || head[0] != kHeaderBlock)
    return Corrupt("not a blob file (bad header block)").WithContext(path);
  *out = std::move(reader);
  return Status::OK();
}

Status BlobReader::ReadRange(std::uint64_t offset, std::size_t n, std::string* out) {
  if (offset + n > file_->Size()) {
    return Corrupt("blob data at offset " + std::to_string(offset) +
                   " runs past the end of the blob file")
        .WithContext(file_->Path());
  }
  if (key_ == 0) {
    out->assign(n, '\0');
    return n ? file_->ReadAt(offset, n, out->data()) : Status::OK();
  }
  // Scrambled files decode in whole 256-byte chunks.
  const std::uint64_t begin = offset & ~std::uint64_t{255};
  const std::uint64_t end =
      std::min<std::uint64_t>((offset + n + 255) & ~std::uint64_t{255}, file_->Size());
  std::string chunk(static_cast<std::size_t>(end - begin), '\0');
  Status s = file_->ReadAt(begin, chunk.size(), chunk.data());
  if (!s.ok()) return s;
  DecryptBlobChunks(Bytes(chunk), chunk.size() & ~std::size_t{255}, key_);
  *out = chunk.substr(static_cast<std::size_t>(offset - begin), n);
  return Status::OK();
}

Status BlobReader::Read(const BlobRef& ref, std::string* out) {
  if (ref.length == 0) {
    out->clear();
    return Status::OK();
  }
  if (ref.BlockOffset() == 0) {
    if (ref.length > ref.leader.size()) {
      return Corrupt("a blob of " + std::to_string(ref.length) +
                     " bytes has no block in the blob file");
    }
    *out = ref.leader.substr(0, ref.length);
    return Status::OK();
  }
  if (ref.length > kMaxBlobLength || ref.length > file_->Size()) {
    return Corrupt("blob length " + std::to_string(ref.length) + " exceeds the blob file");
  }
  std::string head;
  Status s = ReadRange(ref.BlockOffset(), 3, &head);
  if (!s.ok()) return s;
  const auto type = static_cast<std::uint8_t>(head[0]);
  if (type == kSingleBlock) return ReadSingle(ref, out);
  if (type == kSubBlock) return ReadSuballocated(ref, out);
  return Corrupt("a blob reference points to a block of type " + std::to_string(type) +
                 " at offset " + std::to_string(ref.BlockOffset()));
}

Status BlobReader::ReadSingle(const BlobRef& ref, std::string* out) {
  if (ref.Index() != 0xFF) return Corrupt("a single-blob block is referenced with a slot index");
  std::string head;
  Status s = ReadRange(ref.BlockOffset(), kSingleHead, &head);
  if (!s.ok()) return s;
  const std::uint8_t* p = Bytes(head);
  const std::uint64_t units = GetU16(p + 1);
  const std::uint32_t length = GetU32(p + 3);
  if (length != ref.length) {
    return Corrupt("blob block at offset " + std::to_string(ref.BlockOffset()) + " holds " +
                   std::to_string(length) + " bytes, the record expects " +
                   std::to_string(ref.length));
  }
  if (kSingleHead + length > units * kBlobUnit) return Corrupt("blob runs past its block");
  return ReadRange(ref.BlockOffset() + kSingleHead, length, out);
}

Status BlobReader::ReadSuballocated(const BlobRef& ref, std::string* out) {
  if (ref.Index() >= kSubSlots)
    return Corrupt("blob slot index " + std::to_string(ref.Index()) + " is out of range");
  std::string entry;
  Status s = ReadRange(ref.BlockOffset() + kSubPointers + 5u * ref.Index(), 5, &entry);
  if (!s.ok()) return s;
  const std::uint8_t* e = Bytes(entry);
  const std::size_t start = std::size_t{e[0]} * 16;
  const std::size_t chunks = e[1], last = e[4];
  if (e[0] == 0 || last == 0 || last > 16 || chunks == 0) {
    return Corrupt("blob slot " + std::to_string(ref.Index()) + " at offset " +
                   std::to_string(ref.BlockOffset()) + " is empty or deleted");
  }
  const std::size_t length = (chunks - 1) * 16 + last;
  if (length != ref.length || start + length > kBlobUnit) {
    return Corrupt("blob slot " + std::to_string(ref.Index()) + " at offset " +
                   std::to_string(ref.BlockOffset()) + " does not match its record");
  }
  return ReadRange(ref.BlockOffset() + start, length, out);
}

Status BlobWriter::Create(Env* env, const std::string& path, std::uint32_t key,
                          std::unique_ptr<BlobWriter>* out) {
  auto writer = std::unique_ptr<BlobWriter>(new BlobWriter);
  Status s = env->OpenWrite(path, true, &writer->file_);
  if (!s.ok()) return s;
  writer->key_ = key;
  s = writer->WriteHeader();
  if (!s.ok()) return s;
  *out = std::move(writer);
  return s;
}

Status BlobWriter::OpenAppend(Env* env, const std::string& path, std::uint32_t key,
                              std::unique_ptr<BlobWriter>* out) {
  auto writer = std::unique_ptr<BlobWriter>(new BlobWriter);
  Status s = env->OpenWrite(path, false, &writer->file_);
  if (!s.ok()) return s;
  writer->key_ = key;
  std::string head(kBlobUnit, '\0');
  if (writer->file_->Size() < kBlobUnit)
    return Corrupt("blob file is shorter than its header").WithContext(path);
  s = writer->file_->ReadAt(0, head.size(), head.data());
  if (!s.ok()) return s;
  if (key) DecryptBlobChunks(Bytes(head), head.size(), key);
  if (head[0] != kHeaderBlock)
    return Corrupt("not a blob file (bad header block)").WithContext(path);
  writer->mod_count_ = GetU16(Bytes(head) + 3);
  writer->end_ = (writer->file_->Size() + kBlobUnit - 1) / kBlobUnit * kBlobUnit;
  *out = std::move(writer);
  return s;
}

Status BlobWriter::WriteUnits(std::uint64_t offset, std::string data) {
  if (key_) EncryptBlobChunks(Bytes(data), data.size(), key_);
  return file_->WriteAt(offset, data.data(), data.size());
}

Status BlobWriter::WriteHeader() { return WriteUnits(0, NewHeaderBlock(mod_count_)); }

Status BlobWriter::Add(const std::string& data, int leader_size, BlobRef* ref) {
  ref->length = static_cast<std::uint32_t>(data.size());
  ref->leader = data.substr(0, static_cast<std::size_t>(std::max(leader_size, 0)));
  if (data.size() <= static_cast<std::size_t>(std::max(leader_size, 0))) {
    // Fits the record: nothing goes to the blob file.
    ref->offset_index = 0;
    ref->mod = 0;
    return Status::OK();
  }
  if (data.size() > kMaxBlobLength) return Status(DBIERR_FIELDTOOLONG, "blob larger than 256 MiB");
  ++mod_count_;
  ref->mod = mod_count_;
  Status s = data.size() > kSubThreshold ? AddSingle(data, ref) : AddSuballocated(data, ref);
  if (s.ok()) s = WriteHeader();
  return s;
}

Status BlobWriter::AddSingle(const std::string& data, BlobRef* ref) {
  const std::size_t units = (kSingleHead + data.size() + kBlobUnit - 1) / kBlobUnit;
  std::string block(units * kBlobUnit, '\0');
  std::uint8_t* p = Bytes(block);
  p[0] = kSingleBlock;
  PutU16(p + 1, static_cast<std::uint32_t>(units));
  PutU32(p + 3, static_cast<std::uint32_t>(data.size()));
  PutU16(p + 7, ref->mod);
  std::memcpy(p + kSingleHead, data.data(), data.size());
  ref->offset_index = static_cast<std::uint32_t>(end_) | 0xFF;
  Status s = WriteUnits(end_, std::move(block));
  end_ += units * kBlobUnit;
  return s;
}

Status BlobWriter::AddSuballocated(const std::string& data, BlobRef* ref) {
  const int chunks = static_cast<int>((data.size() + 15) / 16);
  if (sub_block_.empty() || sub_next_slot_ < 0 || sub_next_chunk_ + chunks > int(kBlobUnit / 16)) {
    sub_offset_ = end_;
    end_ += kBlobUnit;
    sub_block_.assign(kBlobUnit, '\0');
    sub_block_[0] = static_cast<char>(kSubBlock);
    PutU16(Bytes(sub_block_) + 1, 1);
    sub_next_chunk_ = kFirstSubChunk;
    sub_next_slot_ = kSubSlots - 1;  // slots are used from the last one down
  }
  std::uint8_t* e = Bytes(sub_block_) + kSubPointers + 5 * sub_next_slot_;
  e[0] = static_cast<std::uint8_t>(sub_next_chunk_);
  e[1] = static_cast<std::uint8_t>(chunks);
  PutU16(e + 2, ref->mod);
  e[4] = static_cast<std::uint8_t>(data.size() % 16 == 0 ? 16 : data.size() % 16);
  std::memcpy(sub_block_.data() + sub_next_chunk_ * 16, data.data(), data.size());
  ref->offset_index =
      static_cast<std::uint32_t>(sub_offset_) | static_cast<std::uint32_t>(sub_next_slot_);
  sub_next_chunk_ += chunks;
  --sub_next_slot_;
  return WriteUnits(sub_offset_, sub_block_);
}

Status BlobWriter::Sync() { return file_->Sync(); }

Status CheckBlobFile(Env* env, const std::string& path, std::uint32_t key) {
  std::unique_ptr<RandomFile> file;
  Status s = env->OpenRead(path, &file);
  if (!s.ok()) return s;
  const std::uint64_t size = file->Size();
  std::uint64_t offset = 0;
  while (offset < size) {
    std::string chunk(256, '\0');
    const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(256, size - offset));
    if (n < 3) return Corrupt("blob file ends inside a block header").WithContext(path);
    s = file->ReadAt(offset, n, chunk.data());
    if (!s.ok()) return s;
    if (key && n == 256) DecryptBlobChunks(Bytes(chunk), 256, key);
    const auto type = static_cast<std::uint8_t>(chunk[0]);
    const std::uint64_t units = GetU16(Bytes(chunk) + 1);
    const bool known = offset == 0
                           ? type == kHeaderBlock
                           : (type == kSingleBlock || type == kSubBlock || type == kFreeBlock);
    if (!known || units == 0) {
      return Corrupt("blob file block at offset " + std::to_string(offset) + " has type " +
                     std::to_string(type) + " and " + std::to_string(units) + " units")
          .WithContext(path);
    }
    if (offset + units * kBlobUnit > size) {
      return Corrupt("blob file block at offset " + std::to_string(offset) +
                     " runs past the end of the file")
          .WithContext(path);
    }
    offset += units * kBlobUnit;
  }
  return Status::OK();
}

}  // namespace engine
