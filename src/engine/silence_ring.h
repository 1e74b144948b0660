// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cmath>
#include <cstdint>
#include <memory>
#include <mutex>

// One flag per played buffer (1 = silent) over the last windowBlocks buffers.
// Fed by the output callback; cleared by the engine thread and re-created by the
// user-interface thread, so a short lock guards it.
class SilenceRing {
 public:
  // A new array of capacity + 1 flags, cleared. Allocates outside the lock.
  void Recreate(uint32_t capacity);
  void Clear();
  // A block the decoder did not measure (automatic mode off, a sentence
  // pending, not reading) carries a ratio of 0, counted as not silent in the
  // window; it is negative zero so that it is not taken for sound heard.
  static constexpr float kUnmeasured = -0.0f;
  static bool Measured(float ratio) { return !std::signbit(ratio); }

  // Stores one flag and tells whether the window now holds a sentence end: it is
  // full (windowBlocks flags), at most one of them is not silent, and a measured
  // buffer that was not silent came before the window since the ring was last
  // cleared: the passage since the last mark held sound, so a pause, a lead-in
  // or the rest of a pause after a repeat is never a sentence of its own.
  bool Feed(bool silent, uint32_t windowBlocks, bool measured = true);
  uint32_t Capacity() const;

 private:
  mutable std::mutex mutex;
  std::unique_ptr<int32_t[]> flags;
  uint32_t capacity = 0;
  uint32_t writeIndex = 0;
  uint32_t readIndex = 0;
  // Buffers fed since the last clear, and which of them first held sound (-1: none).
  int64_t fed = 0;
  int64_t firstSound = -1;
};
