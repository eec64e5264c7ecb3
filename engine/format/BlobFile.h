// The blob file (.MB) beside a table: a 4 KiB header block, single-blob
// blocks (type 2), suballocated blocks holding up to 64 small blobs (type 3)
// and free blocks (type 4), all in 4 KiB units. BlobReader resolves the
// references stored in records; BlobWriter appends new blobs; CheckBlobFile
// walks every block for `vdx verify`. A protected table's blob file is
// scrambled in 256-byte chunks from its start.
#pragma once

#ifndef VARDEX_ENGINE_INTERNAL
#error "engine/format is the engine's own; use the engine's public headers"
#endif

#include <cstdint>
#include <memory>
#include <string>

#include "Env.h"
#include "FieldCodec.h"
#include "Status.h"

namespace engine {

constexpr std::size_t kBlobUnit = 4096;
constexpr std::uint32_t kMaxBlobLength = 0x10000000;  // 256 MiB, the format's limit

class BlobReader {
 public:
  static Status Open(Env* env, const std::string& path, std::uint32_t key,
                     std::unique_ptr<BlobReader>* out);
  // The data of a blob: from the record's leader when it has no block, else
  // from the block the reference names, after checking it.
  Status Read(const BlobRef& ref, std::string* out);
  std::uint64_t Size() const { return file_->Size(); }

 private:
  Status ReadRange(std::uint64_t offset, std::size_t n, std::string* out);
  Status ReadSingle(const BlobRef& ref, std::string* out);
  Status ReadSuballocated(const BlobRef& ref, std::string* out);

  std::unique_ptr<RandomFile> file_;
  std::uint32_t key_ = 0;
};

class BlobWriter {
 public:
  // Creates a new, empty blob file (header block only).
  static Status Create(Env* env, const std::string& path, std::uint32_t key,
                       std::unique_ptr<BlobWriter>* out);
  // Opens an existing blob file to append to it.
  static Status OpenAppend(Env* env, const std::string& path, std::uint32_t key,
                           std::unique_ptr<BlobWriter>* out);
  // Stores a blob for a field whose leader holds leader_size bytes and fills
  // ref (leader copy, offset, length, modification number).
  Status Add(const std::string& data, int leader_size, BlobRef* ref);
  Status Sync();

 private:
  Status WriteUnits(std::uint64_t offset, std::string data);
  Status AddSingle(const std::string& data, BlobRef* ref);
  Status AddSuballocated(const std::string& data, BlobRef* ref);
  Status WriteHeader();

  std::unique_ptr<RandomFile> file_;
  std::uint32_t key_ = 0;
  std::uint16_t mod_count_ = 1;
  std::uint64_t end_ = kBlobUnit;  // where the next block goes
  // The suballocated block being filled: its offset, contents, next free
  // 16-byte chunk and next free pointer slot.
  std::uint64_t sub_offset_ = 0;
  std::string sub_block_;
  int sub_next_chunk_ = 0;
  int sub_next_slot_ = -1;
};

// Walks the blocks of a blob file; fails naming the first damaged block.
Status CheckBlobFile(Env* env, const std::string& path, std::uint32_t key);

}  // namespace engine
