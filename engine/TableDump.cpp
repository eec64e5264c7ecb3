#include "TableDump.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "ByteOrder.h"
#include "DataBlock.h"
#include "DataFileHeader.h"
#include "FieldCodec.h"
#include "Sha256.h"

namespace engine {

namespace {

// Text built with raw appends: Room(n) makes n bytes writable at the end,
// Commit takes what was written there.
class TextBuffer {
 public:
  char* Room(std::size_t n) {
    if (buf_.size() - used_ < n) buf_.resize(std::max(buf_.size() * 2, used_ + n));
    return buf_.data() + used_;
  }
  void Commit(char* end) { used_ = static_cast<std::size_t>(end - buf_.data()); }
  void Append(const std::string& s) {
    if (s.empty()) return;
    std::memcpy(Room(s.size()), s.data(), s.size());
    used_ += s.size();
  }
  const char* data() const { return buf_.data(); }
  std::size_t size() const { return used_; }
  void Truncate(std::size_t n) { used_ = n; }

 private:
  std::vector<char> buf_;
  std::size_t used_ = 0;
};

struct DigitPairs {
  char text[200];
  constexpr DigitPairs() : text() {
    for (int i = 0; i < 100; ++i) {
      text[2 * i] = static_cast<char>('0' + i / 10);
      text[2 * i + 1] = static_cast<char>('0' + i % 10);
    }
  }
};
constexpr DigitPairs kPairs;

char* Put2(char* p, std::uint32_t v) {
  std::memcpy(p, kPairs.text + 2 * v, 2);
  return p + 2;
}

char* PutWord(char* p, const char* word, std::size_t n) {
  std::memcpy(p, word, n);
  return p + n;
}

// Bytes of A text that go into JSON as they are: printable ASCII but the
// quote and the backslash.
struct PlainBytes {
  bool plain[256];
  constexpr PlainBytes() : plain() {
    for (int c = 0x20; c < 0x80; ++c) plain[c] = c != '"' && c != '\\';
  }
};
constexpr PlainBytes kPlain;

// Whether eight bytes are all plain (as kPlain), a word at a time.
bool PlainWord(std::uint64_t w) {
  constexpr std::uint64_t kOnes = 0x0101010101010101u, kHigh = 0x8080808080808080u;
  const auto has_zero = [](std::uint64_t x) { return (x - kOnes) & ~x & kHigh; };
  const std::uint64_t below_space = (w - 0x20 * kOnes) & ~w & kHigh;
  return ((w & kHigh) | below_space | has_zero(w ^ ('"' * kOnes)) | has_zero(w ^ ('\\' * kOnes))) ==
         0;
}

// The dump writes the values of the common field types straight from the
// record, the others (and values outside the fixed-width forms) through
// DecodeField and ValueJson, which define the text; the two must agree.
enum class Op : std::uint8_t {
  Alpha,
  Int16,
  Int32,
  Float,
  Logical,
  Decimal,
  Date,
  Time,
  Stamp,
  General
};

// Room a value of each op may take; General values make their own room.
std::size_t MostText(Op op, int size) {
  switch (op) {
    case Op::Alpha:
      return 2 + 6 * static_cast<std::size_t>(size);  // every byte as \u00XX
    case Op::Int16:
    case Op::Int32:
      return 11;
    case Op::Float:
      return 32;
    case Op::Logical:
      return 5;
    case Op::Decimal:
      return 2 + kDecimalTextMax;
    case Op::Date:
      return 12;
    case Op::Time:
      return 14;
    case Op::Stamp:
      return 25;
    case Op::General:
      return 4;
  }
  return 0;
}

Op OpOf(const FieldDesc& f) {
  if (f.type == FieldType::Alpha) return f.size > 0 ? Op::Alpha : Op::General;
  if (!IsKnownType(static_cast<std::uint8_t>(f.type)) || f.size != FixedSize(f.type))
    return Op::General;
  switch (f.type) {
    case FieldType::Short:
      return Op::Int16;
    case FieldType::Long:
    case FieldType::AutoInc:
      return Op::Int32;
    case FieldType::Number:
    case FieldType::Currency:
      return Op::Float;
    case FieldType::Logical:
      return Op::Logical;
    case FieldType::Bcd:
      return Op::Decimal;
    case FieldType::Date:
      return Op::Date;
    case FieldType::Time:
      return Op::Time;
    case FieldType::Timestamp:
      return Op::Stamp;
    default:
      return Op::General;
  }
}

// The last date written for a field: dates in a table repeat or run in
// order, and a timestamp's day changes seldom.
struct DayText {
  std::int64_t day = INT64_MIN;
  int day_of_month = 0;
  char text[10];
};

// "YYYY-MM-DD" for years 1 to 9999; nullptr for other years.
char* PutDate(char* p, std::int64_t day, DayText* last) {
  if (day == last->day + 1 && last->day_of_month < 28) {  // the next day, same month
    Put2(last->text + 8, static_cast<std::uint32_t>(++last->day_of_month));
    last->day = day;
  } else if (day != last->day) {
    int y, m, d;
    CivilFromDay(day, &y, &m, &d);
    if (y < 1 || y > 9999) return nullptr;
    char* t = Put2(last->text, static_cast<std::uint32_t>(y / 100));
    t = Put2(t, static_cast<std::uint32_t>(y % 100));
    *t++ = '-';
    t = Put2(t, static_cast<std::uint32_t>(m));
    *t++ = '-';
    Put2(t, static_cast<std::uint32_t>(d));
    last->day = day;
    last->day_of_month = d;
  }
  return PutWord(p, last->text, sizeof last->text);
}

// "HH:MM:SS.mmm" for 0 <= ms < 24 h.
char* PutTime(char* p, std::uint32_t ms) {
  p = Put2(p, ms / 3600000);
  *p++ = ':';
  p = Put2(p, ms / 60000 % 60);
  *p++ = ':';
  p = Put2(p, ms / 1000 % 60);
  *p++ = '.';
  *p++ = static_cast<char>('0' + ms % 1000 / 100);
  return Put2(p, ms % 100);
}

// Code pages whose text converts one byte at a time (single-byte, without
// state): their A text goes through a table made once per dump instead of
// a conversion of each value.
bool ConvertsByteByByte(int code_page) {
  static constexpr int kSingleByte[] = {437, 737, 775, 850, 852,  855,  857,  860,  861,  862,
                                        863, 865, 866, 869, 1250, 1251, 1252, 1253, 1254, 1257};
  return std::find(std::begin(kSingleByte), std::end(kSingleByte), code_page) !=
         std::end(kSingleByte);
}

// Writes records as the dump's JSON arrays. One per thread: it keeps the
// last date of each field.
class RecordWriter {
 public:
  explicit RecordWriter(const ParadoxTable& table) : table_(table) {
    const std::vector<FieldDesc>& fields = table.Fields();
    most_ = fields.size() + 3;  // brackets, commas, the line's end
    for (std::size_t i = 0; i < fields.size(); ++i) {
      const Op op = OpOf(fields[i]);
      steps_.push_back({op, static_cast<int>(i), fields[i].offset, fields[i].size, {}});
      most_ += MostText(op, fields[i].size);
    }
  }

