// The compression library of Backup and Restore: PKZIP archives written and
// read over zlib, one archive possibly spanning several removable volumes.
// Two entry points, dzip and dunzip, each take a command record and answer a
// return code (0 success, the codes below otherwise). The library calls its
// status and message callbacks on the caller's thread while it works. Only
// the components of cpZip and the tests call these directly.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// Actions of the command records.
constexpr int kZipActionAdd = 4;
constexpr int kUnzipActionCommentLength = 5;
constexpr int kUnzipActionComment = 6;
// Reads the central directory and checks it as action 8 would, extracting
// nothing: for a caller that must know before it moves anything.
constexpr int kUnzipActionCheck = 7;
constexpr int kUnzipActionExtract = 8;

// wZipSubOptions / wUnzipSubOptions.
constexpr unsigned ZSO_RELATIVEPATH = 0x0001;  // names relative to each item's folder
constexpr unsigned ZSO_MINORCANCEL = 0x0002;   // the minor status may cancel too
constexpr unsigned USO_MINORCANCEL = 0x0002;

// wMultiVolControl.
constexpr unsigned MV_USEMULTI = 0x0001;  // span volumes of the medium's size
// Clearing a medium deletes only the volumes of earlier backups (see
// IsBackupVolume); every other file and folder stays and counts against the
// room. These two are accepted for the record's sake and change nothing.
constexpr unsigned MV_SUBDIR = 0x0002;
constexpr unsigned MV_SYSHIDE = 0x0004;
constexpr unsigned MV_CDFIRST = 0x0008;  // the first volume is cleared too

// Return codes of dzip (add).
constexpr int ZE_OK = 0;
constexpr int ZE_EOF = 2;          // an input file changed its size while it was read
constexpr int ZE_FORM = 3;         // a stored name is longer than a record holds
constexpr int ZE_MEM = 4;          // out of memory
constexpr int ZE_ABORT = 9;        // cancelled through a status callback
constexpr int ZE_READ = 11;        // an input file could not be read
constexpr int ZE_NONE = 12;        // no file matched the item list
constexpr int ZE_NAME = 13;        // an item or the archive name is not valid
constexpr int ZE_WRITE = 14;       // a volume could not be written (full, removed)
constexpr int ZE_CREAT = 15;       // the archive file could not be created
constexpr int ZE_PARMS = 16;       // an action outside 1..9 or a bad record
constexpr int ZE_CLEAR = 17;       // the volume's folder is refused (why: lpszReturnString,
                                   // a reason word; what: lpszReturnPath) or cannot be cleared
constexpr int ZE_OPEN = 18;        // an input file could not be opened
constexpr int ZE_SPACE = 19;       // a volume cannot hold even one header
constexpr int ZE_DISKCANCEL = 20;  // a disk request was answered Cancel

// Return codes of dunzip.
constexpr int UE_OK = 0;
constexpr int UE_FORM = 3;      // the archive's records are damaged or unsafe
constexpr int UE_MEM = 4;       // out of memory
constexpr int UE_INFLATE = 5;   // the inflater could not be set up
constexpr int UE_OPEN = 9;      // the archive cannot be opened
constexpr int UE_NOMATCH = 11;  // no entry matched the file mask
constexpr int UE_PARMS = 16;    // an action outside 1..9 or a bad record
constexpr int UE_READ = 29;     // a volume could not be read
constexpr int UE_CRC = 39;      // an entry's data do not match its CRC
constexpr int UE_CANCEL = 48;   // cancelled (status callback or disk request)
constexpr int UE_WRITE = 50;    // an extracted file could not be written
constexpr int UE_UNSUP = 81;    // encrypted entry or unknown method
constexpr int UE_NOTOPS = 82;   // topFolders given, and no entry lies below any of them
constexpr int UE_UNSAFE = 83;   // an entry would make a top folder a file, link or device
                                // (its name: lpszReturnString)

