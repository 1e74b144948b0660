#pragma once

#include <memory>
#include <vector>

#include "platform/offline_clock.h"
#include "platform/wav_file_writer.h"
#include "platform/wave_out.h"

// An output device without a sound card: a buffer finishes as soon as the
// clock lets its duration pass, and its sound (volume applied) goes to the
// optional WAV sink.
class OfflineWaveOut : public WaveOut {
 public:
  OfflineWaveOut(OfflineClock* clock, WavFileWriter* sink);
  ~OfflineWaveOut() override;

 protected:
  bool OpenBackend(std::string* error) override;
  void CloseBackend() override;
  void Service(std::unique_lock<std::mutex>& lock) override;
  std::chrono::milliseconds PollInterval() const override { return std::chrono::milliseconds(50); }

 private:
  static bool Stopping(void* device);
  static bool NextQueued(void* device);

  OfflineClock* clock;
  WavFileWriter* sink;
  std::vector<uint8_t> scratch;
};