  // Appends the record's array; on failure the text holds part of it.
  Status Append(const std::uint8_t* rec, TextBuffer* out) {
    char* p = out->Room(most_);
    *p++ = '[';
    for (std::size_t i = 0; i < steps_.size(); ++i) {
      if (i) *p++ = ',';
      if (char* end = Put(steps_[i], rec, p)) {
        p = end;
        continue;
      }
      out->Commit(p);
      Status s = General(steps_[i], rec, out);
      if (!s.ok()) return s;
      p = out->Room(most_);
    }
    *p++ = ']';
    out->Commit(p);
    return Status::OK();
  }

 private:
  struct Step {
    Op op;
    int index, offset, size;
    DayText day;
  };

  // The value in place; nullptr (nothing written) when it needs General.
  static char* Put(Step& step, const std::uint8_t* rec, char* p) {
    const std::uint8_t* v = rec + step.offset;
    switch (step.op) {
      case Op::Alpha:
        return PutAlpha(v, static_cast<std::size_t>(step.size), p);
      case Op::Int16: {
        const std::uint32_t u = static_cast<std::uint32_t>(v[0] << 8 | v[1]);
        if (u == 0) return PutWord(p, "null", 4);
        return std::to_chars(p, p + 11, static_cast<std::int16_t>(u ^ 0x8000)).ptr;
      }
      case Op::Int32: {
        const std::uint32_t u = GetBe32(v);
        if (u == 0) return PutWord(p, "null", 4);
        return std::to_chars(p, p + 11, static_cast<std::int32_t>(u ^ 0x80000000u)).ptr;
      }
      case Op::Float: {
        const std::uint64_t u = GetBe64(v);
        if (u == 0) return PutWord(p, "null", 4);
        const double d = StoredDouble(u);
        if (!std::isfinite(d)) return nullptr;
        return std::to_chars(p, p + 32, d).ptr;
      }
      case Op::Logical:
        if (v[0] == 0) return PutWord(p, "null", 4);
        return (v[0] & 0x7F) ? PutWord(p, "true", 4) : PutWord(p, "false", 5);
      case Op::Decimal:
        if (v[0] == 0) return PutWord(p, "null", 4);
        *p++ = '"';
        p += DecimalText(v, p);
        *p++ = '"';
        return p;
      case Op::Date: {
        const std::uint32_t u = GetBe32(v);
        if (u == 0) return PutWord(p, "null", 4);
        *p = '"';
        p = PutDate(p + 1, static_cast<std::int32_t>(u ^ 0x80000000u), &step.day);
        if (!p) return nullptr;
        *p++ = '"';
        return p;
      }
      case Op::Time: {
        const std::uint32_t u = GetBe32(v);
        if (u == 0) return PutWord(p, "null", 4);
        const std::int32_t ms = static_cast<std::int32_t>(u ^ 0x80000000u);
        if (ms < 0 || ms >= 86400000) return nullptr;
        *p++ = '"';
        p = PutTime(p, static_cast<std::uint32_t>(ms));
        *p++ = '"';
        return p;
      }
      case Op::Stamp: {
        const std::uint64_t u = GetBe64(v);
        if (u == 0) return PutWord(p, "null", 4);
        const double d = StoredDouble(u);
        if (!std::isfinite(d) || std::fabs(d) >= 1e15) return nullptr;
        const auto total = static_cast<std::int64_t>(std::llround(d));
        std::int64_t day = total / 86400000, rest = total % 86400000;
        if (rest < 0) {
          rest += 86400000;
          --day;
        }
        *p = '"';
        p = PutDate(p + 1, day, &step.day);
        if (!p) return nullptr;
        *p++ = 'T';
        p = PutTime(p, static_cast<std::uint32_t>(rest));
        *p++ = '"';
        return p;
      }
      case Op::General:
        return nullptr;
    }
    return nullptr;
  }

