// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
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
  // Sleeps up to ms milliseconds, or until an event for sleeper that it has not
  // seen. The engine thread marks the sleep at the end of its pass as settled:
  // it has then done all that the events it had seen asked of it.
  void Sleep(uint32_t ms, Sleeper sleeper, uint64_t* seen, bool settled = false);

  // Events sent to the engine thread so far.
  uint64_t EngineEvents();
  // Waits up to ms for the engine thread to end a pass: a watcher of its
  // status looks again then, not on a clock.
  void AwaitEngineSleep(uint32_t ms);
  // Waits until done() holds, cancel() turns true or the engine thread has
  // settled into its sleep at the end of a pass (nothing it saw asks more of
  // it: only a new event would), waking it whenever it sleeps in the middle
  // of a pass.
  void WaitEngine(const std::function<bool()>& done, const std::function<bool()>& cancel);

  // Waits until the engine thread has settled after every event up to events,
  // so it has done all that those events asked of it. Wakes the engine thread
  // when it sleeps in the middle of a pass, so that it does not sleep it out.
  // Gives up early when cancel() turns true (checked every few milliseconds).
  void WaitEngineSettled(uint64_t events, const std::function<bool()>& cancel);

 private:
  // Wakes the engine thread if it sleeps in the middle of a pass.
  void Nudge(std::unique_lock<std::mutex>& lock);

  std::mutex mutex;
  std::condition_variable changed[2];  // per sleeper
  std::condition_variable paced;       // the engine thread went to sleep
  int pacers = 0;                      // threads waiting on paced
  std::condition_variable passEnded;   // the engine thread ended a pass
  int watchers = 0;                    // threads waiting on passEnded
  uint64_t events[2] = {0, 0};
  // The events the engine thread had seen when it last settled, and whether it
  // sleeps now in the middle of a pass.
  uint64_t engineSettled = 0;
  bool engineMidPassSleep = false;
  bool engineSettledSleep = false;
};
