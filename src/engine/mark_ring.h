#pragma once

#include <cstdint>

// The last ten passage starts, newest first. Used by the engine thread alone.
class MarkRing {
 public:
  static constexpr uint32_t kCapacity = 10;

  void Push(uint32_t position);
  // The k-th most recent mark (0 = latest); false when there are not k + 1 marks.
  bool Get(uint32_t k, uint32_t* position) const;
  uint32_t Count() const { return (head + kCapacity + 1 - tail) % (kCapacity + 1); }
  void Reset() { head = tail = 0; }

 private:
  uint32_t marks[kCapacity + 1] = {};
  uint32_t head = 0;
  uint32_t tail = 0;
};
