#include "Journal.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <set>
#include <sstream>

#include "TableFiles.h"
#include "TableLock.h"

namespace engine {

namespace {

constexpr char kMagic[] = "VARDEX-JOURNAL 1";
constexpr char kEnd[] = "END";

Status ApplySwaps(Env* env, const std::vector<FileSwap>& swaps) {
  std::set<std::string> dirs;
  for (const FileSwap& swap : swaps) {
    dirs.insert(DirName(swap.target));
    Status s;
    if (!swap.staged.empty()) {
      // A staged file that is gone was renamed by an earlier attempt.
      if (env->Exists(swap.staged)) s = env->Rename(swap.staged, swap.target);
    } else if (env->Exists(swap.target)) {
      s = env->Remove(swap.target);
    }
    if (!s.ok()) return s;
  }
  for (const std::string& dir : dirs) {
    Status s = env->SyncDir(dir);
    if (!s.ok()) return s;
  }
  return Status::OK();
}

Status FinishJournal(Env* env, const std::string& journal, const std::vector<FileSwap>& swaps) {
  Status s = ApplySwaps(env, swaps);
  if (s.ok()) s = env->Remove(journal);
  if (s.ok()) s = env->SyncDir(DirName(journal));
  return s;
}

// Journals of earlier versions: one "temp<TAB>final" line per file, an empty
// temp name for a removal, no header or end line.
bool DecodeLegacyJournal(const std::string& text, std::vector<FileSwap>* swaps) {
  swaps->clear();
  std::size_t pos = 0;
  while (pos < text.size()) {
    const std::size_t end = text.find('\n', pos);
    const std::size_t tab = text.find('\t', pos);
    if (end == std::string::npos || tab == std::string::npos || tab > end) return false;
    swaps->push_back({text.substr(pos, tab - pos), text.substr(tab + 1, end - tab - 1)});
    pos = end + 1;
  }
  return true;
}

std::string LegacyJournalPath(const std::string& db_path) { return db_path + ".jnl~"; }

// Replays the journal at path, if there is one, under its lock. A journal
// is written atomically, so one that does not decode was damaged after it
// was written: it is reported and kept, since the renames it lists may have
// begun and only it tells which files belong together.
Status ReplayJournal(Env* env, const std::string& journal, bool legacy) {
  if (!env->Exists(journal)) return Status::OK();
  TableLock hold;
  Status s = hold.Acquire(journal, true);
  if (!s.ok()) return s;
  std::string text;
  s = ReadWholeFile(env, journal, &text);
  if (!s.ok()) return s;
  std::vector<FileSwap> swaps;
  if (DecodeJournal(text, &swaps) || (legacy && DecodeLegacyJournal(text, &swaps))) {
    s = FinishJournal(env, journal, swaps);
    return s.ok() ? s : s.WithContext(journal);
  }
  return Status(DBIERR_HEADERCORRUPT, "the replacement journal is damaged").WithContext(journal);
}

}  // namespace

std::string RestructureStagingDir(const std::string& db_path) {
  return DirName(db_path) + "/." + BaseName(db_path) + ".new~";
}

std::string RestructureJournalPath(const std::string& db_path) {
  return DirName(db_path) + "/." + BaseName(db_path) + ".journal~";
}

void RemoveStagingDir(Env* env, const std::string& dir) {
  std::vector<std::string> names;
  if (env->ListDir(dir, &names).ok()) {
    // A work folder may hold the staging folder of a step run inside it
    // (the pack of a repaired table) when the run was killed.
    for (const std::string& name : names)
      if (!env->Remove(dir + "/" + name).ok()) RemoveStagingDir(env, dir + "/" + name);
  }
  env->RemoveDir(dir);
}

Status PrepareStagingDir(Env* env, const std::string& dir) {
  RemoveStagingDir(env, dir);
  Status s = env->CreateDir(dir);
  if (!s.ok()) {
    const std::string& why = s.message();
    const auto colon = why.find(": ");
    return Status(s.code() == DBIERR_DISKFULL ? DBIERR_DISKFULL : DBIERR_WRITEERR,
                  "cannot create a work folder: " +
                      (colon == std::string::npos ? why : why.substr(colon + 2)))
        .WithContext(dir);
  }
  return Status::OK();
}

std::string EncodeJournal(const std::vector<FileSwap>& swaps) {
  std::ostringstream out;
  out << kMagic << "\n";
  for (const FileSwap& swap : swaps) {
    if (swap.staged.empty()) {
      out << "D\t" << swap.target << "\n";
    } else {
      out << "R\t" << swap.staged << "\t" << swap.target << "\n";
    }
  }
  out << kEnd << "\n";
  return out.str();
}

bool DecodeJournal(const std::string& text, std::vector<FileSwap>* swaps) {
  swaps->clear();
  std::istringstream in(text);
  std::string line;
  if (!std::getline(in, line) || line != kMagic) return false;
  while (std::getline(in, line)) {
    if (line == kEnd) return true;
    const auto tab = line.find('\t');
    if (tab != 1) return false;
    if (line[0] == 'D') {
      swaps->push_back({"", line.substr(2)});
    } else if (line[0] == 'R') {
      const auto second = line.find('\t', 2);
      if (second == std::string::npos) return false;
      swaps->push_back({line.substr(2, second - 2), line.substr(second + 1)});
    } else {
      return false;
    }
  }
  return false;  // no end line: not a journal we finished writing
}

Status CommitSwaps(Env* env, const std::string& journal, const std::vector<FileSwap>& swaps) {
  Status s = WriteFileAtomically(env, journal, EncodeJournal(swaps));
  if (!s.ok()) return s;
  // Held while renaming, so a concurrent open does not replay the journal.
  TableLock hold;
  hold.Acquire(journal, true);
  return FinishJournal(env, journal, swaps);
}

std::string PendingReplacement(Env* env, const std::string& db_path) {
  for (const std::string& journal : {RestructureJournalPath(db_path), LegacyJournalPath(db_path)}) {
    if (env->Exists(journal)) return journal;
  }
  return "";
}

Status CheckNothingPending(Env* env, const std::string& db_path) {
  const std::string journal = PendingReplacement(env, db_path);
  if (journal.empty()) return Status::OK();
  return Status(DBIERR_HEADERCORRUPT,
                "an interrupted replacement of the table's files is pending; the next command "
                "that changes the table (vdx repair, vdx pack or a tool run) finishes it")
      .WithContext(db_path)
      .WithContext(journal);
}

Status RecoverTable(Env* env, const std::string& db_path) {
  Status s = ReplayJournal(env, RestructureJournalPath(db_path), false);
  if (s.ok()) s = ReplayJournal(env, LegacyJournalPath(db_path), true);
  if (!s.ok()) return s;
  // A staging folder without a journal is a restructure that never reached
  // its commit; it is only removed while nobody holds the table.
  const std::string staging = RestructureStagingDir(db_path);
  struct stat st {};
  if (::stat(staging.c_str(), &st) == 0 && !IsLockedByOther(db_path)) RemoveStagingDir(env, staging);
  return Status::OK();
}

Status RecoverFileSet(Env* env, const std::string& journal_path) {
  return ReplayJournal(env, journal_path, journal_path.ends_with(".jnl~"));
}

}  // namespace engine
