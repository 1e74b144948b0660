// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/silence_ring.h"

#include <algorithm>
#include <new>

void SilenceRing::Recreate(uint32_t newCapacity) {
  std::unique_ptr<int32_t[]> fresh(new (std::nothrow) int32_t[newCapacity + 4]());
  std::unique_ptr<int32_t[]> old;
  std::lock_guard<std::mutex> lock(mutex);
  old = std::move(flags);  // released after the lock, never under a running Feed
  flags = std::move(fresh);
  capacity = flags ? newCapacity : 0;
  writeIndex = readIndex = 0;
  fed = 0;
  firstSound = -1;
}

void SilenceRing::Clear() {
  std::lock_guard<std::mutex> lock(mutex);
  if (flags) std::fill(flags.get(), flags.get() + capacity + 1, 0);
  writeIndex = readIndex = 0;
  fed = 0;
  firstSound = -1;
}

bool SilenceRing::Feed(bool silent, uint32_t windowBlocks, bool measured) {
  std::lock_guard<std::mutex> lock(mutex);
  const uint32_t slots = capacity + 1;
  if (!silent && measured && firstSound < 0) firstSound = fed;
  ++fed;
  if (flags) {
    flags[writeIndex] = silent ? 1 : 0;
    writeIndex = (writeIndex + 1) % slots;
    if (writeIndex == readIndex) readIndex = (readIndex + 1) % slots;
  }
  uint32_t set = 0;
  for (uint32_t i = readIndex; i != writeIndex; i = (i + 1) % slots)
    set += flags[i] != 0;
  const uint32_t fill = (writeIndex + slots - readIndex) % slots;
  if (fill != windowBlocks) return false;
  if (set <= windowBlocks - 2) return false;  // unsigned: below 2 never fires
  return firstSound >= 0 && firstSound + static_cast<int64_t>(windowBlocks) < fed;
}

uint32_t SilenceRing::Capacity() const {
  std::lock_guard<std::mutex> lock(mutex);
  return capacity;
}
