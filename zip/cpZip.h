// The components Zip and Unzip of the main window: they keep the command
// record's fields as properties, forward the library's callbacks to their
// events and run one action at a time. An action outside 1..9 is refused
// without calling the library. Backup and Restore call the named operations
// (WriteSet, ReadComment, Check, Extract), which fill the record and answer
// what the return code means to them; ErrorCode() keeps the code itself for
// the message that shows it.
#pragma once

#include <string>
#include <vector>

#include "DZip.h"

// What a caller tells apart in dzip's return codes.
enum class TZipResult {
  Ok,
  Cancelled,      // a status callback cancelled
  DiskCancelled,  // a disk request was answered Cancel
  FolderRefused,  // the volume folder is refused: RefusalReason(), RefusalPath()
  CannotCreate,   // the set or a volume cannot be named or written
  CannotReadFile, // an input file cannot be opened or read, or changed as it was read: FailedFile()
  OutOfMemory,
  Other,
};

// What a caller tells apart in dunzip's return codes.
enum class TUnzipResult {
  Ok,
  Cancelled,     // a status callback or a disk request cancelled
  Corrupted,     // damaged records or an entry failing its CRC
  OutOfMemory,   // also: the inflater could not be set up
  CannotRead,    // the set cannot be opened or a volume read
  NoTopFolders,  // no entry lies below any of the top folders
  UnsafeEntry,   // an entry would turn a top folder into something else: UnsafeEntry()
  Other,
};

// A set spanned over the volumes of a drive: every file matching one of
// `patterns` ("FOLDER/MASK", recursing), stored relative to `baseFolder`,
// hidden files and folders left out, `comment` as the archive comment.
struct TZipSet {
  std::string archive;     // "X:\NAME.DBK" through the drive table, or a plain path
  std::string drivesFile;  // empty: drives.ini in the program folder
  std::string comment;
  std::string password;  // handed over as the encryption code; the set is not encrypted
  std::vector<std::string> patterns;
  std::string baseFolder;
  std::vector<std::string> protectedFolders;  // no volume goes into, above or below these
};

// A set to read back; only entries below `topFolders` (when given) come out.
struct TUnzipSet {
  std::string archive;
  std::string drivesFile;
  std::string password;
  std::vector<std::string> topFolders;
};

class TZipFile {
 public:
  ZIPCMDSTRUCT Cmd;  // the properties, named as the record's fields
  TStatusCallback OnMajorStatus;
  TStatusCallback OnMinorStatus;
  TMessageCallback OnMessage;

  // Writes `set` onto its volumes (clearing the volumes of earlier sets).
  TZipResult WriteSet(const TZipSet& set);
  const std::string& RefusalReason() const { return Cmd.lpszReturnString; }
  const std::string& RefusalPath() const { return Cmd.lpszReturnPath; }
  const std::string& FailedFile() const { return Cmd.lpszReturnPath; }

  // Runs `action` and keeps its return code.
  int Execute(int action);
  int ErrorCode() const { return error_code_; }

 private:
  int error_code_ = 0;
};

class TUnzipFile {
 public:
  UNZIPCMDSTRUCT Cmd;
  TStatusCallback OnMajorStatus;
  TStatusCallback OnMinorStatus;
  TMessageCallback OnMessage;

  // The set's comment; Ok with an empty `comment` when it has none.
  TUnzipResult ReadComment(const TUnzipSet& set, std::string& comment);
  // Reads and checks the whole directory as Extract would, writing nothing.
  TUnzipResult Check(const TUnzipSet& set);
  // Every entry into `destination`, recreating the stored folders; entries
  // outside the top folders are left out and listed in Skipped().
  TUnzipResult Extract(const TUnzipSet& set, const std::string& destination);
  const std::string& UnsafeEntry() const { return Cmd.lpszReturnString; }
  const std::vector<std::string>& Skipped() const { return Cmd.skipped; }

  int Execute(int action);
  int ErrorCode() const { return error_code_; }

 private:
  TUnzipResult Run(const TUnzipSet& set, int action, const std::string& destination = {});

  int error_code_ = 0;
};
