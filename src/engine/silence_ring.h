#pragma once

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
  // Stores one flag and tells whether the window now holds a sentence end: it is
  // full (windowBlocks flags) and at most one of them is not silent.
  bool Feed(bool silent, uint32_t windowBlocks);
  uint32_t Capacity() const;

 private:
  mutable std::mutex mutex;
  std::unique_ptr<int32_t[]> flags;
  uint32_t capacity = 0;
  uint32_t writeIndex = 0;
  uint32_t readIndex = 0;
};
