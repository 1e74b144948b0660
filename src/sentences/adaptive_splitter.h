// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "sentences/transcript_cue.h"

// Finds sentences in speech from the energy of 20-ms frames: the noise floor
// is the quietest tenth of the frames heard so far, a frame 10 dB above it is
// sound, and a pause of at least minPauseMs ends a sentence. Fed the sound in
// order; hands out each sentence once the next one has begun, so a sentence
// handed out never changes. Keeps one byte per frame (its level in half-dB
// steps), never the sound: 180 KB an hour.
class AdaptiveSplitter {
 public:
  static constexpr int kFrameMs = 20;
  static constexpr int kMinSoundMs = 80;  // shorter sounds (clicks, breaths) are no sentence
  static constexpr float kAboveFloorDb = 10.0f;
  static constexpr float kSilentDb = -120.0f;  // digital silence

  struct Settings {
    int minPauseMs = 300;
    int maxSentenceMs = 15000;
  };

  // A new sound of 16-bit samples at rate, channels interleaved.
  void Start(uint32_t rate, uint32_t channels, Settings settings);
  void Feed(const uint8_t* data, uint32_t bytes);
  // Appends the sentences (ms, no text) that are settled; atEnd settles the rest.
  // True when it appended any.
  bool Take(std::vector<TranscriptCue>* cues, bool atEnd);

  size_t Frames() const { return levels.size(); }
  float ThresholdDb() const;
  // What it holds: the frames' levels and their histogram.
  size_t MemoryBytes() const {
    return levels.capacity() * sizeof(uint8_t) + histogram.size() * sizeof(uint32_t);
  }

 private:
  static constexpr int kStepsPerDb = 2;
  static constexpr int kLevels = 256;  // -120 .. +7.5 dBFS in half-dB steps

  struct Span {
    uint32_t start;  // frames
    uint32_t end;
  };
  bool Sound(uint32_t frame, int threshold) const { return levels[frame] > threshold; }
  // The level above which a frame is sound.
  int ThresholdLevel() const;
  void EndFrame();
  // Splits span at its longest inner pause until every part fits maxSentenceMs.
  void SplitLong(Span span, int threshold, std::vector<Span>* out) const;

  Settings settings;
  uint32_t channels = 1;
  uint32_t frameSamples = 0;  // per channel
  uint32_t samplesInFrame = 0;
  uint64_t sum = 0;       // squares of the mono samples (left + right) of the frame
  uint8_t carry[4] = {};  // a sample frame split between two Feeds
  uint32_t carried = 0;
  std::vector<uint8_t> levels;
  std::array<uint32_t, kLevels> histogram{};

  uint32_t scanFrom = 0;      // where the sentence search goes on
  std::vector<Span> settled;  // found, waiting for the next to begin
};
