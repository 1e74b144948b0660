// SPDX-License-Identifier: GPL-3.0-or-later
#include "audio/offline_wave_in.h"

#include <algorithm>
#include <cstring>

OfflineWaveIn::OfflineWaveIn(OfflineClock* c, const SoundSource* s, const OfflineFaults* f)
    : clock(c), source(s), faults(f) {}

OfflineWaveIn::~OfflineWaveIn() {
  Reset();
  Close();
}

bool OfflineWaveIn::OpenBackend(std::string* error) {
  if (faults != nullptr && faults->refuseInput.load()) {
    *error = "the input device refused to open";
    return false;
  }
  sound = source != nullptr ? source->Render(format) : std::vector<uint8_t>();
  cursor = 0;
  frontFilled = 0;
  framesCaptured = 0;
  clock->Register(this, [this] { Poke(); });
  return true;
}

void OfflineWaveIn::CloseBackend() {
  clock->Unregister(this);
  sound.clear();
  sound.shrink_to_fit();
}

int64_t OfflineWaveIn::TimeOfFrames(uint64_t frames) const {
  return static_cast<int64_t>(static_cast<__int128>(frames) * 1000000000 / format.nSamplesPerSec);
}

void OfflineWaveIn::Service(std::unique_lock<std::mutex>& lock) {
  const uint32_t align = format.nBlockAlign;
  while (started && HasQueued()) {
    WaveHdr* h = Front();
    const uint64_t room = (h->dwBufferLength - std::min(frontFilled, h->dwBufferLength)) / align;
    // As many frames as the sound time allows, counted from the device's
    // first frame so that rounding never adds up.
    const int64_t now = TimeOfFrames(framesCaptured);
    const int64_t available = clock->Available();
    uint64_t frames = room;
    if (available != INT64_MAX) {
      const __int128 reach = static_cast<__int128>(now + available) * format.nSamplesPerSec;
      frames = std::min<uint64_t>(room, static_cast<uint64_t>(reach / 1000000000) - framesCaptured);
    }
    if (room > 0 && frames == 0) {
      clock->TryConsume(TimeOfFrames(framesCaptured + 1) - now);  // records the refusal
      break;
    }
    if (frames > 0 && !clock->TryConsume(TimeOfFrames(framesCaptured + frames) - now)) break;
    framesCaptured += frames;
    const size_t bytes = static_cast<size_t>(frames) * align;
    const size_t fromSound = std::min(bytes, sound.size() - cursor);
    std::memcpy(h->lpData + frontFilled, sound.data() + cursor, fromSound);
    const uint8_t silence = format.wBitsPerSample == 8 ? 0x80 : 0;
    std::memset(h->lpData + frontFilled + fromSound, silence, bytes - fromSound);
    cursor += fromSound;
    frontFilled += static_cast<uint32_t>(bytes);
    h->dwBytesRecorded = frontFilled;
    if (frontFilled + align > h->dwBufferLength) {
      frontFilled = 0;
      FinishFront(lock, MM_WIM_DATA);
    }
  }
}
