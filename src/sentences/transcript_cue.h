// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <string>

// One line of a transcript: the time it is spoken and its text.
struct TranscriptCue {
  static constexpr int64_t kOpenEnd = -1;  // runs to the next cue's start (LRC)

  int64_t startMs = 0;
  int64_t endMs = kOpenEnd;
  std::string text;  // UTF-8, lines joined with '\n'; empty only for an LRC end mark
};
