// Parallel deflate of files and pieces of files; see ZipDeflate.h.
#include "ZipDeflate.h"

#include <fcntl.h>
#include <libdeflate.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>

#include "DZip.h"

char* TPageBuffer::Reserve(size_t n, bool fill) {
  if (n <= cap_ && p_) return p_;
  Release();
  const size_t page = static_cast<size_t>(::sysconf(_SC_PAGESIZE));
  const size_t cap = std::max<size_t>((n + page - 1) / page * page, page);
  void* p = ::mmap(nullptr, cap, PROT_READ | PROT_WRITE,
                   MAP_PRIVATE | MAP_ANONYMOUS | (fill ? MAP_POPULATE : 0), -1, 0);
  if (p == MAP_FAILED) throw std::bad_alloc();
  p_ = static_cast<char*>(p);
  cap_ = cap;
  return p_;
}

struct TDeflateWorkspace {
  TPageBuffer in;
  libdeflate_compressor* compressor = nullptr;
  int level = -1;
  z_stream inflater{};
  bool inflating = false;
  unsigned char sink[65536];
  ~TDeflateWorkspace() {
    if (compressor) libdeflate_free_compressor(compressor);
    if (inflating) inflateEnd(&inflater);
  }
  // Throws std::bad_alloc.
  z_stream& Inflater() {
    if (!inflating && inflateInit2(&inflater, -15) != Z_OK) throw std::bad_alloc();
    inflating = true;
    return inflater;
  }
  libdeflate_compressor* Compressor(int wanted) {
    if (compressor && level == wanted) return compressor;
    if (compressor) libdeflate_free_compressor(compressor);
    compressor = libdeflate_alloc_compressor(wanted);
    level = compressor ? wanted : -1;
    return compressor;
  }
};

namespace {

// Exactly what lies at [offset, offset + n) and one byte more when the file
// holds it; answers the bytes read, or -1.
ssize_t ReadAt(int fd, char* p, size_t n, uint64_t offset) {
  size_t got = 0;
  while (got < n) {
    const ssize_t r = ::pread(fd, p + got, n - got, static_cast<off_t>(offset + got));
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) return -1;
    if (r == 0) break;
    got += static_cast<size_t>(r);
  }
  return static_cast<ssize_t>(got);
}

// Turns the deflate stream of `*n` bytes at `p` into one that does not end:
// the last block's final bit is cleared, and an empty stored block after it
// brings the stream to a byte boundary (as a sync flush would), so that the
// next piece's stream follows directly. zlib walks the blocks to find where
// the last one starts and ends. `p` has room for 5 bytes more.
bool LeaveOpen(unsigned char* p, size_t* n, TDeflateWorkspace& ws) {
  z_stream& z = ws.Inflater();
  if (inflateReset(&z) != Z_OK) return false;
  z.next_in = p;
  z.avail_in = static_cast<uInt>(*n);
  uint64_t header = 0;  // the bit where the block being read began
  for (;;) {
    z.next_out = ws.sink;
    z.avail_out = sizeof ws.sink;
    const int rc = inflate(&z, Z_BLOCK);
    if (rc != Z_OK && !(rc == Z_BUF_ERROR && z.avail_out == 0)) return false;
    if (!(z.data_type & 128)) continue;  // within a block: the sink was full
    const uint64_t at = z.total_in * 8 - static_cast<unsigned>(z.data_type & 7);
    if (!(z.data_type & 64)) {
      header = at;  // the next block starts here
      continue;
    }
    // `at` ends the last block, which began at `header`.
    p[header / 8] &= static_cast<unsigned char>(~(1u << (header % 8)));
    if (at % 8) p[at / 8] &= static_cast<unsigned char>((1u << (at % 8)) - 1);
    size_t size = static_cast<size_t>((at + 3 + 7) / 8);  // three zero bits: stored, not last
    for (size_t i = static_cast<size_t>((at + 7) / 8); i < size; ++i) p[i] = 0;
    for (unsigned char b : {0x00, 0x00, 0xFF, 0xFF}) p[size++] = b;  // its length, and its inverse
    *n = size;
    return true;
  }
}

