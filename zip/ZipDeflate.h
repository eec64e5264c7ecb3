// Deflate on every core. A file up to kWholeFile bytes is one chunk that a
// worker compresses at once with libdeflate (about twice zlib's speed at the
// same ratio), files side by side; a larger file is cut into chunks that the
// workers compress with zlib, each primed with the 32 KiB before it, joined
// in order into one deflate stream (as pigz does). The caller's thread reads
// and writes; only compression runs on the workers.
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

// Gives blocks of a megabyte and more straight from the system and back:
// the C allocator would keep a freed block of a whole file's size in the
// arena of the thread that freed it, and memory would grow with threads.
template <class T>
struct TPageAllocator {
  using value_type = T;
  static constexpr size_t kPages = size_t{1} << 20;
  TPageAllocator() = default;
  template <class U>
  TPageAllocator(const TPageAllocator<U>&) {}
  T* allocate(size_t n) {
    if (n * sizeof(T) < kPages) return static_cast<T*>(::operator new(n * sizeof(T)));
    void* p =
        ::mmap(nullptr, n * sizeof(T), PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) throw std::bad_alloc();
    return static_cast<T*>(p);
  }
  void deallocate(T* p, size_t n) {
    if (n * sizeof(T) < kPages) {
      ::operator delete(p);
    } else {
      ::munmap(p, n * sizeof(T));
    }
  }
  bool operator==(const TPageAllocator&) const { return true; }
};
using TBytes = std::basic_string<char, std::char_traits<char>, TPageAllocator<char>>;

// Files up to this size are compressed whole; this and the window of
// chunks in flight bound the memory of an add.
constexpr size_t kWholeFile = size_t{16} << 20;

struct TDeflateChunk {
  TBytes in;
  bool whole = false;  // the whole file: compressed at once, not joined
  std::string dict;    // the input just before this chunk, for a better match
  bool last = false;
  int level = 5;  // 0 stores
  TBytes out;
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
