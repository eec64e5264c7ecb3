// The result of an engine operation: a 16-bit engine code (0 = success), the
// text the engine gives for it and up to four context strings (table path,
// field name ...). Every layer inside engine/ returns or raises these; the
// direct-call API turns them into the session's "last error".
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <utility>

#include "DbiErrors.h"

namespace engine {

class Status {
 public:
  Status() = default;
  Status(DBIResult code, std::string message) : code_(code), message_(std::move(message)) {}

  static Status OK() { return Status(); }
  static Status Corruption(std::string message) {
    return Status(DBIERR_PHYSICALCORRUPT, std::move(message));
  }
  static Status LockConflict(std::string message) {
    return Status(DBIERR_LOCKED, std::move(message));
  }
  static Status NotFound(std::string message) {
    return Status(DBIERR_NOSUCHTABLE, std::move(message));
  }
  static Status IOError(std::string message) { return Status(DBIERR_WRITEERR, std::move(message)); }
  static Status InvalidParam(std::string message) {
    return Status(DBIERR_INVALIDPARAM, std::move(message));
  }

  bool ok() const { return code_ == DBIERR_NONE; }
  DBIResult code() const { return code_; }
  std::uint8_t category() const { return ErrCat(code_); }
  const std::string& message() const { return message_; }

  // Context strings, filled from the first empty slot on; a fifth is dropped.
  Status& WithContext(std::string context);
  const std::array<std::string, 4>& contexts() const { return contexts_; }

  // "message [context1; context2]" for logs and the command-line tool.
  std::string ToString() const;

 private:
  DBIResult code_ = DBIERR_NONE;
  std::string message_;
  std::array<std::string, 4> contexts_;
};

}  // namespace engine
