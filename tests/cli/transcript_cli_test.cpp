// SPDX-License-Identifier: GPL-3.0-or-later
// Sentences from a lesson's transcript, as kestro-cli drills and scripts them:
// tone sentences 1 s long with pauses of 0.3 s, far too short for the pause
// detection's defaults.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "cli_runner.h"
#include "loaded_plugin.h"

namespace {

constexpr int kSentences = 5;
constexpr int kFrameBytes = 4;  // 44.1 kHz stereo, 16 bits

uint32_t At(int ms) {
  return static_cast<uint32_t>(static_cast<int64_t>(ms) * 44100 / 1000) * kFrameBytes;
}

// Sentence k sounds from 1300 k ms for 1000 ms; the lesson ends 300 ms after the last.
std::string ToneLesson() {
  std::string pcm;
  for (int k = 0; k < kSentences; ++k) {
    const std::vector<uint8_t> tone = ToneBytes(300 + 100 * k, 1.0, 44100, 2);
    pcm.append(tone.begin(), tone.end());
    pcm.append(At(300), '\0');
  }
  return pcm;
}

class TranscriptCli : public ::testing::Test {
 protected:
  void SetUp() override {
    lesson = ToneLesson();
    WriteFileBytes(cli.File("lesson.qv"), QvFileBytes(RecordingFormat(), lesson));
  }
  CliRunner cli;
  std::string lesson;
};

TEST_F(TranscriptCli, AnLrcDrillRepeatsEverySentenceFromLineToLine) {
  // Out of order, a metadata tag, two times on one line, a word tag, an
  // offset, a line past the end. The lead-in (the first tone) has no line.
  WriteFileBytes(cli.File("lesson.lrc"),
                 "[ar:Kestro]\n[offset:+100]\n[00:02.70]two <00:03.00>words\n"
                 "[00:01.40]one\n[00:04.00][00:05.30]three and four\n[00:09.00]gone\n");
  const auto r = cli.Run("--drill=drill.wav --count=2 lesson.qv");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "sentences: 4\n");
  // A line runs to the next one's start; the pads reach into no other line
  // (the lead-in has none).
  const std::vector<uint32_t> starts = {At(1150), At(2600), At(3900), At(5200)};
  const std::vector<uint32_t> ends = {At(2600), At(3900), At(5200),
                                      static_cast<uint32_t>(lesson.size())};
  EXPECT_TRUE(BytesEqual(cli.WavData("drill.wav"), DrillOf(lesson, starts, ends, 2)));
}

TEST_F(TranscriptCli, AnSrtDrillPadsEachCueAndANoTranscriptDrillFindsNone) {
  std::string srt;
  for (int k = 0; k < kSentences; ++k) {
    const int from = 1300 * k, to = from + 1000;
    char cue[200];
    std::snprintf(cue, sizeof(cue), "%d\n00:00:%02d,%03d --> 00:00:%02d,%03d\n<i>line</i> %d\n\n",
                  k + 1, from / 1000, from % 1000, to / 1000, to % 1000, k + 1);
    srt += cue;
  }
  WriteFileBytes(cli.File("lesson.srt"), srt);
  auto r = cli.Run("--drill=drill.wav --count=1 lesson.qv");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "sentences: 5\n");
  std::vector<uint32_t> starts, ends;
  for (int k = 0; k < kSentences; ++k) {
    starts.push_back(At(std::max(0, 1300 * k - 150)));
    ends.push_back(At(1300 * k + 1000 + 250));
  }
  EXPECT_TRUE(BytesEqual(cli.WavData("drill.wav"), DrillOf(lesson, starts, ends, 1)));
  // The same list, printed without playing: number, start, end, text.
  r = cli.Run("--list-sentences lesson.qv");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out.substr(0, r.out.find('\n', r.out.find('\n') + 1) + 1),
            "1\t0.000\t1.250\tline 1\n2\t1.150\t2.550\tline 2\n");
  EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), kSentences);

  // Pauses of 0.3 s are no sentence ends to the pause detection's defaults:
  // it says so and what to try.
  r = cli.Run("--drill=none.wav --no-transcript lesson.qv");
  EXPECT_EQ(r.out, "sentences: 0\n");
  EXPECT_NE(r.err.find("give the lesson a transcript"), std::string::npos) << r.err;
}

TEST_F(TranscriptCli, ScriptsGoFromSentenceToSentenceAndSeeTheirNumbers) {
  WriteFileBytes(cli.File("lesson.vtt"),
                 "WEBVTT\n\nNOTE made by hand\n\n00:01.300 --> 00:02.300 align:start\none\n\n"
                 "00:02.600 --> 00:03.600\ntwo\n\n00:03.900 --> 00:04.900\nthree\n");
  const auto r = cli.Run("--audio=offline lesson.qv",
                         "wait 100\nsentence next\nwait 100\nstatus\nsentence next\nwait 100\n"
                         "status\nsentence previous\nwait 100\nstatus\nsentence again\n"
                         "wait 100\nstatus\nsentence next\nsentence next\nsentence next\n");
  EXPECT_EQ(r.exitCode, 1);  // the last "next" has nowhere to go, and says so
  EXPECT_NE(r.err.find("sentence: there is no next sentence"), std::string::npos) << r.err;
  std::vector<std::string> numbers;
  for (size_t at = 0; (at = r.out.find("sentence=", at)) != std::string::npos; ++at)
    numbers.push_back(r.out.substr(at + 9, r.out.find_first_of(" \n", at) - at - 9));
  EXPECT_EQ(numbers, (std::vector<std::string>{"1/3", "2/3", "1/3", "1/3"})) << r.out;
}

