#include "platform/offline_wave_in.h"

#include <algorithm>
#include <cstring>

OfflineWaveIn::OfflineWaveIn(OfflineClock* c, const SoundSource* s) : clock(c), source(s) {}

OfflineWaveIn::~OfflineWaveIn() {
  Reset();
  Close();
}

bool OfflineWaveIn::OpenBackend(std::string*) {
  sound = source != nullptr ? source->Render(format) : std::vector<uint8_t>();
  cursor = 0;
  clock->Register(this, &WaveDevice::PokeDevice);
  return true;
}

void OfflineWaveIn::CloseBackend() {
  clock->Unregister(this);
  sound.clear();
  sound.shrink_to_fit();
}

void OfflineWaveIn::Service(std::unique_lock<std::mutex>& lock) {
  while (started && HasQueued()) {
    WaveHdr* h = Front();
    if (!clock->TryConsume(DurationOf(h->dwBufferLength))) break;
    const size_t fromSound = std::min<size_t>(h->dwBufferLength, sound.size() - cursor);
    std::memcpy(h->lpData, sound.data() + cursor, fromSound);
    const uint8_t silence = format.wBitsPerSample == 8 ? 0x80 : 0;
    std::memset(h->lpData + fromSound, silence, h->dwBufferLength - fromSound);
    cursor += fromSound;
    h->dwBytesRecorded = h->dwBufferLength;
    FinishFront(lock, MM_WIM_DATA);
  }
}
