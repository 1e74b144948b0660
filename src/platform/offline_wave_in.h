#pragma once

#include <vector>

#include "platform/offline_clock.h"
#include "platform/sound_source.h"
#include "platform/wave_in.h"

// An input device without a sound card: once started, each buffer is filled
// when the clock lets its duration pass, from the source's sound (from its
// start at every open), then with silence.
class OfflineWaveIn : public WaveIn {
 public:
  OfflineWaveIn(OfflineClock* clock, const SoundSource* source);
  ~OfflineWaveIn() override;

 protected:
  bool OpenBackend(std::string* error) override;
  void CloseBackend() override;
  void Service(std::unique_lock<std::mutex>& lock) override;
  std::chrono::milliseconds PollInterval() const override { return std::chrono::milliseconds(50); }

 private:
  OfflineClock* clock;
  const SoundSource* source;
  std::vector<uint8_t> sound;
  size_t cursor = 0;
};
