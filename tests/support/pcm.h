#pragma once

#include <cstdint>
#include <vector>

// seconds of a sine tone of hz as 16-bit PCM, the same in every channel.
std::vector<uint8_t> ToneBytes(double hz, double seconds, int rate, int channels,
                               double amplitude = 12000);

// Sign changes of the first channel of 16-bit PCM.
int ZeroCrossings(const std::vector<uint8_t>& pcm, int channels);
