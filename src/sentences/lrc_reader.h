// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>
#include <vector>

#include "sentences/transcript_cue.h"

// LRC lyrics: "[mm:ss.xx]text" and "[mm:ss:xx]text", several time tags on a
// line, "[offset:+-ms]" (a positive offset makes every line come sooner),
// metadata tags ("[ar:...]") ignored, enhanced word tags ("<mm:ss.xx>") dropped
// from the text. Each line runs to the next line's start; a tag without text
// only ends the line before it.
class LrcReader {
 public:
  // The cues of text, in the file's order; *skipped counts lines that are
  // neither tags nor timed text.
  static std::vector<TranscriptCue> Parse(const std::string& text, int* skipped);

  // "mm:ss", "mm:ss.x", "mm:ss.xx", "mm:ss.xxx" or "mm:ss:xx" in ms; -1 when it
  // is none of them.
  static int64_t TagTime(const std::string& tag);
};
