// The records of a PKZIP archive as this library writes and reads them:
// local and central headers, data descriptors, the end records (with their
// Zip64 forms) and the split signature of a spanned set. Encoding answers the
// bytes; decoding checks sizes and signatures before it trusts a field.
#pragma once

#include <cstdint>
#include <ctime>
#include <map>
#include <string>

namespace zipfmt {

constexpr uint32_t kLocalSig = 0x04034b50;
constexpr uint32_t kCentralSig = 0x02014b50;
constexpr uint32_t kEndSig = 0x06054b50;
constexpr uint32_t kEnd64Sig = 0x06064b50;
constexpr uint32_t kLocator64Sig = 0x07064b50;
constexpr uint32_t kDescriptorSig = 0x08074b50;
// The first four bytes of a spanned set's first volume, and of a set that
// was begun as spanned but ended on one volume.
constexpr uint32_t kSpanSig = 0x08074b50;
constexpr uint32_t kSpanSingleSig = 0x30304b50;

constexpr uint16_t kFlagDescriptor = 0x0008;
constexpr uint16_t kFlagUtf8 = 0x0800;
constexpr uint16_t kFlagEncrypted = 0x0001;
constexpr uint16_t kMethodStored = 0;
constexpr uint16_t kMethodDeflated = 8;

constexpr size_t kLocalFixed = 30;
constexpr size_t kCentralFixed = 46;
constexpr size_t kEndFixed = 22;
constexpr size_t kEnd64Size = 56;
constexpr size_t kLocator64Size = 20;

// Sizes at or above these need the Zip64 records.
constexpr uint64_t kMax32 = 0xFFFFFFFFu;
constexpr uint64_t kMax16 = 0xFFFFu;

struct TEntry {
  std::string name;  // "/" separated, relative
  uint16_t flags = 0;
  uint16_t method = kMethodDeflated;
  uint16_t dosTime = 0;
  uint16_t dosDate = 0;
  uint32_t crc = 0;
  uint64_t csize = 0;
  uint64_t usize = 0;
  uint64_t offset = 0;  // of the local header, within its disk
  uint32_t disk = 0;    // of the local header, from 0
  uint32_t extAttr = 0;
  bool zip64Local = false;  // the local header carries a Zip64 extra (sizes to come)
  uint8_t madeByHost = 3;   // 3: Unix, whose mode is the high word of extAttr
  // The checks of the volumes before the central directory that this
  // header carries (an extra field of its own; other readers skip it).
  std::string volumeChecks;

  bool IsDirectory() const { return !name.empty() && name.back() == '/'; }
  // The Unix file type of the entry (S_IFREG, S_IFLNK ...); 0 when not told.
  uint32_t UnixType() const { return madeByHost == 3 ? (extAttr >> 16) & 0170000 : 0; }
};

// One volume of a spanned set as the central directory vouches for it: its
// size and the CRC-32 of its first and last bytes (VolumeSample).
struct TVolumeCheck {
  uint64_t size = 0;
  uint32_t sample = 0;
};

struct TEnd {
  uint64_t entries = 0;      // in the whole archive
  uint64_t diskEntries = 0;  // on the last disk
  uint64_t cdSize = 0;
  uint64_t cdOffset = 0;
  uint32_t cdDisk = 0;
  uint32_t disk = 0;  // the last disk, from 0
  std::string comment;
  // Where the Zip64 end record stands, when there is one.
  bool zip64 = false;
  uint32_t end64Disk = 0;
  uint64_t end64Offset = 0;
};

void Put16(std::string& out, uint16_t v);
void Put32(std::string& out, uint32_t v);
void Put64(std::string& out, uint64_t v);
uint16_t Get16(const unsigned char* p);
uint32_t Get32(const unsigned char* p);
uint64_t Get64(const unsigned char* p);

void ToDosTime(time_t t, uint16_t& dosTime, uint16_t& dosDate);
time_t FromDosTime(uint16_t dosTime, uint16_t dosDate);

std::string EncodeLocal(const TEntry& e);
std::string EncodeDescriptor(const TEntry& e);
std::string EncodeCentral(const TEntry& e);
bool NeedsZip64End(const TEnd& end);
// The Zip64 end record and its locator (when needed) followed by the end
// record; `end.end64Disk/end64Offset` say where the first byte will stand.
std::string EncodeEnd(const TEnd& end);
// Length of the end records EncodeEnd writes for `end`.
size_t EndLength(const TEnd& end);

// The checks of disks firstDisk, firstDisk + 1 ... as an extra's data, and
// back; Decode appends to `checks` (disk -> check).
std::string EncodeVolumeChecks(uint32_t firstDisk, const TVolumeCheck* checks, size_t n);
bool DecodeVolumeChecks(const std::string& data, std::map<uint32_t, TVolumeCheck>& checks);
// How many bytes at each end of a volume its sample covers.
constexpr uint64_t kVolumeSampleSpan = 65536;

// One central header from `p` (at most `avail` bytes); `used` its length.
bool DecodeCentral(const unsigned char* p, size_t avail, TEntry& e, size_t& used);
// The end record found in the tail of the last volume. `tail` holds the
// last bytes of the volume, whose size is `volumeSize`.
bool FindEnd(const std::string& tail, uint64_t volumeSize, TEnd& end, uint64_t& endOffset);
// Completes `end` from the Zip64 end record (56 bytes at `p`).
bool DecodeEnd64(const unsigned char* p, size_t avail, TEnd& end);

}  // namespace zipfmt
