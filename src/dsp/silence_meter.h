// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <atomic>
#include <cstdint>

// The share of sampled values in a block that are quiet: |level| at most
// verticalPrecision percent of full scale. Only every stride-th byte is looked
// at (samplePercent of the samples, clamped to 5..100 and stored back). Blocks
// of other than 8- or 16-bit samples measure 0.
float MeasureSilence(const uint8_t* data, uint32_t bytes, uint16_t bitsPerSample,
                     std::atomic<uint32_t>& samplePercent, uint32_t verticalPrecision);
