// libFuzzer target for the blob-file reader: the input is a .MB file whose
// first 16 bytes also serve as two blob references (offset/index, length)
// to resolve; the block walk of verify runs over the whole file.
#include <cstdint>
#include <cstring>

#include "BlobFile.h"
#include "MemEnv.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 16) return 0;
  fuzz::MemEnv env;
  env.files["/fuzz/T.MB"] = std::string(reinterpret_cast<const char*>(data), size);
  std::uint32_t words[4];
  std::memcpy(words, data, sizeof words);
  for (std::uint32_t key : {0u, words[0]}) {
    (void)engine::CheckBlobFile(&env, "/fuzz/T.MB", key);
    std::unique_ptr<engine::BlobReader> reader;
    if (!engine::BlobReader::Open(&env, "/fuzz/T.MB", key, &reader).ok()) continue;
    for (int i = 0; i < 2; ++i) {
      engine::BlobRef ref;
      ref.offset_index = words[2 * i];
      ref.length = words[2 * i + 1];
      ref.leader = std::string(reinterpret_cast<const char*>(data), 10);
      std::string out;
      (void)reader->Read(ref, &out);
    }
  }
  return 0;
}
