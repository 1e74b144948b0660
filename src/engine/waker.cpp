#include "engine/waker.h"

#include <chrono>

void Waker::Notify() {
  {
    std::lock_guard<std::mutex> lock(mutex);
    ++events;
  }
  changed.notify_all();
}

void Waker::Sleep(uint32_t ms, uint64_t* seen) {
  std::unique_lock<std::mutex> lock(mutex);
  changed.wait_for(lock, std::chrono::milliseconds(ms), [&] { return events != *seen; });
  *seen = events;
}
