// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdio>
#include <string>

// One declaration per setting's range: the repeat settings dialog, kestro-cli's
// options and its scripts all take and check their values from here.
struct SettingRange {
  float min, max;
  // Also false for a value that is not a number.
  bool Holds(float v) const { return v >= min && v <= max; }
  // "1..100", or with a suffix on each end ("0.5x..3x").
  std::string Text(const char* suffix = "") const {
    char text[64];
    std::snprintf(text, sizeof(text), "%g%s..%g%s", static_cast<double>(min), suffix,
                  static_cast<double>(max), suffix);
    return text;
  }
};

inline constexpr SettingRange kRepeatCountRange{1, 100};
inline constexpr SettingRange kVerticalPrecisionRange{0, 50};
inline constexpr SettingRange kHorizontalSecondsRange{0.1f, 10};
inline constexpr SettingRange kSamplePercentRange{5, 100};
inline constexpr SettingRange kSliderRange{0, 100};
inline constexpr SettingRange kMinPauseSecondsRange{0.1f, 5};
inline constexpr SettingRange kMaxSentenceSecondsRange{2, 120};
inline constexpr SettingRange kGapSecondsRange{0.1f, 60};
inline constexpr SettingRange kGapFactorRange{0.5f, 3};
inline constexpr SettingRange kPauseAfterSecondsRange{0.1f, 600};
