// dzip: the add action. Files found by the item list are deflated on every
// core and written in order onto as many volumes as they need; the central
// directory and the end records follow, never split across volumes.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cctype>
#include <deque>
#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <thread>
#include <unordered_map>

#include "DZip.h"
#include "ZipDeflate.h"
#include "ZipFormat.h"
#include "ZipVolumes.h"
#include "tlFile.h"

namespace {

// The pieces a file too large to compress whole is cut into.
constexpr size_t kChunk = size_t{8} << 20;
// An entry this close to 4 GiB gets Zip64 sizes: deflate may grow it a little.
constexpr uint64_t kZip64Threshold = zipfmt::kMax32 - (64u << 20);

struct TSource {
  std::string path;  // on this system
  std::string name;  // as stored
  uint64_t size = 0;
  time_t mtime = 0;
  mode_t mode = 0;
};

// The double-quoted patterns of an item list (unquoted words count too).
std::vector<std::string> SplitItems(const std::string& list) {
  std::vector<std::string> items;
  size_t i = 0;
  while (i < list.size()) {
    if (list[i] == ' ' || list[i] == '\t') {
      ++i;
    } else if (list[i] == '"') {
      const size_t end = list.find('"', i + 1);
      items.push_back(list.substr(i + 1, (end == std::string::npos ? list.size() : end) - i - 1));
      i = end == std::string::npos ? list.size() : end + 1;
    } else {
      const size_t end = list.find_first_of(" \t", i);
      items.push_back(list.substr(i, (end == std::string::npos ? list.size() : end) - i));
      i = end == std::string::npos ? list.size() : end;
    }
  }
  for (std::string& item : items) std::replace(item.begin(), item.end(), '\\', '/');
  items.erase(std::remove(items.begin(), items.end(), std::string()), items.end());
  return items;
}

// Masks by the items they belong to; a mask "PREFIX*" or "PREFIX*.*" (a
// prefix without wildcards or dots) is found by its prefix.
class TMaskIndex {
 public:
  void Add(const std::string& mask, size_t item) {
    std::string prefix = mask;
    if (prefix.size() >= 3 && prefix.compare(prefix.size() - 3, 3, "*.*") == 0) {
      prefix.resize(prefix.size() - 3);
    } else if (!prefix.empty() && prefix.back() == '*') {
      prefix.pop_back();
    } else {
      prefix = "?";  // not of that form
    }
    if (prefix.find_first_of("*?.") != std::string::npos) {
      general_.emplace_back(mask, item);
      return;
    }
    longest_ = std::max(longest_, prefix.size());
    prefixes_[Upper(prefix)].push_back(item);
  }
  // The items whose mask `name` matches, in item order.
  std::vector<size_t> Matching(const std::string& name) const {
    std::vector<size_t> items;
    const std::string upper = Upper(name.substr(0, std::min(name.size(), longest_)));
    for (size_t n = 0; n <= upper.size(); ++n) {
      if (const auto it = prefixes_.find(upper.substr(0, n)); it != prefixes_.end()) {
        items.insert(items.end(), it->second.begin(), it->second.end());
      }
    }
    for (const auto& [mask, item] : general_) {
      if (MatchesMask(name, mask)) items.push_back(item);
    }
    std::sort(items.begin(), items.end());
    return items;
  }

 private:
  static std::string Upper(std::string s) {
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
  }
  std::unordered_map<std::string, std::vector<size_t>> prefixes_;
  std::vector<std::pair<std::string, size_t>> general_;
  size_t longest_ = 0;
};

struct TItem {
  std::string root;  // the folder, on this system
  std::string rel;   // its stored name
  std::string mask;
};

class TAdder {
 public:
  explicit TAdder(ZIPCMDSTRUCT& cmd) : cmd_(cmd) {}
  int Run();

 private:
  void Status(const TStatusCallback& cb, const std::string& item, int percent);
  void Collect(const std::vector<TItem>& items);
  void Walk(const std::string& folder, const std::string& rel, const TMaskIndex& masks,
            std::vector<std::vector<TSource>>& found);
  int WriteEntries(TVolumeWriter& out, uint64_t bound);
  int Emit(TVolumeWriter& out, const TDeflateChunk& chunk, size_t file, bool first);
  int WriteCentral(TVolumeWriter& out);

