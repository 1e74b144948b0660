// SPDX-License-Identifier: GPL-3.0-or-later
#include "dsp/silence_meter.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

std::vector<uint8_t> Block16(const std::vector<int16_t>& pattern, size_t bytes = 5000) {
  std::vector<uint8_t> out(bytes + 2);
  for (size_t i = 0; i * 2 + 1 < bytes; ++i) {
    std::memcpy(&out[i * 2], &pattern[i % pattern.size()], 2);
  }
  return out;
}

float Measure(const std::vector<uint8_t>& block, uint32_t bytes, uint16_t bits, uint32_t percent,
              uint32_t vertical = 2) {
  std::atomic<uint32_t> p{percent};
  return MeasureSilence(block.data(), bytes, bits, p, vertical);
}

TEST(SilenceMeter, ThresholdAtTheDefaults) {
  // Stride 40 at 5 %: 125 left-channel samples looked at.
  EXPECT_FLOAT_EQ(Measure(Block16({0}), 5000, 16, 5), 1.0f);
  EXPECT_FLOAT_EQ(Measure(Block16({983, 20000}), 5000, 16, 5), 1.0f);  // 983 is level 2
  EXPECT_FLOAT_EQ(Measure(Block16({984, 0}), 5000, 16, 5), 0.0f);      // 984 is level 3
  EXPECT_FLOAT_EQ(Measure(Block16({-983, 0}), 5000, 16, 5), 1.0f);
  EXPECT_FLOAT_EQ(Measure(Block16({1000, -1000}), 5000, 16, 5), 0.0f);
  EXPECT_FLOAT_EQ(Measure(Block16({-32768}), 5000, 16, 5, 100), 1.0f);  // level -100
}

TEST(SilenceMeter, StrideFollowsThePercentage) {
  // Quiet samples every 8th byte only: seen at 25 % (stride 8), half seen at 50 % (stride 4).
  std::vector<int16_t> pattern = {0, 5000, 5000, 5000};
  EXPECT_FLOAT_EQ(Measure(Block16(pattern), 5000, 16, 25), 1.0f);
  EXPECT_FLOAT_EQ(Measure(Block16(pattern), 5000, 16, 50), 0.5f);
  EXPECT_FLOAT_EQ(Measure(Block16(pattern), 5000, 16, 100), 0.5f);
}

TEST(SilenceMeter, PercentIsClampedAndStoredBack) {
  std::vector<uint8_t> block = Block16({0});
  std::atomic<uint32_t> low{0}, high{200};
  MeasureSilence(block.data(), 5000, 16, low, 2);
  MeasureSilence(block.data(), 5000, 16, high, 2);
  EXPECT_EQ(low.load(), 5u);
  EXPECT_EQ(high.load(), 100u);
}

TEST(SilenceMeter, EightBitAndOtherWidths) {
  std::vector<uint8_t> mid(5002, 128);
  EXPECT_FLOAT_EQ(Measure(mid, 5000, 8, 5), 1.0f);  // stride 20
  std::vector<uint8_t> loud(5002, 250);
  EXPECT_FLOAT_EQ(Measure(loud, 5000, 8, 5), 0.0f);
  std::vector<uint8_t> zeros(5002, 0);
  EXPECT_FLOAT_EQ(Measure(zeros, 5000, 24, 5), 0.0f);
  EXPECT_FLOAT_EQ(Measure(zeros, 5000, 32, 5), 0.0f);
}

TEST(SilenceMeter, DivisorIsNotRounded) {
  // 5010 bytes at stride 40: 126 samples looked at over 125.25 strides.
  EXPECT_FLOAT_EQ(Measure(Block16({0}, 5010), 5010, 16, 5), static_cast<float>(126 / 125.25));
  // A short block is measured as 16 bytes: 1 sample over 0.4 strides.
  EXPECT_FLOAT_EQ(Measure(Block16({0}, 16), 4, 16, 5), static_cast<float>(1 / 0.4));
}

}  // namespace