// In automatic mode a step goes from the sentence heard: during its gaps and
// repeats, and just after its repeats, not from where a repeat's end or an
// earlier step left the reading.
TEST_F(TranscriptCli, SentenceStepsInAutomaticModeGoFromTheSentenceHeard) {
  WriteFileBytes(cli.File("lesson.lrc"),
                 "[00:00.00]1\n[00:01.30]2\n[00:02.60]3\n[00:03.90]4\n[00:05.20]5\n");
  const auto r = cli.Run("--audio=offline --auto --count=2 --gap=0.5 lesson.qv",
                         // in sentence 1's first gap
                         "wait-mode repeating\nsentence next\nwait 100\nstatus\n"
                         // in sentence 2's first repeat
                         "wait-mode repeating\nwait 700\nstatus\nsentence previous\n"
                         "wait 100\nstatus\n"
                         // in sentence 1's gap again
                         "wait-mode repeating\nwait 300\nstatus\nsentence again\nwait 100\n"
                         "status\n"
                         // as sentence 4 begins, after 2 and 3 were heard to their ends
                         "sentence next\nwait-mode repeating\nwait-mode reading\n"
                         "wait-mode repeating\nwait-mode reading\nsentence previous\nwait 100\n"
                         "status\n");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  std::vector<std::string> seen;
  for (size_t at = 0; (at = r.out.find("mode=", at)) != std::string::npos; ++at) {
    const size_t sentence = r.out.find("sentence=", at);
    seen.push_back(r.out.substr(at + 5, r.out.find(' ', at) - at - 5) + " " +
                   r.out.substr(sentence + 9, r.out.find('\n', sentence) - sentence - 9));
  }
  EXPECT_EQ(seen, (std::vector<std::string>{"reading 2/5 gap=0", "repeating 2/5 gap=0",
                                            "reading 1/5 gap=0", "repeating 1/5 gap=1",
                                            "reading 1/5 gap=0", "reading 2/5 gap=0"}))
      << r.out;
}

// After a mode has played the recording, the lesson read again stops at its
// sentences' ends as before.
TEST_F(TranscriptCli, SentencesEndAsBeforeOnceTheRecordingWasPlayedBack) {
  WriteFileBytes(cli.File("lesson.lrc"), "[00:00.00]one\n[00:01.30]two\n[00:02.60]three\n");
  const auto r = cli.Run("--audio=offline --wav=heard.wav lesson.qv",
                         "wait 300\nrecord\nwait 200\nplayback\nauto\nwait 200\nread\n"
                         "wait-mode repeating\nstatus\n");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("sentence=1/3"), std::string::npos) << r.out;
  // The first sentence ended where its line does, not the lesson's end.
  EXPECT_LT(cli.WavData("heard.wav").size(), At(2000));
}

TEST_F(TranscriptCli, ATranscriptWithNothingUsableIsToldOnceAndPauseDetectionTakesOver) {
  WriteFileBytes(cli.File("lesson.lrc"), std::string("\x7f"
                                                     "ELF\x01\x02\0\0garbage\n",
                                                     16));
  const auto r = cli.Run("--drill=drill.wav --seconds=0.2 lesson.qv");
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.err.find("transcript lesson.lrc: it holds no timed line"), std::string::npos)
      << r.err;
  const auto without = cli.Run("--drill=without.wav --seconds=0.2 --no-transcript lesson.qv");
  EXPECT_EQ(r.out, without.out);
  EXPECT_NE(r.out, "sentences: 0\n");
  EXPECT_TRUE(BytesEqual(cli.WavData("drill.wav"), cli.WavData("without.wav")));
}

// The pause method: a lead-in and pauses far longer than the window are no
// sentences of their own, however short the window.
TEST(PauseDetection, RepeatsNoSilence) {
  CliRunner cli;
  std::string pcm(At(1000), '\0');
  const int pauses[] = {500, 2500, 500, 2000};
  for (int k = 0; k < 4; ++k) {
    const std::vector<uint8_t> tone = ToneBytes(400 + 100 * k, 0.5, 44100, 2);
    pcm.append(tone.begin(), tone.end());
    pcm.append(At(pauses[k]), '\0');
  }
  WriteFileBytes(cli.File("lesson.qv"), QvFileBytes(RecordingFormat(), pcm));
  const auto r = cli.Run("--drill=drill.wav --seconds=0.3 --count=2 lesson.qv");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "sentences: 4\n");
  // Each tone heard once and twice again, nothing else sounding.
  int tones = 0;
  const std::string drill = cli.WavData("drill.wav");
  for (size_t i = 0; i + 4 <= drill.size(); i += 4) {
    const bool sound = drill.compare(i, 4, std::string(4, '\0')) != 0;
    const bool before = i >= 4 && drill.compare(i - 4, 4, std::string(4, '\0')) != 0;
    // A tone starts at a zero sample; count where sound begins after silence.
    tones += sound && !before && (i < 8 || drill.compare(i - 8, 4, std::string(4, '\0')) == 0);
  }
  EXPECT_EQ(tones, 12);
}

}  // namespace
