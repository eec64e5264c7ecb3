// The data blocks of a .DB file: the 6-byte block header (next and previous
// block numbers, size of the data beyond the first record), the chain of
// blocks that holds the records, and reading one block (decrypting it when
// the table is protected). Chain walking checks every number against the
// file and stops at loops.
#pragma once

#ifndef VARDEX_ENGINE_INTERNAL
#error "engine/format is the engine's own; use the engine's public headers"
#endif

#include <cstdint>
#include <string>
#include <vector>

#include "DataFileHeader.h"
#include "Env.h"
#include "Status.h"

namespace engine {

struct DataBlockHeader {
  static constexpr std::size_t kEncodedLength = 6;
  std::uint16_t next = 0;
  std::uint16_t prev = 0;
  std::int16_t add_data_size = -1;  // bytes beyond the first record; negative when empty

  static DataBlockHeader DecodeFrom(const std::uint8_t* p);
  void EncodeTo(std::uint8_t* p) const;
  // Records in the block, or -1 when the size is not a whole number of
  // records that fits the block.
  int Records(std::size_t record_size, std::size_t block_size) const;
  static std::int16_t SizeFor(int records, std::size_t record_size) {
    // An empty block stores minus one record length.
    return static_cast<std::int16_t>((records - 1) * static_cast<int>(record_size));
  }
};

struct BlockRef {
  std::uint16_t number = 0;  // 1-based
  std::uint16_t records = 0;
  std::uint32_t first_record = 0;  // ordinal of its first record in the table
};

// File offset of a block.
inline std::uint64_t BlockOffset(const DataFileHeader& h, std::uint32_t number) {
  return h.header_size + std::uint64_t{number - 1} * h.BlockSize();
}

// Reads block `number` into buf (BlockSize bytes, zero-filled past a short
// end of file) and decrypts it with key when key is not 0.
Status ReadDataBlock(RandomFile* file, const DataFileHeader& h, std::uint32_t key,
                     std::uint32_t number, std::string* buf);

// Walks the block chain from the header's first block. Fails with a
// corruption status naming the fault; `note` receives a remark on a harmless
// irregularity (a final block cut short after its last record).
Status ReadBlockChain(RandomFile* file, const DataFileHeader& h, std::uint32_t key,
                      std::vector<BlockRef>* chain, std::string* note);

}  // namespace engine
