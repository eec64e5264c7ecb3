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

namespace {

constexpr size_t kDictSize = 32768;

}  // namespace

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
  ~TDeflateWorkspace() {
    if (compressor) libdeflate_free_compressor(compressor);
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

// Compresses [p, p + n) into chunk.out with zlib, after `dict` bytes of
// history just before it; a piece that is not its file's last ends on a
// byte boundary (sync flush), so that the next piece follows it directly.
bool DeflateJoined(TDeflateChunk& chunk, const char* dict, size_t dictLen, const char* p,
                   size_t n) {
  z_stream z{};
  if (deflateInit2(&z, chunk.level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) return false;
  if (dictLen > 0) {
    deflateSetDictionary(&z, reinterpret_cast<const Bytef*>(dict), static_cast<uInt>(dictLen));
  }
  size_t room = deflateBound(&z, n) + 1024;
  char* out = chunk.out.Reserve(room);
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(p));
  z.avail_in = static_cast<uInt>(n);
  size_t produced = 0;
  const int flush = chunk.last ? Z_FINISH : Z_SYNC_FLUSH;
  int rc = Z_OK;
  for (;;) {
    if (produced == room) {  // more than the bound: move to a larger buffer
      TPageBuffer larger;
      char* q = larger.Reserve(room * 2);
      std::memcpy(q, out, produced);
      chunk.out = std::move(larger);
      out = q;
      room *= 2;
    }
    z.next_out = reinterpret_cast<Bytef*>(out + produced);
    z.avail_out = static_cast<uInt>(room - produced);
    rc = deflate(&z, flush);
    produced = room - z.avail_out;
    if (rc != Z_OK || (z.avail_out != 0 && !chunk.last)) break;
  }
  deflateEnd(&z);
  chunk.outSize = produced;
  return chunk.last ? rc == Z_STREAM_END : (rc == Z_OK || rc == Z_BUF_ERROR);
}

void Deflate(TDeflateChunk& chunk, TDeflateWorkspace& ws) {
  const int fd = ::open(chunk.path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    chunk.rc = ZE_OPEN;
    return;
  }
  // The history a joined piece is primed with, read along with it; the
  // last piece asks for one byte more, to see that the file ends there.
  const size_t dictLen =
      chunk.whole || chunk.level == 0 ? 0 : static_cast<size_t>(std::min<uint64_t>(kDictSize, chunk.offset));
  const size_t want = dictLen + chunk.length + (chunk.last ? 1 : 0);
  char* in = ws.in.Reserve(want, true);
  const ssize_t got = ReadAt(fd, in, want, chunk.offset - dictLen);
  ::close(fd);
  if (got < 0) {
    chunk.rc = ZE_READ;
    return;
  }
  // A file that changed its size while it was read would not match the
  // sizes its header was planned with.
  if (static_cast<size_t>(got) != dictLen + chunk.length) {
    chunk.rc = ZE_EOF;
    return;
  }
  const char* data = in + dictLen;
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
  } else if (!DeflateJoined(chunk, in, dictLen, data, chunk.length)) {
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
