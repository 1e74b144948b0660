// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/block_ring.h"

#include <new>
#include <utility>

bool BlockRing::Allocate(uint32_t size, uint32_t count) {
  std::lock_guard<std::mutex> guard(lock);
  records.reset(new (std::nothrow) PcmBlock[count + 1]);
  memory.reset(new (std::nothrow) uint8_t[static_cast<size_t>(count + 1) * (size + 2) + 1]());
  if (!records || !memory) {
    records.reset();
    memory.reset();
    capacity = readIndex = writeIndex = blockSize = 0;
    return false;
  }
  for (uint32_t i = 0; i <= count; ++i) {
    records[i] = PcmBlock{};
    records[i].data = memory.get() + static_cast<size_t>(i) * (size + 2);
  }
  capacity = count;
  blockSize = size;
  readIndex = writeIndex = 0;
  return true;
}

void BlockRing::Free() {
  std::lock_guard<std::mutex> guard(lock);
  records.reset();
  memory.reset();
  capacity = readIndex = writeIndex = 0;
}

bool BlockRing::Push(CodecBlock* request, float silenceRatio, bool gap) {
  std::lock_guard<std::mutex> guard(lock);
  if (!records || (writeIndex + 1) % (capacity + 1) == readIndex) return false;
  PcmBlock& r = records[writeIndex];
  std::swap(r.data, request->data);
  r.bytes = request->bytesRead;
  r.position = request->position;
  r.nextPosition = request->nextPosition;
  r.silenceRatio = silenceRatio;
  r.gap = gap;
  writeIndex = (writeIndex + 1) % (capacity + 1);
  return true;
}

bool BlockRing::Take(PcmBlock* current) {
  std::lock_guard<std::mutex> guard(lock);
  if (!records || readIndex == writeIndex) return false;
  PcmBlock& r = records[readIndex];
  uint8_t* empty = current->data;
  *current = r;
  r.data = empty;
  readIndex = (readIndex + 1) % (capacity + 1);
  return true;
}

void BlockRing::Clear() {
  std::lock_guard<std::mutex> guard(lock);
  if (records) {
    for (uint32_t i = 0; i <= capacity; ++i)
      records[i].position = records[i].nextPosition = 0;
  }
  readIndex = writeIndex = 0;
}

bool BlockRing::Empty() const {
  std::lock_guard<std::mutex> guard(lock);
  return readIndex == writeIndex;
}

uint32_t BlockRing::Count() const {
  std::lock_guard<std::mutex> guard(lock);
  return capacity == 0 ? 0 : (writeIndex + capacity + 1 - readIndex) % (capacity + 1);
}
