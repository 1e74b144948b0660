// SPDX-License-Identifier: GPL-3.0-or-later
#include "audio/wave_device.h"

#include <pthread.h>

#include "codec/playable_format.h"

WaveDevice::~WaveDevice() {
  // Derived classes close themselves; this only guards against a forgotten thread.
  if (thread.joinable()) {
    {
      std::lock_guard<std::mutex> lock(mutex);
      quit = true;
    }
    wake.notify_all();
    thread.join();
  }
}

bool WaveDevice::Open(const WaveFormatEx& newFormat, Callback newCallback) {
  if (open) {
    std::lock_guard<std::mutex> lock(mutex);
    error = "device already open";
    return false;
  }
  format = newFormat;
  callback = std::move(newCallback);
  std::string why;
  if (!IsPlayableFormat(format, &why)) {
    why = "cannot play a " + why;
  } else if (!OpenBackend(&why)) {
    if (why.empty()) why = "cannot open the sound device";
  }
  if (!why.empty()) {
    std::lock_guard<std::mutex> lock(mutex);
    error = why;
    return false;
  }
  {
    std::lock_guard<std::mutex> lock(mutex);
    quit = false;
    lost = false;
    head = tail = nullptr;
    error.clear();
  }
  thread = std::thread(&WaveDevice::ThreadMain, this);
  open = true;
  return true;
}

bool WaveDevice::Close() {
  if (!open) return false;
  {
    std::lock_guard<std::mutex> lock(mutex);
    if (head != nullptr) return false;  // buffers still queued
    quit = true;
  }
  closing = true;
  wake.notify_all();
  thread.join();
  CloseBackend();
  open = false;
  closing = false;
  return true;
}

std::string WaveDevice::LastError() const {
  std::lock_guard<std::mutex> lock(mutex);
  return error;
}

bool WaveDevice::PrepareHeader(WaveHdr* header) {
  if (header == nullptr || header->lpData == nullptr) return false;
  std::lock_guard<std::mutex> lock(mutex);
  const uint32_t flags = header->dwFlags.load(std::memory_order_acquire);
  if (flags & WHDR_INQUEUE) return false;
  header->dwFlags.store(flags | WHDR_PREPARED, std::memory_order_release);
  return true;
}

bool WaveDevice::UnprepareHeader(WaveHdr* header) {
  if (header == nullptr) return false;
  std::lock_guard<std::mutex> lock(mutex);
  const uint32_t flags = header->dwFlags.load(std::memory_order_acquire);
  if ((flags & WHDR_INQUEUE) || (inCallback && header == callbackHeader)) return false;
  header->dwFlags.store(flags & ~WHDR_PREPARED, std::memory_order_release);
  return true;
}

bool WaveDevice::Enqueue(WaveHdr* header) {
  if (header == nullptr || !open) return false;
  {
    std::lock_guard<std::mutex> lock(mutex);
    const uint32_t flags = header->dwFlags.load(std::memory_order_acquire);
    if (!(flags & WHDR_PREPARED) || (flags & WHDR_INQUEUE)) return false;
    header->dwFlags.store((flags & ~WHDR_DONE) | WHDR_INQUEUE, std::memory_order_release);
    header->lpNext = nullptr;
    if (tail != nullptr) {
      tail->lpNext = header;
    } else {
      head = header;
    }
    tail = header;
    if (!WantsBuffers()) return true;
    ++pokes;
  }
  wake.notify_all();
  return true;
}

bool WaveDevice::Reset() {
  if (!open) return false;
  std::unique_lock<std::mutex> lock(mutex);
  // A callback already under way finishes first, so that once Reset returns
  // the owner may reuse every buffer.
  callbackDone.wait(lock, [this] { return !inCallback; });
  ResetBackend();
  for (WaveHdr* h = head; h != nullptr;) {
    WaveHdr* next = h->lpNext;
    h->lpNext = nullptr;
    const uint32_t flags = h->dwFlags.load(std::memory_order_acquire);
    h->dwFlags.store((flags & ~WHDR_INQUEUE) | WHDR_DONE, std::memory_order_release);
    h = next;
  }
  head = tail = nullptr;
  return true;
}

void WaveDevice::FinishFront(std::unique_lock<std::mutex>& lock, uint32_t message) {
  WaveHdr* h = head;
  if (h == nullptr) return;
  head = h->lpNext;
  if (head == nullptr) tail = nullptr;
  h->lpNext = nullptr;
  const uint32_t flags = h->dwFlags.load(std::memory_order_acquire);
  h->dwFlags.store((flags & ~WHDR_INQUEUE) | WHDR_DONE, std::memory_order_release);
  if (!callback) return;
  inCallback = true;
  callbackHeader = h;
  lock.unlock();
  callback(this, message, h);
  lock.lock();
  inCallback = false;
  callbackHeader = nullptr;
  callbackDone.notify_all();
}

void WaveDevice::Poke() {
  {
    std::lock_guard<std::mutex> lock(mutex);
    ++pokes;
  }
  wake.notify_all();
}

int64_t WaveDevice::DurationOf(uint32_t bytes) const {
  return static_cast<int64_t>(bytes) * 1000000000LL / format.nAvgBytesPerSec;
}

void WaveDevice::ThreadMain() {
  pthread_setname_np(pthread_self(), ThreadName());
  std::unique_lock<std::mutex> lock(mutex);
  uint64_t seen = pokes;
  while (!quit) {
    Service(lock);
    if (quit) break;
    wake.wait_for(lock, PollInterval(), [&] { return quit || pokes != seen; });
    seen = pokes;
  }
}