  ZIPCMDSTRUCT& cmd_;
  std::vector<TSource> sources_;
  std::set<std::string> names_;
  std::vector<zipfmt::TEntry> entries_;
  std::vector<std::string> roots_;
  bool cancelled_ = false;
  uint64_t total_ = 0;
  uint64_t done_ = 0;
  std::string excluded_;  // the archive itself
};

void TAdder::Status(const TStatusCallback& cb, const std::string& item, int percent) {
  if (!cb) return;
  bool cancel = false;
  cb(item, percent, cancel);
  if (cancel) cancelled_ = true;
}

void TAdder::Walk(const std::string& folder, const std::string& rel, const TMaskIndex& masks,
                  std::vector<std::vector<TSource>>& found) {
  for (const TSearchRec& e : FindEntries(folder + "/*")) {
    if ((e.Attr & (faHidden | faSysFile)) && !cmd_.includeSysHiddenFlag) continue;
    const std::string path = folder + '/' + e.Name;
    const std::string name = rel.empty() ? e.Name : rel + '/' + e.Name;
    if (e.Attr & faDirectory) {
      if (cmd_.recurseFlag) Walk(path, name, masks, found);
      continue;
    }
    if (path == excluded_) continue;
    const std::vector<size_t> items = masks.Matching(e.Name);
    if (items.empty()) continue;
    struct stat st {};
    if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
    for (size_t item : items) {
      found[item].push_back(
          {path, name, static_cast<uint64_t>(st.st_size), st.st_mtime, st.st_mode});
    }
  }
}

// Each folder is read once, whatever the number of items that name it: the
// items of one folder are matched together (a name prefix such as the
// backup's "CUSTOME*.*" by one look-up), so finding the files takes time in
// proportion to the files, not to files times items.
void TAdder::Collect(const std::vector<TItem>& items) {
  std::map<std::string, std::vector<size_t>> byRoot;
  for (size_t i = 0; i < items.size(); ++i) byRoot[items[i].root].push_back(i);
  std::vector<std::vector<TSource>> found(items.size());
  for (const auto& [root, indexes] : byRoot) {
    TMaskIndex masks;
    for (size_t i : indexes) masks.Add(items[i].mask, i);
    Walk(root, items[indexes.front()].rel, masks, found);
    if (cancelled_) return;
  }
  for (std::vector<TSource>& files : found) {
    for (TSource& src : files) {
      if (!names_.insert(src.name).second) continue;  // found by an earlier item
      total_ += src.size;
      sources_.push_back(std::move(src));
    }
  }
}

int TAdder::Emit(TVolumeWriter& out, const TDeflateChunk& chunk, size_t file, bool first) {
  const TSource& src = sources_[file];
  zipfmt::TEntry& e = entries_[file];
  if (first) {
    Status(cmd_.callbacks.lpMajorStatus,
           "Item " + std::to_string(file + 1) + " of " + std::to_string(sources_.size()),
           total_ ? static_cast<int>(done_ * 100 / total_) : 0);
    const std::string header = zipfmt::EncodeLocal(e);
    if (int rc = out.Reserve(header.size())) return rc;
    e.disk = out.Disk();
    e.offset = out.Offset();
    if (int rc = out.Write(header)) return rc;
  }
  if (int rc = out.Write(chunk.out.data(), chunk.outSize)) return rc;
  e.crc = e.usize == 0 ? chunk.crc
                       : static_cast<uint32_t>(crc32_combine(e.crc, chunk.crc, chunk.length));
  e.usize += chunk.length;
  e.csize += chunk.outSize;
  done_ += chunk.length;
  Status(cmd_.callbacks.lpMinorStatus, src.name,
         src.size ? static_cast<int>(std::min<uint64_t>(100, e.usize * 100 / src.size)) : 100);
  if (chunk.last && (e.flags & zipfmt::kFlagDescriptor)) {
    const std::string descriptor = zipfmt::EncodeDescriptor(e);
    if (int rc = out.Reserve(descriptor.size())) return rc;
    if (int rc = out.Write(descriptor)) return rc;
  }
  return cancelled_ ? ZE_ABORT : ZE_OK;
}

// The files are cut into pieces (a whole file when it is compressed at once)
// that the workers read and compress while this thread writes the finished
// ones in order. The first volume is asked for and cleared while the first
// pieces are compressed. A piece that fails names its file and stops the
// add; the pieces already handed out are waited for, never written.
int TAdder::WriteEntries(TVolumeWriter& out, uint64_t bound) {
  const int threads = std::max(1u, std::min(4u, std::thread::hardware_concurrency()));
  TDeflatePool pool(threads > 1 ? threads : 0);
  struct TPending {
    std::shared_ptr<TDeflateChunk> chunk;
    size_t file;
    bool first;
  };
  std::deque<TPending> pending;
  // Pieces in flight: as many small files as come, whole large files one a
  // worker and one more ready for the first worker done, within memory.
  const size_t window = static_cast<size_t>(threads) * 32;
  const size_t windowBytes = kWholeFile * static_cast<size_t>(std::min(threads, 2) + 1);
  size_t pendingBytes = 0;
  int rc = ZE_OK;
  bool begun = false;
  auto drainOne = [&]() {
    TPending p = std::move(pending.front());
    pending.pop_front();
    if (rc == ZE_OK && !begun) {
      begun = true;
      rc = out.Begin(bound);
    }
    pool.Wait(*p.chunk);
    pendingBytes -= p.chunk->length;
    if (rc == ZE_OK && p.chunk->rc != ZE_OK) {
      rc = p.chunk->rc;
      cmd_.lpszReturnPath = sources_[p.file].path;
    }
    if (rc == ZE_OK) rc = Emit(out, *p.chunk, p.file, p.first);
    pool.Recycle(std::move(p.chunk->out));
  };
  const int level = std::clamp(cmd_.compFactor, 1, 9);
  for (size_t f = 0; f < sources_.size() && rc == ZE_OK; ++f) {
    const TSource& src = sources_[f];
    const bool stored = entries_[f].method == zipfmt::kMethodStored;
    const bool whole = !stored && src.size <= kWholeFile;
    uint64_t offset = 0;
    do {
      auto chunk = std::make_shared<TDeflateChunk>();
      chunk->path = src.path;
      chunk->offset = offset;
      chunk->length = static_cast<size_t>(whole ? src.size : std::min<uint64_t>(kChunk, src.size - offset));
      chunk->whole = whole;
      chunk->last = offset + chunk->length >= src.size;
      chunk->level = stored ? 0 : level;
      while (!pending.empty() && rc == ZE_OK &&
             (pending.size() >= window || pendingBytes + chunk->length > windowBytes)) {
        drainOne();
      }
      if (rc != ZE_OK) break;
      pool.Submit(chunk);
      pending.push_back({chunk, f, offset == 0});
      pendingBytes += chunk->length;
      offset += chunk->length;
    } while (offset < src.size);
  }
  pool.Close();
  while (!pending.empty()) drainOne();  // the workers must be done before the pool goes
  return rc;
}

int TAdder::WriteCentral(TVolumeWriter& out) {
  // The volumes written so far, vouched for by the directory: spread over
  // the headers so that none grows large (and every one fits a volume).
  const std::vector<zipfmt::TVolumeCheck>& checks = out.Checks();
  if (!checks.empty() && !entries_.empty()) {
    const size_t per =
        std::min<size_t>((checks.size() + entries_.size() - 1) / entries_.size(), 4000);
    for (size_t i = 0, first = 0; i < entries_.size() && first < checks.size(); ++i, first += per) {
      entries_[i].volumeChecks = zipfmt::EncodeVolumeChecks(
          static_cast<uint32_t>(first), &checks[first], std::min(per, checks.size() - first));
    }
  }
  std::vector<std::string> headers;
  uint64_t cdSize = 0;
  for (const zipfmt::TEntry& e : entries_) {
    headers.push_back(zipfmt::EncodeCentral(e));
    cdSize += headers.back().size();
  }
  zipfmt::TEnd end;
  end.entries = entries_.size();
  end.cdSize = cdSize;
  end.comment = cmd_.addCommentFlag ? cmd_.lpszComment.substr(0, 0xFFFF) : std::string();
  // One volume when directory and end fit on it: the split signature goes
  // and every offset counts without it. Otherwise the directory may start on
  // a later volume, never splitting a header.
  const size_t endLen = zipfmt::EndLength(end) + zipfmt::kEnd64Size + zipfmt::kLocator64Size;
  const bool single = out.SingleWithPrefix() && out.Room() >= cdSize + endLen;
  if (single) {
    for (size_t i = 0; i < entries_.size(); ++i) {
      entries_[i].offset -= 4;
      headers[i] = zipfmt::EncodeCentral(entries_[i]);
    }
  }
  const uint64_t shift = single ? 4 : 0;
  if (int rc = out.Reserve(headers.empty() ? endLen : headers.front().size())) return rc;
  end.cdDisk = out.Disk();
  end.cdOffset = out.Offset() - shift;
  for (const std::string& h : headers) {
    if (int rc = out.Reserve(h.size())) return rc;
    if (out.Disk() != end.disk) end.diskEntries = 0;
    end.disk = out.Disk();
    ++end.diskEntries;
    if (int rc = out.Write(h)) return rc;
  }
  if (int rc = out.Reserve(endLen)) return rc;
  if (out.Disk() != end.disk) end.diskEntries = 0;  // the end record stands alone
  end.disk = out.Disk();
  end.end64Disk = out.Disk();
  end.end64Offset = out.Offset() - shift;
  return out.Write(zipfmt::EncodeEnd(end));
}

int TAdder::Run() {
  if (cmd_.lpszZipFile.empty()) return ZE_NAME;
  TArchiveTarget target;
  if (!ResolveArchive(cmd_.lpszZipFile, cmd_.lpszDrivesFile, target)) return ZE_NAME;
  excluded_ = target.path;
  Status(cmd_.callbacks.lpMajorStatus, "Please wait.", 0);
  std::string base = cmd_.lpszBaseFolder;
  while (base.size() > 1 && base.back() == '/') base.pop_back();
  std::vector<TItem> items;
  for (const std::string& item : SplitItems(cmd_.lpszItemList)) {
    const std::string folder = ExtractFilePath(item);
    if (folder.empty()) return ZE_NAME;
    std::string root = folder;
    while (root.size() > 1 && root.back() == '/') root.pop_back();
    roots_.push_back(root);
    std::string rel;
    if (!base.empty()) {
      if (root != base && root.compare(0, base.size() + 1, base + '/') != 0) return ZE_NAME;
      rel = root == base ? std::string() : root.substr(base.size() + 1);
    } else if (!(cmd_.wZipSubOptions & ZSO_RELATIVEPATH)) {
      rel = root;
      while (!rel.empty() && rel.front() == '/') rel.erase(0, 1);
    }
    items.push_back({root, rel, ExtractFileName(item)});
  }
  Collect(items);
  if (cancelled_) return ZE_ABORT;
  if (sources_.empty()) return ZE_NONE;
  // Largest first: the small files then fill the workers' last gaps, where
  // a large file at the end would run on one core while the other waits.
  std::stable_sort(sources_.begin(), sources_.end(),
                   [](const TSource& a, const TSource& b) { return a.size > b.size; });
  if (target.onDrive) {
    if (!DirExists(target.folder)) return ZE_CREAT;
    std::vector<std::string> keep = cmd_.protectedFolders;
    keep.insert(keep.end(), roots_.begin(), roots_.end());
    if (!base.empty()) keep.push_back(base);
    if (const TVolumeRefusal why = VolumeFolderRefusal(target.folder, keep); !why.reason.empty()) {
      // For a clear message; nothing is deleted.
      cmd_.lpszReturnString = why.reason;
      cmd_.lpszReturnPath = why.path;
      return ZE_CLEAR;
    }
  }
  for (const TSource& src : sources_) {
    if (src.name.size() > 0xFFFF) return ZE_FORM;
    zipfmt::TEntry e;
    e.name = src.name;
    e.method =
        src.size == 0 || cmd_.compFactor <= 0 ? zipfmt::kMethodStored : zipfmt::kMethodDeflated;
    e.flags = src.size == 0 ? 0 : zipfmt::kFlagDescriptor;
    for (unsigned char c : src.name) {
      if (c >= 0x80) e.flags |= zipfmt::kFlagUtf8;
    }
    e.zip64Local = src.size >= kZip64Threshold;
    zipfmt::ToDosTime(src.mtime, e.dosTime, e.dosDate);
    e.extAttr = (static_cast<uint32_t>(src.mode & 0xFFFF) << 16) | ((src.mode & 0200) ? 0 : 1);
    entries_.push_back(e);
  }
  // Headers and descriptors on top of the data bound the archive's size.
  uint64_t bound = total_ + total_ / 1000 + 64 * 1024;
  for (const TSource& src : sources_) bound += 2 * src.name.size() + 200;
  bound += cmd_.lpszComment.size();
  TVolumeWriter out(target, cmd_.wMultiVolControl & MV_USEMULTI, cmd_.wMultiVolControl,
                    cmd_.callbacks);
  int rc = WriteEntries(out, bound);
  if (rc == ZE_OK) rc = WriteCentral(out);
  if (rc == ZE_OK) rc = out.Finish();
  if (rc != ZE_OK) {
    out.Abandon();
    return rc;
  }
  Status(cmd_.callbacks.lpMajorStatus, std::string(), 100);
  cmd_.returnCount = static_cast<long long>(entries_.size());
  return ZE_OK;
}

}  // namespace

int dzip(ZIPCMDSTRUCT& cmd) {
  if (cmd.function < 1 || cmd.function > 9) return ZE_PARMS;
  if (cmd.function != kZipActionAdd) return ZE_PARMS;
  try {
    return TAdder(cmd).Run();
  } catch (const std::bad_alloc&) {
    return ZE_MEM;
  }
}
