// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <vector>

#include "audio/offline_clock.h"
#include "audio/offline_faults.h"
#include "audio/sound_source.h"
#include "audio/wave_in.h"

// An input device without a sound card: once started, buffers fill as the
// clock lets time pass, from the source's sound (from its start at every
// open), then with silence.
class OfflineWaveIn : public WaveIn {
 public:
  OfflineWaveIn(OfflineClock* clock, const SoundSource* source,
                const OfflineFaults* faults = nullptr);
  ~OfflineWaveIn() override;

 protected:
  bool OpenBackend(std::string* error) override;
  void CloseBackend() override;
  void Service(std::unique_lock<std::mutex>& lock) override;
  void ResetBackend() override { frontFilled = 0; }
  std::chrono::milliseconds PollInterval() const override { return std::chrono::milliseconds(50); }

 private:
  // Sound time of the first frames frames captured since the device opened.
  int64_t TimeOfFrames(uint64_t frames) const;

  OfflineClock* clock;
  const SoundSource* source;
  const OfflineFaults* faults;
  std::vector<uint8_t> sound;
  size_t cursor = 0;
  // The front buffer fills as sound time passes, frame by frame, so that a
  // reset hands back exactly what was captured (as a real device does).
  uint32_t frontFilled = 0;
  uint64_t framesCaptured = 0;
};
