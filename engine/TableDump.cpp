#include "TableDump.h"

#include <charconv>
#include <cmath>
#include <cstdio>

#include "DataFileHeader.h"
#include "Sha256.h"

namespace engine {

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
  *out = "[";
  for (std::size_t i = 0; i < table.Fields().size(); ++i) {
    std::string value;
    Status s = ValueJson(table, static_cast<int>(i), cursor.Value(static_cast<int>(i)), &value);
    if (!s.ok()) return s;
    if (i) *out += ",";
    *out += value;
  }
  *out += "]";
  return Status::OK();
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
  TableCursor cursor = table.NewCursor();
  std::string line;
  while (cursor.Next()) {
    Status s = RecordJson(table, cursor, &line);
    if (!s.ok()) return s;
    out << line << '\n';
  }
  return cursor.status();
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
