// SPDX-License-Identifier: GPL-3.0-or-later
#include "dsp/tempo_stretcher.h"

#include <soundtouch/SoundTouch.h>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {
constexpr uint32_t kChunkFrames = 2048;

// Speech: short sequences follow syllables closely; a short seek window and
// overlap keep the cost down. The quick seek finds nearly the same splice
// points at a quarter of the cost, which matters when a drill stretches its
// whole output. At rate 1 nothing needs the anti-alias filter.
void SetForSpeech(soundtouch::SoundTouch& touch) {
  touch.setSetting(SETTING_SEQUENCE_MS, 40);
  touch.setSetting(SETTING_SEEKWINDOW_MS, 15);
  touch.setSetting(SETTING_OVERLAP_MS, 8);
  touch.setSetting(SETTING_USE_QUICKSEEK, 1);
  touch.setSetting(SETTING_USE_AA_FILTER, 0);
}
}  // namespace

TempoStretcher::TempoStretcher() : samples(kChunkFrames * 2) {}

TempoStretcher::~TempoStretcher() = default;

void TempoStretcher::Configure(const WaveFormatEx& f) {
  format = f;
  frameBytes = std::max<uint32_t>(1, f.nChannels * (f.wBitsPerSample / 8));
  touch = std::make_unique<soundtouch::SoundTouch>();
  touch->setChannels(std::clamp<uint32_t>(f.nChannels, 1, 2));
  touch->setSampleRate(std::max<uint32_t>(f.nSamplesPerSec, 1));
  SetForSpeech(*touch);
  touch->setTempo(tempo);
  Clear();
}

bool TempoStretcher::ConfiguredFor(const WaveFormatEx& f) const {
  return touch && format.nChannels == f.nChannels && format.nSamplesPerSec == f.nSamplesPerSec &&
         format.wBitsPerSample == f.wBitsPerSample;
}

void TempoStretcher::SetTempo(double value) {
  tempo = std::clamp(value, kSlowest, 1.0);
  if (touch) touch->setTempo(tempo);
}

uint64_t TempoStretcher::Put(const uint8_t* data, uint32_t count) {
  if (!touch || count == 0) return static_cast<uint64_t>(std::llround(expectedFrames)) * frameBytes;
  holding = true;
  if (partialBytes > 0) {
    const uint32_t n = std::min(count, frameBytes - partialBytes);
    std::memcpy(partial + partialBytes, data, n);
    partialBytes += n;
    data += n;
    count -= n;
    if (partialBytes == frameBytes) {
      ToFloat(partial, 1);
      touch->putSamples(samples.data(), 1);
      expectedFrames += 1 / tempo;
      partialBytes = 0;
    }
  }
  uint32_t frames = count / frameBytes;
  while (frames > 0) {
    const uint32_t n = std::min(frames, kChunkFrames);
    ToFloat(data, n);
    touch->putSamples(samples.data(), n);
    expectedFrames += n / tempo;
    data += n * frameBytes;
    count -= n * frameBytes;
    frames -= n;
  }
  std::memcpy(partial, data, count);
  partialBytes = count;
  return static_cast<uint64_t>(std::llround(expectedFrames)) * frameBytes;
}

uint64_t TempoStretcher::Flush() {
  if (touch && holding) {
    touch->flush();
    // What is left moves out of SoundTouch, which then starts afresh: its
    // own counts would otherwise carry the flush's padding into the next one.
    const size_t frames = touch->numSamples();
    const size_t kept = tail.size() - tailRead;
    std::memmove(tail.data(), tail.data() + tailRead, kept);
    tail.resize(kept + frames * frameBytes);
    tailRead = 0;
    uint8_t* out = tail.data() + kept;
    while (touch->numSamples() > 0) {
      const uint32_t n = touch->receiveSamples(samples.data(), kChunkFrames);
      if (n == 0) break;
      FromFloat(samples.data(), n, out);
      out += n * frameBytes;
    }
    touch->clear();
    holding = false;
  }
  const uint64_t total = taken + Available();
  expectedFrames = static_cast<double>(total / std::max<uint32_t>(frameBytes, 1));
  return total;
}

uint64_t TempoStretcher::Available() const {
  const uint64_t inTouch = touch ? static_cast<uint64_t>(touch->numSamples()) * frameBytes : 0;
  return (tail.size() - tailRead) + inTouch;
}

uint32_t TempoStretcher::Take(uint8_t* out, uint32_t maxBytes) {
  if (frameBytes == 0) return 0;
  maxBytes -= maxBytes % frameBytes;
  uint32_t done = 0;
  if (tailRead < tail.size()) {
    const uint32_t n = static_cast<uint32_t>(std::min<size_t>(maxBytes, tail.size() - tailRead));
    std::memcpy(out, tail.data() + tailRead, n);
    tailRead += n;
    done += n;
    if (tailRead == tail.size()) {
      tail.clear();
      tailRead = 0;
    }
  }
  while (touch && done < maxBytes) {
    const uint32_t want = std::min((maxBytes - done) / frameBytes, kChunkFrames);
    const uint32_t n = touch->receiveSamples(samples.data(), want);
    if (n == 0) break;
    FromFloat(samples.data(), n, out + done);
    done += n * frameBytes;
  }
  taken += done;
  return done;
}

void TempoStretcher::Clear() {
  if (touch) touch->clear();
  tail.clear();
  tailRead = 0;
  partialBytes = 0;
  expectedFrames = 0;
  taken = 0;
  holding = false;
}

void TempoStretcher::ToFloat(const uint8_t* in, uint32_t frames) {
  const uint32_t values = frames * format.nChannels;
  if (format.wBitsPerSample == 16) {
    for (uint32_t i = 0; i < values; ++i) {
      int16_t s;
      std::memcpy(&s, in + 2 * i, 2);
      samples[i] = s * (1.0f / 32768.0f);
    }
  } else {
    for (uint32_t i = 0; i < values; ++i)
      samples[i] = (static_cast<int>(in[i]) - 128) * (1.0f / 128.0f);
  }
}

void TempoStretcher::FromFloat(const float* in, uint32_t frames, uint8_t* out) const {
  // Rounded half away from zero and clamped, in a form the compiler can keep
  // simple: this runs over every stretched sample.
  const uint32_t values = frames * format.nChannels;
  if (format.wBitsPerSample == 16) {
    for (uint32_t i = 0; i < values; ++i) {
      const float v = std::clamp(in[i] * 32768.0f, -32768.0f, 32767.0f);
      const int16_t s = static_cast<int16_t>(v + (v >= 0 ? 0.5f : -0.5f));
      std::memcpy(out + 2 * i, &s, 2);
    }
  } else {
    for (uint32_t i = 0; i < values; ++i) {
      const float v = std::clamp(in[i] * 128.0f + 128.0f, 0.0f, 255.0f);
      out[i] = static_cast<uint8_t>(v + 0.5f);
    }
  }
}
