// SPDX-License-Identifier: GPL-3.0-or-later
#include "sentences/lrc_reader.h"

#include <cctype>
#include <cstdlib>

namespace {

std::string Trimmed(const std::string& s) {
  const size_t first = s.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return std::string();
  return s.substr(first, s.find_last_not_of(" \t\r\n") - first + 1);
}

// Digits at s[*at..], at least one and at most most; -1 when there are none.
int64_t Digits(const std::string& s, size_t* at, size_t most) {
  int64_t value = 0;
  size_t n = 0;
  while (*at < s.size() && n < most && std::isdigit(static_cast<unsigned char>(s[*at]))) {
    value = value * 10 + (s[*at] - '0');
    ++*at;
    ++n;
  }
  return n == 0 ? -1 : value;
}

// The text without enhanced word tags "<mm:ss.xx>".
std::string WithoutWordTags(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size();) {
    if (text[i] == '<') {
      const size_t close = text.find('>', i);
      if (close != std::string::npos &&
          LrcReader::TagTime(text.substr(i + 1, close - i - 1)) >= 0) {
        i = close + 1;
        continue;
      }
    }
    out += text[i++];
  }
  return out;
}

}  // namespace

int64_t LrcReader::TagTime(const std::string& tag) {
  size_t at = 0;
  const int64_t minutes = Digits(tag, &at, 4);
  if (minutes < 0 || at >= tag.size() || tag[at] != ':') return -1;
  ++at;
  const int64_t seconds = Digits(tag, &at, 2);
  if (seconds < 0 || seconds > 59) return -1;
  int64_t ms = 0;
  if (at < tag.size() && (tag[at] == '.' || tag[at] == ':')) {
    ++at;
    const size_t from = at;
    const int64_t fraction = Digits(tag, &at, 3);
    if (fraction < 0) return -1;
    const size_t places = at - from;
    ms = places == 1 ? fraction * 100 : places == 2 ? fraction * 10 : fraction;
  }
  if (at != tag.size()) return -1;
  return (minutes * 60 + seconds) * 1000 + ms;
}

std::vector<TranscriptCue> LrcReader::Parse(const std::string& text, int* skipped) {
  std::vector<TranscriptCue> cues;
  int64_t offset = 0;
  int bad = 0;
  size_t lineStart = 0;
  while (lineStart <= text.size()) {
    size_t lineEnd = text.find('\n', lineStart);
    if (lineEnd == std::string::npos) lineEnd = text.size();
    const std::string line = Trimmed(text.substr(lineStart, lineEnd - lineStart));
    lineStart = lineEnd + 1;
    if (line.empty()) continue;
    std::vector<int64_t> times;
    bool tagged = false;
    size_t at = 0;
    while (at < line.size() && line[at] == '[') {
      const size_t close = line.find(']', at);
      if (close == std::string::npos) break;
      const std::string tag = line.substr(at + 1, close - at - 1);
      at = close + 1;
      const int64_t time = TagTime(Trimmed(tag));
      if (time >= 0) {
        times.push_back(time);
      } else if (tag.compare(0, 7, "offset:") == 0) {
        offset = std::strtoll(tag.c_str() + 7, nullptr, 10);
      } else if (tag.find(':') == std::string::npos) {
        break;  // not a tag at all: the line is text
      }
      tagged = true;
    }
    if (times.empty()) {
      // Metadata tags are fine; anything else is not LRC.
      if (!tagged || at < line.size()) ++bad;
      continue;
    }
    const std::string words = Trimmed(WithoutWordTags(line.substr(at)));
    for (const int64_t time : times)
      cues.push_back({time, TranscriptCue::kOpenEnd, words});
  }
  for (TranscriptCue& cue : cues)
    cue.startMs = std::max<int64_t>(0, cue.startMs - offset);
  if (skipped != nullptr) *skipped = bad;
  return cues;
}
