#include "engine/waker.h"

#include <chrono>

void Waker::Notify(int sleepers) {
  {
    std::lock_guard<std::mutex> lock(mutex);
    if (sleepers & kEngine) ++events[0];
    if (sleepers & kDecoder) ++events[1];
  }
  changed.notify_all();
}

void Waker::Sleep(uint32_t ms, Sleeper sleeper, uint64_t* seen) {
  const int channel = sleeper == kDecoder ? 1 : 0;
  std::unique_lock<std::mutex> lock(mutex);
  changed.wait_for(lock, std::chrono::milliseconds(ms), [&] { return events[channel] != *seen; });
  *seen = events[channel];
}
