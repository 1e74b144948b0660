// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>

#include "codec/codec_server.h"

// Whether a sound device can play format as it stands: PCM of 8 or 16 bits, one
// or two channels, 5000 to 192000 frames a second, and the derived fields
// (block align, bytes per second) in agreement with the rest. False, with why
// set when given, for anything else: a file claiming such a format is broken.
// Inline, so that plug-ins compiled against the interface alone can use it.
inline bool IsPlayableFormat(const WaveFormatEx& f, std::string* why = nullptr) {
  const char* problem = nullptr;
  if (f.wFormatTag != kWaveFormatPcm) {
    problem = "not PCM";
  } else if (f.wBitsPerSample != 8 && f.wBitsPerSample != 16) {
    problem = "samples are neither 8 nor 16 bits";
  } else if (f.nChannels != 1 && f.nChannels != 2) {
    problem = "neither mono nor stereo";
  } else if (f.nSamplesPerSec < 5000 || f.nSamplesPerSec > 192000) {
    problem = "a sample rate outside 5000..192000 Hz";
  } else if (f.nBlockAlign != f.nChannels * f.wBitsPerSample / 8) {
    problem = "a block align that does not match its channels and bits";
  } else if (f.nAvgBytesPerSec != f.nSamplesPerSec * f.nBlockAlign) {
    problem = "a byte rate that does not match its sample rate";
  }
  if (problem != nullptr && why != nullptr) *why = std::string("sound format with ") + problem;
  return problem == nullptr;
}
