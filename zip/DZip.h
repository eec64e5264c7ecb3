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

// Actions of the command records.
constexpr int kZipActionAdd = 4;
constexpr int kUnzipActionCommentLength = 5;
constexpr int kUnzipActionComment = 6;
constexpr int kUnzipActionExtract = 8;

// wZipSubOptions / wUnzipSubOptions.
constexpr unsigned ZSO_RELATIVEPATH = 0x0001;  // names relative to each item's folder
constexpr unsigned ZSO_MINORCANCEL = 0x0002;   // the minor status may cancel too
constexpr unsigned USO_MINORCANCEL = 0x0002;

// wMultiVolControl.
constexpr unsigned MV_USEMULTI = 0x0001;  // span volumes of the medium's size
constexpr unsigned MV_SUBDIR = 0x0002;    // clearing a volume also removes its folders
constexpr unsigned MV_SYSHIDE = 0x0004;   // ... and its hidden files
constexpr unsigned MV_CDFIRST = 0x0008;   // the first volume is cleared too

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
constexpr int ZE_CLEAR = 17;       // the volume's folder is refused (why: lpszReturnString)
                                   // or cannot be cleared
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
constexpr int kMsgNotOwned = 9;
constexpr int kMsgBadFirstDisk = 10;

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
  bool encryptFlag = false;  // archives are written unencrypted; see DZip.cpp
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
  TZipCallbacks callbacks;
  long long returnCount = 0;
  std::string lpszReturnString;
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
  TZipCallbacks callbacks;
  long long returnCount = 0;
  std::string lpszReturnString;
};

int dzip(ZIPCMDSTRUCT& cmd);
int dunzip(UNZIPCMDSTRUCT& cmd);
