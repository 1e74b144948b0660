// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "audio/pulse_link.h"
#include "audio/stream_wave_out.h"

// Plays through a PulseAudio stream (PipeWire's pulse server too). The server
// holds about 100 ms ahead, which a busy machine does not break, while a reset
// drops what it holds at once (a new stream) and a pause corks the stream: a
// command is heard within a few milliseconds. A buffer is done once the server
// says it has been played, sink latency included.
class PulseWaveOut : public StreamWaveOut {
 public:
  PulseWaveOut() = default;
  ~PulseWaveOut() override;

 protected:
  bool OpenBackend(std::string* error) override;
  void CloseBackend() override;
  void ResetBackend() override;
  void PauseBackend(bool pause) override;
  uint32_t Ahead() override;
  uint32_t Room() override;
  void Hand(const uint8_t* data, uint32_t count) override;
  bool StreamGone() override;
  bool StallMeansLost() const override { return false; }
  bool HandsOverInHalves() const override { return true; }
  void AllHanded() override;

 private:
  // With the link locked: a new stream, corked when paused; false with error.
  bool NewStream(std::string* error);
  void DropStream();
  // With the link locked: asks for fresh timing while the clock stands at
  // usec and sound waits to be heard.
  void RefreshStandingClockLocked(pa_usec_t usec, bool waiting);

  PulseLink link;
  pa_sample_spec spec{};
  pa_stream* stream = nullptr;
  uint64_t written = 0;  // bytes written to the stream
  // The last sound written waits in the sink, whose clock the stream's time
  // then never reaches: a drain tells when it has been played. Both are the
  // link's (its lock).
  pa_operation* drain = nullptr;
  uint64_t drainedTo = 0;   // bytes of the stream played out whole
  uint64_t drainingTo = 0;  // what the pending drain will have played out
  // A timing update asked for while the clock stood (the link's lock), and
  // the clock as last read.
  pa_operation* timing = nullptr;
  pa_usec_t lastTime = 0;
};