  // A-field text up to its first NUL: ASCII escaped where it stands;
  // nullptr for other text, which goes through the code page.
  static char* PutAlpha(const std::uint8_t* v, std::size_t size, char* p) {
    const void* nul = std::memchr(v, 0, size);
    const std::size_t n =
        nul ? static_cast<std::size_t>(static_cast<const std::uint8_t*>(nul) - v) : size;
    if (n == 0) return PutWord(p, "null", 4);
    static const char kHex[] = "0123456789abcdef";
    *p++ = '"';
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8) {  // eight plain bytes at a time
      std::uint64_t w;
      std::memcpy(&w, v + i, 8);
      if (!PlainWord(w)) break;
      std::memcpy(p, &w, 8);
      p += 8;
    }
    for (; i < n; ++i) {
      const std::uint8_t c = v[i];
      if (kPlain.plain[c]) {
        *p++ = static_cast<char>(c);
      } else if (c >= 0x80) {
        return nullptr;
      } else if (c == '"' || c == '\\') {
        *p++ = '\\';
        *p++ = static_cast<char>(c);
      } else {
        p = PutWord(p, "\\u00", 4);
        *p++ = kHex[c >> 4];
        *p++ = kHex[c & 15];
      }
    }
    *p++ = '"';
    return p;
  }

