// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

struct SwrContext;

// Interleaved 16-bit sound from one sample rate to another (libswresample),
// piece by piece: what a piece leaves in the filter comes out with the next
// piece or with Drain.
class RateConverter {
 public:
  RateConverter() = default;
  ~RateConverter();
  RateConverter(const RateConverter&) = delete;
  RateConverter& operator=(const RateConverter&) = delete;

  bool Open(int channels, int fromRate, int toRate);
  // Appends the converted frames of in to out; false when the converter fails.
  bool Convert(const int16_t* in, size_t frames, std::vector<int16_t>* out);
  // Appends what the filter still holds, once the last piece is in.
  bool Drain(std::vector<int16_t>* out);

 private:
  SwrContext* context = nullptr;
  int channels = 0;
};
