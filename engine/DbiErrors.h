// The engine's 16-bit result codes and the last-error questions of the
// direct-call API. A code's high byte is its category: callers test the
// category (0x23 data corruption, 0x28 lock conflict), never single codes.
#pragma once

#include <cstdint>

using DBIResult = std::uint16_t;

constexpr int DBIMAXMSGLEN = 127;
using DBIMSG = char[DBIMAXMSGLEN + 1];

// Error categories (the high byte of a result).
constexpr std::uint8_t ERRCAT_NONE = 0x00;
constexpr std::uint8_t ERRCAT_SYSTEM = 0x21;
constexpr std::uint8_t ERRCAT_NOTFOUND = 0x22;
constexpr std::uint8_t ERRCAT_DATACORRUPT = 0x23;
constexpr std::uint8_t ERRCAT_IO = 0x24;
constexpr std::uint8_t ERRCAT_LIMIT = 0x25;
constexpr std::uint8_t ERRCAT_INTEGRITY = 0x26;
constexpr std::uint8_t ERRCAT_INVALIDREQ = 0x27;
constexpr std::uint8_t ERRCAT_LOCKCONFLICT = 0x28;
constexpr std::uint8_t ERRCAT_SECURITY = 0x29;
constexpr std::uint8_t ERRCAT_INVALIDCONTEXT = 0x2A;
constexpr std::uint8_t ERRCAT_CAPABILITY = 0x2B;
constexpr std::uint8_t ERRCAT_CONFIG = 0x2C;
constexpr std::uint8_t ERRCAT_QUERY = 0x2E;

constexpr std::uint8_t ErrCat(DBIResult code) { return static_cast<std::uint8_t>(code >> 8); }
constexpr DBIResult ErrCode(std::uint8_t category, std::uint8_t sub) {
  return static_cast<DBIResult>((category << 8) | sub);
}

