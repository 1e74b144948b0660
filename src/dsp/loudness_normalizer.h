// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

// Brings a sound to one integrated loudness (EBU R128, measured with
// libebur128) without letting its true peak pass a limit: a gain, and a
// look-ahead limiter that holds down the peaks the gain pushes over. The
// sound is read several times: once to measure, then until the result is
// within a tenth of a LU of the target, then to hand it on.
class LoudnessNormalizer {
 public:
  static constexpr double kSpeechTarget = -16.0;  // LUFS
  static constexpr double kPeakLimit = -1.0;      // dBTP

  // Hands the whole sound, from its start, piece by piece to the function
  // given; false when it cannot be read.
  using Piece = std::function<bool(const int16_t* frames, size_t count)>;
  using Replay = std::function<bool(const Piece& piece)>;

  struct Outcome {
    double inputLufs = 0;  // -inf when the sound is silent or too short to measure
    double gainDb = 0;
    double outputLufs = 0;  // as measured on the last trial
    double truePeakDb = 0;
  };

  LoudnessNormalizer(int channels, int rate, double targetLufs = kSpeechTarget);

  // Replays the sound as needed and hands the result to emit; false when
  // replay or emit fails. A sound with no measurable loudness (silence,
  // under 0.4 s) is handed on as it is.
  bool Run(const Replay& replay, const Piece& emit, Outcome* outcome = nullptr);

 private:
  // Measures the sound with gain and the limiter at threshold (linear) as it
  // would be emitted; true peak and loudness in *outcome.
  bool Trial(const Replay& replay, double gain, double threshold, Outcome* outcome);
  bool Process(const Replay& replay, double gain, double threshold, const Piece& out);

  int channels;
  int rate;
  double target;
};