  Status General(const Step& step, const std::uint8_t* rec, TextBuffer* out) {
    if (step.op == Op::Alpha && ConvertsByteByByte(table_.TextCodePage())) {
      AppendCodePageText(rec + step.offset, static_cast<std::size_t>(step.size), out);
      return Status::OK();
    }
    const FieldValue v = DecodeField(table_.Fields()[static_cast<std::size_t>(step.index)], rec);
    Status s = ValueJson(table_, step.index, v, &value_);
    if (s.ok()) out->Append(value_);
    return s;
  }

  // A text that is not ASCII, as ValueJson gives it: through the table of
  // the code page's bytes, made on first use from the table's conversion
  // of each byte alone.
  void AppendCodePageText(const std::uint8_t* v, std::size_t size, TextBuffer* out) {
    if (high_.empty()) {
      for (int c = 0x80; c < 0x100; ++c)
        high_.push_back(table_.Text(std::string(1, static_cast<char>(c))));
    }
    const void* nul = std::memchr(v, 0, size);
    const std::size_t n =
        nul ? static_cast<std::size_t>(static_cast<const std::uint8_t*>(nul) - v) : size;
    value_.clear();
    for (std::size_t i = 0; i < n; ++i) {
      if (v[i] < 0x80) {
        value_ += static_cast<char>(v[i]);
      } else {
        value_ += high_[v[i] - 0x80];
      }
    }
    out->Append(JsonString(value_));
  }

  const ParadoxTable& table_;
  std::vector<std::string> high_;  // UTF-8 of the bytes 0x80 to 0xFF
  std::vector<Step> steps_;
  std::size_t most_ = 0;  // room for a record, General values aside
  std::string value_;
};

// Writes the text out; false when the stream has failed.
bool Write(const TextBuffer& text, std::ostream& out) {
  out.write(text.data(), static_cast<std::streamsize>(text.size()));
  return out.good();
}

Status WriteFailed() { return Status::IOError("the dump could not be written out"); }

// Appends the cursor's records as lines. With flush_to, the text goes out
// whenever it passes kFlushAt. On failure only whole lines stay.
constexpr std::size_t kFlushAt = 1 << 16;

Status AppendLines(RecordWriter& writer, TableCursor& cursor, TextBuffer* text,
                   std::ostream* flush_to) {
  while (cursor.Next()) {
    const std::size_t at = text->size();
    Status s = writer.Append(cursor.Record(), text);
    if (!s.ok()) {
      text->Truncate(at);
      return s;
    }
    char* p = text->Room(1);
    *p = '\n';
    text->Commit(p + 1);
    if (flush_to && text->size() >= kFlushAt) {
      if (!Write(*text, *flush_to)) return WriteFailed();
      text->Truncate(0);
    }
  }
  return cursor.status();
}

// The records decoded and formatted on several threads, a run of blocks at
// a time, and written by the calling thread in the table's order. Each run
// ends where the single cursor's read would end, so every read (and any
// damage it meets) is the same as in a dump on one thread. At most two runs
// per thread are in memory.
constexpr std::size_t kRunBytes = 256 * 1024;

class ParallelDump {
 public:
  ParallelDump(const ParadoxTable& table, std::ostream& out, int threads)
      : table_(table),
        out_(out),
        threads_(threads),
        slots_(2 * static_cast<std::size_t>(threads)) {}

  Status Run() {
    std::vector<std::thread> helpers;
    // Every helper is joined before the dump returns, also when the
    // stream throws.
    struct JoinAll {
      ParallelDump* dump;
      std::vector<std::thread>* helpers;
      ~JoinAll() {
        {
          std::lock_guard<std::mutex> lock(dump->mu_);
          dump->stop_ = true;
        }
        dump->cv_.notify_all();
        for (std::thread& t : *helpers) t.join();
      }
    } join{this, &helpers};
    for (int i = 1; i < threads_; ++i) {
      try {
        helpers.emplace_back([this] { Work(false); });
      } catch (const std::system_error&) {
        break;  // the threads that started (or the caller alone) do it all
      }
    }
    return Work(true);
  }

