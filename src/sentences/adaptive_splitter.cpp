// SPDX-License-Identifier: GPL-3.0-or-later
#include "sentences/adaptive_splitter.h"

#include <algorithm>
#include <cmath>
#include <cstring>

void AdaptiveSplitter::Start(uint32_t rate, uint32_t channelCount, Settings wanted) {
  settings = wanted;
  settings.minPauseMs = std::max(settings.minPauseMs, kFrameMs);
  settings.maxSentenceMs = std::max(settings.maxSentenceMs, 1000);
  channels = std::clamp<uint32_t>(channelCount, 1, 2);
  frameSamples = std::max<uint32_t>(rate * kFrameMs / 1000, 1);
  samplesInFrame = 0;
  sum = 0;
  carried = 0;
  levels.clear();
  histogram.fill(0);
  scanFrom = 0;
  settled.clear();
}

void AdaptiveSplitter::EndFrame() {
  // Mono is (left + right) / 2 for stereo: its full scale is 65536 there.
  const double scale = channels == 2 ? 65536.0 * 65536.0 : 32768.0 * 32768.0;
  const double power = static_cast<double>(sum) / frameSamples / scale;
  const double db = power > 0 ? 10.0 * std::log10(power) : kSilentDb;
  const int level = std::clamp(static_cast<int>((db - kSilentDb) * kStepsPerDb), 0, kLevels - 1);
  levels.push_back(static_cast<uint8_t>(level));
  ++histogram[static_cast<size_t>(level)];
  samplesInFrame = 0;
  sum = 0;
}

void AdaptiveSplitter::Feed(const uint8_t* data, uint32_t bytes) {
  const uint32_t frameBytes = 2 * channels;
  auto sample = [](const uint8_t* p) {
    int16_t v;
    std::memcpy(&v, p, 2);
    return static_cast<int64_t>(v);
  };
  auto mono = [&](const uint8_t* p) {
    return channels == 2 ? sample(p) + sample(p + 2) : sample(p);
  };
  uint32_t at = 0;
  while (carried > 0 && at < bytes) {
    carry[carried++] = data[at++];
    if (carried == frameBytes) {
      const int64_t m = mono(carry);
      sum += static_cast<uint64_t>(m * m);
      carried = 0;
      if (++samplesInFrame == frameSamples) EndFrame();
    }
  }
  uint32_t whole = (bytes - at) / frameBytes;
  while (whole > 0) {
    const uint32_t take = std::min(whole, frameSamples - samplesInFrame);
    uint64_t part = 0;
    const uint8_t* p = data + at;
    if (channels == 2) {
      for (uint32_t i = 0; i < take; ++i, p += 4) {
        const int64_t m = sample(p) + sample(p + 2);
        part += static_cast<uint64_t>(m * m);
      }
    } else {
      for (uint32_t i = 0; i < take; ++i, p += 2) {
        const int64_t m = sample(p);
        part += static_cast<uint64_t>(m * m);
      }
    }
    sum += part;
    at += take * frameBytes;
    whole -= take;
    samplesInFrame += take;
    if (samplesInFrame == frameSamples) EndFrame();
  }
  while (at < bytes)
    carry[carried++] = data[at++];
}

int AdaptiveSplitter::ThresholdLevel() const {
  uint64_t total = 0;
  for (uint32_t n : histogram)
    total += n;
  const uint64_t tenth = total / 10;
  uint64_t seen = 0;
  int floor = 0;
  while (floor < kLevels - 1 && (seen += histogram[static_cast<size_t>(floor)]) <= tenth)
    ++floor;
  return floor + static_cast<int>(kAboveFloorDb * kStepsPerDb);
}

float AdaptiveSplitter::ThresholdDb() const {
  return kSilentDb + static_cast<float>(ThresholdLevel()) / kStepsPerDb;
}

void AdaptiveSplitter::SplitLong(Span span, int threshold, std::vector<Span>* out) const {
  const uint32_t minFrames = kMinSoundMs / kFrameMs;
  if (span.end - span.start < minFrames) return;
  if (static_cast<int64_t>(span.end - span.start) * kFrameMs <= settings.maxSentenceMs) {
    out->push_back(span);
    return;
  }
  // The longest run of quiet frames inside; without one, the quietest frame.
  uint32_t bestStart = 0, bestLength = 0, runStart = 0, quietest = span.start + 1;
  for (uint32_t f = span.start + 1; f + 1 < span.end; ++f) {
    if (levels[f] < levels[quietest]) quietest = f;
    if (Sound(f, threshold)) continue;
    if (f == span.start + 1 || Sound(f - 1, threshold)) runStart = f;
    if (f + 1 - runStart > bestLength) {
      bestLength = f + 1 - runStart;
      bestStart = runStart;
    }
  }
  if (bestLength == 0) {
    bestStart = quietest;
    bestLength = 1;
  }
  SplitLong({span.start, bestStart}, threshold, out);
  SplitLong({bestStart + bestLength, span.end}, threshold, out);
}

bool AdaptiveSplitter::Take(std::vector<TranscriptCue>* cues, bool atEnd) {
  const int threshold = ThresholdLevel();
  const uint32_t pauseFrames =
      static_cast<uint32_t>((settings.minPauseMs + kFrameMs - 1) / kFrameMs);
  const uint32_t n = static_cast<uint32_t>(levels.size());
  bool nextBegun = atEnd;
  uint32_t f = scanFrom;
  while (f < n) {
    while (f < n && !Sound(f, threshold))
      ++f;
    scanFrom = f;
    if (f == n) break;
    const uint32_t start = f;
    uint32_t last = f, quiet = 0;
    for (++f; f < n; ++f) {
      if (Sound(f, threshold)) {
        last = f;
        quiet = 0;
      } else if (++quiet >= pauseFrames) {
        break;
      }
    }
    if (quiet < pauseFrames && !atEnd) {
      // Still being spoken: looked at again when more has come.
      nextBegun = true;
      break;
    }
    SplitLong({start, last + 1}, threshold, &settled);
    scanFrom = f;
  }
  // The last sentence waits for the next one's start, which bounds its end.
  const size_t keep = nextBegun || settled.empty() ? 0 : 1;
  const size_t give = settled.size() - keep;
  for (size_t i = 0; i < give; ++i) {
    TranscriptCue cue;
    cue.startMs = static_cast<int64_t>(settled[i].start) * kFrameMs;
    cue.endMs = static_cast<int64_t>(settled[i].end) * kFrameMs;
    cues->push_back(cue);
  }
  settled.erase(settled.begin(), settled.begin() + static_cast<std::ptrdiff_t>(give));
  return give > 0;
}
