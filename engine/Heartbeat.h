// A long engine call (a restructure, a pack) made on a window's thread lets
// that window keep processing events: the caller sets a heartbeat for the
// thread, and the engine beats it now and then while it works (at most once
// every few milliseconds, so the beats cost nothing).
#pragma once

#include <functional>

namespace engine {

// Sets (or, with an empty function, clears) this thread's heartbeat.
void SetHeartbeat(std::function<void()> beat);
// Calls the heartbeat when one is set and the last beat is long enough ago.
void Heartbeat();

// Sets a heartbeat for a scope.
class ScopedHeartbeat {
 public:
  explicit ScopedHeartbeat(std::function<void()> beat) { SetHeartbeat(std::move(beat)); }
  ~ScopedHeartbeat() { SetHeartbeat({}); }
  ScopedHeartbeat(const ScopedHeartbeat&) = delete;
  ScopedHeartbeat& operator=(const ScopedHeartbeat&) = delete;
};

}  // namespace engine
