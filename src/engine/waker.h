#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>

// The engine's one wait helper. Every sleep of the engine and decode threads
// goes through Sleep, which a posted request, a finished device buffer or a
// ring change (Notify) cuts short. Each sleeper passes its own counter of the
// events it has seen, so an event that came before the sleep began is not lost.
class Waker {
 public:
  void Notify();
  // Sleeps up to ms milliseconds, or until an event the sleeper has not seen.
  void Sleep(uint32_t ms, uint64_t* seen);

 private:
  std::mutex mutex;
  std::condition_variable changed;
  uint64_t events = 0;
};
