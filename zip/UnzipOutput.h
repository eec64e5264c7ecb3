// The files an extraction writes. Each grows under a temporary name beside
// its target, with its whole size reserved up front when it is known, has
// its writeback started as soon as it is complete, and takes its name once
// it checks; at the end all of them, and the folders they were named in,
// are made durable together instead of one by one. Whole files inflated in
// memory are written on a thread of their own while the caller inflates
// the next one. Files from a megabyte up go from their buffers straight to
// the disk, past the page cache, where the file system allows.
#pragma once

#include <sys/types.h>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

class TUnzipOutput {
 public:
  TUnzipOutput() = default;
  // Waits for the file being written, then stops the writer.
  ~TUnzipOutput();
  TUnzipOutput(const TUnzipOutput&) = delete;
  TUnzipOutput& operator=(const TUnzipOutput&) = delete;

  // Memory aligned for writes that bypass the page cache.
  struct TBufferFree {
    void operator()(char* p) const;
  };
  using TBuffer = std::unique_ptr<char[], TBufferFree>;

  // A file of `size` bytes to write as `part`, dated `mtime`, then named `target`.
  struct TFile {
    std::string part;
    std::string target;
    TBuffer data;
    size_t size = 0;
    time_t mtime = 0;
    size_t capacity = 0;  // of data
  };
  // Memory for a file of n bytes: the writer's last buffer when that is
  // large enough (fresh memory costs a page fault a page).
  void TakeBuffer(TFile& file, size_t n);
  // Hands a file to the writer thread, first waiting for the one before.
  // Answers the first failure of the writer so far (UE_OK when none): once
  // one file failed, no other is written.
  int Submit(TFile file);
  // Waits until every file handed over is written; the first failure.
  int Drain();

  // For a file the caller writes itself: opens `part` with `size` bytes
  // reserved (-1 on failure), and, once the caller has written it (rc its
  // verdict), closes, dates and names it, or removes the part on failure.
  int Open(const std::string& part, uint64_t size);
  int Finish(int fd, const std::string& part, const std::string& target, time_t mtime, int rc);
  // What such a file is written through, a piece at a time: staged in
  // whole pages, which go straight to the disk when the file is large
  // enough (as a whole file's do).
  class TPieces {
   public:
    TPieces(int fd, uint64_t size);
    bool Append(const char* p, size_t n);
    // Writes what is staged; call once all is appended.
    bool Flush();

   private:
    int fd_;
    bool direct_;
    size_t capacity_;
    TBuffer buffer_;
    size_t used_ = 0;
  };
  // A folder made for an entry of its own, to be made durable with the files.
  void AddFolder(const std::string& folder);

  // Makes every file named so far and its folder durable (the whole file
  // system at once when there are very many). Call after Drain.
  int Sync(const std::string& destination);

 private:
  static TBuffer Allocate(size_t n);  // aligned for direct writes
  void Loop();
  int Write(TFile& file);

  std::mutex mutex_;  // guards everything below
  std::condition_variable changed_;
  std::thread thread_;
  std::unique_ptr<TFile> next_;  // handed over, not yet taken
  TBuffer spare_;                // a written file's buffer, for the next
  size_t spareCapacity_ = 0;
  bool busy_ = false;  // the thread writes a file
  bool stop_ = false;
  int failure_ = 0;
  std::vector<std::string> named_;  // the files written, for Sync
  std::set<std::string> folders_;   // the folders they were named in
};
