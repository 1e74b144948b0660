// SPDX-License-Identifier: GPL-3.0-or-later
#include "sentences/sentence_list.h"

#include <algorithm>

#include "sentences/transcript.h"

namespace {

// ms of sound as a byte position on a whole frame.
uint32_t ToBytes(int64_t ms, uint32_t byteRate, uint32_t frameBytes, uint32_t length) {
  const uint64_t frames =
      static_cast<uint64_t>(std::max<int64_t>(ms, 0)) * (byteRate / frameBytes) / 1000;
  return static_cast<uint32_t>(std::min<uint64_t>(frames * frameBytes, length));
}

}  // namespace

void SentenceList::Set(const std::vector<TranscriptCue>& cues, uint32_t byteRate,
                       uint32_t frameBytes, uint32_t length, int padBeforeMs, int padAfterMs) {
  std::vector<Sentence> made;
  if (frameBytes != 0 && byteRate >= frameBytes) {
    for (size_t i = 0; i < cues.size(); ++i) {
      const TranscriptCue& cue = cues[i];
      // The pads reach no further than the text before and after.
      const int64_t earliest = i > 0 ? cues[i - 1].endMs : 0;
      const int64_t latest = i + 1 < cues.size() ? cues[i + 1].startMs : INT64_MAX;
      const int64_t from = std::max(cue.startMs - padBeforeMs, std::min(earliest, cue.startMs));
      const int64_t end = std::min<int64_t>(cue.endMs, INT64_MAX / 2);
      const int64_t to = std::min(end + padAfterMs, std::max(latest, end));
      Sentence s{ToBytes(from, byteRate, frameBytes, length),
                 ToBytes(to, byteRate, frameBytes, length), cue.text,
                 ToBytes(cue.startMs, byteRate, frameBytes, length)};
      if (s.end > s.start) made.push_back(std::move(s));
    }
  }
  std::lock_guard<std::mutex> hold(lock);
  sentences = std::move(made);
}

bool SentenceList::Load(const std::string& path, uint32_t byteRate, uint32_t frameBytes,
                        uint32_t length, int padBeforeMs, int padAfterMs, std::string* note) {
  Transcript transcript;
  note->clear();
  if (!transcript.Load(path)) {
    Clear();
    *note = transcript.Problem();
    return false;
  }
  if (byteRate > 0) transcript.Fit(static_cast<int64_t>(length) * 1000 / byteRate);
  Set(transcript.Cues(), byteRate, frameBytes, length, padBeforeMs, padAfterMs);
  if (Count() == 0) {
    *note = "every line of it lies past the end of the sound";
    return false;
  }
  if (transcript.Skipped() > 0)
    *note = std::to_string(transcript.Skipped()) + " malformed lines were passed over";
  return true;
}

void SentenceList::Clear() {
  std::lock_guard<std::mutex> hold(lock);
  sentences.clear();
}

size_t SentenceList::Count() const {
  std::lock_guard<std::mutex> hold(lock);
  return sentences.size();
}

std::vector<Sentence> SentenceList::All() const {
  std::lock_guard<std::mutex> hold(lock);
  return sentences;
}

bool SentenceList::At(size_t index, Sentence* sentence) const {
  std::lock_guard<std::mutex> hold(lock);
  if (index >= sentences.size()) return false;
  *sentence = sentences[index];
  return true;
}

int SentenceList::IndexAfter(uint32_t position) const {
  std::lock_guard<std::mutex> hold(lock);
  // Ends grow with starts: cues are cut at the next one's start.
  const auto it = std::upper_bound(sentences.begin(), sentences.end(), position,
                                   [](uint32_t p, const Sentence& s) { return p < s.end; });
  return it == sentences.end() ? -1 : static_cast<int>(it - sentences.begin());
}

int SentenceList::IndexAt(uint32_t position) const {
  std::lock_guard<std::mutex> hold(lock);
  const auto it = std::upper_bound(sentences.begin(), sentences.end(), position,
                                   [](uint32_t p, const Sentence& s) { return p < s.start; });
  return static_cast<int>(it - sentences.begin()) - 1;
}

uint32_t SentenceList::EndAfter(uint32_t position) const {
  const int index = IndexAfter(position);
  Sentence s;
  return index >= 0 && At(static_cast<size_t>(index), &s) ? s.end : 0;
}
