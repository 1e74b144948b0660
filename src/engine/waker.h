#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>

// The engine's one wait helper. Every sleep of the engine and decode threads
// goes through Sleep, which an event meant for the sleeper cuts short: a posted
// request, a finished device buffer or a new block for the engine thread; room
// in the ring or a new control word for the decode thread. Each sleeper passes
// its own counter of the events it has seen, so an event that came before the
// sleep began is not lost.
class Waker {
 public:
  enum Sleeper { kEngine = 1, kDecoder = 2, kBoth = 3 };

  void Notify(int sleepers = kBoth);
  // Sleeps up to ms milliseconds, or until an event for sleeper that it has not seen.
  void Sleep(uint32_t ms, Sleeper sleeper, uint64_t* seen);

 private:
  std::mutex mutex;
  std::condition_variable changed;
  uint64_t events[2] = {0, 0};
};
