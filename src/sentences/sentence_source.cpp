// SPDX-License-Identifier: GPL-3.0-or-later
#include "sentences/sentence_source.h"

#include "sentences/transcript.h"

std::string SentenceSource::TranscriptFor(const std::string& soundPath) const {
  if (ignoreTranscripts || (!transcriptSplit && adaptiveSplit)) return "";
  return transcriptFile.empty() ? Transcript::FindBeside(soundPath) : transcriptFile;
}