// Message numbers of the message callback. For disk requests p1 and p2 are:
// kMsgDisk: p1 = -1 first disk; p1 = 0 and p2 = -1 last disk; otherwise
// p1 is the number (from 1) of the next disk to write. kMsgDiskOfDisk: disk
// p1 of p2 to read. Replies: 1 go on, 2 stop. kMsgNotOwned tells of a volume
// of another archive; its reply is not used, the disk is asked for again.
constexpr int kMsgDisk = 0;
constexpr int kMsgDiskOfDisk = 1;
constexpr int kMsgOpenError = 2;
constexpr int kMsgReadError = 3;
constexpr int kMsgWriteError = 4;
// Sent by other libraries of this record's kind, never by this one.
constexpr int kMsgNotRemovable = 5;  // the drive's medium is not removable
constexpr int kMsgNote = 11;         // a note; with p1 = kNoteGoOn it needs no box
constexpr long long kNoteGoOn = 9;
constexpr int kMsgQuiet = 13;  // nothing to show; the reply stays as it is
constexpr int kMsgNotOwned = 9;
constexpr int kMsgBadFirstDisk = 10;
// Reading: the disk in the drive is disk p1 of this set, not disk p2.
constexpr int kMsgWrongDisk = 14;
// Reading: the disk in the drive holds a file of the archive's name but no
// end record: another disk of the set, or a last disk cut short.
constexpr int kMsgNotLastDisk = 15;
// Writing: disk p1 has only p2 bytes of room beside the files that stay on
// it; OK once another disk is in, Cancel stops.
constexpr int kMsgNoRoom = 16;

constexpr int kReplyOk = 1;
constexpr int kReplyCancel = 2;

using TStatusCallback = std::function<void(const std::string& szItem, int Percent, bool& DoCancel)>;
using TMessageCallback =
    std::function<void(int MsgID, int mbType, long long p1, long long p2, const std::string& lpsz1,
                       const std::string& lpsz2, int& RtnResult)>;
using TRenameCallback = std::function<void(std::string& name)>;

// The common part of both records: where the archive is and who hears.
struct TZipCallbacks {
  TStatusCallback lpMajorStatus;
  TStatusCallback lpMinorStatus;
  TMessageCallback lpMessageDisplay;
  TRenameCallback lpRenameCallback;  // not used
};

struct ZIPCMDSTRUCT {
  int function = 0;
  // "X:\NAME.DBK" (drive letter through the drive table) or a plain path.
  std::string lpszZipFile;
  // Double-quoted file patterns, each followed by a space.
  std::string lpszItemList;
  std::string lpszComment;
  std::string lpszEncryptCode;
  bool encryptFlag = false;  // never set: archives are written unencrypted, the code is ignored
  bool recurseFlag = false;
  bool addCommentFlag = false;
  bool noDirectoryEntriesFlag = false;
  bool quietFlag = false;
  bool includeSysHiddenFlag = false;
  unsigned wZipSubOptions = 0;
  unsigned wMultiVolControl = 0;
  int compFactor = 5;  // 0 stores, 1..9 deflate levels
  // The drive table (drives.ini); empty: the one in the program folder.
  std::string lpszDrivesFile;
  // When set, items may lie in folders below it and names are stored
  // relative to it ("METADATA/CUSTOMER.DB" for BASE/METADATA/CUST*.*).
  std::string lpszBaseFolder;
  // Folders a volume folder must neither be, hold nor lie in (every database
  // the program knows); the items' folders count too.
  std::vector<std::string> protectedFolders;
  TZipCallbacks callbacks;
  long long returnCount = 0;
  std::string lpszReturnString;
  // ZE_CLEAR: the folder that decided it; ZE_OPEN, ZE_READ, ZE_EOF: the
  // input file that failed.
  std::string lpszReturnPath;
};

struct UNZIPCMDSTRUCT {
  int function = 0;
  std::string lpszZipFile;
  std::string lpszDecryptCode;
  bool decryptFlag = false;
  bool overWriteFlag = false;
  bool quietFlag = false;
  bool recurseFlag = false;
  unsigned wUnzipSubOptions = 0;
  int index = 0;
  std::string lpszFileSpec;
  std::string lpszDestination;
  std::string lpszDrivesFile;
  // When not empty, the only folders written into the destination: an entry
  // outside them is skipped (and listed in `skipped`), an archive with no
  // entry in any of them is refused (UE_NOTOPS), and one whose entry would
  // make a top folder a file, a link or a device is refused (UE_UNSAFE)
  // before anything is written. Links and special files are never created;
  // files come out 0644 and folders 0755 (less the umask).
  std::vector<std::string> topFolders;
  std::vector<std::string> skipped;
  TZipCallbacks callbacks;
  long long returnCount = 0;
  std::string lpszReturnString;
};

int dzip(ZIPCMDSTRUCT& cmd);
int dunzip(UNZIPCMDSTRUCT& cmd);
