// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/waker.h"

#include <chrono>

void Waker::Notify(int sleepers) {
  {
    std::lock_guard<std::mutex> lock(mutex);
    if (sleepers & kEngine) ++events[0];
    if (sleepers & kDecoder) ++events[1];
  }
  if (sleepers & kEngine) changed[0].notify_all();
  if (sleepers & kDecoder) changed[1].notify_all();
}

void Waker::Sleep(uint32_t ms, Sleeper sleeper, uint64_t* seen, bool settled) {
  const int channel = sleeper == kDecoder ? 1 : 0;
  std::unique_lock<std::mutex> lock(mutex);
  if (channel == 0) {
    if (settled && *seen > engineSettled) engineSettled = *seen;
    engineMidPassSleep = !settled;
    engineSettledSleep = settled;
    if (pacers > 0) paced.notify_all();
    if (settled && watchers > 0) passEnded.notify_all();
  }
  changed[channel].wait_for(lock, std::chrono::milliseconds(ms),
                            [&] { return events[channel] != *seen; });
  *seen = events[channel];
  if (channel == 0) engineMidPassSleep = engineSettledSleep = false;
}

void Waker::AwaitEngineSleep(uint32_t ms) {
  std::unique_lock<std::mutex> lock(mutex);
  ++watchers;
  passEnded.wait_for(lock, std::chrono::milliseconds(ms));
  --watchers;
}

uint64_t Waker::EngineEvents() {
  std::lock_guard<std::mutex> lock(mutex);
  return events[0];
}

void Waker::Nudge(std::unique_lock<std::mutex>& lock) {
  if (!engineMidPassSleep) return;
  ++events[0];
  lock.unlock();
  changed[0].notify_all();
  lock.lock();
}

void Waker::WaitEngineSettled(uint64_t upTo, const std::function<bool()>& cancel) {
  std::unique_lock<std::mutex> lock(mutex);
  ++pacers;
  while (engineSettled < upTo) {
    if (cancel && cancel()) break;
    // A sleep in the middle of a pass is cut short: the pass then ends, and
    // settles, at once.
    Nudge(lock);
    if (engineSettled >= upTo) break;
    paced.wait_for(lock, std::chrono::microseconds(200));
  }
  --pacers;
}

void Waker::WaitEngine(const std::function<bool()>& done, const std::function<bool()>& cancel) {
  for (;;) {
    // The conditions take other locks: never under this one.
    if (done() || (cancel && cancel())) return;
    std::unique_lock<std::mutex> lock(mutex);
    if (engineSettledSleep) return;
    ++pacers;
    Nudge(lock);
    paced.wait_for(lock, std::chrono::microseconds(200));
    --pacers;
  }
}
