#include "platform/offline_wave_out.h"

OfflineWaveOut::OfflineWaveOut(OfflineClock* c, WavFileWriter* s) : clock(c), sink(s) {}

OfflineWaveOut::~OfflineWaveOut() {
  Reset();
  Close();
}

bool OfflineWaveOut::OpenBackend(std::string*) {
  scratch.resize(64 * 1024);
  clock->Register(this, &WaveDevice::PokeDevice);
  return true;
}

void OfflineWaveOut::CloseBackend() {
  clock->Unregister(this);
  if (sink != nullptr) sink->Flush();
}

void OfflineWaveOut::Service(std::unique_lock<std::mutex>& lock) {
  const OfflineClock::DeviceState state{this, &OfflineWaveOut::Stopping,
                                        &OfflineWaveOut::NextQueued};
  while (!paused && HasQueued()) {
    if (clock->Paced()) {
      lock.unlock();
      clock->Pace(OfflineClock::kBeforeFinish, state);
      lock.lock();
      if (paused || !HasQueued()) break;  // reset or paused meanwhile
    }
    WaveHdr* h = Front();
    if (!clock->TryConsume(DurationOf(h->dwBufferLength))) break;
    if (sink != nullptr && h->dwBufferLength > 0) {
      // Buffers are rarely larger than the scratch space; growing it then is
      // an exception, not the rule.
      if (scratch.size() < h->dwBufferLength) scratch.resize(h->dwBufferLength);
      ApplyVolume(h->lpData, scratch.data(), h->dwBufferLength, 0);
      sink->Append(format, scratch.data(), h->dwBufferLength);
    }
    FinishFront(lock, MM_WOM_DONE);
    if (clock->Paced()) {
      lock.unlock();
      clock->Pace(OfflineClock::kAfterFinish, state);
      lock.lock();
    }
  }
}

bool OfflineWaveOut::Stopping(void* device) {
  return static_cast<OfflineWaveOut*>(device)->Closing();
}

bool OfflineWaveOut::NextQueued(void* device) {
  auto* self = static_cast<OfflineWaveOut*>(device);
  std::lock_guard<std::mutex> lock(self->mutex);
  return self->HasQueued() && self->Front()->lpNext != nullptr;
}
