// The two kinds of error the dataset layer raises: a database error carrying
// a text, and an engine error carrying the 16-bit codes (with their texts and
// contexts) that caused it. Callers outside the engine catch these.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

#include "Status.h"

namespace engine {

class EDatabaseError : public std::runtime_error {
 public:
  explicit EDatabaseError(const std::string& message) : std::runtime_error(message) {}
};

class EDBEngineError : public EDatabaseError {
 public:
  explicit EDBEngineError(const Status& status)
      : EDatabaseError(status.ToString()), errors_{status} {}
  EDBEngineError(const std::string& message, std::vector<Status> errors)
      : EDatabaseError(message), errors_(std::move(errors)) {}

  int ErrorCount() const { return static_cast<int>(errors_.size()); }
  const Status& Errors(int i) const { return errors_.at(i); }
  // The first error's code; its high byte is the category callers test.
  DBIResult ErrorCode() const { return errors_.empty() ? DBIERR_NONE : errors_.front().code(); }

 private:
  std::vector<Status> errors_;
};

}  // namespace engine
