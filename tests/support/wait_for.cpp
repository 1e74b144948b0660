// SPDX-License-Identifier: GPL-3.0-or-later
#include "wait_for.h"

#include <chrono>
#include <thread>

bool WaitFor(const std::function<bool()>& condition, int ms) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (std::chrono::steady_clock::now() < end) {
    if (condition()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return condition();
}
