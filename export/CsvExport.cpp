// CSV as RFC 4180 describes it: CRLF line ends, fields quoted when they hold
// the delimiter, a quote or a line break, quotes doubled. Text in UTF-8;
// values in the forms `vdx dump` uses, so one reader serves both.
#include <cstdio>

#include "ExportWriters.h"
#include "FieldText.h"

namespace tableexport {

namespace {

using engine::FieldKind;
using engine::FieldType;
using engine::FieldValue;
using engine::Status;

std::string Hex(const std::string& bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (unsigned char c : bytes) {
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}

// A file name part made of a field name: no separators, no control bytes.
std::string SafeName(const std::string& name) {
  std::string out;
  for (unsigned char c : name) out += (c < 0x20 || c == '/' || c == '\\') ? '_' : char(c);
  return out.empty() || out[0] == '.' ? "_" + out : out;
}

// Graphics keep the extension their first bytes show, so a viewer opens them.
const char* BlobExtension(FieldType type, const std::string& data) {
  if (type == FieldType::Ole) return "ole";
  if (type == FieldType::Graphic) {
    if (data.rfind("BM", 0) == 0) return "bmp";
    if (data.rfind("GIF8", 0) == 0) return "gif";
    if (data.rfind("\x89PNG", 0) == 0) return "png";
    if (data.rfind("\xFF\xD8\xFF", 0) == 0) return "jpg";
  }
  return "bin";
}

class CsvTable {
 public:
  CsvTable(const engine::ParadoxTable& table, const BlobFolder& blobs, char delimiter)
      : table_(table),
        blobs_(blobs),
        delimiter_(delimiter),
        specials_{delimiter, '"', '\r', '\n'} {}

  void AddField(const std::string& text) {
    if (!first_) line_ += delimiter_;
    first_ = false;
    if (text.find_first_of(specials_, 0, sizeof specials_) == std::string::npos) {
      line_ += text;
      return;
    }
    line_ += '"';
    for (char c : text) {
      if (c == '"') line_ += '"';
      line_ += c;
    }
    line_ += '"';
  }
  void EndLine() {
    line_ += "\r\n";
    first_ = true;
  }
  std::string& Buffer() { return line_; }

  Status Cell(int index, const FieldValue& v, std::uint32_t record, std::string* out) {
    const engine::FieldDesc& f = table_.Fields()[static_cast<std::size_t>(index)];
    out->clear();
    if (v.null) return Status::OK();
    if (TextOfValue(table_, engine::KindOf(f.type), v, out)) return Status::OK();
    switch (engine::KindOf(f.type)) {
      case FieldKind::Integer:
        *out = std::to_string(v.i);
        break;
      case FieldKind::Float:
        *out = engine::ShortestNumber(v.d);
        if (*out == "null") out->clear();  // not a number: nothing to write
        break;
      case FieldKind::Logical:
        *out = v.i ? "true" : "false";
        break;
      case FieldKind::Bytes:
        *out = Hex(v.s);
        break;
      case FieldKind::Memo: {
        std::string data;
        Status s = table_.ReadBlob(index, v, &data);
        if (!s.ok()) return s;
        *out = table_.Text(data);
        break;
      }
      case FieldKind::Binary:
        return BlobFile(index, v, record, out);
      default:
        break;  // written above
    }
    return Status::OK();
  }

 private:
  Status BlobFile(int index, const FieldValue& v, std::uint32_t record, std::string* out) {
    const engine::FieldDesc& f = table_.Fields()[static_cast<std::size_t>(index)];
    std::string data;
    Status s = table_.ReadBlob(index, v, &data);
    if (s.ok() && dir_.empty()) s = blobs_(&dir_, &dir_name_);
    if (!s.ok()) return s;
    const std::string file = SafeName(table_.Text(f.name)) + "-" + std::to_string(record + 1) +
                             "." + BlobExtension(f.type, data);
    FILE* fp = std::fopen((dir_ + "/" + file).c_str(), "wb");
    const bool written = fp && std::fwrite(data.data(), 1, data.size(), fp) == data.size();
    if ((fp && std::fclose(fp) != 0) || !written) {
      return Status::IOError("cannot write " + dir_ + "/" + file);
    }
    *out = dir_name_ + "/" + file;
    return Status::OK();
  }

  const engine::ParadoxTable& table_;
  const BlobFolder& blobs_;
  const char delimiter_;
  const char specials_[4];  // what makes a field quoted
  std::string line_;
  bool first_ = true;
  std::string dir_, dir_name_;
};

}  // namespace

Status WriteCsv(const engine::ParadoxTable& table, const std::string& path, const BlobFolder& blobs,
                const ExportOptions& options, RecordTicker* ticker) {
  FILE* fp = std::fopen(path.c_str(), "wb");
  if (!fp) return Status::IOError("cannot write " + path);
  CsvTable csv(table, blobs, options.delimiter);
  std::string& buffer = csv.Buffer();
  auto flush = [&] {
    const bool ok = std::fwrite(buffer.data(), 1, buffer.size(), fp) == buffer.size();
    buffer.clear();
    return ok;
  };
  const int fields = static_cast<int>(table.Fields().size());
  if (options.header) {
    for (const engine::FieldDesc& f : table.Fields()) csv.AddField(table.Text(f.name));
    csv.EndLine();
  }
  Status s;
  bool io_ok = true;
  engine::TableCursor cursor = table.NewCursor();
  std::string cell;
  while (s.ok() && io_ok && cursor.Next()) {
    for (int i = 0; s.ok() && i < fields; ++i) {
      s = csv.Cell(i, cursor.Value(i), cursor.RecordNumber(), &cell);
      csv.AddField(cell);
    }
    csv.EndLine();
    if (buffer.size() >= (1u << 20)) io_ok = flush();
    if (!ticker->Tick()) s = CancelledStatus();
  }
  if (s.ok()) s = cursor.status();
  if (s.ok() && io_ok) io_ok = flush();
  if (std::fclose(fp) != 0) io_ok = false;
  if (s.ok() && !io_ok) s = Status::IOError("cannot write " + path);
  return s;
}

}  // namespace tableexport