constexpr DBIResult DBIERR_NONE = 0;
// Data corruption.
constexpr DBIResult DBIERR_PHYSICALCORRUPT = ErrCode(ERRCAT_DATACORRUPT, 0x01);
constexpr DBIResult DBIERR_HEADERCORRUPT = ErrCode(ERRCAT_DATACORRUPT, 0x02);
constexpr DBIResult DBIERR_BLOBCORRUPT = ErrCode(ERRCAT_DATACORRUPT, 0x03);
constexpr DBIResult DBIERR_INDEXCORRUPT = ErrCode(ERRCAT_DATACORRUPT, 0x04);
constexpr DBIResult DBIERR_VALFILECORRUPT = ErrCode(ERRCAT_DATACORRUPT, 0x05);
constexpr DBIResult DBIERR_UNKNOWNFIELDTYPE = ErrCode(ERRCAT_DATACORRUPT, 0x06);
// Not found.
constexpr DBIResult DBIERR_NOSUCHTABLE = ErrCode(ERRCAT_NOTFOUND, 0x01);
constexpr DBIResult DBIERR_NOSUCHFIELD = ErrCode(ERRCAT_NOTFOUND, 0x02);
constexpr DBIResult DBIERR_NOSUCHINDEX = ErrCode(ERRCAT_NOTFOUND, 0x03);
constexpr DBIResult DBIERR_EOF = ErrCode(ERRCAT_NOTFOUND, 0x04);
constexpr DBIResult DBIERR_NOSUCHFILE = ErrCode(ERRCAT_NOTFOUND, 0x05);
// Input and output.
constexpr DBIResult DBIERR_READERR = ErrCode(ERRCAT_IO, 0x01);
constexpr DBIResult DBIERR_WRITEERR = ErrCode(ERRCAT_IO, 0x02);
constexpr DBIResult DBIERR_DIRNOTFOUND = ErrCode(ERRCAT_IO, 0x03);
constexpr DBIResult DBIERR_DISKFULL = ErrCode(ERRCAT_IO, 0x04);
constexpr DBIResult DBIERR_READONLYFILE = ErrCode(ERRCAT_IO, 0x05);
constexpr DBIResult DBIERR_READONLYDIR = ErrCode(ERRCAT_IO, 0x06);
// Limits.
constexpr DBIResult DBIERR_TABLEFULL = ErrCode(ERRCAT_LIMIT, 0x01);
constexpr DBIResult DBIERR_FIELDTOOLONG = ErrCode(ERRCAT_LIMIT, 0x02);
// Integrity.
constexpr DBIResult DBIERR_KEYVIOL = ErrCode(ERRCAT_INTEGRITY, 0x01);
constexpr DBIResult DBIERR_REQDERR = ErrCode(ERRCAT_INTEGRITY, 0x02);
constexpr DBIResult DBIERR_MASTEREXISTS = ErrCode(ERRCAT_INTEGRITY, 0x03);
constexpr DBIResult DBIERR_MASTERMISSING = ErrCode(ERRCAT_INTEGRITY, 0x04);
// Invalid requests.
constexpr DBIResult DBIERR_INVALIDPARAM = ErrCode(ERRCAT_INVALIDREQ, 0x01);
constexpr DBIResult DBIERR_INVALIDHNDL = ErrCode(ERRCAT_INVALIDREQ, 0x02);
constexpr DBIResult DBIERR_INVALIDFIELDVALUE = ErrCode(ERRCAT_INVALIDREQ, 0x03);
constexpr DBIResult DBIERR_INVALIDRESTRUCTURE = ErrCode(ERRCAT_INVALIDREQ, 0x04);
constexpr DBIResult DBIERR_NOTSUPPORTED = ErrCode(ERRCAT_INVALIDREQ, 0x05);
// Lock conflicts.
constexpr DBIResult DBIERR_LOCKED = ErrCode(ERRCAT_LOCKCONFLICT, 0x01);
constexpr DBIResult DBIERR_FILELOCKED = ErrCode(ERRCAT_LOCKCONFLICT, 0x02);
// Security.
constexpr DBIResult DBIERR_NOTSUFFTABLERIGHTS = ErrCode(ERRCAT_SECURITY, 0x01);
constexpr DBIResult DBIERR_BADPASSWORD = ErrCode(ERRCAT_SECURITY, 0x02);
// Configuration.
constexpr DBIResult DBIERR_UNKNOWNDB = ErrCode(ERRCAT_CONFIG, 0x01);  // "Invalid alias name"
constexpr DBIResult DBIERR_UNKNOWNDRIVER = ErrCode(ERRCAT_CONFIG, 0x02);
// Query.
constexpr DBIResult DBIERR_QRYSYNTAX = ErrCode(ERRCAT_QUERY, 0x01);
constexpr DBIResult DBIERR_QRYNOTSUPPORTED = ErrCode(ERRCAT_QUERY, 0x02);
constexpr DBIResult DBIERR_QRYPARAM = ErrCode(ERRCAT_QUERY, 0x03);

struct DBIErrInfo {
  DBIResult iError;
  DBIMSG szErrCode;  // the last error's text
  DBIMSG szContext1;
  DBIMSG szContext2;
  DBIMSG szContext3;
  DBIMSG szContext4;
};

namespace engine {
class Status;
// Records a failed status as the last error of this thread and returns its
// code, so direct calls can end with `return RecordError(status);`.
DBIResult RecordError(const Status& status);
// That last error whole. The layers above the direct calls take it from
// here: DbiGetErrorInfo's buffers hold 127 characters, and a path cut there
// loses the very file name it ends with.
const Status& LastError();
}  // namespace engine

// The last error recorded on this thread; bFull is accepted for the call's
// shape and ignored (the text is always full).
DBIResult DbiGetErrorInfo(bool bFull, DBIErrInfo& info);
// The engine's fixed text for a code (empty for an unknown code).
DBIResult DbiGetErrorString(DBIResult code, DBIMSG buffer);
