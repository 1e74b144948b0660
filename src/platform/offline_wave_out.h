#pragma once

#include <memory>
#include <vector>

#include "platform/offline_clock.h"
#include "platform/offline_faults.h"
#include "platform/wav_file_writer.h"
#include "platform/wave_out.h"

// An output device without a sound card: a buffer finishes as soon as the
// clock lets its duration pass, and its sound (volume applied) goes to the
// optional WAV sink.
class OfflineWaveOut : public WaveOut {
 public:
  OfflineWaveOut(OfflineClock* clock, WavFileWriter* sink, const OfflineFaults* faults = nullptr);
  ~OfflineWaveOut() override;

 protected:
  bool OpenBackend(std::string* error) override;
  void CloseBackend() override;
  void Service(std::unique_lock<std::mutex>& lock) override;
  std::chrono::milliseconds PollInterval() const override { return std::chrono::milliseconds(50); }

 private:
  // A buffer waits behind the one to finish.
  bool NextQueued();

  OfflineClock* clock;
  WavFileWriter* sink;
  const OfflineFaults* faults;
  int64_t finished = 0;
  std::vector<uint8_t> scratch;
};
