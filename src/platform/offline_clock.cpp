#include "platform/offline_clock.h"

#include <algorithm>

void OfflineClock::SetHeld(bool value) {
  held.store(value);
  WakeAll();
}

void OfflineClock::Advance(int64_t nanoseconds) {
  budget.fetch_add(nanoseconds);
  WakeAll();
}

bool OfflineClock::TryConsume(int64_t nanoseconds) {
  if (!held.load()) {
    consumed.fetch_add(nanoseconds);
    return true;
  }
  int64_t current = budget.load();
  while (current >= nanoseconds) {
    if (budget.compare_exchange_weak(current, current - nanoseconds)) {
      consumed.fetch_add(nanoseconds);
      return true;
    }
  }
  return false;
}

void OfflineClock::Register(void* device, Waker waker) {
  std::lock_guard<std::mutex> lock(registryMutex);
  devices.emplace_back(device, waker);
}

void OfflineClock::Unregister(void* device) {
  std::lock_guard<std::mutex> lock(registryMutex);
  devices.erase(std::remove_if(devices.begin(), devices.end(),
                               [device](const auto& d) { return d.first == device; }),
                devices.end());
}

void OfflineClock::WakeAll() {
  std::lock_guard<std::mutex> lock(registryMutex);
  for (const auto& [device, waker] : devices)
    waker(device);
}
