// SPDX-License-Identifier: GPL-3.0-or-later
#include "dsp/silence_meter.h"

#include <cstring>

namespace {
uint32_t RoundUpTo4(uint32_t n) {
  return (n + 3) / 4 * 4;
}
}  // namespace

float MeasureSilence(const uint8_t* data, uint32_t bytes, uint16_t bitsPerSample,
                     std::atomic<uint32_t>& samplePercent, uint32_t verticalPrecision) {
  uint32_t percent = samplePercent.load(std::memory_order_relaxed);
  if (percent < 5 || percent > 100) {
    percent = percent < 5 ? 5 : 100;
    samplePercent.store(percent, std::memory_order_relaxed);
  }
  if (bytes < 16) bytes = 16;  // the buffer always holds at least that much
  const uint32_t bytesPerSample = bitsPerSample / 8;
  uint32_t stride;
  if (bytesPerSample == 2) {
    stride = RoundUpTo4(200 / percent);
  } else if (bytesPerSample == 1) {
    stride = RoundUpTo4(100 / percent);
  } else {
    return 0.0f;  // unmeasured: the quiet count stays 0
  }
  uint32_t quiet = 0;
  for (uint32_t offset = 0; offset < bytes; offset += stride) {
    int32_t level;
    if (bytesPerSample == 2) {
      if (offset + 1 >= bytes) break;
      int16_t s;
      std::memcpy(&s, data + offset, 2);
      level = s * 100 / 32767;
    } else {
      level = (static_cast<int32_t>(data[offset]) - 128) * 100 / 128;
    }
    const uint32_t magnitude = static_cast<uint32_t>(level < 0 ? -level : level);
    if (magnitude <= verticalPrecision) ++quiet;
  }
  return static_cast<float>(static_cast<double>(quiet) /
                            (static_cast<double>(bytes) / static_cast<double>(stride)));
}
