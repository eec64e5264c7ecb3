// DOS attribute storage; see tlDosAttr.h. The binary user.DOSATTRIB value is
// Samba's NDR encoding: a NUL-terminated hex text (empty in new values),
// padding to 2, the version twice (uint16), padding to 4, then the version's
// info block, all little-endian.
#include "tlDosAttr.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/xattr.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <map>
#include <mutex>
#include <tuple>

namespace {

constexpr const char* kXattrName = "user.DOSATTRIB";
constexpr std::uint32_t kValidAttrib = 0x01;      // XATTR_DOSINFO_ATTRIB
constexpr std::uint32_t kValidCreateTime = 0x10;  // XATTR_DOSINFO_CREATE_TIME

std::uint32_t Get32(const std::string& b, std::size_t at) {
  std::uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(b[at + i]);
  return v;
}

std::uint64_t Get64(const std::string& b, std::size_t at) {
  return Get32(b, at) | (static_cast<std::uint64_t>(Get32(b, at + 4)) << 32);
}

void Put(std::string& b, std::uint64_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) b.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

std::optional<TDosAttrib> FromHexText(const std::string& text) {
  if (text.size() < 3 || text[0] != '0' || (text[1] != 'x' && text[1] != 'X')) return {};
  char* end = nullptr;
  const unsigned long v = std::strtoul(text.c_str() + 2, &end, 16);
  if (end == text.c_str() + 2) return {};
  return TDosAttrib{static_cast<std::uint32_t>(v), {}};
}

// Where the attrib and create time sit in each version's info block, and
// whether a valid-flags word guards them.
struct InfoLayout {
  bool hasFlags;
  std::size_t attribAt;
  std::size_t createAt;  // 0: the version has no create time
  std::size_t size;
};

std::optional<InfoLayout> LayoutOf(std::uint16_t version) {
  switch (version) {
    case 1:
      return InfoLayout{false, 0, 0, 4};
    case 2:
      return InfoLayout{false, 4, 0, 8};
    case 3:
      return InfoLayout{true, 4, 28, 36};
    case 4:
      return InfoLayout{true, 4, 16, 24};
    case 5:
      return InfoLayout{true, 4, 8, 16};
    default:
      return {};
  }
}

}  // namespace

std::optional<TDosAttrib> DecodeDosAttrib(const std::string& blob) {
  const std::size_t nul = blob.find('\0');
  if (nul == std::string::npos) return FromHexText(blob);  // oldest form: text only
  const std::string hexText = blob.substr(0, nul);
  std::size_t pos = (nul + 2) & ~std::size_t{1};
  if (blob.size() < pos + 4) return FromHexText(hexText);
  const auto version = static_cast<std::uint16_t>(Get32(blob, pos) & 0xFFFF);
  pos = (pos + 4 + 3) & ~std::size_t{3};
  const auto layout = LayoutOf(version);
  if (!layout || blob.size() < pos + layout->size) return FromHexText(hexText);
  const std::uint32_t flags = layout->hasFlags ? Get32(blob, pos) : kValidAttrib;
  if (!(flags & kValidAttrib)) return FromHexText(hexText);
  TDosAttrib result{Get32(blob, pos + layout->attribAt), {}};
  if (layout->createAt != 0 && (flags & kValidCreateTime)) {
    result.createTime = Get64(blob, pos + layout->createAt);
  }
  return result;
}

std::string EncodeDosAttrib(const TDosAttrib& value) {
  std::string b;
  Put(b, 0, 2);  // empty hex text, its NUL and the padding to 2
  Put(b, 5, 2);  // version
  Put(b, 5, 2);  // union level
  Put(b, 0, 2);  // padding to 4
  Put(b, kValidAttrib | (value.createTime ? kValidCreateTime : 0), 4);
  Put(b, value.attrib, 4);
  Put(b, value.createTime.value_or(0), 8);
  return b;
}

namespace {

std::atomic<bool> g_refused{false};

// The fallback table, keyed by file identity rather than path so that a
// folder renamed by another layer keeps its files' bits.
using FileKey = std::tuple<dev_t, ino_t, std::int64_t>;
std::mutex g_mutex;
std::map<FileKey, int>& Table() {
  static std::map<FileKey, int> table;
  return table;
}

std::optional<FileKey> KeyOf(const std::string& path) {
  struct statx sx {};
  if (statx(AT_FDCWD, path.c_str(), 0, STATX_INO | STATX_BTIME, &sx) != 0) return {};
  const std::int64_t birth =
      (sx.stx_mask & STATX_BTIME) ? sx.stx_btime.tv_sec * 1000000000LL + sx.stx_btime.tv_nsec : 0;
  return FileKey{makedev(sx.stx_dev_major, sx.stx_dev_minor), sx.stx_ino, birth};
}

std::optional<TDosAttrib> ReadXattr(const std::string& path) {
  if (g_refused) return {};
  char buf[256];
  const ssize_t n = getxattr(path.c_str(), kXattrName, buf, sizeof buf);
  if (n < 0) return {};
  return DecodeDosAttrib(std::string(buf, static_cast<std::size_t>(n)));
}

bool WriteXattr(const std::string& path, int bits) {
  if (g_refused) return false;
  TDosAttrib value = ReadXattr(path).value_or(TDosAttrib{});
  value.attrib = (value.attrib & ~static_cast<std::uint32_t>(kStoredDosBits)) |
                 static_cast<std::uint32_t>(bits);
  if (value.attrib == 0 && !value.createTime) {
    return removexattr(path.c_str(), kXattrName) == 0 || errno == ENODATA;
  }
  const std::string blob = EncodeDosAttrib(value);
  return setxattr(path.c_str(), kXattrName, blob.data(), blob.size(), 0) == 0;
}

}  // namespace

int ReadStoredDosBits(const std::string& path) {
  if (const auto key = KeyOf(path)) {
    std::lock_guard<std::mutex> lock(g_mutex);
    const auto it = Table().find(*key);
    if (it != Table().end()) return it->second;
  }
  const auto value = ReadXattr(path);
  return value ? static_cast<int>(value->attrib) & kStoredDosBits : 0;
}

bool WriteStoredDosBits(const std::string& path, int bits) {
  bits &= kStoredDosBits;
  const auto key = KeyOf(path);
  if (!key) return false;
  const bool stored = WriteXattr(path, bits);
  std::lock_guard<std::mutex> lock(g_mutex);
  if (stored) {
    Table().erase(*key);
  } else {
    Table()[*key] = bits;
  }
  return true;
}

void ForgetStoredDosBits(const std::string& path) {
  if (const auto key = KeyOf(path)) {
    std::lock_guard<std::mutex> lock(g_mutex);
    Table().erase(*key);
  }
}

void SetExtendedAttributesRefused(bool refused) { g_refused = refused; }
