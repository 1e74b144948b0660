// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// 16-bit PCM as the tests make and check it.

// seconds of a sine tone of hz, the same in every channel.
std::vector<uint8_t> ToneBytes(double hz, double seconds, int rate, int channels,
                               double amplitude = 12000);

// Sign changes of the first channel.
int ZeroCrossings(const std::vector<uint8_t>& pcm, int channels);

// The samples that are not 0: what a device played without the silence SDL's
// disk driver writes whenever nothing is queued.
std::string Sounding(const std::string& pcm);

// Sound at a volume level (0..0xFFFF), as the output device scales it.
std::string Scaled(const std::string& pcm, uint32_t level);

// bytes of 16-bit noise that never repeats: where a stretch of it is found
// tells where in the sound it lies.
std::string NoiseBytes(size_t bytes, unsigned seed);
