// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

// The sound clock of the offline backend. Running freely, every buffer a device
// is given finishes at once. Held, a device may finish a buffer only when the
// owner has advanced the clock by at least that buffer's duration, so a script
// lands each command at the same byte on every run.
class OfflineClock {
 public:
  void SetHeld(bool held);
  bool Held() const { return held.load(); }

  // Lets nanoseconds more sound pass, and wakes the devices. Returns the number
  // of this grant (they count up from 1).
  uint64_t Advance(int64_t nanoseconds);
  // The latest grant a device has seen and was still refused a buffer under:
  // once it reaches a grant's number, that grant's sound time is used up.
  uint64_t RefusedGrant() const { return refusedGrant.load(); }
  // Sound time granted but not yet used by a device.
  int64_t Budget() const { return budget.load(); }
  // Drops any unused budget.
  void Drain() { budget.store(0); }

  // While hold() holds, no device may finish anything (as if the budget were
  // used up): a script that waits for a state stops the sound at the exact
  // buffer where it is reached. An empty function lifts the hold.
  void SetHold(std::function<bool()> hold);

  // Takes the duration of one buffer from the budget; true when it may finish.
  bool TryConsume(int64_t nanoseconds);
  // Sound time a device may use now: the budget when held, without limit otherwise.
  int64_t Available() const;
  // Total sound time finished by devices since the clock was made.
  int64_t Consumed() const { return consumed.load(); }

  // A pacer, when set, is called by the output device (outside its lock) before
  // it finishes a buffer (kBeforeFinish) and after (kAfterFinish). It may hold
  // the device meanwhile, so that the buffer's listener sees the sound after it
  // already queued and has done its work before the next buffer finishes:
  // nothing then depends on thread timing. Before a finish, the pacer returns
  // true when nothing more will be queued behind the buffer: the sound ends there.
  enum PacePhase { kBeforeFinish = 0, kAfterFinish = 1 };
  struct DeviceState {
    std::function<bool()> stopping;    // the device is closing: stop waiting
    std::function<bool()> nextQueued;  // a buffer waits behind the one to finish
  };
  using Pacer = std::function<bool(int phase, const DeviceState& device)>;
  // An empty pacer lets the devices run unpaced.
  void SetPacer(Pacer pacer);
  bool Paced() const { return paced.load(); }
  bool Pace(int phase, const DeviceState& device);

  // Devices register a function that wakes their thread, under their address.
  void Register(const void* device, std::function<void()> wake);
  void Unregister(const void* device);

 private:
  void WakeAll();

  std::atomic<bool> held{false};
  std::atomic<int64_t> budget{0};
  std::atomic<int64_t> consumed{0};
  std::atomic<uint64_t> grants{0};
  bool HoldNow();

  std::mutex holdMutex;  // guards holdWhen
  std::function<bool()> holdWhen;
  std::atomic<bool> holding{false};
  std::mutex pacerMutex;  // guards pacer
  Pacer pacer;
  std::atomic<bool> paced{false};
  std::atomic<uint64_t> refusedGrant{0};
  std::mutex registryMutex;
  std::vector<std::pair<const void*, std::function<void()>>> devices;
};
