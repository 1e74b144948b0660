// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>

// Where an item's sentence list comes from, one rule for the window and
// kestro-cli: the transcript (the one given for every item, or the item's own
// beside it) unless only the adaptive split is chosen; the adaptive analysis
// when it is chosen and no transcript gave a sentence.
struct SentenceSource {
  bool transcriptSplit = true;
  bool adaptiveSplit = false;
  bool ignoreTranscripts = false;
  std::string transcriptFile;  // for every item instead of each one's own

  // The transcript the list is read from; empty for none.
  std::string TranscriptFor(const std::string& soundPath) const;
  bool Analyses(bool transcriptGaveSentences) const {
    return adaptiveSplit && !transcriptGaveSentences;
  }
};
