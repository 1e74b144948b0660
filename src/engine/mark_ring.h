// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <atomic>
#include <cstdint>

// The last ten passage starts, newest first. Used by the engine thread alone;
// how many there are may be read from any thread.
class MarkRing {
 public:
  static constexpr uint32_t kCapacity = 10;

  void Push(uint32_t position);
  // The k-th most recent mark (0 = latest); false when there are not k + 1 marks.
  bool Get(uint32_t k, uint32_t* position) const;
  uint32_t Count() const { return (head + kCapacity + 1 - tail) % (kCapacity + 1); }
  void Reset() {
    head = tail = 0;
    published = 0;
  }
  // Count() as of the last change, for any thread.
  uint32_t PublishedCount() const { return published.load(std::memory_order_relaxed); }

 private:
  uint32_t marks[kCapacity + 1] = {};
  uint32_t head = 0;
  uint32_t tail = 0;
  std::atomic<uint32_t> published{0};
};
