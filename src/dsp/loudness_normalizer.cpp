// SPDX-License-Identifier: GPL-3.0-or-later
#include "dsp/loudness_normalizer.h"

#include <ebur128.h>

#include <algorithm>
#include <cmath>
#include <deque>
#include <limits>
#include <memory>
#include <vector>

namespace {

double FromDb(double db) {
  return std::pow(10.0, db / 20.0);
}

double ToDb(double linear) {
  return linear > 0 ? 20.0 * std::log10(linear) : -std::numeric_limits<double>::infinity();
}

struct MeterDeleter {
  void operator()(ebur128_state* state) const { ebur128_destroy(&state); }
};
using Meter = std::unique_ptr<ebur128_state, MeterDeleter>;

// Gain, then a look-ahead limiter. Each frame's gain is the mean, over the
// look-ahead, of the lowest gain any frame in reach needs: a peak is
// faded into over the look-ahead instead of cut, and still never passes the
// threshold, since every frame averaged reaches the peak. The gain comes back
// with the release time.
class Limiter {
 public:
  Limiter(int channels, int rate, double gain, double threshold)
      : channels(channels),
        gain(gain / 32768.0),
        threshold(threshold),
        reach(std::max(1, rate / 200)),  // 5 ms
        release(std::exp(-1.0 / (0.1 * rate))),
        held(static_cast<size_t>(reach) * channels),
        recent(static_cast<size_t>(reach), 1.0),
        sum(reach) {}

  void Push(const int16_t* in, size_t frames, std::vector<int16_t>* out) {
    for (size_t f = 0; f < frames; ++f)
      Frame(in + f * channels, out);
  }
  void Finish(std::vector<int16_t>* out) {
    const std::vector<int16_t> silence(static_cast<size_t>(channels), 0);
    for (int i = 0; i + 1 < reach; ++i)
      Frame(silence.data(), out);
  }

 private:
  void Frame(const int16_t* in, std::vector<int16_t>* out) {
    const size_t slot = static_cast<size_t>(n % reach);
    double peak = 0;
    for (int c = 0; c < channels; ++c) {
      const double x = in[c] * gain;
      held[slot * channels + c] = x;
      peak = std::max(peak, std::fabs(x));
    }
    const double needed = peak > threshold ? threshold / peak : 1.0;
    while (!lowest.empty() && lowest.back().second >= needed)
      lowest.pop_back();
    lowest.emplace_back(n, needed);
    while (lowest.front().first <= n - reach)
      lowest.pop_front();
    const double smooth = std::min(lowest.front().second, 1.0 - (1.0 - last) * release);
    last = smooth;
    sum += smooth - recent[slot];
    recent[slot] = smooth;
    ++n;
    if (n < reach) return;
    // The frame leaving the look-ahead is the oldest held, in the next slot.
    const size_t oldest = static_cast<size_t>(n % reach);
    const double g = std::min(1.0, sum / reach);
    for (int c = 0; c < channels; ++c) {
      const double y = std::round(held[oldest * channels + c] * g * 32768.0);
      out->push_back(static_cast<int16_t>(std::clamp(y, -32768.0, 32767.0)));
    }
  }

  const int channels;
  const double gain;
  const double threshold;
  const int64_t reach;
  const double release;
  std::vector<double> held;    // the look-ahead's frames, gain applied
  std::vector<double> recent;  // the look-ahead's smoothed gains
  double sum;
  double last = 1.0;
  std::deque<std::pair<int64_t, double>> lowest;  // rising needs, with their frames
  int64_t n = 0;
};

}  // namespace

LoudnessNormalizer::LoudnessNormalizer(int channelCount, int sampleRate, double targetLufs)
    : channels(channelCount), rate(sampleRate), target(targetLufs) {}

bool LoudnessNormalizer::Process(const Replay& replay, double gain, double threshold,
                                 const Piece& out) {
  Limiter limiter(channels, rate, gain, threshold);
  std::vector<int16_t> done;
  const bool read = replay([&](const int16_t* frames, size_t count) {
    done.clear();
    limiter.Push(frames, count, &done);
    return done.empty() || out(done.data(), done.size() / channels);
  });
  if (!read) return false;
  done.clear();
  limiter.Finish(&done);
  return done.empty() || out(done.data(), done.size() / channels);
}

bool LoudnessNormalizer::Trial(const Replay& replay, double gain, double threshold,
                               Outcome* outcome) {
  Meter meter(ebur128_init(channels, rate, EBUR128_MODE_I | EBUR128_MODE_TRUE_PEAK));
  if (!meter) return false;
  const bool ok = Process(replay, gain, threshold, [&](const int16_t* frames, size_t count) {
    return ebur128_add_frames_short(meter.get(), frames, count) == EBUR128_SUCCESS;
  });
  if (!ok) return false;
  double peak = 0;
  for (int c = 0; c < channels; ++c) {
    double p = 0;
    ebur128_true_peak(meter.get(), c, &p);
    peak = std::max(peak, p);
  }
  outcome->truePeakDb = ToDb(peak);
  return ebur128_loudness_global(meter.get(), &outcome->outputLufs) == EBUR128_SUCCESS;
}

bool LoudnessNormalizer::Run(const Replay& replay, const Piece& emit, Outcome* outcome) {
  Outcome result;
  Meter meter(ebur128_init(channels, rate, EBUR128_MODE_I));
  if (!meter) return false;
  if (!replay([&](const int16_t* frames, size_t count) {
        return ebur128_add_frames_short(meter.get(), frames, count) == EBUR128_SUCCESS;
      }))
    return false;
  ebur128_loudness_global(meter.get(), &result.inputLufs);
  meter.reset();
  if (!std::isfinite(result.inputLufs)) {
    result.outputLufs = result.inputLufs;
    if (outcome) *outcome = result;
    return replay(emit);
  }
  // A near-silent recording is not raised into loud noise.
  double gainDb = std::clamp(target - result.inputLufs, -40.0, 30.0);
  // Sample peaks are held under the limit with room for those between
  // samples; the trials lower the threshold when that room was not enough.
  double thresholdDb = kPeakLimit - 0.5;
  // What is emitted is what the last trial measured.
  for (int trial = 0;; ++trial) {
    if (!Trial(replay, FromDb(gainDb), FromDb(thresholdDb), &result)) return false;
    // A tenth of a dB to spare: true-peak meters differ by about that.
    const double over = result.truePeakDb - (kPeakLimit - 0.1);
    const double miss = target - result.outputLufs;
    if (over <= 0 && (std::fabs(miss) <= 0.1 || gainDb >= 30.0)) break;
    if (trial == 5) break;
    if (over > 0) thresholdDb -= over + 0.05;
    if (std::isfinite(miss)) gainDb = std::clamp(gainDb + miss, -40.0, 30.0);
  }
  result.gainDb = gainDb;
  if (outcome) *outcome = result;
  return Process(replay, FromDb(gainDb), FromDb(thresholdDb), emit);
}
