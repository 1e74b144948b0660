// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/mark_ring.h"

void MarkRing::Push(uint32_t position) {
  marks[head] = position;
  head = (head + 1) % (kCapacity + 1);
  if (head == tail) tail = (tail + 1) % (kCapacity + 1);
  published.store(Count(), std::memory_order_relaxed);
}

bool MarkRing::Get(uint32_t k, uint32_t* position) const {
  if (k >= Count()) return false;
  *position = marks[(head + kCapacity + 1 - 1 - k) % (kCapacity + 1)];
  return true;
}
