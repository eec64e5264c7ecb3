// Test helper: reads a table through pxlib, the independent reader the
// engine is compared with. Header-only; used by several tests.
#pragma once

extern "C" {
#include <paradox.h>
}
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace pxtest {

struct Cell {
  bool null = true;
  long l = 0;
  double d = 0;
  std::string s;
};

struct PxTable {
  bool ok = false;
  std::string error;
  std::vector<int> types;
  std::vector<std::vector<Cell>> rows;
};

inline void QuietErrors(pxdoc_t*, int, const char* msg, void* data) {
  auto* error = static_cast<std::string*>(data);
  if (error->empty()) *error = msg;
}

// Reads every record; blob_path may be empty.
inline PxTable ReadWithPxlib(const std::string& db_path, const std::string& blob_path) {
  PxTable out;
  std::string messages;
  pxdoc_t* doc = PX_new3(QuietErrors, nullptr, nullptr, nullptr, &messages);
  if (PX_open_file(doc, db_path.c_str()) < 0) {
    out.error = messages;
    PX_delete(doc);
    return out;
  }
  struct stat st {};
  if (!blob_path.empty() && ::stat(blob_path.c_str(), &st) == 0)
    PX_set_blob_file(doc, blob_path.c_str());
  const int fields = PX_get_num_fields(doc);
  pxfield_t* f = PX_get_fields(doc);
  for (int i = 0; i < fields; ++i) out.types.push_back(f[i].px_ftype);
  const int records = PX_get_num_records(doc);
  for (int r = 0; r < records; ++r) {
    pxval_t** vals = PX_retrieve_record(doc, r);
    std::vector<Cell> row;
    for (int i = 0; i < fields; ++i) {
      Cell c;
      if (vals) {
        c.null = vals[i]->isnull;
        c.l = vals[i]->value.lval;
        c.d = vals[i]->value.dval;
        const int t = out.types[static_cast<std::size_t>(i)];
        const bool text = t == pxfAlpha || t == pxfBCD || t == pxfBytes || t == pxfMemoBLOb ||
                          t == pxfBLOb || t == pxfFmtMemoBLOb || t == pxfOLE || t == pxfGraphic;
        if (text && !c.null && vals[i]->value.str.val) {
          c.s.assign(vals[i]->value.str.val, static_cast<std::size_t>(vals[i]->value.str.len));
          doc->free(doc, vals[i]->value.str.val);
        } else if (text) {
          c.null = true;
        }
        doc->free(doc, vals[i]);
      }
      row.push_back(c);
    }
    if (vals) doc->free(doc, vals);
    out.rows.push_back(row);
  }
  PX_delete(doc);
  out.ok = true;
  out.error = messages;
  return out;
}

// pxlib aborts on some valid tables (a stack overflow on CUSTOMER.DB's memo
// field, for one), so the comparison reads in a child process; a crash
// comes back as ok = false with error "pxlib crashed".
inline PxTable ReadWithPxlibIsolated(const std::string& db_path, const std::string& blob_path) {
  char tmpl[] = "/tmp/pxreadXXXXXX";
  const int fd = ::mkstemp(tmpl);
  ::close(fd);
  const pid_t pid = ::fork();
  if (pid == 0) {
    PxTable t = ReadWithPxlib(db_path, blob_path);
    std::ofstream out(tmpl, std::ios::binary);
    out << t.ok << ' ' << t.types.size() << ' ' << t.rows.size() << '\n';
    for (int type : t.types) out << type << ' ';
    out << '\n';
    for (const auto& row : t.rows) {
      for (const Cell& c : row) {
        out << c.null << ' ' << c.l << ' ';
        out.write(reinterpret_cast<const char*>(&c.d), sizeof c.d);
        out << ' ' << c.s.size() << ' ' << c.s << '\n';
      }
    }
    out.close();
    ::_exit(0);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  PxTable t;
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    ::unlink(tmpl);
    t.error = "pxlib crashed";
    return t;
  }
  std::ifstream in(tmpl, std::ios::binary);
  std::size_t nfields = 0, nrows = 0;
  in >> t.ok >> nfields >> nrows;
  t.types.resize(nfields);
  for (int& type : t.types) in >> type;
  in.get();
  for (std::size_t r = 0; r < nrows; ++r) {
    std::vector<Cell> row(nfields);
    for (Cell& c : row) {
      std::size_t len = 0;
      in >> c.null >> c.l;
      in.get();
      in.read(reinterpret_cast<char*>(&c.d), sizeof c.d);
      in >> len;
      in.get();
      c.s.resize(len);
      in.read(c.s.data(), static_cast<std::streamsize>(len));
      in.get();
    }
    t.rows.push_back(std::move(row));
  }
  ::unlink(tmpl);
  return t;
}

}  // namespace pxtest
