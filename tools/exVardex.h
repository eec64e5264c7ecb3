// Exceptions of the tool units. EVardex is the program's own failure with a
// fixed text; EConvertTool refuses a tool or result conversion; EDebugNote
// marks an internal programming error and always carries the "Debug note: "
// prefix, so a user who sees one knows it is ours and not theirs.
#pragma once

#include <cstdio>
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

  // printf-style: EDebugNote::Fmt("tool %d has no handler", tool).
  template <typename... Args>
  static EDebugNote Fmt(const char* format, Args... args) {
    const int n = std::snprintf(nullptr, 0, format, args...);
    std::string text(n > 0 ? static_cast<std::size_t>(n) : 0, '\0');
    if (n > 0) std::snprintf(text.data(), text.size() + 1, format, args...);
    return EDebugNote(text);
  }
};

// Raised when a database's work folder cannot be set aside or put back.
inline constexpr const char* kCannotRenameSupportDir = "Cannot rename support directory";
