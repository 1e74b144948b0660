// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <atomic>
#include <chrono>
#include <thread>

// Joins thread once ended turns true, waiting at most limit. A thread that has
// not ended by then is left to itself (detached) rather than hanging its
// caller, and false is returned.
inline bool JoinThreadWithin(std::thread& thread, const std::atomic<bool>& ended,
                             std::chrono::milliseconds limit) {
  if (!thread.joinable()) return true;
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!ended.load() && std::chrono::steady_clock::now() < end)
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  if (!ended.load()) {
    thread.detach();
    return false;
  }
  thread.join();
  return true;
}
