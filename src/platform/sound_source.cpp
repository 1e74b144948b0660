#include "platform/sound_source.h"

#include <sndfile.h>

#include <cstring>

bool SoundSource::Load(const std::string& path, std::string* error) {
  SF_INFO info{};
  SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
  if (f == nullptr) {
    if (error) *error = "cannot read " + path + ": " + sf_strerror(nullptr);
    return false;
  }
  if (info.channels < 1 || info.samplerate < 1 || info.frames < 0) {
    sf_close(f);
    if (error) *error = "unusable sound file " + path;
    return false;
  }
  std::vector<int16_t> data(static_cast<size_t>(info.frames) * info.channels);
  const sf_count_t got = sf_readf_short(f, data.data(), info.frames);
  sf_close(f);
  data.resize(static_cast<size_t>(got > 0 ? got : 0) * info.channels);
  samples = std::move(data);
  channels = info.channels;
  rate = info.samplerate;
  return true;
}

std::vector<uint8_t> SoundSource::Render(const WaveFormatEx& format) const {
  std::vector<uint8_t> out;
  if (!Loaded() || format.wBitsPerSample != 16 || format.nChannels == 0 ||
      format.nSamplesPerSec == 0) {
    return out;
  }
  const size_t inFrames = samples.size() / channels;
  const size_t outFrames =
      static_cast<size_t>(static_cast<uint64_t>(inFrames) * format.nSamplesPerSec / rate);
  const int outChannels = format.nChannels;
  out.resize(outFrames * outChannels * 2);
  for (size_t f = 0; f < outFrames; ++f) {
    // Nearest earlier frame: exact when the rates agree, which is the usual case.
    const size_t src = static_cast<size_t>(static_cast<uint64_t>(f) * rate / format.nSamplesPerSec);
    for (int c = 0; c < outChannels; ++c) {
      const int16_t s = samples[src * channels + (c < channels ? c : channels - 1)];
      std::memcpy(&out[(f * outChannels + c) * 2], &s, 2);
    }
  }
  return out;
}
