// SPDX-License-Identifier: GPL-3.0-or-later
// The transcript readers on any bytes, as LRC, SRT and WebVTT: cues come out
// ordered, each ending after it starts, never past the sound.
#include <cstdlib>
#include <string>

#include "sentences/transcript.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const char* kKinds[] = {"lrc", "srt", "vtt"};
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  Transcript t;
  t.Parse(bytes, kKinds[size > 0 ? data[0] % 3 : 0]);
  t.Fit(600000);
  int64_t last = -1;
  for (const TranscriptCue& c : t.Cues()) {
    if (c.startMs < last || c.endMs <= c.startMs || c.endMs > 600000 || c.text.empty())
      std::abort();
    last = c.startMs;
  }
  return 0;
}
