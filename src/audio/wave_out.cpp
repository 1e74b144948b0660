// SPDX-License-Identifier: GPL-3.0-or-later
#include "audio/wave_out.h"

#include <algorithm>
#include <cstring>

bool WaveOut::Pause() {
  if (!IsOpen()) return false;
  {
    std::lock_guard<std::mutex> lock(mutex);
    paused = true;
    PauseBackend(true);
  }
  Poke();
  return true;
}

bool WaveOut::Restart() {
  if (!IsOpen()) return false;
  {
    std::lock_guard<std::mutex> lock(mutex);
    paused = false;
    PauseBackend(false);
  }
  Poke();
  return true;
}

bool WaveOut::Paused() const {
  std::lock_guard<std::mutex> lock(mutex);
  return paused;
}

bool WaveOut::SetVolume(uint32_t value) {
  if (!IsOpen()) return false;
  volume.store(value);
  return true;
}

bool WaveOut::SetTempo(double tempo) {
  if (!IsOpen()) return false;
  std::lock_guard<std::mutex> lock(mutex);
  if (HasQueued()) return false;
  if (!stretcher.ConfiguredFor(format)) stretcher.Configure(format);
  stretcher.Clear();
  stretcher.SetTempo(tempo);
  fed = 0;
  lastFed = nullptr;
  dry = false;
  return true;
}

double WaveOut::Tempo() const {
  std::lock_guard<std::mutex> lock(mutex);
  return stretcher.Tempo();
}

void WaveOut::ResetBackend() {
  stretcher.Clear();
  fed = 0;
  lastFed = nullptr;
  dry = false;
}

bool WaveOut::FeedNext() {
  WaveHdr* next = lastFed != nullptr ? lastFed->lpNext : Front();
  if (next == nullptr) return false;
  next->reserved = static_cast<uintptr_t>(stretcher.Put(next->lpData, next->dwBufferLength));
  lastFed = next;
  ++fed;
  return true;
}

bool WaveOut::FrontStretchedBy(uint64_t given) const {
  return fed > 0 && Front()->reserved <= given;
}

bool WaveOut::StretchFrontMade() {
  while (!FrontStretchedBy(stretcher.Taken() + stretcher.Available())) {
    if (!FeedNext()) return false;
  }
  return true;
}

bool WaveOut::DryLongEnough() {
  const auto now = std::chrono::steady_clock::now();
  if (!dry) {
    dry = true;
    drySince = now;
  }
  return now - drySince >= std::chrono::milliseconds(20);
}

void WaveOut::FlushStretcher() {
  const uint64_t total = stretcher.Flush();
  // The stretched sound may come out a little longer or shorter than its
  // nominal length: the last fed buffer takes the difference.
  WaveHdr* h = Front();
  for (uint32_t i = 0; i < fed && h != nullptr; ++i, h = h->lpNext)
    h->reserved = static_cast<uintptr_t>(std::min<uint64_t>(h->reserved, total));
  if (lastFed != nullptr) lastFed->reserved = static_cast<uintptr_t>(total);
}

void WaveOut::FinishStretchedFront(std::unique_lock<std::mutex>& lock) {
  if (fed > 0 && --fed == 0) lastFed = nullptr;
  FinishFront(lock, MM_WOM_DONE);
}

void WaveOut::ApplyVolume(const uint8_t* in, uint8_t* out, uint32_t count, uint32_t offset) const {
  const uint32_t v = volume.load();
  const uint32_t left = v & 0xFFFF;
  const uint32_t right = v >> 16;
  if ((left == 0xFFFF && right == 0xFFFF) ||
      (format.wBitsPerSample != 8 && format.wBitsPerSample != 16)) {
    std::memcpy(out, in, count);
    return;
  }
  const uint32_t channels = format.nChannels;
  const uint32_t bytes = format.wBitsPerSample / 8;
  uint32_t i = 0;
  uint32_t channel = (offset / bytes) % channels;
  if (offset % bytes != 0) {  // a chunk that starts inside a sample: leave that sample alone
    i = bytes - offset % bytes;
    std::memcpy(out, in, std::min(i, count));
    if (i >= count) return;
    channel = (channel + 1) % channels;
  }
  for (; i + bytes <= count; i += bytes) {
    // Channels beyond two take the right level, as a stereo device would.
    const int64_t level = (channel == 0) ? left : right;
    if (bytes == 2) {
      int16_t s;
      std::memcpy(&s, in + i, 2);
      s = static_cast<int16_t>(s * level / 0xFFFF);
      std::memcpy(out + i, &s, 2);
    } else {
      out[i] = static_cast<uint8_t>(128 + (static_cast<int>(in[i]) - 128) * level / 0xFFFF);
    }
    if (++channel == channels) channel = 0;
  }
  std::memcpy(out + i, in + i, count - i);  // an odd trailing byte passes unchanged
}
