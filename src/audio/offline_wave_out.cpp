// SPDX-License-Identifier: GPL-3.0-or-later
#include "audio/offline_wave_out.h"

#include <algorithm>
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
  stretched.resize(64 * 1024);
  clock->Register(this, [this] { Poke(); });
  return true;
}

void OfflineWaveOut::CloseBackend() {
  clock->Unregister(this);
  if (sink != nullptr) sink->Flush();
}

void OfflineWaveOut::Service(std::unique_lock<std::mutex>& lock) {
  if (faults != nullptr && faults->loseOutput.load()) {
    MarkLost();
    return;
  }
  const OfflineClock::DeviceState state{[this] { return Closing(); },
                                        [this] { return FrontReady(); }};
  while (!paused && HasQueued()) {
    bool endOfQueue = false;
    if (clock->Paced()) {
      lock.unlock();
      endOfQueue = clock->Pace(OfflineClock::kBeforeFinish, state);
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
    const bool stretching = Stretching();
    uint32_t bytes = h->dwBufferLength;
    if (stretching) {
      if (!StretchFront(clock->Paced(), endOfQueue)) break;
      bytes = h->reserved > stretcher.Taken()
                  ? static_cast<uint32_t>(h->reserved - stretcher.Taken())
                  : 0;
    }
    if (!clock->TryConsume(DurationOf(bytes))) break;
    if (stretching) {
      while (bytes > 0) {
        const uint32_t n =
            stretcher.Take(stretched.data(), std::min<uint32_t>(bytes, stretched.size()));
        if (n == 0) break;
        Play(stretched.data(), n);
        bytes -= n;
      }
    } else {
      Play(h->lpData, bytes);
    }
    ++finished;
    if (stretching) {
      FinishStretchedFront(lock);
    } else {
      FinishFront(lock, MM_WOM_DONE);
    }
    if (clock->Paced()) {
      lock.unlock();
      clock->Pace(OfflineClock::kAfterFinish, state);
      lock.lock();
    }
  }
}

void OfflineWaveOut::Play(const uint8_t* data, uint32_t count) {
  if (sink == nullptr || count == 0) return;
  // Buffers are rarely larger than the scratch space; growing it then is
  // an exception, not the rule.
  if (scratch.size() < count) scratch.resize(count);
  ApplyVolume(data, scratch.data(), count, 0);
  sink->Append(format, scratch.data(), count);
}

bool OfflineWaveOut::StretchFront(bool paced, bool endOfQueue) {
  if (!StretchFrontMade()) {
    // Paced, the pacer knows whether more will come; unpaced, a while without
    // anything new tells.
    if (paced ? !endOfQueue : !DryLongEnough()) return false;
    FlushStretcher();
  }
  NotDry();
  return true;
}

bool OfflineWaveOut::FrontReady() {
  std::lock_guard<std::mutex> lock(mutex);
  if (!HasQueued()) return false;
  return Stretching() ? StretchFrontMade() : Front()->lpNext != nullptr;
}
