// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "codec/codec_server.h"

namespace soundtouch {
class SoundTouch;
}

// Slows sound down with its pitch kept (SoundTouch's WSOLA, set for speech).
// Takes the file's own bytes and gives stretched sound in the same format.
// Counts run from the last Clear; output is counted in bytes, whole frames.
//
// Stretching needs sound ahead of what it gives out, so the end of a stream
// stays inside until Flush pushes it out. After a flush the next sound starts
// afresh: what comes out of a stretch of sound depends on that sound alone.
class TempoStretcher {
 public:
  static constexpr double kSlowest = 0.5;

  TempoStretcher();
  ~TempoStretcher();
  TempoStretcher(const TempoStretcher&) = delete;
  TempoStretcher& operator=(const TempoStretcher&) = delete;

  // For 8- or 16-bit sound of one or two channels; clears everything.
  void Configure(const WaveFormatEx& format);
  bool ConfiguredFor(const WaveFormatEx& format) const;
  // Clamped to kSlowest..1; applies to the sound put from now on.
  void SetTempo(double tempo);
  double Tempo() const { return tempo; }

  // Takes count bytes of sound (a partial frame waits for the rest). Returns
  // how many output bytes will have been given out once this sound has been:
  // its stretched end.
  uint64_t Put(const uint8_t* data, uint32_t count);
  // Pushes out all the sound put so far. Returns the output bytes there will
  // be once all of it is given out.
  uint64_t Flush();
  // Sound put since the last flush that has not all come out yet.
  bool Holding() const { return holding; }

  // Stretched bytes ready to be taken.
  uint64_t Available() const;
  // Copies up to maxBytes (whole frames) of stretched sound to out.
  uint32_t Take(uint8_t* out, uint32_t maxBytes);
  uint64_t Taken() const { return taken; }

  // Drops everything held, put or stretched, and starts the counts again.
  void Clear();

 private:
  void ToFloat(const uint8_t* in, uint32_t frames);
  void FromFloat(const float* in, uint32_t frames, uint8_t* out) const;

  std::unique_ptr<soundtouch::SoundTouch> touch;
  WaveFormatEx format{};
  uint32_t frameBytes = 0;
  double tempo = 1.0;
  std::vector<float> samples;  // conversion space, kChunkFrames frames
  uint8_t partial[4] = {};     // the start of a frame that has not all come
  uint32_t partialBytes = 0;
  std::vector<uint8_t> tail;  // the pushed-out end of the last flush
  size_t tailRead = 0;
  double expectedFrames = 0;  // output frames the sound put so far comes to
  uint64_t taken = 0;
  bool holding = false;
};
