// SPDX-License-Identifier: GPL-3.0-or-later
#include "audio/sound_source.h"

#include <sndfile.h>

#include <algorithm>
#include <cmath>

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
  const size_t inBytes = samples.size() * sizeof(int16_t);
  if (static_cast<int>(format.nChannels) == channels &&
      static_cast<int>(format.nSamplesPerSec) == rate) {
    out.resize(inBytes);
    std::memcpy(out.data(), samples.data(), inBytes);
    return out;
  }
  // Another channel count: mono is spread to both channels, stereo mixed
  // down to mono; then another rate through a band-limited resampler.
  const size_t inFrames = samples.size() / channels;
  const int outChannels = format.nChannels;
  std::vector<float> mapped(inFrames * outChannels);
  for (size_t f = 0; f < inFrames; ++f) {
    for (int c = 0; c < outChannels; ++c) {
      float v;
      if (outChannels == 1 && channels > 1) {
        v = 0;
        for (int k = 0; k < channels; ++k)
          v += samples[f * channels + k];
        v /= channels;
      } else {
        v = samples[f * channels + std::min(c, channels - 1)];
      }
      mapped[f * outChannels + c] = v;
    }
  }
  const std::vector<float> resampled =
      Resample(mapped, outChannels, rate, static_cast<int>(format.nSamplesPerSec));
  out.resize(resampled.size() * 2);
  for (size_t i = 0; i < resampled.size(); ++i) {
    const int16_t v = static_cast<int16_t>(std::clamp(std::lround(resampled[i]), -32768L, 32767L));
    std::memcpy(&out[i * 2], &v, 2);
  }
  return out;
}

std::vector<float> SoundSource::Resample(const std::vector<float>& in, int channels, int inRate,
                                         int outRate) {
  if (inRate == outRate) return in;
  const size_t inFrames = in.size() / channels;
  const size_t outFrames = static_cast<size_t>(static_cast<uint64_t>(inFrames) * outRate / inRate);
  // Windowed sinc whose cut-off is half the lower rate: nothing above what
  // the output can carry folds back into it.
  const double cutoff = std::min(1.0, static_cast<double>(outRate) / inRate);
  const int half = static_cast<int>(std::ceil(16 / cutoff));
  std::vector<float> out(outFrames * channels);
  for (size_t f = 0; f < outFrames; ++f) {
    const double t = static_cast<double>(f) * inRate / outRate;
    const long centre = static_cast<long>(std::floor(t));
    for (int c = 0; c < channels; ++c) {
      double sum = 0;
      for (long k = centre - half + 1; k <= centre + half; ++k) {
        if (k < 0 || k >= static_cast<long>(inFrames)) continue;
        const double x = t - k;
        const double arg = M_PI * cutoff * x;
        const double sinc = std::abs(arg) < 1e-9 ? 1.0 : std::sin(arg) / arg;
        const double window = 0.5 + 0.5 * std::cos(M_PI * x / half);  // Hann
        sum += in[static_cast<size_t>(k) * channels + c] * cutoff * sinc * window;
      }
      out[f * channels + c] = static_cast<float>(sum);
    }
  }
  return out;
}
