// dunzip: the comment of an archive (actions 5 and 6) and extraction
// (action 8). Disks are asked for by number and checked before anything is
// read from them; each file grows beside its target and takes its name only
// once its CRC checks, so no half-written file ever stands under a real name.
// Files of up to kWholeFile bytes are inflated whole and checked in memory,
// then written by TUnzipOutput's thread while the next one is inflated.
#include <fcntl.h>
#include <libdeflate.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "DZip.h"
#include "UnzipOutput.h"
#include "ZipDeflate.h"
#include "ZipFormat.h"
#include "ZipVolumes.h"
#include "tlFile.h"

namespace fs = std::filesystem;

namespace {

constexpr size_t kBlock = 256 * 1024;
constexpr const char* kPartSuffix = ".vdxpart";

bool ReadAt(int fd, void* buf, size_t n, uint64_t offset) {
  return ::pread(fd, buf, n, static_cast<off_t>(offset)) == static_cast<ssize_t>(n);
}

// A stored name that stays inside the destination: relative, without
// empty, "." or ".." parts (a folder's own trailing "/" aside).
bool SafeName(const std::string& name) {
  if (name.empty() || name[0] == '/' || name.find('\\') != std::string::npos) return false;
  const size_t end = name.back() == '/' ? name.size() - 1 : name.size();
  size_t start = 0;
  while (start <= end) {
    const size_t stop = std::min(name.find('/', start), end);
    const std::string part = name.substr(start, stop - start);
    if (part.empty() || part == "." || part == "..") return false;
    start = stop + 1;
  }
  return true;
}

// Makes the folders of `rel` (a "/" separated path) below `dest`, mode 0755;
// a part that stands there as anything but a real folder fails.
bool MakeFolders(const std::string& dest, const std::string& rel) {
  std::string path = dest;
  size_t start = 0;
  while (start < rel.size()) {
    const size_t stop = std::min(rel.find('/', start), rel.size());
    path += '/';
    path.append(rel, start, stop - start);
    start = stop + 1;
    if (::mkdir(path.c_str(), 0755) == 0) continue;
    struct stat st {};
    if (errno != EEXIST || lstat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
  }
  return true;
}

class TExtractor {
 public:
  explicit TExtractor(UNZIPCMDSTRUCT& cmd) : cmd_(cmd), reader_(std::string(), cmd.callbacks) {}
  int Run();

 private:
  int Open();
  int ReadDirectory();
  int Choose(std::vector<zipfmt::TEntry>& chosen);
  int Verify(int fd, uint64_t size, uint32_t disk) const;
  bool Evidence(int fd, uint64_t size, uint32_t disk, bool& matches) const;
  int ExtractOne(const zipfmt::TEntry& e, size_t index, size_t count);
  int Inflate(const zipfmt::TEntry& e, int out);
  int InflateWhole(const zipfmt::TEntry& e, TUnzipOutput::TFile& file);
  void Status(const TStatusCallback& cb, const std::string& item, int percent);

  UNZIPCMDSTRUCT& cmd_;
  TVolumeReader reader_;
  std::vector<zipfmt::TEntry> entries_;
  std::map<uint32_t, zipfmt::TVolumeCheck> checks_;
  uint64_t endOffset_ = 0;
  bool cancelled_ = false;
  // What whole entries are read and inflated with, kept from one to the next.
  std::unique_ptr<char[]> in_;
  uint64_t inCapacity_ = 0;
  std::unique_ptr<libdeflate_decompressor, decltype(&libdeflate_free_decompressor)> decompressor_{
      nullptr, libdeflate_free_decompressor};
  TUnzipOutput output_;  // last: its writer stops before the rest goes
};

void TExtractor::Status(const TStatusCallback& cb, const std::string& item, int percent) {
  if (!cb) return;
  bool cancel = false;
  cb(item, percent, cancel);
  if (cancel) cancelled_ = true;
}

int TExtractor::Open() {
  TArchiveTarget target;
  if (!ResolveArchive(cmd_.lpszZipFile, cmd_.lpszDrivesFile, target)) return UE_OPEN;
  reader_.SetPath(target.path);
  reader_.SetVerifier(
      [this](int fd, uint64_t size, uint32_t disk) { return Verify(fd, size, disk); });
  return reader_.OpenLast(endOffset_);
}

// Whether a volume shows what disk `disk` of this archive must show: its
// local headers where the directory puts them, the split signature on the
// first disk, the same end record on the last. `matches` is the verdict;
// the answer tells whether anything could be checked at all.
bool TExtractor::Evidence(int fd, uint64_t size, uint32_t disk, bool& matches) const {
  const zipfmt::TEnd& end = reader_.End();
  bool checked = false;
  matches = true;
  unsigned char buf[zipfmt::kLocalFixed];
  if (disk == 0 && end.disk > 0) {
    checked = true;
    matches = ReadAt(fd, buf, 4, 0) && (zipfmt::Get32(buf) == zipfmt::kSpanSig ||
                                        zipfmt::Get32(buf) == zipfmt::kSpanSingleSig);
  }
  if (disk == end.disk) {
    checked = true;
    const std::string tail = std::string(zipfmt::kEndFixed + end.comment.size(), '\0');
    std::string got = tail;
    matches =
        matches && size == endOffset_ + tail.size() &&
        ReadAt(fd, got.data(), got.size(), endOffset_) &&
        zipfmt::Get32(reinterpret_cast<const unsigned char*>(got.data())) == zipfmt::kEndSig &&
        got.compare(zipfmt::kEndFixed, std::string::npos, end.comment) == 0;
  }
  for (const zipfmt::TEntry& e : entries_) {
    if (!matches) break;
    if (e.disk != disk) continue;
    checked = true;
    std::string name(e.name.size(), '\0');
    matches = e.offset + zipfmt::kLocalFixed + name.size() <= size &&
              ReadAt(fd, buf, sizeof buf, e.offset) && zipfmt::Get32(buf) == zipfmt::kLocalSig &&
              zipfmt::Get16(buf + 26) == name.size() && zipfmt::Get16(buf + 8) == e.method &&
              zipfmt::Get16(buf + 10) == e.dosTime && zipfmt::Get16(buf + 12) == e.dosDate &&
              ReadAt(fd, name.data(), name.size(), e.offset + zipfmt::kLocalFixed) &&
              name == e.name;
  }
  return checked;
}

int TExtractor::Verify(int fd, uint64_t size, uint32_t disk) const {
  // The directory vouches for the disks before it by size and sample, so a
  // disk that holds only the middle of a file is known too; a disk whose
  // records stand where the directory puts them is this one, even when a
  // damaged byte spoils its sample (the CRC tells that later).
  uint32_t sample = 0;
  const bool sampled = !checks_.empty() && VolumeSample(fd, size, sample);
  const auto vouched = [&](uint32_t d) {
    const auto it = checks_.find(d);
    return sampled && it != checks_.end() && it->second.size == size && it->second.sample == sample;
  };
  if (vouched(disk)) return static_cast<int>(disk);
  bool matches = false;
  const bool checked = Evidence(fd, size, disk, matches);
  if (checked ? matches : !checks_.count(disk)) return static_cast<int>(disk);
  // Another disk of this set, or a volume of another archive?
  for (uint32_t other = 0; other <= reader_.End().disk; ++other) {
    if (other == disk) continue;
    if (vouched(other) || (Evidence(fd, size, other, matches) && matches)) {
      return static_cast<int>(other);
    }
  }
  return -1;
}

int TExtractor::ReadDirectory() {
  const zipfmt::TEnd& end = reader_.End();
  if (end.cdSize > (uint64_t{1} << 31)) return UE_MEM;
  if (int rc = reader_.Seek(end.cdDisk, end.cdOffset)) return rc;
  // Read a piece at a time: the size is the archive's word, and a damaged
  // end record must not make us take memory for data that is not there.
  std::string cd;
  for (uint64_t left = end.cdSize; left > 0;) {
    const size_t n = static_cast<size_t>(std::min<uint64_t>(left, kBlock));
    const size_t at = cd.size();
    cd.resize(at + n);
    if (int rc = reader_.Read(cd.data() + at, n)) return rc;
    left -= n;
  }
  const auto* p = reinterpret_cast<const unsigned char*>(cd.data());
  size_t pos = 0;
  for (uint64_t i = 0; i < end.entries; ++i) {
    zipfmt::TEntry e;
    size_t used = 0;
    if (!zipfmt::DecodeCentral(p + pos, cd.size() - pos, e, used)) return UE_FORM;
    if (e.disk > end.disk) return UE_FORM;
    if (!e.volumeChecks.empty() && !zipfmt::DecodeVolumeChecks(e.volumeChecks, checks_)) {
      return UE_FORM;
    }
    entries_.push_back(std::move(e));
    pos += used;
  }
  return UE_OK;
}

// Whether an entry is read whole and inflated at once by libdeflate (about
// three times zlib's speed): deflated, at most kWholeFile bytes either way.
bool InflatesWhole(const zipfmt::TEntry& e) {
  return e.method == zipfmt::kMethodDeflated && e.usize <= kWholeFile && e.csize <= kWholeFile &&
         e.usize > 0;
}

// Such an entry's bytes into `file`, checked against its size and CRC.
int TExtractor::InflateWhole(const zipfmt::TEntry& e, TUnzipOutput::TFile& file) {
  if (inCapacity_ < e.csize) {
    in_ = std::make_unique_for_overwrite<char[]>(e.csize);
    inCapacity_ = e.csize;
  }
  for (uint64_t at = 0; at < e.csize;) {
    const size_t take = static_cast<size_t>(std::min<uint64_t>(e.csize - at, kBlock));
    if (int rc = reader_.Read(in_.get() + at, take)) return rc;
    at += take;
    if (cancelled_) return UE_CANCEL;
  }
  // One byte more than the entry claims, to tell a longer stream from a fit.
  output_.TakeBuffer(file, e.usize + 1);
  size_t used = 0, produced = 0;
  const libdeflate_result r = libdeflate_deflate_decompress_ex(
      decompressor_.get(), in_.get(), e.csize, file.data.get(), e.usize + 1, &used, &produced);
  if (r != LIBDEFLATE_SUCCESS || used != e.csize || produced != e.usize) return UE_CRC;
  return libdeflate_crc32(0, file.data.get(), produced) == e.crc ? UE_OK : UE_CRC;
}

// Any other entry, a piece at a time into `out`.
int TExtractor::Inflate(const zipfmt::TEntry& e, int out) {
  std::string in(kBlock, '\0'), buf(kBlock, '\0');
  TUnzipOutput::TPieces pieces(out, e.usize);
  z_stream z{};
  const bool deflated = e.method == zipfmt::kMethodDeflated;
  if (deflated && inflateInit2(&z, -15) != Z_OK) return UE_INFLATE;
  uint64_t left = e.csize, written = 0;
  int zrc = Z_OK, rc = UE_OK;
  uint32_t crc = 0;
  while (rc == UE_OK && (left > 0 || (deflated && zrc != Z_STREAM_END))) {
    const size_t take = static_cast<size_t>(std::min<uint64_t>(left, kBlock));
    if (take == 0) {
      rc = UE_CRC;  // the data ended before the stream did
      break;
    }
    if ((rc = reader_.Read(in.data(), take)) != UE_OK) break;
    left -= take;
    if (!deflated) {
      crc = static_cast<uint32_t>(crc32(crc, reinterpret_cast<Bytef*>(in.data()), take));
      if (!pieces.Append(in.data(), take)) rc = UE_WRITE;
      written += take;
    } else {
      z.next_in = reinterpret_cast<Bytef*>(in.data());
      z.avail_in = static_cast<uInt>(take);
      do {
        z.next_out = reinterpret_cast<Bytef*>(buf.data());
        z.avail_out = static_cast<uInt>(buf.size());
        zrc = inflate(&z, Z_NO_FLUSH);
        if (zrc != Z_OK && zrc != Z_STREAM_END && zrc != Z_BUF_ERROR) {
          rc = zrc == Z_MEM_ERROR ? UE_MEM : UE_CRC;
          break;
        }
        const size_t n = buf.size() - z.avail_out;
        crc = static_cast<uint32_t>(crc32(crc, reinterpret_cast<Bytef*>(buf.data()), n));
        if (!pieces.Append(buf.data(), n)) rc = UE_WRITE;
        written += n;
      } while (rc == UE_OK && zrc != Z_STREAM_END && z.avail_out == 0);
      if (zrc == Z_STREAM_END && (z.avail_in > 0 || left > 0)) rc = UE_CRC;
    }
    if (written > e.usize) rc = UE_CRC;
    Status(cmd_.callbacks.lpMinorStatus, e.name,
           e.usize ? static_cast<int>(std::min<uint64_t>(100, written * 100 / e.usize)) : 100);
    if (cancelled_ && rc == UE_OK) rc = UE_CANCEL;
  }
  if (deflated) inflateEnd(&z);
  if (rc == UE_OK && (written != e.usize || crc != e.crc)) rc = UE_CRC;
  if (rc == UE_OK && !pieces.Flush()) rc = UE_WRITE;
  return rc;
}

int TExtractor::ExtractOne(const zipfmt::TEntry& e, size_t index, size_t count) {
  Status(cmd_.callbacks.lpMajorStatus,
         "Item " + std::to_string(index + 1) + " of " + std::to_string(count),
         static_cast<int>(index * 100 / count));
  if (cancelled_) return UE_CANCEL;
  if (!SafeName(e.name)) return UE_FORM;
  const std::string target = cmd_.lpszDestination + '/' + e.name;
  std::error_code ec;
  if (e.IsDirectory()) {
    if (!MakeFolders(cmd_.lpszDestination, e.name)) return UE_WRITE;
    output_.AddFolder(target.substr(0, target.size() - 1));
    return UE_OK;
  }
  if (e.flags & zipfmt::kFlagEncrypted) return UE_UNSUP;
  if (e.method != zipfmt::kMethodStored && e.method != zipfmt::kMethodDeflated) return UE_UNSUP;
  if (!cmd_.overWriteFlag) {
    if (int rc = output_.Drain()) return rc;  // the writer may be making it
    if (fs::exists(target, ec)) return UE_OK;
  }
  // The local header: only its name and extra lengths matter, the directory
  // holds the rest.
  unsigned char local[zipfmt::kLocalFixed];
  if (int rc = reader_.Seek(e.disk, e.offset)) return rc;
  if (int rc = reader_.Read(local, sizeof local)) return rc;
  if (zipfmt::Get32(local) != zipfmt::kLocalSig) return UE_FORM;
  std::string skip(zipfmt::Get16(local + 26) + zipfmt::Get16(local + 28), '\0');
  if (int rc = reader_.Read(skip.data(), skip.size())) return rc;
  if (!MakeFolders(cmd_.lpszDestination, ExtractFilePath(e.name))) return UE_WRITE;
  const std::string part = target + kPartSuffix;
  const time_t mtime = zipfmt::FromDosTime(e.dosTime, e.dosDate);
  int rc = UE_OK;
  if (InflatesWhole(e)) {
    TUnzipOutput::TFile file{part, target, nullptr, static_cast<size_t>(e.usize), mtime};
    if (!decompressor_) decompressor_.reset(libdeflate_alloc_decompressor());
    rc = decompressor_ ? InflateWhole(e, file) : UE_MEM;
    if (rc == UE_OK) rc = output_.Submit(std::move(file));
  } else {
    // Written here, after the writer's file: an archive may hold a name twice.
    rc = output_.Drain();
    // Reserved only as far as the data could reach (deflate packs at most
    // 1032 to 1), so a damaged size claims no room.
    const uint64_t reach = e.method == zipfmt::kMethodStored ? e.csize : e.csize * 1032;
    const int out = rc == UE_OK ? output_.Open(part, std::min<uint64_t>(e.usize, reach)) : -1;
    if (rc == UE_OK && out < 0) rc = UE_WRITE;
    if (rc == UE_OK) rc = output_.Finish(out, part, target, mtime, Inflate(e, out));
  }
  Status(cmd_.callbacks.lpMinorStatus, e.name, 100);
  return rc;
}

// The entries action 8 writes, all checked before the first one is: what
// lies outside the top folders, links and special files are skipped and
// listed; an entry that would stand as a top folder is refused.
int TExtractor::Choose(std::vector<zipfmt::TEntry>& chosen) {
  const std::vector<std::string>& tops = cmd_.topFolders;
  const std::string mask = cmd_.lpszFileSpec.empty() ? "*.*" : cmd_.lpszFileSpec;
  cmd_.skipped.clear();
  bool anyTop = false;
  for (const zipfmt::TEntry& e : entries_) {
    const std::string top = e.name.substr(0, e.name.find('/'));
    const bool inTops = std::find(tops.begin(), tops.end(), top) != tops.end();
    const uint32_t type = e.UnixType();
    const bool special = type != 0 && type != S_IFREG && type != S_IFDIR;
    if (inTops && (e.name == top || (e.name == top + '/' && special))) {
      cmd_.lpszReturnString = e.name;
      return UE_UNSAFE;
    }
    if ((!tops.empty() && !inTops) || special || !SafeName(e.name)) {
      cmd_.skipped.push_back(e.name);
      continue;
    }
    anyTop = true;
    if (MatchesMask(e.name, mask) || MatchesMask(ExtractFileName(e.name), mask)) {
      chosen.push_back(e);
    }
  }
  if (!tops.empty() && !anyTop) return UE_NOTOPS;
  return chosen.empty() ? UE_NOMATCH : UE_OK;
}

int TExtractor::Run() {
  if (int rc = Open()) return rc;
  const zipfmt::TEnd& end = reader_.End();
  if (cmd_.function == kUnzipActionCommentLength) {
    cmd_.returnCount = static_cast<long long>(end.comment.size());
    return UE_OK;
  }
  if (cmd_.function == kUnzipActionComment) {
    cmd_.lpszReturnString = end.comment;
    cmd_.returnCount = static_cast<long long>(end.comment.size());
    return UE_OK;
  }
  Status(cmd_.callbacks.lpMajorStatus, "Please wait.", 0);
  if (int rc = ReadDirectory()) return rc;
  std::vector<zipfmt::TEntry> chosen;
  if (int rc = Choose(chosen)) return rc;
  if (cmd_.function == kUnzipActionCheck) {
    cmd_.returnCount = static_cast<long long>(chosen.size());
    return UE_OK;
  }
  std::error_code ec;
  fs::create_directories(cmd_.lpszDestination, ec);
  if (ec) return UE_WRITE;
  // In archive order, so each disk is asked for once.
  std::stable_sort(chosen.begin(), chosen.end(), [](const auto& a, const auto& b) {
    return a.disk != b.disk ? a.disk < b.disk : a.offset < b.offset;
  });
  for (size_t i = 0; i < chosen.size(); ++i) {
    if (int rc = ExtractOne(chosen[i], i, chosen.size())) return rc;
  }
  // Every file made durable together: the caller drops its former copy
  // once this answers success.
  if (int rc = output_.Drain()) return rc;
  if (int rc = output_.Sync(cmd_.lpszDestination)) return rc;
  Status(cmd_.callbacks.lpMajorStatus, std::string(), 100);
  cmd_.returnCount = static_cast<long long>(chosen.size());
  return UE_OK;
}

}  // namespace

int dunzip(UNZIPCMDSTRUCT& cmd) {
  if (cmd.function < 1 || cmd.function > 9) return UE_PARMS;
  if (cmd.function != kUnzipActionCommentLength && cmd.function != kUnzipActionComment &&
      cmd.function != kUnzipActionCheck && cmd.function != kUnzipActionExtract) {
    return UE_PARMS;
  }
  if (cmd.function == kUnzipActionExtract && cmd.lpszDestination.empty()) return UE_PARMS;
  try {
    return TExtractor(cmd).Run();
  } catch (const std::bad_alloc&) {
    return UE_MEM;
  }
}
