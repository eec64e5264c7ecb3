#include "Heartbeat.h"

#include <chrono>

namespace engine {

namespace {

constexpr auto kEvery = std::chrono::milliseconds(20);

struct State {
  std::function<void()> beat;
  std::chrono::steady_clock::time_point last;
  bool beating = false;  // a beat that calls back into the engine does not beat again
};

State& ThreadState() {
  thread_local State state;
  return state;
}

}  // namespace

void SetHeartbeat(std::function<void()> beat) {
  State& state = ThreadState();
  state.beat = std::move(beat);
  state.last = std::chrono::steady_clock::now();
}

void Heartbeat() {
  State& state = ThreadState();
  if (!state.beat || state.beating) return;
  const auto now = std::chrono::steady_clock::now();
  if (now - state.last < kEvery) return;
  struct Beating {
    State& state;
    explicit Beating(State& s) : state(s) { state.beating = true; }
    ~Beating() {
      state.beating = false;
      state.last = std::chrono::steady_clock::now();
    }
  } beating(state);
  state.beat();
}

}  // namespace engine
