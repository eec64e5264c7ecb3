// JSON Lines: exactly what `vdx dump` prints, into a file. The dump is
// written through a buffer that counts its lines for the progress callback
// and stops the dump when the callback cancels.
#include <cstdio>
#include <cstring>
#include <ostream>
#include <streambuf>

#include "ExportWriters.h"
#include "TableDump.h"

namespace tableexport {

namespace {

class CountingFileBuf : public std::streambuf {
 public:
  CountingFileBuf(FILE* fp, RecordTicker* ticker) : fp_(fp), ticker_(ticker), buf_(1 << 20) {
    setp(buf_.data(), buf_.data() + buf_.size());
  }
  bool Drain() {
    const std::size_t n = static_cast<std::size_t>(pptr() - pbase());
    std::uint64_t lines = 0;
    for (const char* p = pbase();
         (p = static_cast<const char*>(std::memchr(p, '\n', static_cast<std::size_t>(pptr() - p))));
         ++p) {
      ++lines;
    }
    setp(buf_.data(), buf_.data() + buf_.size());
    if (std::fwrite(buf_.data(), 1, n, fp_) != n) return false;
    // The first line describes the table; the others are its records.
    const std::uint64_t records = lines - (first_ && lines ? 1 : 0);
    first_ = false;
    return ticker_->Add(records);
  }

 protected:
  int_type overflow(int_type c) override {
    if (!Drain()) return traits_type::eof();
    if (!traits_type::eq_int_type(c, traits_type::eof())) {
      *pptr() = traits_type::to_char_type(c);
      pbump(1);
    }
    return traits_type::not_eof(c);
  }
  int sync() override { return Drain() ? 0 : -1; }

 private:
  FILE* fp_;
  RecordTicker* ticker_;
  std::vector<char> buf_;
  bool first_ = true;
};

}  // namespace

engine::Status WriteJsonl(const engine::ParadoxTable& table, const std::string& path,
                          RecordTicker* ticker) {
  FILE* fp = std::fopen(path.c_str(), "wb");
  if (!fp) return engine::Status::IOError("cannot write " + path);
  CountingFileBuf buf(fp, ticker);
  std::ostream out(&buf);
  out.exceptions(std::ios_base::badbit);
  engine::Status s;
  bool written = true;
  try {
    s = engine::DumpTable(table, out);
    out.flush();
  } catch (const std::ios_base::failure&) {
    written = false;
  }
  if (std::fclose(fp) != 0) written = false;
  if (ticker->Cancelled()) return CancelledStatus();
  if (s.ok() && !written) s = engine::Status::IOError("cannot write " + path);
  return s;
}

}  // namespace tableexport
