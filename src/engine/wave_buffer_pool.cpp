// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/wave_buffer_pool.h"

#include <cstring>
#include <new>
#include <utility>

bool WaveBufferPool::Allocate(uint32_t size, uint32_t n) {
  slots.reset(new (std::nothrow) WaveSlot[n + 1]);
  memory.reset(new (std::nothrow) uint8_t[static_cast<size_t>(n + 1) * (size + 2) + 2]());
  if (!slots || !memory) {
    slots.reset();
    memory.reset();
    sendIndex = fillIndex = count = bufferSize = 0;
    return false;
  }
  for (uint32_t i = 0; i <= n; ++i) {
    slots[i].header.lpData = memory.get() + static_cast<size_t>(i) * (size + 2);
    slots[i].header.dwFlags = 0;
    slots[i].slotIndex = i;
  }
  count = n;
  bufferSize = size;
  sendIndex = fillIndex = 0;
  return true;
}

void WaveBufferPool::Free() {
  slots.reset();
  memory.reset();
  sendIndex = fillIndex = count = bufferSize = 0;
}

bool WaveBufferPool::Add(WaveSlot* staged, WaveOut* out) {
  if (!slots || (fillIndex + 1) % (count + 1) == sendIndex) return false;
  // The slot about to be reused must have come back from the device.
  WaveSlot& next = slots[sendIndex];
  const uint32_t flags = next.header.dwFlags.load(std::memory_order_acquire);
  if (flags != 0 && !(flags & WHDR_DONE)) return false;
  WaveSlot& slot = slots[fillIndex];
  if (slot.header.dwFlags.load(std::memory_order_acquire) & WHDR_INQUEUE) return false;
  // A slot whose done callback still runs is not refilled yet: the callback
  // reads its place in the item.
  if ((flags & WHDR_PREPARED) && out != nullptr && !out->UnprepareHeader(&next.header))
    return false;
  if (&slot != &next && (slot.header.dwFlags.load() & WHDR_PREPARED) && out != nullptr &&
      !out->UnprepareHeader(&slot.header)) {
    return false;
  }
  uint8_t* empty = slot.header.lpData;
  slot.header = staged->header;
  slot.position.store(staged->position.load(std::memory_order_relaxed), std::memory_order_relaxed);
  slot.nextPosition.store(staged->nextPosition.load(std::memory_order_relaxed),
                          std::memory_order_relaxed);
  slot.silenceRatio.store(staged->silenceRatio.load(std::memory_order_relaxed),
                          std::memory_order_relaxed);
  slot.gap.store(staged->gap.load(std::memory_order_relaxed), std::memory_order_relaxed);
  staged->header.lpData = empty;
  fillIndex = (fillIndex + 1) % (count + 1);
  return true;
}

int WaveBufferPool::SendNext(WaveOut* out) {
  if (!slots || sendIndex == fillIndex) return 0;
  WaveSlot& slot = slots[sendIndex];
  if (slot.header.dwFlags.load(std::memory_order_acquire) != 0) return 0;
  if (out != nullptr) {
    out->PrepareHeader(&slot.header);
    out->Write(&slot.header);
  }
  sendIndex = (sendIndex + 1) % (count + 1);
  return 1;
}

bool WaveBufferPool::AllDone() const {
  if (sendIndex != fillIndex) return false;
  for (uint32_t i = 0; slots && i <= count; ++i) {
    if (slots[i].header.dwFlags.load(std::memory_order_acquire) & WHDR_INQUEUE) return false;
  }
  return true;
}

bool WaveBufferPool::LastPlayed(uint32_t* position, uint32_t* nextPosition,
                                float* silenceRatio) const {
  if (!slots) return false;
  uint32_t i = sendIndex;
  do {
    i = (i + count) % (count + 1);  // one step back
    if (slots[i].header.dwFlags.load(std::memory_order_acquire) == (WHDR_DONE | WHDR_PREPARED)) {
      break;
    }
  } while (i != fillIndex);
  const WaveSlot& slot = slots[i];
  uint32_t p = slot.position.load(std::memory_order_relaxed);
  uint32_t n = slot.nextPosition.load(std::memory_order_relaxed);
  float r = slot.silenceRatio.load(std::memory_order_relaxed);
  if (slot.header.dwFlags.load(std::memory_order_acquire) != (WHDR_DONE | WHDR_PREPARED)) {
    // Every played slot has been filled again (the pool runs full): what the
    // device callback noted is the place, not the slot that happens to be next.
    p = lastPosition.load();
    n = lastNext.load();
    r = lastRatio.load();
  }
  if (p == 0 && n == 0) return false;
  *position = p;
  *nextPosition = n;
  if (silenceRatio != nullptr) *silenceRatio = r;
  return true;
}

void WaveBufferPool::NoteFinished(const WaveSlot& slot) {
  lastRatio.store(slot.silenceRatio.load(std::memory_order_relaxed));
  lastNext.store(slot.nextPosition.load(std::memory_order_relaxed));
  lastPosition.store(slot.position.load(std::memory_order_relaxed));
}

void WaveBufferPool::ResetDevice(WaveDevice* device) {
  if (device == nullptr || !device->IsOpen()) return;
  device->Reset();
  for (uint32_t i = 0; slots && i <= count; ++i) {
    if (slots[i].header.dwFlags.load(std::memory_order_acquire) != 0) {
      device->UnprepareHeader(&slots[i].header);
    }
  }
}

bool WaveBufferPool::AnyQueued() const {
  for (uint32_t i = 0; slots && i <= count; ++i) {
    if (slots[i].header.dwFlags.load(std::memory_order_acquire) & WHDR_INQUEUE) return true;
  }
  return false;
}

bool WaveBufferPool::Reset() {
  if (AnyQueued()) return false;
  for (uint32_t i = 0; slots && i <= count; ++i) {
    slots[i].header.dwFlags.store(0, std::memory_order_release);
    slots[i].position.store(0, std::memory_order_relaxed);
    slots[i].nextPosition.store(0, std::memory_order_relaxed);
  }
  sendIndex = fillIndex = 0;
  lastPosition = 0;
  lastNext = 0;
  return true;
}

bool WaveBufferPool::ResetLengths() {
  if (AnyQueued()) return false;
  for (uint32_t i = 0; slots && i <= count; ++i) {
    slots[i].header.dwBufferLength = bufferSize;
    slots[i].header.dwBytesRecorded = 0;
    slots[i].header.dwFlags.store(0, std::memory_order_release);
  }
  return true;
}

bool WaveBufferPool::QueueAllForInput(WaveIn* in) {
  if (in == nullptr || !slots || !ResetLengths()) return false;
  for (uint32_t i = 0; i <= count; ++i) {
    WaveHdr& h = slots[i].header;
    std::memset(h.lpData, 0, h.dwBufferLength);
    in->PrepareHeader(&h);
    in->AddBuffer(&h);
  }
  return true;
}

WaveSlot* WaveBufferPool::SlotAt(uint32_t i) {
  if (!slots || i > count) return nullptr;
  return &slots[i];
}
