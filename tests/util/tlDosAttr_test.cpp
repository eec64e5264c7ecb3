#include "tlDosAttr.h"

#include <gtest/gtest.h>
#include <sys/xattr.h>

#include "TempDir.h"

namespace {

std::string Bytes(std::initializer_list<int> bytes) {
  std::string s;
  for (int b : bytes) s.push_back(static_cast<char>(b));
  return s;
}

TEST(DosAttribValue, DecodesSambaForms) {
  // Old text form, with and without its NUL.
  EXPECT_EQ(DecodeDosAttrib("0x22")->attrib, 0x22u);
  EXPECT_EQ(DecodeDosAttrib(std::string("0x2", 4))->attrib, 0x2u);
  // Version 5 as current Samba writes it: archive + hidden, with a create time.
  const auto v5 = DecodeDosAttrib(
      Bytes({0, 0, 5, 0, 5, 0, 0, 0, 0x11, 0, 0, 0, 0x22, 0, 0, 0, 1, 2, 3, 4, 5, 6, 7, 8}));
  ASSERT_TRUE(v5);
  EXPECT_EQ(v5->attrib, 0x22u);
  EXPECT_EQ(v5->createTime.value_or(0), 0x0807060504030201u);
  // Version 3 behind a non-empty hex text ("0x20"): the info block wins.
  std::string v3 = Bytes({'0', 'x', '2', '0', 0, 0, 3, 0, 3, 0, 0, 0, 1, 0, 0, 0, 0x02, 0, 0, 0});
  v3.resize(v3.size() + 32, '\0');
  EXPECT_EQ(DecodeDosAttrib(v3)->attrib, 0x02u);
  // Attribute not flagged valid: fall back to the text.
  v3[12] = 0;
  EXPECT_EQ(DecodeDosAttrib(v3)->attrib, 0x20u);
  EXPECT_FALSE(DecodeDosAttrib(Bytes({0, 0, 9, 0, 9, 0})));
  EXPECT_FALSE(DecodeDosAttrib(""));
  EXPECT_FALSE(DecodeDosAttrib(Bytes({0, 0, 5, 0, 5, 0, 0, 0, 1})));  // truncated
}

TEST(DosAttribValue, EncodesVersion5AndReadsItBack) {
  const std::string blob = EncodeDosAttrib({0x02, {}});
  EXPECT_EQ(blob, Bytes({0, 0, 5, 0, 5, 0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
  const auto back = DecodeDosAttrib(EncodeDosAttrib({0x26, 77}));
  EXPECT_EQ(back->attrib, 0x26u);
  EXPECT_EQ(back->createTime.value_or(0), 77u);
}

TEST(DosAttribStore, WritesTheAttributeSambaReadsAndKeepsItsCreateTime) {
  TempDir d;
  d.Write("A.DB");
  const std::string path = d / "A.DB";
  const std::string samba = EncodeDosAttrib({0x20, 1234});
  ASSERT_EQ(setxattr(path.c_str(), "user.DOSATTRIB", samba.data(), samba.size(), 0), 0);
  EXPECT_EQ(ReadStoredDosBits(path), faArchive);
  ASSERT_TRUE(WriteStoredDosBits(path, faArchive | faHidden));
  char buf[64];
  const ssize_t n = getxattr(path.c_str(), "user.DOSATTRIB", buf, sizeof buf);
  ASSERT_GT(n, 0);
  const auto stored = DecodeDosAttrib(std::string(buf, n));
  EXPECT_EQ(stored->attrib, 0x22u);
  EXPECT_EQ(stored->createTime.value_or(0), 1234u);
  EXPECT_FALSE(WriteStoredDosBits(d / "missing", faHidden));
}

}  // namespace
