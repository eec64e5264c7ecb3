#include "TableDump.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "DataFileHeader.h"
#include "FieldCodec.h"
#include "Sha256.h"

namespace engine {

namespace {

void PutDigits(char* at, std::int64_t v, int width) {
  for (int i = width - 1; i >= 0; --i, v /= 10) at[i] = static_cast<char>('0' + v % 10);
}

// The forms FormatDate and FormatTime give, written in place with one
// append each; false for values outside the range where those forms have
// fixed widths.
bool PutDate(std::string* out, std::int64_t day) {
  int y, m, d;
  CivilFromDay(day, &y, &m, &d);
  if (y < 1 || y > 9999) return false;
  char text[] = "YYYY-MM-DD";
  PutDigits(text, y, 4);
  PutDigits(text + 5, m, 2);
  PutDigits(text + 8, d, 2);
  out->append(text, sizeof text - 1);
  return true;
}

bool PutTime(std::string* out, std::int64_t ms) {
  if (ms < 0 || ms >= 86400000) return false;
  char text[] = "HH:MM:SS.mmm";
  PutDigits(text, ms / 3600000, 2);
  PutDigits(text + 3, ms / 60000 % 60, 2);
  PutDigits(text + 6, ms / 1000 % 60, 2);
  PutDigits(text + 9, ms % 1000, 3);
  out->append(text, sizeof text - 1);
  return true;
}

// An alpha value straight from the record: ASCII text is escaped where it
// stands; other text goes through the code page as ValueJson does.
void PutAlpha(const ParadoxTable& table, const std::uint8_t* p, std::size_t size,
              std::string* out) {
  const void* nul = std::memchr(p, 0, size);
  const std::size_t n =
      nul ? static_cast<std::size_t>(static_cast<const std::uint8_t*>(nul) - p) : size;
  if (n == 0) {
    *out += "null";
    return;
  }
  bool ascii = true, plain = true;  // plain: nothing to escape
  for (std::size_t i = 0; i < n && ascii; ++i) {
    ascii = p[i] < 0x80;
    plain = plain && p[i] >= 0x20 && p[i] != '"' && p[i] != '\\';
  }
  if (ascii && plain) {
    *out += '"';
    out->append(reinterpret_cast<const char*>(p), n);
    *out += '"';
    return;
  }
  if (!ascii) {
    *out += JsonString(table.Text(std::string(reinterpret_cast<const char*>(p), n)));
    return;
  }
  static const char kHex[] = "0123456789abcdef";
  *out += '"';
  for (std::size_t i = 0; i < n; ++i) {
    const char c = static_cast<char>(p[i]);
    if (c == '"' || c == '\\') {
      *out += '\\';
      *out += c;
    } else if (p[i] < 0x20) {
      *out += "\\u00";
      *out += kHex[p[i] >> 4];
      *out += kHex[p[i] & 15];
    } else {
      *out += c;
    }
  }
  *out += '"';
}

// Writes records as the dump's JSON arrays, the common field types decoded
// and formatted in place, the others through ValueJson.
class RecordWriter {
 public:
  explicit RecordWriter(const ParadoxTable& table) : table_(table) {}

  Status Append(const TableCursor& cursor, std::string* out) {
    const std::vector<FieldDesc>& fields = table_.Fields();
    *out += '[';
    for (std::size_t i = 0; i < fields.size(); ++i) {
      if (i) *out += ',';
      Status s = AppendValue(cursor, static_cast<int>(i), fields[i], out);
      if (!s.ok()) return s;
    }
    *out += ']';
    return Status::OK();
  }

 private:
  Status AppendValue(const TableCursor& cursor, int index, const FieldDesc& f, std::string* out) {
    if (f.type == FieldType::Alpha) {
      PutAlpha(table_, cursor.Record() + f.offset, static_cast<std::size_t>(f.size), out);
      return Status::OK();
    }
    const FieldValue v = cursor.Value(index);
    if (v.null) {
      *out += "null";
      return Status::OK();
    }
    char buf[64];
    switch (f.type) {
      case FieldType::Short:
      case FieldType::Long:
      case FieldType::AutoInc:
        out->append(buf, std::to_chars(buf, buf + sizeof buf, v.i).ptr);
        return Status::OK();
      case FieldType::Number:
      case FieldType::Currency:
        if (!std::isfinite(v.d)) break;
        out->append(buf, std::to_chars(buf, buf + sizeof buf, v.d).ptr);
        return Status::OK();
      case FieldType::Logical:
        *out += v.i ? "true" : "false";
        return Status::OK();
      case FieldType::Bcd:  // digits, a sign and a point: nothing to escape
        *out += '"';
        *out += v.s;
        *out += '"';
        return Status::OK();
      case FieldType::Date:
      case FieldType::Time:
      case FieldType::Timestamp:
        if (PutMoment(f.type, v, out)) return Status::OK();
        break;
      default:
        break;
    }
    Status s = ValueJson(table_, index, v, &value_);
    if (s.ok()) *out += value_;
    return s;
  }

  // A date, time or timestamp in quotes; false (nothing written) when the
  // value needs the general formatting.
  static bool PutMoment(FieldType type, const FieldValue& v, std::string* out) {
    const std::size_t at = out->size();
    *out += '"';
    bool ok = false;
    if (type == FieldType::Date) {
      ok = PutDate(out, v.i);
    } else if (type == FieldType::Time) {
      ok = PutTime(out, v.i);
    } else if (std::isfinite(v.d) && std::fabs(v.d) < 1e15) {
      const auto total = static_cast<std::int64_t>(std::llround(v.d));
      std::int64_t day = total / 86400000, rest = total % 86400000;
      if (rest < 0) {
        rest += 86400000;
        --day;
      }
      ok = PutDate(out, day);
      if (ok) *out += 'T';
      ok = ok && PutTime(out, rest);
    }
    if (!ok) {
      out->resize(at);
      return false;
    }
    *out += '"';
    return true;
  }

  const ParadoxTable& table_;
  std::string value_;
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
  out->clear();
  RecordWriter writer(table);
  return writer.Append(cursor, out);
}

Status DumpTable(const ParadoxTable& table, std::ostream& out) {
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
  // Lines gather in one buffer that goes out in large writes: a stream
  // call per value costs more than the decoding.
  constexpr std::size_t kFlushAt = 1 << 16;
  RecordWriter writer(table);
  TableCursor cursor = table.NewCursor();
  std::string lines;
  lines.reserve(kFlushAt + 4096);
  Status s;
  while (s.ok() && cursor.Next()) {
    const std::size_t at = lines.size();
    s = writer.Append(cursor, &lines);
    if (!s.ok()) {
      lines.resize(at);  // only whole lines go out
      break;
    }
    lines += '\n';
    if (lines.size() >= kFlushAt) {
      out.write(lines.data(), static_cast<std::streamsize>(lines.size()));
      lines.clear();
    }
  }
  out.write(lines.data(), static_cast<std::streamsize>(lines.size()));
  return s.ok() ? cursor.status() : s;
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
