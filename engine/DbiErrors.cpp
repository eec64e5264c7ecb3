#include "DbiErrors.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "Status.h"

namespace engine {

namespace {

thread_local Status last_error;

void CopyText(DBIMSG dst, const std::string& src) {
  std::size_t n = std::min<std::size_t>(src.size(), DBIMAXMSGLEN);
  std::memcpy(dst, src.data(), n);
  dst[n] = '\0';
}

const char* FixedText(DBIResult code) {
  switch (code) {
    case DBIERR_NONE: return "";
    case DBIERR_PHYSICALCORRUPT: return "Corrupt file - other than header.";
    case DBIERR_HEADERCORRUPT: return "Corrupt table/index header.";
    case DBIERR_BLOBCORRUPT: return "Corrupt memo/BLOB file.";
    case DBIERR_INDEXCORRUPT: return "Index is out of date.";
    case DBIERR_VALFILECORRUPT: return "Validity check file is corrupt.";
    case DBIERR_UNKNOWNFIELDTYPE: return "Unknown field type.";
    case DBIERR_NOSUCHTABLE: return "Table does not exist.";
    case DBIERR_NOSUCHFIELD: return "Field not found.";
    case DBIERR_NOSUCHINDEX: return "Index does not exist.";
    case DBIERR_EOF: return "At end of table.";
    case DBIERR_NOSUCHFILE: return "File does not exist.";
    case DBIERR_READERR: return "Read failure.";
    case DBIERR_WRITEERR: return "Write failure.";
    case DBIERR_DIRNOTFOUND: return "Directory does not exist.";
    case DBIERR_DISKFULL: return "Insufficient disk space.";
    case DBIERR_READONLYFILE: return "Table is read only.";
    case DBIERR_READONLYDIR: return "Directory is read only.";
    case DBIERR_TABLEFULL: return "Table is full.";
    case DBIERR_FIELDTOOLONG: return "Field value too long.";
    case DBIERR_KEYVIOL: return "Key violation.";
    case DBIERR_REQDERR: return "Field value required.";
    case DBIERR_MASTEREXISTS: return "Master has detail records. Cannot delete or modify.";
    case DBIERR_MASTERMISSING: return "Master record missing.";
    case DBIERR_INVALIDPARAM: return "Invalid parameter.";
    case DBIERR_INVALIDHNDL: return "Invalid handle to the function.";
    case DBIERR_INVALIDFIELDVALUE: return "Invalid field value.";
    case DBIERR_INVALIDRESTRUCTURE: return "Invalid restructure operation.";
    case DBIERR_NOTSUPPORTED: return "Capability not supported.";
    case DBIERR_LOCKED: return "Record locked by another user.";
    case DBIERR_FILELOCKED: return "Table is busy.";
    case DBIERR_NOTSUFFTABLERIGHTS: return "Insufficient table rights for operation. Password is required.";
    case DBIERR_BADPASSWORD: return "Invalid password.";
    case DBIERR_UNKNOWNDB: return "Invalid alias name.";
    case DBIERR_UNKNOWNDRIVER: return "Unknown driver.";
    case DBIERR_QRYSYNTAX: return "Invalid use of keyword.";
    case DBIERR_QRYNOTSUPPORTED: return "Capability not supported.";
    case DBIERR_QRYPARAM: return "Parameter not set in query string.";
    default: return nullptr;
  }
}

}  // namespace

DBIResult RecordError(const Status& status) {
  last_error = status;
  return status.code();
}

const Status& LastError() { return last_error; }

}  // namespace engine

using engine::CopyText;

DBIResult DbiGetErrorInfo(bool, DBIErrInfo& info) {
  const engine::Status& e = engine::last_error;
  info.iError = e.code();
  CopyText(info.szErrCode, e.message());
  CopyText(info.szContext1, e.contexts()[0]);
  CopyText(info.szContext2, e.contexts()[1]);
  CopyText(info.szContext3, e.contexts()[2]);
  CopyText(info.szContext4, e.contexts()[3]);
  return DBIERR_NONE;
}

DBIResult DbiGetErrorString(DBIResult code, DBIMSG buffer) {
  const char* text = engine::FixedText(code);
  CopyText(buffer, text ? text : "");
  return DBIERR_NONE;
}
