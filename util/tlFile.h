// File and folder helpers the tools use to list, hide, rename and delete the
// files of a database folder. Paths use "/"; a trailing "/" on a folder is
// allowed. Patterns may hold "*" and "?" in their last component and match
// names without regard to case ("*.db" finds CUSTOMER.DB), as on the system
// the tables come from; "*.*" matches every name. Results come in name order.
#pragma once

#include <string>
#include <vector>

#include "tlDosAttr.h"

struct TSearchRec {
  std::string Name;  // without folder
  int Attr = 0;      // fa* bits
};

// Entries of the pattern's folder whose names match the pattern's last
// component, never "." or "..".
std::vector<TSearchRec> FindEntries(const std::string& pattern);

// True when `name` matches `mask` ("*", "?"; without regard to case; a mask
// ending in ".*" also matches the name without any extension).
bool MatchesMask(const std::string& name, const std::string& mask);

// The fa* bits of `path`, or -1 when it does not exist. Read-only means no
// write bit at all; hidden is the stored bit or a name starting with a dot.
int FileAttributes(const std::string& path);
bool FileIsHidden(const std::string& path);

// True when another open file description holds (or would conflict with) a
// whole-file write lock on `path`: the database engine's table lock, held by
// another program or by this one through another open.
bool FileIsLocked(const std::string& path);

// Deletes every file (not folder) matching `pattern`, in name order. Stops at
// the first file that is read-only, locked or otherwise not deletable and
// returns false; files already gone count as deleted.
bool DeleteFiles(const std::string& pattern);

// Deletes the files of `dir` and then the folder. True when `dir` does not
// exist. A folder holding a subfolder or an undeletable file stays (false).
bool RemoveDirWithFiles(const std::string& dir);

// Deletes `dir` with its files and, depth first, its subfolders. True when
// `dir` does not exist; false for "/" and "". A symbolic link inside is removed itself, never
// followed. A read-only or locked file stays, and so do the folders that
// hold it (false).
bool RemoveFolderTree(const std::string& dir);

// Removes whatever stands at `path`: a folder with everything in it (as
// RemoveFolderTree does), or a file, link or other entry (a link itself,
// never what it points at). True when nothing stands there afterwards.
bool RemoveEntry(const std::string& path);

// True when `path` is a real folder, not a link to one.
bool IsRealDir(const std::string& path);

// True when `dir` names an existing folder.
bool DirExists(const std::string& dir);

// For every file and folder matching `pattern` (never "." or "..", so a
// pattern never touches the folder itself or its parent): when `add`, gains
// the bits of `attr`, otherwise loses them. faReadOnly works on the write
// bits; faHidden, faSysFile and faArchive are stored. Entries that refuse
// are skipped; the result is false when any did.
bool SetFilesAttr(const std::string& pattern, int attr, bool add);

// Names of the ordinary files matching `pattern`: hidden, system and folder
// entries excluded.
std::vector<std::string> ListFiles(const std::string& pattern);

// Renames the files pathBase + "." + extPattern to the extension
// StMerge(extension, newExtMask) ("T.X01" with "X??" -> "1??" becomes T.101).
// Names keep their case: the base name stays as found, and the mask's letters
// follow the case of the letters they replace. A rename that would replace an
// existing file, or of a locked file, is skipped. Throws EStringTools when an
// extension's length differs from the mask's.
void RenameByMask(const std::string& pathBase, const std::string& extPattern,
                  const std::string& newExtMask);

// The folder part of `path` with its trailing "/" ("" when there is none),
// the same without it ("/" for the root, "." when there is none), and the
// name part.
std::string ExtractFilePath(const std::string& path);
std::string ExtractFileDir(const std::string& path);
std::string ExtractFileName(const std::string& path);
