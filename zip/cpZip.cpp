// The Zip and Unzip components; see cpZip.h.
#include "cpZip.h"

namespace {

template <typename Record, typename Component>
void Wire(Record& cmd, Component& c) {
  cmd.callbacks.lpMajorStatus = c.OnMajorStatus;
  cmd.callbacks.lpMinorStatus = c.OnMinorStatus;
  cmd.callbacks.lpMessageDisplay = c.OnMessage;
}

TZipResult ZipResultOf(int code, const ZIPCMDSTRUCT& cmd) {
  switch (code) {
    case ZE_OK:
      return TZipResult::Ok;
    case ZE_ABORT:
      return TZipResult::Cancelled;
    case ZE_DISKCANCEL:
      return TZipResult::DiskCancelled;
    case ZE_MEM:
      return TZipResult::OutOfMemory;
    case ZE_CLEAR:
      // Without a reason the folder was accepted but could not be cleared.
      return cmd.lpszReturnString.empty() ? TZipResult::CannotCreate : TZipResult::FolderRefused;
    case ZE_EOF:
    case ZE_READ:
    case ZE_OPEN:
      return cmd.lpszReturnPath.empty() ? TZipResult::CannotCreate : TZipResult::CannotReadFile;
    case ZE_FORM:
    case ZE_NAME:
    case ZE_WRITE:
    case ZE_CREAT:
    case ZE_SPACE:
      return TZipResult::CannotCreate;
    default:
      return TZipResult::Other;
  }
}

TUnzipResult UnzipResultOf(int code) {
  switch (code) {
    case UE_OK:
      return TUnzipResult::Ok;
    case UE_CANCEL:
      return TUnzipResult::Cancelled;
    case UE_FORM:
    case UE_CRC:
      return TUnzipResult::Corrupted;
    case UE_MEM:
    case UE_INFLATE:
      return TUnzipResult::OutOfMemory;
    case UE_OPEN:
    case UE_READ:
      return TUnzipResult::CannotRead;
    case UE_NOTOPS:
      return TUnzipResult::NoTopFolders;
    case UE_UNSAFE:
      return TUnzipResult::UnsafeEntry;
    default:
      return TUnzipResult::Other;
  }
}

}  // namespace

int TZipFile::Execute(int action) {
  if (action < 1 || action > 9) return error_code_ = ZE_PARMS;
  Cmd.function = action;
  Wire(Cmd, *this);
  return error_code_ = dzip(Cmd);
}

TZipResult TZipFile::WriteSet(const TZipSet& set) {
  Cmd = ZIPCMDSTRUCT{};
  Cmd.lpszZipFile = set.archive;
  Cmd.lpszDrivesFile = set.drivesFile;
  Cmd.lpszComment = set.comment;
  Cmd.lpszEncryptCode = set.password;
  for (const std::string& pattern : set.patterns) Cmd.lpszItemList += '"' + pattern + "\" ";
  Cmd.lpszBaseFolder = set.baseFolder;
  Cmd.protectedFolders = set.protectedFolders;
  Cmd.recurseFlag = Cmd.addCommentFlag = Cmd.noDirectoryEntriesFlag = Cmd.quietFlag = true;
  Cmd.includeSysHiddenFlag = false;
  Cmd.wZipSubOptions = ZSO_RELATIVEPATH | ZSO_MINORCANCEL;
  Cmd.wMultiVolControl = MV_USEMULTI | MV_SUBDIR | MV_SYSHIDE | MV_CDFIRST;
  Cmd.compFactor = 5;
  return ZipResultOf(Execute(kZipActionAdd), Cmd);
}

int TUnzipFile::Execute(int action) {
  if (action < 1 || action > 9) return error_code_ = UE_PARMS;
  Cmd.function = action;
  Cmd.returnCount = 0;
  Cmd.lpszReturnString.clear();
  Wire(Cmd, *this);
  return error_code_ = dunzip(Cmd);
}

TUnzipResult TUnzipFile::Run(const TUnzipSet& set, int action, const std::string& destination) {
  Cmd = UNZIPCMDSTRUCT{};
  Cmd.lpszZipFile = set.archive;
  Cmd.lpszDrivesFile = set.drivesFile;
  Cmd.lpszDecryptCode = set.password;
  Cmd.overWriteFlag = Cmd.quietFlag = Cmd.recurseFlag = Cmd.decryptFlag = true;
  Cmd.wUnzipSubOptions = USO_MINORCANCEL;
  Cmd.topFolders = set.topFolders;
  if (action == kUnzipActionExtract) {
    Cmd.lpszFileSpec = "*.*";
    Cmd.lpszDestination = destination;
  }
  return UnzipResultOf(Execute(action));
}

TUnzipResult TUnzipFile::ReadComment(const TUnzipSet& set, std::string& comment) {
  comment.clear();
  TUnzipResult result = Run(set, kUnzipActionCommentLength);
  if (result != TUnzipResult::Ok || Cmd.returnCount == 0) return result;
  result = Run(set, kUnzipActionComment);
  if (result == TUnzipResult::Ok) comment = Cmd.lpszReturnString;
  return result;
}

TUnzipResult TUnzipFile::Check(const TUnzipSet& set) { return Run(set, kUnzipActionCheck); }

TUnzipResult TUnzipFile::Extract(const TUnzipSet& set, const std::string& destination) {
  return Run(set, kUnzipActionExtract, destination);
}