 private:
  struct Slot {
    TextBuffer text;
    Status status;
    std::exception_ptr error;
    bool ready = false;
  };

  // The caller (writes) takes the runs in order as they are ready and
  // decodes runs while the next one is not; the helpers only decode.
  Status Work(bool writes) {
    RecordWriter writer(table_);
    std::unique_lock<std::mutex> lock(mu_);
    const std::size_t blocks = table_.Chain().size();
    while (true) {
      if (writes) {
        if (next_block_ >= blocks && written_ == claimed_) return Status::OK();
        Slot& next = slots_[written_ % slots_.size()];
        if (next.ready) {
          if (next.error) std::rethrow_exception(next.error);
          lock.unlock();
          const bool written = Write(next.text, out_);
          lock.lock();
          next.ready = false;
          ++written_;
          cv_.notify_all();
          if (!written) return WriteFailed();
          if (!next.status.ok()) return next.status;
          continue;
        }
      } else if (stop_ || next_block_ >= blocks) {
        return Status::OK();
      }
      if (!stop_ && next_block_ < blocks && claimed_ < written_ + slots_.size()) {
        Slot& slot = slots_[claimed_++ % slots_.size()];
        const std::size_t first = next_block_, end = RunEnd(first);
        next_block_ = end;
        lock.unlock();
        slot.text.Truncate(0);
        slot.error = nullptr;
        try {
          TableCursor cursor(&table_, first, end);
          slot.status = AppendLines(writer, cursor, &slot.text, nullptr);
        } catch (...) {
          if (writes) throw;  // the caller's own: it leaves the dump
          slot.error = std::current_exception();
        }
        lock.lock();
        slot.ready = true;
        cv_.notify_all();
        continue;
      }
      cv_.wait(lock);
    }
  }

  // A run: read windows from chain position first on, together at least a
  // window's worth of blocks (runs of blocks out of file order are read a
  // block at a time).
  std::size_t RunEnd(std::size_t first) const {
    const std::size_t blocks = table_.Chain().size();
    const std::size_t most = std::max<std::size_t>(1, kRunBytes / table_.Header().BlockSize());
    std::size_t end = first;
    while (end < blocks && end - first < most) end = TableCursor::WindowEnd(table_, end);
    return end;
  }

  const ParadoxTable& table_;
  std::ostream& out_;
  const int threads_;
  std::mutex mu_;
  std::condition_variable cv_;
  std::vector<Slot> slots_;
  std::size_t next_block_ = 0;             // chain position where the next run begins
  std::size_t claimed_ = 0, written_ = 0;  // runs
  bool stop_ = false;
};

}  // namespace

