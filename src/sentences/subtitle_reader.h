// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>
#include <vector>

#include "sentences/transcript_cue.h"

// SubRip (.srt) and WebVTT (.vtt) subtitles: cues with a start and an end
// ("00:01:02,500 --> 00:01:04,000"; WebVTT also without hours and with cue
// settings after the end), text of one or more lines up to a blank line.
// WebVTT's header and NOTE, STYLE and REGION blocks are passed over; tags
// ("<i>", "<v Anna>", "<00:01.000>") and override blocks ("{\an8}") are
// removed from the text and the common entities decoded.
class SubtitleReader {
 public:
  static std::vector<TranscriptCue> Parse(const std::string& text, int* skipped);

  // "hh:mm:ss,mmm", "hh:mm:ss.mmm" or "mm:ss.mmm" in ms; -1 when it is none.
  static int64_t CueTime(const std::string& stamp);
  // text without tags, override blocks and entities.
  static std::string CleanText(const std::string& text);
};
