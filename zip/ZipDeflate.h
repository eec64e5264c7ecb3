// Deflate on every core. The workers read their own input: a file up to
// kWholeFile bytes is one piece that a worker reads and compresses at once
// with libdeflate (about twice zlib's speed at the same ratio), files side
// by side; a larger file is cut into pieces that the workers read and
// compress with libdeflate too, each a stream of its own left open at its
// end, joined in order into one deflate stream. The caller's thread only
// writes the results, in order.
#pragma once

#include <sys/mman.h>

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// Pages straight from the system, kept from one piece to the next: the C
// allocator would keep a freed block of a whole file's size in the arena of
// the thread that freed it, and fresh pages cost a fault each on first touch.
// Only the pages written count against memory.
class TPageBuffer {
 public:
  TPageBuffer() = default;
  ~TPageBuffer() { Release(); }
  TPageBuffer(TPageBuffer&& o) noexcept : p_(o.p_), cap_(o.cap_) { o.p_ = nullptr, o.cap_ = 0; }
  TPageBuffer& operator=(TPageBuffer&& o) noexcept {
    if (this != &o) {
      Release();
      p_ = o.p_, cap_ = o.cap_;
      o.p_ = nullptr, o.cap_ = 0;
    }
    return *this;
  }
  // Room for at least `n` bytes; what it held is lost when it must grow.
  // `fill`: all of it will be written, so its pages are mapped at once
  // rather than one fault at a time. Throws std::bad_alloc.
  char* Reserve(size_t n, bool fill = false);
  char* data() const { return p_; }

 private:
  void Release() {
    if (p_) ::munmap(p_, cap_);
    p_ = nullptr, cap_ = 0;
  }
  char* p_ = nullptr;
  size_t cap_ = 0;
};

// What a worker keeps from one piece to the next.
struct TDeflateWorkspace;

// Files up to this size are compressed whole; this and the window of
// pieces in flight bound the memory of an add.
constexpr size_t kWholeFile = size_t{16} << 20;

// One piece of work: `length` bytes of the file at `path` from `offset`.
struct TDeflateChunk {
  std::string path;
  uint64_t offset = 0;
  size_t length = 0;
  bool whole = false;  // the whole file: compressed at once, not joined
  bool last = false;   // the file's last piece: it must end there
  int level = 5;       // 0 stores
  // The result, once done: the compressed bytes, the CRC of the input, and
  // ZE_OK or why not (ZE_OPEN, ZE_READ, ZE_EOF when the file's size is not
  // the one planned, ZE_MEM).
  TPageBuffer out;
  size_t outSize = 0;
  uint32_t crc = 0;
  int rc = 0;
  bool done = false;
};

class TDeflatePool {
 public:
  // No threads: Submit does the work where the caller stands.
  explicit TDeflatePool(int threads);
  ~TDeflatePool();
  TDeflatePool(const TDeflatePool&) = delete;
  TDeflatePool& operator=(const TDeflatePool&) = delete;

  void Submit(const std::shared_ptr<TDeflateChunk>& chunk);
  void Wait(const TDeflateChunk& chunk);
  // A result buffer given back once written, for the next piece.
  void Recycle(TPageBuffer&& out);
  // Nothing more will be submitted: each worker lets its buffers go as soon
  // as the queue is empty, while the caller writes the last results.
  void Close();

 private:
  void Work();
  void Run(TDeflateChunk& chunk, TDeflateWorkspace& ws);

  std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable finished_;
  std::deque<std::shared_ptr<TDeflateChunk>> queue_;
  std::vector<TPageBuffer> spare_;
  std::unique_ptr<TDeflateWorkspace> inline_;  // without threads
  std::vector<std::thread> workers_;
  bool stopping_ = false;
  size_t maxSpare_ = 0;
};