std::string JsonString(const std::string& s) {
  std::string out = "\"";
  for (unsigned char c : s) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", c);
      out += buf;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

Status ValueJson(const ParadoxTable& table, int index, const FieldValue& v, std::string* out) {
  const FieldDesc& f = table.Fields()[static_cast<std::size_t>(index)];
  if (v.null) {
    *out = "null";
    return Status::OK();
  }
  switch (f.type) {
    case FieldType::Alpha:
      *out = JsonString(table.Text(v.s));
      break;
    case FieldType::Short:
    case FieldType::Long:
    case FieldType::AutoInc:
      *out = std::to_string(v.i);
      break;
    case FieldType::Number:
    case FieldType::Currency:
      *out = ShortestNumber(v.d);
      break;
    case FieldType::Bcd:
      *out = JsonString(v.s);
      break;
    case FieldType::Date:
      *out = JsonString(FormatDate(v.i));
      break;
    case FieldType::Time:
      *out = JsonString(FormatTime(v.i));
      break;
    case FieldType::Timestamp:
      *out = JsonString(FormatTimestamp(v.d));
      break;
    case FieldType::Logical:
      *out = v.i ? "true" : "false";
      break;
    case FieldType::Memo: {
      std::string data;
      Status s = table.ReadBlob(index, v, &data);
      if (!s.ok()) return s;
      *out = JsonString(table.Text(data));
      break;
    }
    case FieldType::Bytes:
      *out = "{\"size\":" + std::to_string(v.s.size()) + ",\"sha256\":\"" + Sha256Hex(v.s) + "\"}";
      break;
    default: {  // B F O G
      std::string data;
      Status s = table.ReadBlob(index, v, &data);
      if (!s.ok()) return s;
      *out =
          "{\"size\":" + std::to_string(data.size()) + ",\"sha256\":\"" + Sha256Hex(data) + "\"}";
    }
  }
  return Status::OK();
}

Status RecordJson(const ParadoxTable& table, const TableCursor& cursor, std::string* out) {
  RecordWriter writer(table);
  TextBuffer text;
  Status s = writer.Append(cursor.Record(), &text);
  out->assign(text.data(), text.size());
  return s;
}

int DumpThreads(const ParadoxTable& table) {
  // Blob values come through the table's one blob reader.
  for (const FieldDesc& f : table.Fields()) {
    if (!IsKnownType(static_cast<std::uint8_t>(f.type)) || IsBlobType(f.type)) return 1;
  }
  // A table read in one go has nothing to share.
  if (table.Chain().empty() || TableCursor::WindowEnd(table, 0) >= table.Chain().size()) return 1;
  return static_cast<int>(std::clamp(std::thread::hardware_concurrency(), 1u, 4u));
}

Status DumpTable(const ParadoxTable& table, std::ostream& out, int threads) {
  const DataFileHeader& h = table.Header();
  std::string name = table.Path().substr(table.Path().find_last_of('/') + 1);
  out << "{\"table\":" << JsonString(name) << ",\"level\":" << ShortestNumber(h.Level() / 10.0)
      << ",\"codepage\":" << h.code_page << ",\"fields\":[";
  for (std::size_t i = 0; i < h.fields.size(); ++i) {
    const FieldDesc& f = h.fields[i];
    out << (i ? "," : "") << "{\"name\":" << JsonString(table.Text(f.name)) << ",\"type\":\""
        << TypeLetter(f.type) << "\",\"size\":" << (f.type == FieldType::Bcd ? f.decimals : f.size)
        << "}";
  }
  out << "],\"records\":" << h.num_records << "}\n";
  if (threads <= 0) threads = DumpThreads(table);
  if (threads > 1) {
    Status s = ParallelDump(table, out, threads).Run();
    return s.ok() && !out.flush().good() ? WriteFailed() : s;
  }
  // Lines gather in one buffer that goes out in large writes: a stream
  // call per value costs more than the decoding.
  RecordWriter writer(table);
  TableCursor cursor = table.NewCursor();
  TextBuffer lines;
  Status s = AppendLines(writer, cursor, &lines, &out);
  return out.good() && Write(lines, out) && out.flush().good() ? s : WriteFailed();
}

void DescribeTable(const ParadoxTable& table, std::ostream& out) {
  const DataFileHeader& h = table.Header();
  out << "table:      " << table.Path() << "\n"
      << "level:      " << h.Level() / 10 << "." << h.Level() % 10 << "\n"
      << "block size: " << h.BlockSize() << "\n"
      << "records:    " << h.num_records << "\n"
      << "code page:  " << h.code_page << "\n"
      << "encrypted:  " << (h.key ? "yes" : "no") << "\n"
      << "key fields: " << h.key_fields << "\n"
      << "fields:     " << h.fields.size() << "\n";
  for (const FieldDesc& f : h.fields) {
    out << "  " << table.Text(f.name) << "\t" << TypeLetter(f.type)
        << (f.type == FieldType::Bcd ? f.decimals : f.size) << "\n";
  }
  if (!table.Note().empty()) out << "note:       " << table.Note() << "\n";
}

}  // namespace engine
