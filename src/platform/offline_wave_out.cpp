#include "platform/offline_wave_out.h"

#include <thread>

OfflineWaveOut::OfflineWaveOut(OfflineClock* c, WavFileWriter* s, const OfflineFaults* f)
    : clock(c), sink(s), faults(f) {}

OfflineWaveOut::~OfflineWaveOut() {
  Reset();
  Close();
}

bool OfflineWaveOut::OpenBackend(std::string* error) {
  if (faults != nullptr && faults->refuseOutput.load()) {
    *error = "the output device refused to open";
    return false;
  }
  finished = 0;
  scratch.resize(64 * 1024);
  clock->Register(this, [this] { Poke(); });
  return true;
}

void OfflineWaveOut::CloseBackend() {
  clock->Unregister(this);
  if (sink != nullptr) sink->Flush();
}

void OfflineWaveOut::Service(std::unique_lock<std::mutex>& lock) {
  const OfflineClock::DeviceState state{[this] { return Closing(); },
                                        [this] { return NextQueued(); }};
  while (!paused && HasQueued()) {
    if (clock->Paced()) {
      lock.unlock();
      clock->Pace(OfflineClock::kBeforeFinish, state);
      lock.lock();
      if (paused || !HasQueued()) break;  // reset or paused meanwhile
    }
    if (faults != nullptr) {
      const int64_t stall = faults->outputStallsAfter.load();
      if (stall >= 0 && finished >= stall) break;
      if (const int late = faults->latencyMs.load(); late > 0) {
        lock.unlock();
        std::this_thread::sleep_for(std::chrono::milliseconds(late));
        lock.lock();
        if (paused || !HasQueued()) break;
      }
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
    ++finished;
    FinishFront(lock, MM_WOM_DONE);
    if (clock->Paced()) {
      lock.unlock();
      clock->Pace(OfflineClock::kAfterFinish, state);
      lock.lock();
    }
  }
}

bool OfflineWaveOut::NextQueued() {
  std::lock_guard<std::mutex> lock(mutex);
  return HasQueued() && Front()->lpNext != nullptr;
}