// Compresses one piece of a file too large to compress whole. Each piece is
// a deflate stream of its own, without the history before it; all but the
// last are left open, so that they join into one stream.
bool DeflatePart(TDeflateChunk& chunk, TDeflateWorkspace& ws, const char* data) {
  libdeflate_compressor* c = ws.Compressor(chunk.level);
  if (!c) return false;
  const size_t bound = libdeflate_deflate_compress_bound(c, chunk.length);
  auto* out = reinterpret_cast<unsigned char*>(chunk.out.Reserve(bound + 8));
  size_t n = libdeflate_deflate_compress(c, data, chunk.length, out, bound);
  if (n == 0) return false;
  if (!chunk.last && !LeaveOpen(out, &n, ws)) return false;
  chunk.outSize = n;
  return true;
}

void Deflate(TDeflateChunk& chunk, TDeflateWorkspace& ws) {
  const int fd = ::open(chunk.path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    chunk.rc = ZE_OPEN;
    return;
  }
  // The last piece asks for one byte more, to see that the file ends there.
  const size_t want = chunk.length + (chunk.last ? 1 : 0);
  char* in = ws.in.Reserve(want, true);
  const ssize_t got = ReadAt(fd, in, want, chunk.offset);
  ::close(fd);
  if (got < 0) {
    chunk.rc = ZE_READ;
    return;
  }
  // A file that changed its size while it was read would not match the
  // sizes its header was planned with.
  if (static_cast<size_t>(got) != chunk.length) {
    chunk.rc = ZE_EOF;
    return;
  }
  const char* data = in;
  chunk.crc = static_cast<uint32_t>(libdeflate_crc32(0, data, chunk.length));
  if (chunk.level == 0) {
    std::memcpy(chunk.out.Reserve(chunk.length), data, chunk.length);
    chunk.outSize = chunk.length;
  } else if (chunk.whole) {
    libdeflate_compressor* c = ws.Compressor(chunk.level);
    if (!c) {
      chunk.rc = ZE_MEM;
      return;
    }
    const size_t bound = libdeflate_deflate_compress_bound(c, chunk.length);
    chunk.outSize =
        libdeflate_deflate_compress(c, data, chunk.length, chunk.out.Reserve(bound), bound);
    if (chunk.outSize == 0) chunk.rc = ZE_MEM;
  } else if (!DeflatePart(chunk, ws, data)) {
    chunk.rc = ZE_MEM;
  }
}

}  // namespace

TDeflatePool::TDeflatePool(int threads) : maxSpare_(static_cast<size_t>(threads) * 2 + 2) {
  if (threads == 0) inline_ = std::make_unique<TDeflateWorkspace>();
  for (int i = 0; i < threads; ++i) workers_.emplace_back([this] { Work(); });
}

TDeflatePool::~TDeflatePool() {
  Close();
  for (std::thread& t : workers_) t.join();
}

void TDeflatePool::Close() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  inline_.reset();
}

void TDeflatePool::Run(TDeflateChunk& chunk, TDeflateWorkspace& ws) {
  {
    std::lock_guard lock(mutex_);
    if (!spare_.empty()) {
      chunk.out = std::move(spare_.back());
      spare_.pop_back();
    }
  }
  try {
    Deflate(chunk, ws);
  } catch (const std::bad_alloc&) {
    chunk.rc = ZE_MEM;
  }
}

void TDeflatePool::Submit(const std::shared_ptr<TDeflateChunk>& chunk) {
  if (workers_.empty()) {
    Run(*chunk, *inline_);
    chunk->done = true;
    return;
  }
  {
    std::lock_guard lock(mutex_);
    queue_.push_back(chunk);
  }
  wake_.notify_one();
}

void TDeflatePool::Wait(const TDeflateChunk& chunk) {
  std::unique_lock lock(mutex_);
  finished_.wait(lock, [&] { return chunk.done; });
}

void TDeflatePool::Recycle(TPageBuffer&& out) {
  if (!out.data()) return;
  std::lock_guard lock(mutex_);
  // A few are enough for the pieces in flight; more would only hold memory.
  if (spare_.size() < maxSpare_) spare_.push_back(std::move(out));
}

void TDeflatePool::Work() {
  TDeflateWorkspace ws;
  for (;;) {
    std::shared_ptr<TDeflateChunk> chunk;
    {
      std::unique_lock lock(mutex_);
      wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
      if (queue_.empty()) return;
      chunk = queue_.front();
      queue_.pop_front();
    }
    Run(*chunk, ws);
    {
      std::lock_guard lock(mutex_);
      chunk->done = true;
    }
    finished_.notify_all();
  }
}
