// SPDX-License-Identifier: GPL-3.0-or-later
#include "sentences/subtitle_reader.h"

#include <cctype>
#include <sstream>

namespace {

std::string Trimmed(const std::string& s) {
  const size_t first = s.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return std::string();
  return s.substr(first, s.find_last_not_of(" \t\r\n") - first + 1);
}

bool StartsWith(const std::string& s, const char* prefix) {
  return s.rfind(prefix, 0) == 0;
}

bool AllDigits(const std::string& s) {
  for (const char c : s)
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
  return !s.empty();
}

}  // namespace

int64_t SubtitleReader::CueTime(const std::string& stamp) {
  int64_t parts[3] = {0, 0, 0};
  int count = 0;
  size_t at = 0;
  while (true) {
    const size_t from = at;
    int64_t value = 0;
    while (at < stamp.size() && std::isdigit(static_cast<unsigned char>(stamp[at])) &&
           at - from < 6)
      value = value * 10 + (stamp[at++] - '0');
    if (at == from || count == 3) return -1;
    parts[count++] = value;
    if (at < stamp.size() && stamp[at] == ':') {
      ++at;
      continue;
    }
    break;
  }
  if (count < 2 || at >= stamp.size() || (stamp[at] != ',' && stamp[at] != '.')) return -1;
  ++at;
  const size_t from = at;
  int64_t ms = 0;
  while (at < stamp.size() && std::isdigit(static_cast<unsigned char>(stamp[at])) && at - from < 3)
    ms = ms * 10 + (stamp[at++] - '0');
  if (at - from != 3 || at != stamp.size()) return -1;
  const int64_t hours = count == 3 ? parts[0] : 0;
  const int64_t minutes = parts[count - 2];
  const int64_t seconds = parts[count - 1];
  if (minutes > 59 || seconds > 59) return -1;
  return ((hours * 60 + minutes) * 60 + seconds) * 1000 + ms;
}

std::string SubtitleReader::CleanText(const std::string& text) {
  static const std::pair<const char*, const char*> kEntities[] = {
      {"&amp;", "&"}, {"&lt;", "<"}, {"&gt;", ">"}, {"&nbsp;", " "}, {"&lrm;", ""}, {"&rlm;", ""}};
  std::string out;
  for (size_t i = 0; i < text.size();) {
    const char c = text[i];
    const char* closer = c == '<'                                                   ? ">"
                         : (c == '{' && i + 1 < text.size() && text[i + 1] == '\\') ? "}"
                                                                                    : nullptr;
    if (closer != nullptr) {
      const size_t close = text.find(closer, i);
      if (close != std::string::npos) {
        i = close + 1;
        continue;
      }
    }
    if (c == '&') {
      bool replaced = false;
      for (const auto& [entity, plain] : kEntities) {
        if (text.compare(i, std::char_traits<char>::length(entity), entity) == 0) {
          out += plain;
          i += std::char_traits<char>::length(entity);
          replaced = true;
          break;
        }
      }
      if (replaced) continue;
    }
    out += c;
    ++i;
  }
  return out;
}

std::vector<TranscriptCue> SubtitleReader::Parse(const std::string& text, int* skipped) {
  std::vector<TranscriptCue> cues;
  std::istringstream in(text);
  std::string line;
  int bad = 0;
  bool inCue = false, inBlock = false;
  bool first = true;
  while (std::getline(in, line)) {
    line = Trimmed(line);
    if (first && StartsWith(line, "WEBVTT")) {
      inBlock = true;  // the header runs to the first blank line
      first = false;
      continue;
    }
    first = false;
    if (line.empty()) {
      inCue = inBlock = false;
      continue;
    }
    if (inBlock) continue;
    const size_t arrow = line.find("-->");
    if (arrow != std::string::npos) {
      const std::string from = Trimmed(line.substr(0, arrow));
      std::string to = Trimmed(line.substr(arrow + 3));
      to = to.substr(0, to.find_first_of(" \t"));  // WebVTT's cue settings follow
      const int64_t start = CueTime(from), end = CueTime(to);
      if (start < 0 || end < 0) {
        ++bad;
        inBlock = true;  // its text is no cue's
        continue;
      }
      cues.push_back({start, end, std::string()});
      inCue = true;
      continue;
    }
    if (inCue) {
      std::string& words = cues.back().text;
      const std::string clean = Trimmed(CleanText(line));
      if (clean.empty()) continue;
      if (!words.empty()) words += '\n';
      words += clean;
    } else if (StartsWith(line, "NOTE") || StartsWith(line, "STYLE") ||
               StartsWith(line, "REGION")) {
      inBlock = true;
    } else if (!AllDigits(line)) {
      // A cue's number or WebVTT's cue name comes before its times; a name
      // of words is taken for one only when times follow.
      std::streampos back = in.tellg();
      std::string next;
      if (!std::getline(in, next) || next.find("-->") == std::string::npos) ++bad;
      in.seekg(back);
    }
  }
  if (skipped != nullptr) *skipped = bad;
  return cues;
}
