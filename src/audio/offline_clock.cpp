// SPDX-License-Identifier: GPL-3.0-or-later
#include "audio/offline_clock.h"

#include <algorithm>
#include <cstdint>

void OfflineClock::SetHeld(bool value) {
  held.store(value);
  WakeAll();
}

uint64_t OfflineClock::Advance(int64_t nanoseconds) {
  budget.fetch_add(nanoseconds);
  const uint64_t grant = grants.fetch_add(1) + 1;
  WakeAll();
  return grant;
}

bool OfflineClock::TryConsume(int64_t nanoseconds) {
  if (!held.load()) {
    consumed.fetch_add(nanoseconds);
    return true;
  }
  if (holding.load() && HoldNow()) {
    const uint64_t grant = grants.load();
    uint64_t seen = refusedGrant.load();
    while (seen < grant && !refusedGrant.compare_exchange_weak(seen, grant)) {
    }
    return false;
  }
  for (;;) {
    // The grant is read before the budget, so a refusal is only ever recorded
    // for a grant whose time was already in the budget.
    const uint64_t grant = grants.load();
    int64_t current = budget.load();
    while (current >= nanoseconds) {
      if (budget.compare_exchange_weak(current, current - nanoseconds)) {
        consumed.fetch_add(nanoseconds);
        return true;
      }
    }
    if (grants.load() != grant) continue;  // more time came meanwhile: look again
    uint64_t seen = refusedGrant.load();
    while (seen < grant && !refusedGrant.compare_exchange_weak(seen, grant)) {
    }
    return false;
  }
}

void OfflineClock::SetHold(std::function<bool()> hold) {
  {
    std::lock_guard<std::mutex> lock(holdMutex);
    holdWhen = std::move(hold);
    holding = static_cast<bool>(holdWhen);
  }
  WakeAll();
}

bool OfflineClock::HoldNow() {
  std::function<bool()> hold;
  {
    std::lock_guard<std::mutex> lock(holdMutex);
    hold = holdWhen;
  }
  return hold && hold();
}

int64_t OfflineClock::Available() const {
  if (holding.load()) return 0;
  return held.load() ? std::max<int64_t>(budget.load(), 0) : INT64_MAX;
}

void OfflineClock::Register(const void* device, std::function<void()> wake) {
  std::lock_guard<std::mutex> lock(registryMutex);
  devices.emplace_back(device, std::move(wake));
}

void OfflineClock::Unregister(const void* device) {
  std::lock_guard<std::mutex> lock(registryMutex);
  devices.erase(std::remove_if(devices.begin(), devices.end(),
                               [device](const auto& d) { return d.first == device; }),
                devices.end());
}

void OfflineClock::WakeAll() {
  std::lock_guard<std::mutex> lock(registryMutex);
  for (const auto& device : devices)
    device.second();
}

void OfflineClock::SetPacer(Pacer p) {
  std::lock_guard<std::mutex> lock(pacerMutex);
  pacer = std::move(p);
  paced = static_cast<bool>(pacer);
}

bool OfflineClock::Pace(int phase, const DeviceState& device) {
  Pacer p;
  {
    std::lock_guard<std::mutex> lock(pacerMutex);
    p = pacer;
  }
  return p && p(phase, device);
}
