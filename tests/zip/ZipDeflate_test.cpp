// The pieces of a file too large to compress whole are compressed apart and
// joined into one deflate stream: whatever bit each piece's stream ends on,
// the joined stream inflates to the file.
#include "ZipDeflate.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <zlib.h>

#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "ZipTestSupport.h"

namespace {

std::string InflateRaw(const std::string& in, size_t size) {
  std::string out(size + 1, '\0');
  z_stream z{};
  EXPECT_EQ(inflateInit2(&z, -15), Z_OK);
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.data()));
  z.avail_in = static_cast<uInt>(in.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  EXPECT_EQ(inflate(&z, Z_FINISH), Z_STREAM_END);
  EXPECT_EQ(z.avail_in, 0u);  // nothing after the last piece's end
  out.resize(out.size() - z.avail_out);
  inflateEnd(&z);
  return out;
}

}  // namespace

TEST(ZipDeflateTest, PiecesCompressedApartJoinIntoOneStream) {
  // Records with runs and noise, like a table's blocks: the pieces' streams
  // end on every bit of their last byte.
  std::mt19937 rng(11);
  std::string data;
  while (data.size() < (size_t{3} << 20)) {
    data += "CUSTOMER " + std::to_string(rng() % 100000) + std::string(rng() % 24, ' ');
    for (int i = rng() % 12; i > 0; --i) data += static_cast<char>(rng());
  }
  char dir[] = "/tmp/vdx-deflate-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const std::filesystem::path file = std::filesystem::path(dir) / "T.DB";
  ziptest::WriteFile(file, data);

  for (const int threads : {0, 2}) {
    SCOPED_TRACE(threads);
    TDeflatePool pool(threads);
    std::vector<std::shared_ptr<TDeflateChunk>> pieces;
    for (size_t offset = 0, k = 1; offset < data.size(); ++k) {
      auto piece = std::make_shared<TDeflateChunk>();
      piece->path = file.string();
      piece->offset = offset;
      piece->length = std::min(data.size() - offset, k * 7919 % 65536 + 1);
      piece->last = offset + piece->length == data.size();
      offset += piece->length;
      pool.Submit(piece);
      pieces.push_back(piece);
    }
    pool.Close();
    std::string joined;
    for (const auto& piece : pieces) {
      pool.Wait(*piece);
      ASSERT_EQ(piece->rc, 0);
      joined.append(piece->out.data(), piece->outSize);
    }
    EXPECT_EQ(InflateRaw(joined, data.size()) == data, true);
  }
  std::filesystem::remove_all(dir);
}
