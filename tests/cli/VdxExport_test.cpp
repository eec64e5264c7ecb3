// vdx export: its exit codes (all written, some tables left out, nothing
// written, usage), its refusal to replace without --force, the CSV options,
// and JSON Lines equal to what `vdx dump` prints.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "TempDir.h"
#include "VdxRun.h"

namespace fs = std::filesystem;

namespace {

std::string Read(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

TEST(VdxExport, ExitCodesOptionsAndDumpForm) {
  TempDir dir;
  ASSERT_EQ(Vdx("create-demo " + dir.Dir()).code, 0);
  const std::string demo = dir / "DEMO", out = dir / "demo.sqlite";
  VdxRun r = Vdx("export " + demo + " --to sqlite " + out);
  EXPECT_EQ(r.code, 0) << r.out;
  EXPECT_NE(r.out.find("CUSTOMER.DB: "), std::string::npos) << r.out;
  r = Vdx("export " + demo + " --to sqlite " + out);
  EXPECT_EQ(r.code, 1) << r.out;
  EXPECT_NE(r.out.find("--force"), std::string::npos) << r.out;
  EXPECT_EQ(Vdx("export " + demo + " --to sqlite " + out + " --force").code, 0);

  // JSON Lines is the dump, byte for byte.
  EXPECT_EQ(Vdx("export " + demo + "/ORDERS --to jsonl " + dir / "o.jsonl").code, 0);
  EXPECT_EQ(Read(dir / "o.jsonl"), Vdx("dump " + demo + "/ORDERS").out);

  // Header off, semicolons between fields.
  EXPECT_EQ(Vdx("export " + demo + "/ORDERS.DB --to csv " + dir / "o.csv" +
                " --delimiter ';' --no-header")
                .code,
            0);
  const std::string csv = Read(dir / "o.csv");
  EXPECT_EQ(csv.find("LineNo"), std::string::npos) << csv.substr(0, 200);
  EXPECT_NE(csv.substr(0, csv.find("\r\n")).find(';'), std::string::npos);

  // A damaged table is left out; the others are written, exit 3.
  fs::resize_file(demo + "/ORDERS.MB", fs::file_size(demo + "/ORDERS.MB") / 3);
  r = Vdx("export " + demo + " --to csv " + dir / "csv");
  EXPECT_EQ(r.code, 3) << r.out;
  EXPECT_NE(r.out.find("ORDERS.DB: left out"), std::string::npos) << r.out;
  EXPECT_TRUE(fs::exists(dir / "csv/CUSTOMER.csv"));
  EXPECT_FALSE(fs::exists(dir / "csv/ORDERS.csv"));

  for (const char* bad :
       {" --to xml x", " --to jsonl x --no-header", " --to csv", " --to csv x --delimiter '\"'"}) {
    EXPECT_EQ(Vdx("export " + demo + bad).code, 2) << bad;
  }
}

}  // namespace
