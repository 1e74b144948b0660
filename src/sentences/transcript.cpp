// SPDX-License-Identifier: GPL-3.0-or-later
#include "sentences/transcript.h"

#include <sys/stat.h>

#include <algorithm>
#include <fstream>
#include <iterator>

#include "sentences/lrc_reader.h"
#include "sentences/subtitle_reader.h"
#include "sentences/transcript_text.h"

namespace {

std::string Lower(std::string s) {
  for (char& c : s)
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

bool IsRegularFile(const std::string& path, int64_t* size) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  *size = st.st_size;
  return true;
}

}  // namespace

std::string Transcript::FindBeside(const std::string& soundPath) {
  const size_t slash = soundPath.rfind('/');
  const size_t dot = soundPath.rfind('.');
  const std::string stem = dot != std::string::npos && (slash == std::string::npos || dot > slash)
                               ? soundPath.substr(0, dot)
                               : soundPath;
  int64_t size = 0;
  for (const char* ext : {".lrc", ".srt", ".vtt"})
    if (IsRegularFile(stem + ext, &size)) return stem + ext;
  return std::string();
}

bool Transcript::Load(const std::string& path) {
  cues.clear();
  skipped = 0;
  int64_t size = 0;
  if (!IsRegularFile(path, &size)) {
    problem = "it is not a file that can be read";
    return false;
  }
  if (size > kMaxBytes) {
    problem = "it is larger than 16 MiB: no transcript is";
    return false;
  }
  std::ifstream in(path, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (!in.good() && !in.eof()) {
    problem = "it cannot be read";
    return false;
  }
  const size_t dot = path.rfind('.');
  return Parse(bytes, dot == std::string::npos ? std::string() : Lower(path.substr(dot + 1)));
}

bool Transcript::Parse(const std::string& bytes, const std::string& extension) {
  const std::string text = TranscriptText::ToUtf8(bytes, &encoding);
  const bool vtt = extension == "vtt" || text.rfind("WEBVTT", 0) == 0;
  cues = extension == "lrc" && !vtt ? LrcReader::Parse(text, &skipped)
                                    : SubtitleReader::Parse(text, &skipped);
  Fit(INT64_MAX);
  problem = cues.empty() ? "it holds no timed line" : std::string();
  return !cues.empty();
}

void Transcript::Fit(int64_t soundMs) {
  std::stable_sort(cues.begin(), cues.end(), [](const TranscriptCue& a, const TranscriptCue& b) {
    return a.startMs < b.startMs;
  });
  for (size_t i = 0; i < cues.size(); ++i) {
    const int64_t next = i + 1 < cues.size() ? cues[i + 1].startMs : soundMs;
    if (cues[i].endMs == TranscriptCue::kOpenEnd || cues[i].endMs > next) cues[i].endMs = next;
    if (soundMs != INT64_MAX) cues[i].endMs = std::min(cues[i].endMs, soundMs);
  }
  // An LRC tag without text only ended the line before it; a cue cut to
  // nothing (two at one time) or past the sound's end is no sentence.
  cues.erase(std::remove_if(cues.begin(), cues.end(),
                            [&](const TranscriptCue& c) {
                              return c.text.empty() || c.startMs >= soundMs ||
                                     (c.endMs != INT64_MAX && c.endMs <= c.startMs);
                            }),
             cues.end());
}
