// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <atomic>
#include <chrono>
#include <vector>

#include "audio/wave_device.h"
#include "dsp/tempo_stretcher.h"

// A sound output device: buffers written to it are played in order; each
// finished buffer is marked done and reported with MM_WOM_DONE.
class WaveOut : public WaveDevice {
 public:
  bool Write(WaveHdr* header) { return Enqueue(header); }
  bool Pause();
  bool Restart();
  bool Paused() const;
  // Low word left, high word right; 0xFFFF is full level.
  bool SetVolume(uint32_t volume);
  uint32_t Volume() const { return volume.load(); }
  // Plays slower with the pitch kept, at tempo 0.5..1; at 1 every buffer plays
  // as it is. A buffer is done once the stretched sound made from it has been
  // played. Refused while buffers are queued: a reset comes first.
  bool SetTempo(double tempo);
  double Tempo() const;

 protected:
  // Copies count bytes of sound to out with the volume applied; offset is where
  // in its buffer the first byte lies, so that channels are told apart. 8- and
  // 16-bit samples are scaled; other widths pass unchanged.
  void ApplyVolume(const uint8_t* in, uint8_t* out, uint32_t count, uint32_t offset) const;
  virtual void PauseBackend(bool /*pause*/) {}
  const char* ThreadName() const override { return "wave-out"; }
  // Drops what the stretcher holds. Backends that reset more call this too.
  void ResetBackend() override;

  // The stretching the backends share; all under the lock.
  bool Stretching() const { return stretcher.Tempo() < 1.0; }
  // Gives the stretcher the next queued buffer it has not had yet; false when
  // it has had them all.
  bool FeedNext();
  // The front buffer's stretched sound is all out once given bytes of output are.
  bool FrontStretchedBy(uint64_t given) const;
  // Feeds the stretcher until the front buffer's stretched sound is all made;
  // false when everything queued is in and it is not (its end awaits a flush).
  bool StretchFrontMade();
  // Pushes out the end of what was fed, so that every fed buffer can finish.
  void FlushStretcher();
  // Called while the stretcher has had everything queued and gives no more:
  // true once that has lasted long enough to take it for the end of the sound,
  // not a buffer written a moment late.
  bool DryLongEnough();
  void NotDry() { dry = false; }
  // FinishFront for a buffer the stretcher has had.
  void FinishStretchedFront(std::unique_lock<std::mutex>& lock);

  bool paused = false;  // guarded by mutex
  TempoStretcher stretcher;

 private:
  std::atomic<uint32_t> volume{0xFFFFFFFFu};
  // Queued buffers, from the front, that the stretcher has had whole (each
  // knows its stretched end in reserved), and the last of them.
  uint32_t fed = 0;
  WaveHdr* lastFed = nullptr;
  std::chrono::steady_clock::time_point drySince{};
  bool dry = false;
};
