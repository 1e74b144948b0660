// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <memory>
#include <vector>

#include "audio/offline_clock.h"
#include "audio/offline_faults.h"
#include "audio/wave_out.h"
#include "export/wav_file_writer.h"

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
  // The front buffer may finish without waiting for more: a buffer waits
  // behind it or, when stretching, its stretched sound is all there.
  bool FrontReady();
  // Stretching: readies the front buffer's stretched sound, pushing out the
  // end of the queue when nothing more will come: paced, when the pacer says
  // so; unpaced, when nothing has come for a while. False to wait for more.
  bool StretchFront(bool paced, bool endOfQueue);
  // Plays count bytes to the sink.
  void Play(const uint8_t* data, uint32_t count);

  OfflineClock* clock;
  WavFileWriter* sink;
  const OfflineFaults* faults;
  int64_t finished = 0;
  std::vector<uint8_t> scratch;
  std::vector<uint8_t> stretched;
};
