// Scope guards of the table tools: whatever way a restructure or pack ends,
// the busy cursor is reset and both tables of the component are closed.
#pragma once

#include <functional>

class TZelTableTools;

namespace tbguard {

class TBusyCursor {
 public:
  explicit TBusyCursor(std::function<void(bool)> show) : show_(std::move(show)) {
    if (show_) show_(true);
  }
  ~TBusyCursor() {
    if (show_) show_(false);
  }
  TBusyCursor(const TBusyCursor&) = delete;
  TBusyCursor& operator=(const TBusyCursor&) = delete;

 private:
  std::function<void(bool)> show_;
};

class TTablesClosed {
 public:
  explicit TTablesClosed(TZelTableTools& tools) : tools_(tools) {}
  ~TTablesClosed();
  TTablesClosed(const TTablesClosed&) = delete;
  TTablesClosed& operator=(const TTablesClosed&) = delete;

 private:
  TZelTableTools& tools_;
};

}  // namespace tbguard
