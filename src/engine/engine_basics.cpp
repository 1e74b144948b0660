// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/engine_basics.h"

#include <algorithm>

#include "dsp/tempo_stretcher.h"

uint32_t EngineBasics::VolumeValue(int volume, int volumeMax, int balance, int balanceMax) {
  const uint32_t level = static_cast<uint32_t>(volume * (65535.0 / volumeMax));
  const int half = balanceMax / 2;
  if (half == 0) return level << 16 | level;
  // The low word is the left channel: the slider's left end is the learner's left.
  const uint32_t right = level * static_cast<uint32_t>(std::min(half, balance)) / half;
  const uint32_t left = level * static_cast<uint32_t>(std::min(half, balanceMax - balance)) / half;
  return right * 65536 + left;
}

uint32_t EngineBasics::SpeedRate(uint32_t fileRate, int position, int maximum) {
  // At rest the slider plays the file as it is (22050 Hz, not 22000).
  if (maximum <= 0 || position <= 0) return fileRate;
  if (position >= maximum) position = maximum - 1;
  const uint32_t slower = static_cast<uint32_t>(static_cast<double>(position) / maximum * fileRate);
  const uint32_t rate = (fileRate - slower) / 100 * 100;
  return std::max<uint32_t>(rate, 5000);
}

double EngineBasics::SpeedTempo(int position, int maximum) {
  if (maximum <= 0 || position <= 0) return 1.0;
  return std::max(static_cast<double>(maximum - std::min(position, maximum)) / maximum,
                  TempoStretcher::kSlowest);
}

double EngineBasics::SpeedFactor(int position, int maximum, bool keepPitch, uint32_t fileRate) {
  if (keepPitch) return SpeedTempo(position, maximum);
  if (fileRate == 0) return 1.0;
  return static_cast<double>(SpeedRate(fileRate, position, maximum)) / fileRate;
}

uint32_t EngineBasics::WindowBlocks(uint32_t avgBytesPerSec, float seconds) {
  const float bytes = static_cast<float>(avgBytesPerSec) * seconds;
  const uint32_t whole = bytes > 0 ? static_cast<uint32_t>(bytes) : 0;
  return (whole + kBlockSize / 2) / kBlockSize;
}

const char* EngineBasics::ModeName(uint32_t flags) {
  if (flags & ENG_RECORDING) return "recording";
  if (flags & ENG_REPEATING) return "repeating";
  if (flags & ENG_PLAYING_BACK) return "playing-back";
  if (flags & ENG_COMPARING) return "comparing";
  if (flags & ENG_PLAYING) return "reading";
  return "idle";
}
