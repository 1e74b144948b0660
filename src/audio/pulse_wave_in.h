// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <chrono>
#include <vector>

#include "audio/pulse_link.h"
#include "audio/wave_in.h"

// Records through a PulseAudio record stream (PipeWire's pulse server too),
// corked until Start.
class PulseWaveIn : public WaveIn {
 public:
  PulseWaveIn() = default;
  ~PulseWaveIn() override;

 protected:
  bool OpenBackend(std::string* error) override;
  void CloseBackend() override;
  void Service(std::unique_lock<std::mutex>& lock) override;
  void ResetBackend() override;
  void StartBackend(bool start) override;
  std::chrono::milliseconds PollInterval() const override { return std::chrono::milliseconds(20); }

 private:
  // Moves what the stream has captured into carry; false when it has nothing.
  bool TakeCaptured();
  // Copies what carry holds into h, as much as it takes; true when h is full.
  bool CopyCarryInto(WaveHdr* h);
  // Fills the queued buffers from carry, finishing each one filled.
  void FillFromCarry(std::unique_lock<std::mutex>* lock);

  PulseLink link;
  pa_stream* stream = nullptr;
  std::vector<uint8_t> carry;  // captured, not yet in a buffer
  size_t carryAt = 0;
};
