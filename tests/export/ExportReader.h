// Test helper: reads exported files back without the export library -- CSV
// by RFC 4180, SQLite through its own library and program -- and renders
// what it read in the dump's JSON forms, so both compare with the dump.
#pragma once

#include <sqlite3.h>

#include <cstdio>
#include <string>
#include <vector>

#include "CodePage.h"
#include "FieldText.h"
#include "ParadoxTable.h"
#include "Sha256.h"
#include "TableDump.h"
#include "TestFiles.h"

namespace exporttest {

using Rows = std::vector<std::vector<std::string>>;

// RFC 4180: quoted fields may hold delimiters, quotes (doubled) and line breaks.
inline Rows ParseCsv(const std::string& text, char delimiter = ',') {
  Rows rows(1, std::vector<std::string>(1));
  bool quoted = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    std::string& cell = rows.back().back();
    if (quoted) {
      if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
        cell += '"';
        ++i;
      } else if (c == '"') {
        quoted = false;
      } else {
        cell += c;
      }
    } else if (c == '"') {
      quoted = true;
    } else if (c == delimiter) {
      rows.back().emplace_back();
    } else if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
      rows.emplace_back(1);
      ++i;
    } else {
      cell += c;
    }
  }
  if (rows.back().size() == 1 && rows.back()[0].empty()) rows.pop_back();
  return rows;
}

inline std::string BlobJson(const std::string& data) {
  return "{\"size\":" + std::to_string(data.size()) + ",\"sha256\":\"" + engine::Sha256Hex(data) +
         "\"}";
}

inline std::string Unhex(const std::string& hex) {
  std::string out;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
    out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
  }
  return out;
}

// A CSV cell of field `f` in the dump's form; blob cells name files in `dir`.
inline std::string CsvCellJson(const engine::ParadoxTable& table, const engine::FieldDesc& f,
                               const std::string& cell, const std::string& dir) {
  using engine::FieldKind;
  if (cell.empty()) return "null";  // CSV writes blanks, and nothing else, empty
  switch (engine::KindOf(f.type)) {
    case FieldKind::Integer:
    case FieldKind::Float:
    case FieldKind::Logical:
      return cell;
    case FieldKind::Bytes:
      return BlobJson(Unhex(cell));
    case FieldKind::Binary:
      return BlobJson(enginetest::ReadAll(dir + "/" + cell));
    case FieldKind::Memo:
      if (f.type == engine::FieldType::FmtMemo) {
        std::string bytes;  // the dump gives the stored bytes' digest
        engine::FromUtf8(cell, table.TextCodePage(), &bytes);
        return BlobJson(bytes);
      }
      return engine::JsonString(cell);
    default:
      return engine::JsonString(cell);
  }
}

// The current row's column `col` of field `f` in the dump's form.
inline std::string SqliteCellJson(const engine::ParadoxTable& table, const engine::FieldDesc& f,
                                  sqlite3_stmt* row, int col) {
  using engine::FieldKind;
  if (sqlite3_column_type(row, col) == SQLITE_NULL) return "null";
  const auto* p = static_cast<const char*>(sqlite3_column_blob(row, col));
  const std::string bytes(p ? p : "", static_cast<std::size_t>(sqlite3_column_bytes(row, col)));
  switch (engine::KindOf(f.type)) {
    case FieldKind::Integer:
      return std::to_string(sqlite3_column_int64(row, col));
    case FieldKind::Logical:
      return sqlite3_column_int64(row, col) ? "true" : "false";
    case FieldKind::Float:
      return engine::ShortestNumber(sqlite3_column_double(row, col));
    case FieldKind::Binary:
    case FieldKind::Bytes:
      return BlobJson(bytes);
    default:
      if (f.type == engine::FieldType::FmtMemo) {
        std::string stored;
        engine::FromUtf8(bytes, table.TextCodePage(), &stored);
        return BlobJson(stored);
      }
      return engine::JsonString(bytes);
  }
}

// What the sqlite3 program prints for a statement.
inline std::string Sqlite3Cli(const std::string& file, const std::string& sql) {
  std::string out;
  FILE* p = ::popen(("sqlite3 '" + file + "' \"" + sql + "\" 2>&1").c_str(), "r");
  char buf[4096];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  ::pclose(p);
  return out;
}

}  // namespace exporttest
