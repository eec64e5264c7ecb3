// PKZIP records; see ZipFormat.h. Layouts follow PKWARE's APPNOTE 6.3.
#include "ZipFormat.h"

namespace zipfmt {

namespace {

constexpr uint16_t kMadeByUnix20 = 0x0314;
constexpr uint16_t kMadeByUnix45 = 0x032D;
constexpr uint16_t kZip64ExtraId = 0x0001;
constexpr uint16_t kVolumeChecksId = 0x5644;  // "DV"
constexpr size_t kVolumeCheckSize = 12;

bool NeedsZip64Central(const TEntry& e) {
  return e.usize >= kMax32 || e.csize >= kMax32 || e.offset >= kMax32 || e.disk >= kMax16;
}

uint16_t VersionNeeded(const TEntry& e, bool zip64) {
  if (zip64) return 45;
  return e.method == kMethodDeflated || e.IsDirectory() ? 20 : 10;
}

}  // namespace

void Put16(std::string& out, uint16_t v) {
  out += static_cast<char>(v & 0xFF);
  out += static_cast<char>(v >> 8);
}
void Put32(std::string& out, uint32_t v) {
  Put16(out, static_cast<uint16_t>(v & 0xFFFF));
  Put16(out, static_cast<uint16_t>(v >> 16));
}
void Put64(std::string& out, uint64_t v) {
  Put32(out, static_cast<uint32_t>(v & 0xFFFFFFFFu));
  Put32(out, static_cast<uint32_t>(v >> 32));
}
uint16_t Get16(const unsigned char* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t Get32(const unsigned char* p) {
  return Get16(p) | (static_cast<uint32_t>(Get16(p + 2)) << 16);
}
uint64_t Get64(const unsigned char* p) {
  return Get32(p) | (static_cast<uint64_t>(Get32(p + 4)) << 32);
}

void ToDosTime(time_t t, uint16_t& dosTime, uint16_t& dosDate) {
  struct tm tm {};
  localtime_r(&t, &tm);
  if (tm.tm_year < 80) {  // DOS dates begin in 1980
    tm = {};
    tm.tm_year = 80;
    tm.tm_mday = 1;
  }
  dosTime = static_cast<uint16_t>((tm.tm_hour << 11) | (tm.tm_min << 5) | (tm.tm_sec / 2));
  dosDate = static_cast<uint16_t>(((tm.tm_year - 80) << 9) | ((tm.tm_mon + 1) << 5) | tm.tm_mday);
}

time_t FromDosTime(uint16_t dosTime, uint16_t dosDate) {
  struct tm tm {};
  tm.tm_year = (dosDate >> 9) + 80;
  tm.tm_mon = ((dosDate >> 5) & 0x0F) - 1;
  tm.tm_mday = dosDate & 0x1F;
  tm.tm_hour = dosTime >> 11;
  tm.tm_min = (dosTime >> 5) & 0x3F;
  tm.tm_sec = (dosTime & 0x1F) * 2;
  tm.tm_isdst = -1;
  return mktime(&tm);
}

std::string EncodeLocal(const TEntry& e) {
  std::string out;
  const bool descriptor = e.flags & kFlagDescriptor;
  Put32(out, kLocalSig);
  Put16(out, VersionNeeded(e, e.zip64Local));
  Put16(out, e.flags);
  Put16(out, e.method);
  Put16(out, e.dosTime);
  Put16(out, e.dosDate);
  // With a data descriptor the CRC and sizes follow the data.
  Put32(out, descriptor ? 0 : e.crc);
  Put32(out, descriptor ? 0 : (e.zip64Local ? 0xFFFFFFFFu : static_cast<uint32_t>(e.csize)));
  Put32(out, descriptor ? 0 : (e.zip64Local ? 0xFFFFFFFFu : static_cast<uint32_t>(e.usize)));
  Put16(out, static_cast<uint16_t>(e.name.size()));
  Put16(out, e.zip64Local ? 20 : 0);
  out += e.name;
  if (e.zip64Local) {
    Put16(out, kZip64ExtraId);
    Put16(out, 16);
    Put64(out, descriptor ? 0 : e.usize);
    Put64(out, descriptor ? 0 : e.csize);
  }
  return out;
}

std::string EncodeDescriptor(const TEntry& e) {
  std::string out;
  Put32(out, kDescriptorSig);
  Put32(out, e.crc);
  if (e.zip64Local) {
    Put64(out, e.csize);
    Put64(out, e.usize);
  } else {
    Put32(out, static_cast<uint32_t>(e.csize));
    Put32(out, static_cast<uint32_t>(e.usize));
  }
  return out;
}

std::string EncodeCentral(const TEntry& e) {
  const bool zip64 = NeedsZip64Central(e);
  std::string extra;
  if (zip64) {
    std::string fields;
    if (e.usize >= kMax32) Put64(fields, e.usize);
    if (e.csize >= kMax32) Put64(fields, e.csize);
    if (e.offset >= kMax32) Put64(fields, e.offset);
    if (e.disk >= kMax16) Put32(fields, e.disk);
    Put16(extra, kZip64ExtraId);
    Put16(extra, static_cast<uint16_t>(fields.size()));
    extra += fields;
  }
  if (!e.volumeChecks.empty()) {
    Put16(extra, kVolumeChecksId);
    Put16(extra, static_cast<uint16_t>(e.volumeChecks.size()));
    extra += e.volumeChecks;
  }
  std::string out;
  Put32(out, kCentralSig);
  Put16(out, zip64 || e.zip64Local ? kMadeByUnix45 : kMadeByUnix20);
  Put16(out, VersionNeeded(e, zip64 || e.zip64Local));
  Put16(out, e.flags);
  Put16(out, e.method);
  Put16(out, e.dosTime);
  Put16(out, e.dosDate);
  Put32(out, e.crc);
  Put32(out, e.csize >= kMax32 ? 0xFFFFFFFFu : static_cast<uint32_t>(e.csize));
  Put32(out, e.usize >= kMax32 ? 0xFFFFFFFFu : static_cast<uint32_t>(e.usize));
  Put16(out, static_cast<uint16_t>(e.name.size()));
  Put16(out, static_cast<uint16_t>(extra.size()));
  Put16(out, 0);  // comment
  Put16(out, e.disk >= kMax16 ? 0xFFFF : static_cast<uint16_t>(e.disk));
  Put16(out, 0);  // internal attributes
  Put32(out, e.extAttr);
  Put32(out, e.offset >= kMax32 ? 0xFFFFFFFFu : static_cast<uint32_t>(e.offset));
  out += e.name;
  out += extra;
  return out;
}

bool NeedsZip64End(const TEnd& end) {
  return end.entries >= kMax16 || end.diskEntries >= kMax16 || end.cdSize >= kMax32 ||
         end.cdOffset >= kMax32 || end.cdDisk >= kMax16 || end.disk >= kMax16;
}

size_t EndLength(const TEnd& end) {
  return (NeedsZip64End(end) ? kEnd64Size + kLocator64Size : 0) + kEndFixed + end.comment.size();
}

std::string EncodeEnd(const TEnd& end) {
  std::string out;
  const bool zip64 = NeedsZip64End(end);
  if (zip64) {
    Put32(out, kEnd64Sig);
    Put64(out, kEnd64Size - 12);
    Put16(out, kMadeByUnix45);
    Put16(out, 45);
    Put32(out, end.disk);
    Put32(out, end.cdDisk);
    Put64(out, end.diskEntries);
    Put64(out, end.entries);
    Put64(out, end.cdSize);
    Put64(out, end.cdOffset);
    Put32(out, kLocator64Sig);
    Put32(out, end.end64Disk);
    Put64(out, end.end64Offset);
    Put32(out, end.disk + 1);
  }
  const auto clip16 = [](uint64_t v) { return v >= kMax16 ? uint16_t{0xFFFF} : uint16_t(v); };
  const auto clip32 = [](uint64_t v) { return v >= kMax32 ? 0xFFFFFFFFu : uint32_t(v); };
  Put32(out, kEndSig);
  Put16(out, clip16(end.disk));
  Put16(out, clip16(end.cdDisk));
  Put16(out, clip16(end.diskEntries));
  Put16(out, clip16(end.entries));
  Put32(out, clip32(end.cdSize));
  Put32(out, clip32(end.cdOffset));
  Put16(out, static_cast<uint16_t>(end.comment.size()));
  out += end.comment;
  return out;
}

bool DecodeCentral(const unsigned char* p, size_t avail, TEntry& e, size_t& used) {
  if (avail < kCentralFixed || Get32(p) != kCentralSig) return false;
  const size_t nameLen = Get16(p + 28), extraLen = Get16(p + 30), commentLen = Get16(p + 32);
  used = kCentralFixed + nameLen + extraLen + commentLen;
  if (used > avail) return false;
  e = TEntry{};
  e.madeByHost = p[5];
  e.flags = Get16(p + 8);
  e.method = Get16(p + 10);
  e.dosTime = Get16(p + 12);
  e.dosDate = Get16(p + 14);
  e.crc = Get32(p + 16);
  e.csize = Get32(p + 20);
  e.usize = Get32(p + 24);
  e.disk = Get16(p + 34);
  e.extAttr = Get32(p + 38);
  e.offset = Get32(p + 42);
  e.name.assign(reinterpret_cast<const char*>(p + kCentralFixed), nameLen);
  // The Zip64 extra holds, in this order, the fields that overflowed.
  const unsigned char* x = p + kCentralFixed + nameLen;
  const unsigned char* xEnd = x + extraLen;
  while (x + 4 <= xEnd) {
    const uint16_t id = Get16(x), size = Get16(x + 2);
    const unsigned char* body = x + 4;
    if (body + size > xEnd) return false;
    if (id == kZip64ExtraId) {
      const unsigned char* f = body;
      const unsigned char* fEnd = body + size;
      auto take64 = [&](uint64_t& field) {
        if (f + 8 > fEnd) return false;
        field = Get64(f);
        f += 8;
        return true;
      };
      if (e.usize == kMax32 && !take64(e.usize)) return false;
      if (e.csize == kMax32 && !take64(e.csize)) return false;
      if (e.offset == kMax32 && !take64(e.offset)) return false;
      if (e.disk == kMax16) {
        if (f + 4 > fEnd) return false;
        e.disk = Get32(f);
      }
    }
    if (id == kVolumeChecksId) e.volumeChecks.assign(reinterpret_cast<const char*>(body), size);
    x = body + size;
  }
  return true;
}

std::string EncodeVolumeChecks(uint32_t firstDisk, const TVolumeCheck* checks, size_t n) {
  std::string out;
  Put32(out, firstDisk);
  for (size_t i = 0; i < n; ++i) {
    Put64(out, checks[i].size);
    Put32(out, checks[i].sample);
  }
  return out;
}

bool DecodeVolumeChecks(const std::string& data, std::map<uint32_t, TVolumeCheck>& checks) {
  if (data.size() < 4 || (data.size() - 4) % kVolumeCheckSize != 0) return false;
  const auto* p = reinterpret_cast<const unsigned char*>(data.data());
  uint32_t disk = Get32(p);
  for (size_t at = 4; at < data.size(); at += kVolumeCheckSize) {
    checks[disk++] = {Get64(p + at), Get32(p + at + 8)};
  }
  return true;
}

bool FindEnd(const std::string& tail, uint64_t volumeSize, TEnd& end, uint64_t& endOffset) {
  const auto* data = reinterpret_cast<const unsigned char*>(tail.data());
  if (tail.size() < kEndFixed) return false;
  const uint64_t tailStart = volumeSize - tail.size();
  for (size_t i = tail.size() - kEndFixed + 1; i-- > 0;) {
    const unsigned char* p = data + i;
    if (Get32(p) != kEndSig) continue;
    const size_t commentLen = Get16(p + 20);
    if (i + kEndFixed + commentLen != tail.size()) continue;  // not the real end
    end = TEnd{};
    end.disk = Get16(p + 4);
    end.cdDisk = Get16(p + 6);
    end.diskEntries = Get16(p + 8);
    end.entries = Get16(p + 10);
    end.cdSize = Get32(p + 12);
    end.cdOffset = Get32(p + 16);
    end.comment.assign(reinterpret_cast<const char*>(p + kEndFixed), commentLen);
    endOffset = tailStart + i;
    if (i >= kLocator64Size && Get32(p - kLocator64Size) == kLocator64Sig) {
      const unsigned char* loc = p - kLocator64Size;
      end.zip64 = true;
      end.end64Disk = Get32(loc + 4);
      end.end64Offset = Get64(loc + 8);
      end.disk = Get32(loc + 16) - 1;
    }
    return true;
  }
  return false;
}

bool DecodeEnd64(const unsigned char* p, size_t avail, TEnd& end) {
  if (avail < kEnd64Size || Get32(p) != kEnd64Sig) return false;
  end.disk = Get32(p + 16);
  end.cdDisk = Get32(p + 20);
  end.diskEntries = Get64(p + 24);
  end.entries = Get64(p + 32);
  end.cdSize = Get64(p + 40);
  end.cdOffset = Get64(p + 48);
  return true;
}

}  // namespace zipfmt
