// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "codec/codec_server.h"

// Sound that the offline input device delivers as if it were captured: a file
// decoded once, then handed out in the device's format, followed by silence.
class SoundSource {
 public:
  // Decodes any file libsndfile reads; false with error set when it cannot.
  bool Load(const std::string& path, std::string* error);
  bool Loaded() const { return channels > 0; }

  // The whole sound as 16-bit PCM in format (rate and channel count converted);
  // empty for formats other than 16-bit PCM.
  std::vector<uint8_t> Render(const WaveFormatEx& format) const;

 private:
  // in: interleaved frames of channels at inRate; the same sound at outRate.
  static std::vector<float> Resample(const std::vector<float>& in, int channels, int inRate,
                                     int outRate);

  std::vector<int16_t> samples;  // interleaved
  int channels = 0;
  int rate = 0;
};
