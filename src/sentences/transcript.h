// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sentences/transcript_cue.h"

// A lesson's transcript: its cues in order of time, each with an end, and
// what was wrong with the file.
class Transcript {
 public:
  // Files larger than this are no transcript (2 hours of subtitles take 200 KiB).
  static constexpr int64_t kMaxBytes = 16 << 20;

  // The transcript beside a sound file: NAME.lrc, NAME.srt or NAME.vtt for
  // NAME.EXT, the first that exists; empty when there is none.
  static std::string FindBeside(const std::string& soundPath);

  // Reads path as LRC, or as SRT/WebVTT (by its extension; WebVTT also by its
  // header). False, with Problem() saying why, when nothing usable is in it.
  bool Load(const std::string& path);
  // The same on text already read; extension is "lrc", "srt" or "vtt".
  bool Parse(const std::string& bytes, const std::string& extension);

  // Orders the cues, cuts each at the next one's start, gives an open end the
  // next start (or soundMs), and drops what starts at or after soundMs.
  void Fit(int64_t soundMs);

  const std::vector<TranscriptCue>& Cues() const { return cues; }
  int Skipped() const { return skipped; }
  const std::string& Problem() const { return problem; }
  const std::string& Encoding() const { return encoding; }

 private:
  std::vector<TranscriptCue> cues;
  int skipped = 0;
  std::string problem;
  std::string encoding;
};
