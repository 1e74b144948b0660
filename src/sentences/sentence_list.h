// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "sentences/transcript_cue.h"

// A sentence of the open item: [start, end) in byte positions of its sound,
// whole frames, and its text.
struct Sentence {
  uint32_t start = 0;
  uint32_t end = 0;
  std::string text;
  // Where the line itself begins, inside the pad before it (0: at start).
  uint32_t spoken = 0;
};

// The sentences of the open item, from its transcript. Set by the engine
// thread when an item opens; read by the engine, decode and window threads.
class SentenceList {
 public:
  // The cues as sentences of a sound of length bytes (byteRate a second,
  // frames of frameBytes), each widened by padBeforeMs and padAfterMs but
  // never into its neighbours' text.
  void Set(const std::vector<TranscriptCue>& cues, uint32_t byteRate, uint32_t frameBytes,
           uint32_t length, int padBeforeMs, int padAfterMs);
  // The transcript at path as this list (see Set); false when it gives no
  // sentence. *note says why, or how many lines were passed over.
  bool Load(const std::string& path, uint32_t byteRate, uint32_t frameBytes, uint32_t length,
            int padBeforeMs, int padAfterMs, std::string* note);
  void Clear();

  size_t Count() const;
  std::vector<Sentence> All() const;
  bool At(size_t index, Sentence* sentence) const;
  // The first sentence ending after position (the one being read there, or
  // the next); -1 when none does.
  int IndexAfter(uint32_t position) const;
  // The sentence holding position, else the last one before it; -1 when
  // position is before the first.
  int IndexAt(uint32_t position) const;
  // The end of IndexAfter(position), 0 when there is none.
  uint32_t EndAfter(uint32_t position) const;

 private:
  mutable std::mutex lock;
  std::vector<Sentence> sentences;
};
