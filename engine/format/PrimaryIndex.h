// Index tree files: the primary index (.PX) of a keyed table, and the .Ynn /
// .YGn file that indexes the blocks of a secondary index in the same way.
// A header block, then index blocks forming a tree: a level-1 entry holds the
// first key of one block of the indexed file, its block number and its record
// count; an entry above holds the first key, number and count sum of a block
// one level down. Pure format code over bytes.
#pragma once

#ifndef VARDEX_ENGINE_INTERNAL
#error "engine/format is the engine's own; use the engine's public headers"
#endif

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "IndexKey.h"
#include "Status.h"

namespace engine {

struct IndexEntry {
  std::string key;
  std::uint16_t block = 0;  // 1-based block of the indexed file
  std::uint16_t count = 0;  // records in that block

  bool operator==(const IndexEntry&) const = default;
};

// What an index tree file takes from the file it indexes.
struct IndexFileParams {
  std::uint8_t fileType = 1;  // 1 .PX, 4 .Ynn, 7 .YGn
  std::uint8_t blockSizeCode = 2;
  std::uint8_t versionId = 12;
  std::uint8_t sortOrder = 0;
  // The engine trusts an index only while this equals the indexed file's
  // change count (the byte at 0x2D of its header).
  std::uint8_t changeCount = 0;
  std::uint16_t updateCount = 0;  // header word 0x12, one above the indexed file's
  std::string tableName;          // the file's own name, kept in its header
  std::vector<KeyField> keyFields;
};

class PrimaryIndex {
 public:
  static constexpr std::size_t kCommonHeader = 0x58;
  static constexpr std::size_t kEntryExtra = 6;  // block, count, spare

  Status DecodeFrom(std::string_view bytes);

  const IndexFileParams& Params() const { return params_; }
  std::uint8_t Levels() const { return levels_; }
  std::uint16_t Root() const { return root_; }
  std::uint32_t EntryCount() const { return entries_; }
  bool Encrypted() const { return encrypted_; }
  const std::string& Header() const { return header_; }

  // The level-1 entries in order, found by walking down from the root;
  // blocks that loop, point outside the file or are deeper or shallower than
  // the header says are reported as corruption.
  Status Leaves(std::vector<IndexEntry>* out) const;
  // Every page of the file, beyond what reading needs: each block is in
  // the tree once, an entry above level 1 holds the first key of the block
  // it names and the sum of its counts, the header's entry and block counts
  // are those of the tree, the links of the blocks in use run through all
  // of them from the first to the last, and the file ends where a block
  // does (or, as older engines wrote it, on a kilobyte within the last).
  Status CheckPages() const;

  // Whether a tree over these key fields can be built: at least two entries
  // must fit a block, or the tree would never narrow to a root.
  static Status CheckParams(const IndexFileParams& params);

  // Raises params->blockSizeCode to the smallest index block size (see
  // LargerIndexBlockCode) that holds two entries, keeping it where it
  // already does. The entries index the blocks of one file, at most 65535,
  // so a tree of two or more a block never needs more than 65535 blocks.
  // A key too long for even the largest blocks is refused, naming the file.
  static Status FitBlockCode(IndexFileParams* params);

  // A complete file over these level-1 entries (in order). Header bytes not
  // modelled are copied from `templateHeader` (an earlier file of the same
  // table) when given. Empty when CheckParams refuses the parameters.
  static std::string Build(const IndexFileParams& params, const std::vector<IndexEntry>& leaves,
                           const std::string& templateHeader = std::string());

 private:
  Status Walk(std::uint16_t block, int level, std::vector<bool>& seen,
              std::vector<IndexEntry>* out) const;
  Status ReadBlock(std::uint16_t number, std::vector<IndexEntry>* entries) const;

  std::string bytes_;
  std::size_t fileSize_ = 0;
  std::string header_;
  IndexFileParams params_;
  std::uint16_t recordSize_ = 0;
  std::uint16_t headerSize_ = 0;
  std::uint16_t fileBlocks_ = 0;
  std::uint16_t root_ = 0;
  std::uint8_t levels_ = 0;
  std::uint32_t entries_ = 0;
  bool encrypted_ = false;
};

// Checks level-1 entries against the blocks of the indexed file in chain
// order (first key, block number, record count) and the keys against their
// order. Names the first difference as index corruption.
Status CheckLeaves(const std::vector<IndexEntry>& leaves, const std::vector<IndexEntry>& blocks,
                   const KeyOrder& order);

// The block size code of an index tree file for a table whose data blocks
// have this code: the same up to 4 KiB; tables with larger blocks (16 KiB
// seen) keep their index trees in 2 KiB blocks.
std::uint8_t IndexTreeBlockCode(std::uint8_t tableBlockCode);

// Index files use blocks of 1, 2, 4, 16 or 32 KiB (3 KiB in old files only).
// The next of those above `code`, for an index that outgrows its blocks;
// 0 above 32 KiB.
std::uint8_t LargerIndexBlockCode(std::uint8_t code);
constexpr std::uint8_t kLargestIndexBlockCode = 32;

// Record bytes of a field as the header lists it (type, size byte).
std::uint16_t KeyFieldSize(std::uint8_t type, std::uint8_t sizeByte);

}  // namespace engine
