// Chunked parallel deflate; see ZipDeflate.h.
#include "ZipDeflate.h"

#include <libdeflate.h>
#include <zlib.h>

#include <new>

namespace {

void DeflateWhole(TDeflateChunk& chunk) {
  libdeflate_compressor* c = libdeflate_alloc_compressor(chunk.level);
  if (!c) return;
  // Room for the worst case, of which only the pages written are taken.
  TPageAllocator<char> pages;
  const size_t bound = libdeflate_deflate_compress_bound(c, chunk.in.size());
  char* room = pages.allocate(bound);
  const size_t n = libdeflate_deflate_compress(c, chunk.in.data(), chunk.in.size(), room, bound);
  libdeflate_free_compressor(c);
  chunk.out.assign(room, n);
  pages.deallocate(room, bound);
  chunk.ok = n > 0;
}

}  // namespace

void DeflateChunk(TDeflateChunk& chunk) {
  chunk.crc = libdeflate_crc32(0, chunk.in.data(), chunk.in.size());
  if (chunk.level == 0) {
    chunk.out = chunk.in;
    chunk.ok = true;
    return;
  }
  if (chunk.whole) {
    try {
      DeflateWhole(chunk);
    } catch (const std::bad_alloc&) {
      chunk.ok = false;  // reported as out of memory
    }
    return;
  }
  z_stream z{};
  if (deflateInit2(&z, chunk.level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) return;
  if (!chunk.dict.empty()) {
    deflateSetDictionary(&z, reinterpret_cast<const Bytef*>(chunk.dict.data()),
                         static_cast<uInt>(chunk.dict.size()));
  }
  chunk.out.resize(deflateBound(&z, chunk.in.size()) + 64);
  z.next_in = reinterpret_cast<Bytef*>(chunk.in.data());
  z.avail_in = static_cast<uInt>(chunk.in.size());
  size_t produced = 0;
  // A chunk that is not the last ends on a byte boundary (sync flush), so
  // the next chunk's output can follow it directly.
  const int flush = chunk.last ? Z_FINISH : Z_SYNC_FLUSH;
  int rc = Z_OK;
  do {
    if (produced == chunk.out.size()) chunk.out.resize(chunk.out.size() * 2);
    z.next_out = reinterpret_cast<Bytef*>(chunk.out.data() + produced);
    z.avail_out = static_cast<uInt>(chunk.out.size() - produced);
    rc = deflate(&z, flush);
    produced = chunk.out.size() - z.avail_out;
  } while (rc == Z_OK && (z.avail_out == 0 || (chunk.last && rc != Z_STREAM_END)));
  deflateEnd(&z);
  chunk.out.resize(produced);
  chunk.ok = chunk.last ? rc == Z_STREAM_END : (rc == Z_OK || rc == Z_BUF_ERROR);
}

TDeflatePool::TDeflatePool(int threads) {
  for (int i = 0; i < threads; ++i) workers_.emplace_back([this] { Work(); });
}

TDeflatePool::~TDeflatePool() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  for (std::thread& t : workers_) t.join();
}

void TDeflatePool::Submit(const std::shared_ptr<TDeflateChunk>& chunk) {
  if (workers_.empty()) {
    DeflateChunk(*chunk);
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

void TDeflatePool::Work() {
  for (;;) {
    std::shared_ptr<TDeflateChunk> chunk;
    {
      std::unique_lock lock(mutex_);
      wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
      if (queue_.empty()) return;
      chunk = queue_.front();
      queue_.pop_front();
    }
    DeflateChunk(*chunk);
    {
      std::lock_guard lock(mutex_);
      chunk->done = true;
    }
    finished_.notify_all();
  }
}
