// The result of an engine operation: a 16-bit engine code (0 = success), the
// text the engine gives for it and up to four context strings (table path,
// field name ...). Every layer inside engine/ returns or raises these; the
// direct-call API turns them into the session's "last error".
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>

#include "DbiErrors.h"

namespace engine {

class Status {
 public:
  Status() = default;
  Status(DBIResult code, std::string message);
  Status(const Status& other) : state_(other.state_ ? new State(*other.state_) : nullptr) {}
  Status(Status&&) noexcept = default;
  Status& operator=(const Status& other);
  Status& operator=(Status&&) noexcept = default;
  ~Status() = default;

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

  bool ok() const { return !state_ || state_->code == DBIERR_NONE; }
  DBIResult code() const { return state_ ? state_->code : DBIResult{DBIERR_NONE}; }
  std::uint8_t category() const { return ErrCat(code()); }
  const std::string& message() const;

  // Context strings, filled from the first empty slot on; a fifth is dropped.
  Status& WithContext(std::string context);
  const std::array<std::string, 4>& contexts() const;

  // "message [context1; context2]" for logs and the command-line tool.
  std::string ToString() const;

 private:
  // Success, by far the most frequent result, is a null pointer: the
  // per-record calls of a table copy pass results around at no cost.
  struct State {
    DBIResult code = DBIERR_NONE;
    std::string message;
    std::array<std::string, 4> contexts;
  };
  std::unique_ptr<State> state_;
};

}  // namespace engine
