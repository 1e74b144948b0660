// SPDX-License-Identifier: GPL-3.0-or-later
#include "pcm.h"

#include <cmath>
#include <cstring>
#include <random>

std::vector<uint8_t> ToneBytes(double hz, double seconds, int rate, int channels,
                               double amplitude) {
  const size_t frames = static_cast<size_t>(seconds * rate);
  std::vector<uint8_t> out(frames * channels * 2);
  for (size_t i = 0; i < frames; ++i) {
    const int16_t s =
        static_cast<int16_t>(std::lround(amplitude * std::sin(2 * M_PI * hz * i / rate)));
    for (int c = 0; c < channels; ++c)
      std::memcpy(&out[(i * channels + c) * 2], &s, 2);
  }
  return out;
}

int ZeroCrossings(const std::vector<uint8_t>& pcm, int channels) {
  int n = 0;
  int16_t last = 0;
  for (size_t i = 0; i + 1 < pcm.size(); i += 2 * channels) {
    int16_t s;
    std::memcpy(&s, &pcm[i], 2);
    if ((s >= 0) != (last >= 0)) ++n;
    last = s;
  }
  return n;
}

std::string Sounding(const std::string& pcm) {
  std::string out;
  for (size_t i = 0; i + 1 < pcm.size(); i += 2) {
    if (pcm[i] != 0 || pcm[i + 1] != 0) out.append(pcm, i, 2);
  }
  return out;
}

std::string Scaled(const std::string& pcm, uint32_t level) {
  std::string out = pcm;
  for (size_t i = 0; i + 1 < out.size(); i += 2) {
    int16_t s;
    std::memcpy(&s, &out[i], 2);
    s = static_cast<int16_t>(s * static_cast<int64_t>(level) / 0xFFFF);
    std::memcpy(&out[i], &s, 2);
  }
  return out;
}

std::string NoiseBytes(size_t bytes, unsigned seed) {
  std::mt19937 random(seed);
  std::string pcm(bytes, '\0');
  for (char& c : pcm)
    c = static_cast<char>(random());
  return pcm;
}
