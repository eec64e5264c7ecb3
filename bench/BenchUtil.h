// What the benches share: field descriptions, the mixed bench table of
// table_bench and export_bench, and a measured child process.
#pragma once

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>

#include "TableWriter.h"

namespace bench {

// A field of the given type; size 0 takes the type's fixed size.
inline engine::FieldDesc Field(const char* name, engine::FieldType type, int size = 0,
                               int decimals = 0) {
  engine::FieldDesc f;
  f.name = name;
  f.type = type;
  f.size = size ? size : engine::FixedSize(type);
  f.decimals = decimals;
  return f;
}

// The bench table: 10 mixed fields, about 100 bytes a record. Ends the
// program when it cannot be written.
inline void FillMixedTable(const std::string& path, int records) {
  using engine::FieldType;
  using engine::FieldValue;
  engine::TableDefinition def;
  def.fields = {Field("Id", FieldType::Long),      Field("Name", FieldType::Alpha, 40),
                Field("Qty", FieldType::Short),    Field("Price", FieldType::Currency),
                Field("Ratio", FieldType::Number), Field("Day", FieldType::Date),
                Field("At", FieldType::Time),      Field("Stamp", FieldType::Timestamp),
                Field("Ok", FieldType::Logical),   Field("Amount", FieldType::Bcd, 17, 2)};
  engine::Env* env = engine::Env::Default();
  engine::Status s = engine::CreateTable(env, path, def);
  std::unique_ptr<engine::TableWriter> w;
  if (s.ok()) s = engine::TableWriter::Open(env, path, 0, &w);
  std::vector<FieldValue> v(10);
  for (int r = 0; s.ok() && r < records; ++r) {
    v[0] = FieldValue::Int(r);
    v[1] = FieldValue::Str("Customer number " + std::to_string(r));
    v[2] = FieldValue::Int(r % 30000);
    v[3] = FieldValue::Float(r * 0.01);
    v[4] = FieldValue::Float(1.0 / (r + 1));
    v[5] = FieldValue::Int(730000 + r % 5000);
    v[6] = FieldValue::Int(r % 86400000);
    v[7] = FieldValue::Float(6.3e13 + r * 1000.0);
    v[8] = FieldValue::Int(r & 1);
    v[9] = FieldValue::Str(std::to_string(r) + ".25");
    s = w->Append(v);
  }
  if (s.ok()) s = w->Sync();
  if (!s.ok()) {
    std::fprintf(stderr, "fill failed: %s\n", s.ToString().c_str());
    std::exit(1);
  }
}

struct ChildRun {
  double seconds = 0;
  double cpu = 0;  // user + system, to read the figures on a busy machine
  long peak_kb = 0;
  bool ok = false;
};

// Runs work in a child process, measured alone: wall and CPU time, peak
// resident size, and whether it succeeded.
inline ChildRun MeasureChild(const std::function<bool()>& work) {
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = ::fork();
  if (pid == 0) ::_exit(work() ? 0 : 1);
  int status = 0;
  rusage usage{};
  ::wait4(pid, &status, 0, &usage);
  ChildRun r;
  r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  r.peak_kb = usage.ru_maxrss;
  r.cpu = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
          static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  r.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  return r;
}

}  // namespace bench
