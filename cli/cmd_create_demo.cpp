// vdx create-demo DIR: the demonstration databases DIR/DEMO and DIR/SALES,
// each a master and a detail table covering every field type (blobs too),
// with a METADATA folder holding the same tables empty, one of them with an
// extra field for the Update tool to add.
#include <sys/stat.h>

#include <cerrno>
#include <ostream>

#include "CodePage.h"
#include "Command.h"
#include "Env.h"
#include "Restructure.h"
#include "TableWriter.h"

namespace {

using engine::FieldDesc;
using engine::FieldType;
using engine::FieldValue;
using engine::Status;

FieldDesc F(const std::string& name, FieldType type, int size = 0, int decimals = 0) {
  FieldDesc f;
  f.name = name;
  f.type = type;
  f.size = size ? size : engine::FixedSize(type);
  f.decimals = decimals;
  return f;
}

struct DemoTable {
  std::string name;
  std::vector<FieldDesc> fields;
};

// Master: the first field is the key; detail rows point at it.
DemoTable Master(const std::string& name, const std::string& key) {
  return {name,
          {F(key, FieldType::AutoInc), F("Name", FieldType::Alpha, 30), F("Since", FieldType::Date),
           F("Active", FieldType::Logical), F("Credit", FieldType::Currency),
           F("Discount", FieldType::Number), F("Staff", FieldType::Short),
           F("Revenue", FieldType::Long), F("Notes", FieldType::Memo, 30),
           F("Logo", FieldType::Graphic, 10)}};
}

DemoTable Detail(const std::string& name, const std::string& key) {
  return {name,
          {F("LineNo", FieldType::Long), F(key, FieldType::Long), F("Placed", FieldType::Timestamp),
           F("Shipped", FieldType::Time), F("Amount", FieldType::Bcd, 17, 2),
           F("Contract", FieldType::Blob, 10), F("Letter", FieldType::FmtMemo, 10),
           F("Sheet", FieldType::Ole, 10), F("Code", FieldType::Bytes, 8)}};
}

// A deterministic sequence, so every run builds the same demo.
struct Sequence {
  std::uint32_t state;
  std::uint32_t Next(std::uint32_t limit) {
    state = state * 1103515245u + 12345u;
    return (state >> 8) % limit;
  }
};

std::string Bytes(std::size_t n, Sequence& seq) {
  std::string s(n, '\0');
  for (char& c : s) c = static_cast<char>(seq.Next(256));
  return s;
}

// A small 24-bit BMP picture of w x h pixels.
std::string Picture(int w, int h, Sequence& seq) {
  const int row = (w * 3 + 3) / 4 * 4;
  const std::uint32_t size = 54 + static_cast<std::uint32_t>(row * h);
  std::string bmp(size, '\0');
  auto put = [&bmp](std::size_t at, std::uint32_t v, int n) {
    for (int i = 0; i < n; ++i) bmp[at + i] = static_cast<char>(v >> (8 * i));
  };
  bmp[0] = 'B';
  bmp[1] = 'M';
  put(2, size, 4);
  put(10, 54, 4);
  put(14, 40, 4);
  put(18, static_cast<std::uint32_t>(w), 4);
  put(22, static_cast<std::uint32_t>(h), 4);
  put(26, 1, 2);
  put(28, 24, 2);
  for (std::size_t i = 54; i < size; ++i) bmp[i] = static_cast<char>(seq.Next(256));
  return bmp;
}

std::vector<FieldValue> MasterRow(int r, Sequence& seq) {
  static const char* names[] = {"Atlantic Traders", "Blue Ridge Supply", "Cedar & Sons",
                                "Dünen Handel",     "Elm Street Goods",  "Fjord Fisk A/S",
                                "Granite Works",    "Harbour Lights"};
  std::vector<FieldValue> v(10);
  v[0] = FieldValue::Int(r + 1);
  std::string name;
  engine::FromUtf8(std::string(names[r % 8]) + " " + std::to_string(r + 1), 1252, &name);
  v[1] = FieldValue::Str(name);
  v[2] = FieldValue::Int(engine::DayNumber(1985 + r % 35, 1 + r % 12, 1 + r % 28));
  v[3] = FieldValue::Int(r % 3 != 0);
  v[4] = FieldValue::Float((seq.Next(1000000)) / 100.0);
  v[5] = FieldValue::Float(seq.Next(50) / 200.0);
  v[6] = FieldValue::Int(static_cast<int>(seq.Next(500)) - 1);
  v[7] = FieldValue::Int(static_cast<std::int64_t>(seq.Next(20000000)));
  const std::size_t memo =
      r % 5 == 0 ? 3000 : 10 + r % 200;  // leader-only, suballocated, own block
  v[8] = FieldValue::Str(std::string(memo % 26 + 5, ' ') + "Customer since " +
                         std::to_string(1985 + r % 35) + std::string(memo, '.'));
  if (r % 4 == 0) v[9] = FieldValue::Str(Picture(8 + r % 40, 8 + r % 24, seq));
  if (r % 11 == 10) v[4] = v[5] = FieldValue{};  // some blanks
  return v;
}

std::vector<FieldValue> DetailRow(int r, int masters, Sequence& seq) {
  std::vector<FieldValue> v(9);
  v[0] = FieldValue::Int(r + 1);
  v[1] = FieldValue::Int(1 + static_cast<int>(seq.Next(static_cast<std::uint32_t>(masters))));
  v[2] = FieldValue::Float((engine::DayNumber(2020, 1, 1) + seq.Next(1500)) * 86400000.0 +
                           seq.Next(86400) * 1000.0);
  v[3] = FieldValue::Int(seq.Next(86400) * 1000);
  v[4] =
      FieldValue::Str(std::to_string(seq.Next(100000)) + "." + std::to_string(10 + seq.Next(90)));
  if (r % 3 == 0) v[5] = FieldValue::Str(Bytes(100 + seq.Next(5000), seq));
  if (r % 5 == 0) v[6] = FieldValue::Str("{\\rtf1 Letter " + std::to_string(r) + "}");
  if (r % 7 == 0) v[7] = FieldValue::Str(Bytes(200 + seq.Next(3000), seq));
  v[8] = FieldValue::Str(Bytes(8, seq));
  v[8].s[0] = static_cast<char>(1 + r % 200);  // never all zero
  if (r % 13 == 12) v[3] = FieldValue{};
  return v;
}

Status MakeTable(const std::string& dir, const DemoTable& table, int rows, int masters,
                 bool detail) {
  engine::TableDefinition def;
  def.fields = table.fields;
  def.key_fields = 1;
  const std::string path = engine::JoinPath(dir, table.name + ".DB");
  Status s = engine::CreateTable(engine::Env::Default(), path, def);
  std::unique_ptr<engine::TableWriter> w;
  if (s.ok()) s = engine::TableWriter::Open(engine::Env::Default(), path, 0, &w);
  Sequence seq{static_cast<std::uint32_t>(table.name.size() * 7919 + rows)};
  for (int r = 0; s.ok() && r < rows; ++r)
    s = w->Append(detail ? DetailRow(r, masters, seq) : MasterRow(r, seq));
  if (s.ok()) s = w->Sync();
  w.reset();
  // A keyed table is complete with its primary index: a pack writes it.
  if (s.ok()) s = engine::PackTable(path, {}, nullptr);
  return s;
}

Status MakeDir(const std::string& path) {
  if (::mkdir(path.c_str(), 0755) != 0 && errno != EEXIST) {
    return Status(DBIERR_DIRNOTFOUND, "cannot create folder").WithContext(path);
  }
  return Status::OK();
}

Status MakeDatabase(const std::string& dir, const DemoTable& master, const DemoTable& detail) {
  Status s = MakeDir(dir);
  if (s.ok()) s = MakeDir(dir + "/METADATA");
  if (s.ok()) s = MakeTable(dir, master, 240, 0, false);
  if (s.ok()) s = MakeTable(dir, detail, 480, 240, true);
  if (s.ok()) s = MakeTable(dir + "/METADATA", master, 0, 0, false);
  DemoTable wider = detail;  // the reference structure has one field more
  wider.fields.push_back(F("Remark", FieldType::Alpha, 40));
  if (s.ok()) s = MakeTable(dir + "/METADATA", wider, 0, 0, true);
  return s;
}

int CreateDemo(const vdx::Args& args, std::ostream& out, std::ostream& err) {
  if (args.size() != 1) {
    err << "usage: vdx create-demo DIR\n";
    return 2;
  }
  Status s = MakeDir(args[0]);
  if (s.ok())
    s = MakeDatabase(engine::JoinPath(args[0], "DEMO"), Master("CUSTOMER", "CustNo"),
                     Detail("ORDERS", "CustNo"));
  if (s.ok())
    s = MakeDatabase(engine::JoinPath(args[0], "SALES"), Master("REGION", "RegionNo"),
                     Detail("SALE", "RegionNo"));
  if (!s.ok()) {
    err << "vdx create-demo: " << s.ToString() << "\n";
    return 1;
  }
  out << "created " << engine::JoinPath(args[0], "DEMO") << " and "
      << engine::JoinPath(args[0], "SALES") << "\n";
  return 0;
}

}  // namespace

VDX_COMMAND("create-demo", "create-demo DIR   demo databases DEMO and SALES with METADATA",
            CreateDemo);
