// SPDX-License-Identifier: GPL-3.0-or-later
// Transcripts as learners' files come: LRC, SRT and WebVTT in their usual
// forms and encodings, and the broken ones.
#include <gtest/gtest.h>
#include <iconv.h>

#include <string>
#include <utility>
#include <vector>

#include "sentences/transcript.h"
#include "temp_dir.h"

namespace {

using Timed = std::vector<std::tuple<int64_t, int64_t, std::string>>;

Timed CuesOf(const Transcript& t) {
  Timed out;
  for (const TranscriptCue& c : t.Cues())
    out.emplace_back(c.startMs, c.endMs, c.text);
  return out;
}

Timed Parsed(const std::string& text, const std::string& extension, int64_t soundMs,
             int* skipped = nullptr) {
  Transcript t;
  t.Parse(text, extension);
  t.Fit(soundMs);
  if (skipped != nullptr) *skipped = t.Skipped();
  return CuesOf(t);
}

// text (UTF-8) in the iconv encoding to.
std::string Encoded(const std::string& text, const char* to) {
  iconv_t cd = iconv_open(to, "UTF-8");
  std::string out(text.size() * 4 + 8, '\0');
  char* in = const_cast<char*>(text.data());
  char* target = out.data();
  size_t inLeft = text.size(), outLeft = out.size();
  iconv(cd, &in, &inLeft, &target, &outLeft);
  iconv_close(cd);
  out.resize(out.size() - outLeft);
  return out;
}

TEST(Lrc, TheFormsLearnersFilesUse) {
  int skipped = -1;
  EXPECT_EQ(Parsed("[ti:Lesson 1]\n[ar:Someone]\n[offset:-500]\n"
                   "[00:03.20]second <00:03.50>with <00:04.00>words\n"
                   "[00:01.00][00:06:50]first and again\n"
                   "[00:05.123]\n"  // a tag without text only ends the line before
                   "not a line at all\n[1:02]late\n",
                   "lrc", 70000, &skipped),
            (Timed{{1500, 3700, "first and again"},
                   {3700, 5623, "second with words"},
                   {7000, 62500, "first and again"},
                   {62500, 70000, "late"}}));
  EXPECT_EQ(skipped, 1);
}

TEST(Subtitles, SrtAndVttCuesWithTheirTextCleaned) {
  int skipped = -1;
  EXPECT_EQ(Parsed("1\r\n00:00:01,000 --> 00:00:02,500\r\n<i>Hello</i> {\\an8}there\r\n"
                   "second line\r\n\r\n"
                   "2\r\n00:00:02,000 --> 00:00:04,000\r\nR&amp;D &lt;3\r\n\r\n"
                   "3\r\n00:00:05,000 -> 00:00:06,000\r\nbroken arrow\r\n\r\n"
                   "4\r\n00:01:00.000 --> 00:01:02.000\r\nlast\r\n",
                   "srt", 61000, &skipped),
            (Timed{{1000, 2000, "Hello there\nsecond line"},
                   {2000, 4000, "R&D <3"},
                   {60000, 61000, "last"}}));
  EXPECT_EQ(skipped, 2);  // the arrow line that is none, and its text

  EXPECT_EQ(Parsed("WEBVTT - a lesson\nKind: captions\n\nNOTE written\nby hand\n\n"
                   "STYLE\n::cue { color: red }\n\n"
                   "intro\n00:01.000 --> 00:02.000 align:start position:10%\n"
                   "<v Anna>Hi,</v> <00:01.500>Anna\n\n"
                   "01:00:00.000 --> 01:00:01.000\nan hour in\n",
                   "vtt", 4000000),
            (Timed{{1000, 2000, "Hi, Anna"}, {3600000, 3601000, "an hour in"}}));
}

TEST(TranscriptText, EveryEncodingOfALine) {
  const std::string line = "[00:01.00]你好，世界 café\n";
  const std::vector<std::pair<std::string, std::string>> forms = {
      {line, "UTF-8"},
      {"\xEF\xBB\xBF" + line, "UTF-8"},
      {"\xFF\xFE" + Encoded(line, "UTF-16LE"), "UTF-16LE"},
      {"\xFE\xFF" + Encoded(line, "UTF-16BE"), "UTF-16BE"},
      {Encoded(line, "GB18030"), "GB18030"},
  };
  for (const auto& [bytes, encoding] : forms) {
    Transcript t;
    ASSERT_TRUE(t.Parse(bytes, "lrc")) << encoding;
    EXPECT_EQ(t.Encoding(), encoding);
    EXPECT_EQ(CuesOf(t)[0],
              (std::tuple<int64_t, int64_t, std::string>{1000, INT64_MAX, "你好，世界 café"}));
  }
}

TEST(Transcript, FoundBesideItsSoundAndBrokenFilesToldNotThrown) {
  TempDir dir;
  WriteFileBytes(dir.File("lesson.srt"), "1\n00:00:01,000 --> 00:00:02,000\nhi\n");
  WriteFileBytes(dir.File("lesson.vtt"), "WEBVTT\n");
  EXPECT_EQ(Transcript::FindBeside(dir.File("lesson.mp3")), dir.File("lesson.srt"));
  WriteFileBytes(dir.File("lesson.lrc"), "[00:01.00]hi\n");
  EXPECT_EQ(Transcript::FindBeside(dir.File("lesson.mp3")), dir.File("lesson.lrc"));
  EXPECT_EQ(Transcript::FindBeside(dir.File("other.mp3")), "");

  std::string binary(300000, '\0');
  for (size_t i = 0; i < binary.size(); ++i)
    binary[i] = static_cast<char>(i * 7919 % 251);
  const std::vector<std::pair<std::string, std::string>> broken = {
      {"empty.lrc", ""},
      {"binary.srt", binary},
      {"words.vtt", "WEBVTT\n\nno cue here\n"},
      {"huge.lrc", std::string(Transcript::kMaxBytes + 1, '[')},
  };
  for (const auto& [name, bytes] : broken) {
    WriteFileBytes(dir.File(name), bytes);
    Transcript t;
    EXPECT_FALSE(t.Load(dir.File(name))) << name;
    EXPECT_FALSE(t.Problem().empty()) << name;
  }
  Transcript folder;
  EXPECT_FALSE(folder.Load(dir.path()));
}

}  // namespace
