#include "DataBlock.h"

#include <algorithm>
#include <cstring>

#include "ByteOrder.h"
#include "ParadoxCrypt.h"

namespace engine {

namespace {

Status Corrupt(const std::string& what) { return Status(DBIERR_PHYSICALCORRUPT, what); }

}  // namespace

DataBlockHeader DataBlockHeader::DecodeFrom(const std::uint8_t* p) {
  DataBlockHeader h;
  h.next = GetU16(p);
  h.prev = GetU16(p + 2);
  h.add_data_size = GetI16(p + 4);
  return h;
}

void DataBlockHeader::EncodeTo(std::uint8_t* p) const {
  PutU16(p, next);
  PutU16(p + 2, prev);
  PutU16(p + 4, static_cast<std::uint16_t>(add_data_size));
}

int DataBlockHeader::Records(std::size_t record_size, std::size_t block_size) const {
  if (add_data_size < 0) return 0;
  const auto add = static_cast<std::size_t>(add_data_size);
  if (add % record_size != 0) return -1;
  if (kEncodedLength + add + record_size > block_size) return -1;
  return static_cast<int>(add / record_size) + 1;
}

Status ReadDataBlock(RandomFile* file, const DataFileHeader& h, std::uint32_t key,
                     std::uint32_t number, std::string* buf) {
  const std::uint64_t offset = BlockOffset(h, number);
  const std::size_t size = h.BlockSize();
  buf->assign(size, '\0');
  if (offset >= file->Size())
    return Corrupt("block " + std::to_string(number) + " lies beyond the end of the file");
  const std::size_t avail =
      static_cast<std::size_t>(std::min<std::uint64_t>(size, file->Size() - offset));
  Status s = file->ReadAt(offset, avail, buf->data());
  if (!s.ok()) return s;
  if (key != 0) DecryptDataBlock(Bytes(*buf), size, key, number);
  return Status::OK();
}

namespace {

// Reads just the 6-byte header of a block (the whole block when encrypted).
// Plain blocks are read a window of neighbours at a time, as chains mostly
// run through the file in order.
class BlockHeaderReader {
 public:
  BlockHeaderReader(RandomFile* file, const DataFileHeader& h, std::uint32_t key)
      : file_(file), h_(h), key_(key) {}

  Status Read(std::uint32_t number, DataBlockHeader* out) {
    const std::uint64_t offset = BlockOffset(h_, number);
    if (offset + DataBlockHeader::kEncodedLength > file_->Size()) {
      return Corrupt("block " + std::to_string(number) + " lies beyond the end of the file");
    }
    if (key_ != 0) {
      std::string block;
      Status s = ReadDataBlock(file_, h_, key_, number, &block);
      if (!s.ok()) return s;
      *out = DataBlockHeader::DecodeFrom(Bytes(block));
      return Status::OK();
    }
    if (number < first_ || number >= first_ + count_) {
      const std::size_t size = h_.BlockSize();
      const std::uint64_t end = std::min<std::uint64_t>(
          file_->Size(), offset + std::max<std::size_t>(size, kWindow / size * size));
      window_.resize(static_cast<std::size_t>(end - offset));
      Status s = file_->ReadAt(offset, window_.size(), window_.data());
      if (!s.ok()) return s;
      first_ = number;
      // Whole headers only: the last block may be cut short.
      count_ = static_cast<std::uint32_t>(
          (window_.size() - DataBlockHeader::kEncodedLength) / size + 1);
    }
    *out = DataBlockHeader::DecodeFrom(Bytes(window_) + (number - first_) * h_.BlockSize());
    return Status::OK();
  }

 private:
  static constexpr std::size_t kWindow = 256 * 1024;
  RandomFile* file_;
  const DataFileHeader& h_;
  std::uint32_t key_;
  std::string window_;
  std::uint32_t first_ = 0, count_ = 0;
};

}  // namespace

Status ReadBlockChain(RandomFile* file, const DataFileHeader& h, std::uint32_t key,
                      std::vector<BlockRef>* chain, std::string* note) {
  chain->clear();
  std::vector<bool> seen(std::size_t{h.file_blocks} + 1, false);
  std::uint32_t number = h.first_block, prev = 0, total = 0;
  if (h.num_records > 0 && number == 0) return Corrupt("the table has records but no first block");
  // Every block the header counts must at least begin inside the file.
  if (h.file_blocks > 0 && BlockOffset(h, h.file_blocks) >= file->Size()) {
    return Corrupt(
        "the header counts " + std::to_string(h.file_blocks) + " blocks but the file holds " +
        std::to_string((file->Size() - h.header_size + h.BlockSize() - 1) / h.BlockSize()));
  }
  BlockHeaderReader headers(file, h, key);
  while (number != 0) {
    if (number > h.file_blocks) {
      return Corrupt("block chain points to block " + std::to_string(number) + " of " +
                     std::to_string(h.file_blocks));
    }
    if (seen[number]) return Corrupt("block chain loops back to block " + std::to_string(number));
    seen[number] = true;
    DataBlockHeader bh;
    Status s = headers.Read(number, &bh);
    if (!s.ok()) return s;
    const int records = bh.Records(h.record_size, h.BlockSize());
    if (records < 0) {
      return Corrupt("block " + std::to_string(number) + " claims " +
                     std::to_string(bh.add_data_size) + " bytes of records, which do not fit");
    }
    if (bh.prev != prev) {
      return Corrupt("block " + std::to_string(number) + " names block " + std::to_string(bh.prev) +
                     " as its predecessor instead of " + std::to_string(prev));
    }
    const std::uint64_t data_end = BlockOffset(h, number) + DataBlockHeader::kEncodedLength +
                                   std::uint64_t(records) * h.record_size;
    if (data_end > file->Size()) {
      return Corrupt("the records of block " + std::to_string(number) +
                     " run past the end of the file");
    }
    if (BlockOffset(h, number) + h.BlockSize() > file->Size() && note) {
      *note = "block " + std::to_string(number) + " is cut short by " +
              std::to_string(BlockOffset(h, number) + h.BlockSize() - file->Size()) +
              " bytes after its last record";
    }
    chain->push_back(
        {static_cast<std::uint16_t>(number), static_cast<std::uint16_t>(records), total});
    total += static_cast<std::uint32_t>(records);
    prev = number;
    number = bh.next;
  }
  if (chain->size() != h.used_blocks) {
    return Corrupt("the header counts " + std::to_string(h.used_blocks) +
                   " blocks in use but the chain has " + std::to_string(chain->size()));
  }
  if (total != h.num_records) {
    return Corrupt("the header counts " + std::to_string(h.num_records) +
                   " records but the blocks hold " + std::to_string(total));
  }
  return Status::OK();
}

}  // namespace engine
