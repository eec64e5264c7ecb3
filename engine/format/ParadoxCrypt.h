// Paradox table encryption: the key (a checksum of the password stored in the
// table header) and the scrambling of data blocks and blob-file chunks. The
// scheme is the one the Paradox engine uses, so tables we protect stay
// readable by it and by other readers.
#pragma once

#ifndef VARDEX_ENGINE_INTERNAL
#error "engine/format is the engine's own; use the engine's public headers"
#endif

#include <cstdint>
#include <string>

namespace engine {

// The 32-bit value a protected table stores in its header for this password;
// 0 for an empty password (an unprotected table).
std::uint32_t PasswordKey(const std::string& password);

// Data blocks are scrambled in 256-byte chunks keyed by the table key and the
// block's number (1-based, as counted from the end of the header).
void EncryptDataBlock(std::uint8_t* block, std::size_t size, std::uint32_t key,
                      std::uint32_t block_number);
void DecryptDataBlock(std::uint8_t* block, std::size_t size, std::uint32_t key,
                      std::uint32_t block_number);

// Blob files are scrambled in 256-byte chunks from the start of the file,
// the same way for every chunk. size must be a multiple of 256.
void EncryptBlobChunks(std::uint8_t* data, std::size_t size, std::uint32_t key);
void DecryptBlobChunks(std::uint8_t* data, std::size_t size, std::uint32_t key);

}  // namespace engine
