// Deflate on every core: a file is cut into chunks that worker threads
// compress independently, each primed with the 32 KiB before it, and joined
// in order into one deflate stream (as pigz does). The caller's thread reads
// and writes; only compression runs on the workers.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct TDeflateChunk {
  std::string in;
  std::string dict;  // the input just before this chunk, for a better match
  bool last = false;
  int level = 5;  // 0 stores
  std::string out;
  uint32_t crc = 0;  // of `in`
  bool ok = false;
  bool done = false;
};

class TDeflatePool {
 public:
  explicit TDeflatePool(int threads);
  ~TDeflatePool();
  TDeflatePool(const TDeflatePool&) = delete;
  TDeflatePool& operator=(const TDeflatePool&) = delete;

  void Submit(const std::shared_ptr<TDeflateChunk>& chunk);
  void Wait(const TDeflateChunk& chunk);

 private:
  void Work();

  std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable finished_;
  std::deque<std::shared_ptr<TDeflateChunk>> queue_;
  std::vector<std::thread> workers_;
  bool stopping_ = false;
};

// Compresses one chunk where the caller stands (also what the workers run).
void DeflateChunk(TDeflateChunk& chunk);
