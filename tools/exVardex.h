// Exceptions of the tool units. EVardex is the program's own failure with a
// fixed text; EConvertTool refuses a tool or result conversion; EDebugNote
// marks an internal programming error and always carries the "Debug note: "
// prefix, so a user who sees one knows it is ours and not theirs.
#pragma once

#include <stdexcept>
#include <string>

class EVardex : public std::runtime_error {
 public:
  explicit EVardex(const std::string& message) : std::runtime_error(message) {}
  std::string Message() const { return what(); }
};

class EConvertTool : public EVardex {
 public:
  explicit EConvertTool(const std::string& message) : EVardex(message) {}
};

class EDebugNote : public EVardex {
 public:
  static constexpr const char* kPrefix = "Debug note: ";
  // `text` is the already formatted description of the programming error.
  explicit EDebugNote(const std::string& text) : EVardex(kPrefix + text) {}
};

// Raised when a database's work folder cannot be set aside or put back.
inline constexpr const char* kCannotRenameSupportDir = "Cannot rename support directory";
