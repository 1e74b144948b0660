// SPDX-License-Identifier: GPL-3.0-or-later
// Gaps for shadowing and stops for dictation, as kestro-cli drills and
// scripts them: tone sentences from a transcript, 1 s each, pauses of 0.3 s.
#include <gtest/gtest.h>

#include <string>

#include "cli_runner.h"
#include "export/wav_file_writer.h"
#include "loaded_plugin.h"

namespace {

constexpr int kSentences = 3;

uint32_t At(int ms) {
  return static_cast<uint32_t>(static_cast<int64_t>(ms) * 44100 / 1000) * 4;
}

class ShadowingCli : public ::testing::Test {
 protected:
  void SetUp() override {
    for (int k = 0; k < kSentences; ++k) {
      const std::vector<uint8_t> tone = ToneBytes(300 + 100 * k, 1.0, 44100, 2);
      lesson.append(tone.begin(), tone.end());
      lesson.append(At(300), '\0');
    }
    WriteFileBytes(cli.File("lesson.qv"), QvFileBytes(RecordingFormat(), lesson));
    // Lines that end where each tone does: no pads, the sentences are exact.
    WriteFileBytes(cli.File("lesson.srt"),
                   "1\n00:00:00,000 --> 00:00:01,000\none\n\n"
                   "2\n00:00:01,300 --> 00:00:02,300\ntwo\n\n"
                   "3\n00:00:02,600 --> 00:00:03,600\nthree\n");
  }
  // Sentence k heard, then after each play its gap, then its count repeats.
  std::string Expected(int count, const std::function<uint32_t(int k, bool last)>& gap) const {
    std::string drill;
    uint32_t read = 0;
    for (int k = 0; k < kSentences; ++k) {
      const uint32_t start = At(1300 * k), end = At(1300 * k + 1000);
      drill += lesson.substr(read, end - read);
      for (int i = 0; i < count; ++i) {
        drill.append(gap(k, false), '\0');
        drill += lesson.substr(start, end - start);
      }
      drill.append(gap(k, true), '\0');
      read = end;
    }
    return drill + lesson.substr(read);
  }
  CliRunner cli;
  std::string lesson;
};

TEST_F(ShadowingCli, ADrillHasTheGapAfterEveryPlayAndThePauseAfterTheLast) {
  auto r = cli.Run("--drill=drill.wav --pad=0,0 --count=2 --gap=1.0x lesson.qv");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "sentences: 3\n");
  EXPECT_TRUE(
      BytesEqual(cli.WavData("drill.wav"), Expected(2, [](int, bool) { return At(1000); })));

  r = cli.Run("--drill=drill.wav --pad=0,0 --count=1 --gap=0.5 --pause-after=2 lesson.qv");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_TRUE(BytesEqual(cli.WavData("drill.wav"),
                         Expected(1, [](int, bool last) { return At(last ? 2000 : 500); })));

  for (const char* bad : {"--gap=0.2x", "--gap=61", "--gap=x", "--pause-after=0"}) {
    r = cli.Run(std::string("--drill=drill.wav ") + bad + " lesson.qv");
    EXPECT_EQ(r.exitCode, 2) << bad;
    EXPECT_NE(r.err.find("out of range"), std::string::npos) << bad << ": " << r.err;
  }
}

TEST_F(ShadowingCli, TheGapShowsInStatusAndStopsAtOnce) {
  // 1 s heard, then a 2-s gap: at 1.5 s the gap sounds; stop ends it there.
  const auto r = cli.Run("--audio=offline --auto --gap=2 --pad=0,0 --wav=heard.wav lesson.qv",
                         "wait 1500\nstatus\nstop\nwait 500\nstatus\n");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const size_t first = r.out.find("gap=");
  ASSERT_NE(first, std::string::npos) << r.out;
  EXPECT_EQ(r.out.substr(first, 5), "gap=1") << r.out;
  EXPECT_NE(r.out.find("mode=idle"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.substr(r.out.rfind("gap="), 5), "gap=0") << r.out;
  // Nothing after the stop: the sentence and at most the gap's first half
  // second (and a buffer) were heard.
  const std::string heard = cli.WavData("heard.wav");
  EXPECT_TRUE(BytesEqual(heard.substr(0, At(1000)), lesson.substr(0, At(1000))));
  EXPECT_LE(heard.size(), At(1500) + 5000u);
  EXPECT_EQ(heard.find_first_not_of('\0', At(1000)), std::string::npos);
}

TEST_F(ShadowingCli, DictationPausesAfterEachSentenceUntilPlay) {
  const auto r = cli.Run("--audio=offline --auto --count=1 --pad=0,0 --wav=heard.wav lesson.qv",
                         "stop-after on\nwait 5000\nstatus\nplay\nwait 1500\nstatus\n");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  // Paused after the first sentence and its repeat; play reads on from its end.
  std::string expected = lesson.substr(0, At(1000)) + lesson.substr(0, At(1000));
  const std::string heard = cli.WavData("heard.wav");
  ASSERT_GE(heard.size(), expected.size() + At(1000)) << r.out;
  EXPECT_TRUE(BytesEqual(heard.substr(0, expected.size() + At(1000)),
                         expected + lesson.substr(At(1000), At(1000))));
  // Paused, then read on to the second sentence's end and repeating it.
  EXPECT_NE(r.out.find("mode=idle"), std::string::npos) << r.out;
  const std::string last = r.out.substr(r.out.rfind("mode="));
  EXPECT_EQ(last.rfind("mode=repeating", 0), 0u) << r.out;
  EXPECT_NE(last.find("sentence=2/3"), std::string::npos) << r.out;
}

TEST_F(ShadowingCli, RecordedTurnsPlayTheLearnerBackBeforeEachNextPlay) {
  // The learner, as the offline input hears them: a rising pattern, 4 s.
  const std::string voice = LessonPcm(At(4000), 9);
  WavFileWriter w;
  ASSERT_TRUE(w.Create(cli.File("voice.wav"), nullptr));
  w.Append(RecordingFormat(), reinterpret_cast<const uint8_t*>(voice.data()),
           static_cast<uint32_t>(voice.size()));
  w.Close();
  const auto r = cli.Run(
      "--audio=offline --auto --count=1 --gap=0.5x --record-in-gap --pad=0,0 "
      "--record-from=voice.wav --wav=heard.wav lesson.qv");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  // Each turn records half the sentence's second from the start of the input,
  // played back at once: model, self, model, self, then reading goes on.
  const std::string self = voice.substr(0, At(500));
  std::string expected;
  uint32_t read = 0;
  for (int k = 0; k < kSentences; ++k) {
    const uint32_t start = At(1300 * k), end = At(1300 * k + 1000);
    expected += lesson.substr(read, end - read) + self + lesson.substr(start, end - start) + self;
    read = end;
  }
  expected += lesson.substr(read);
  EXPECT_TRUE(BytesEqual(cli.WavData("heard.wav"), expected));
  // The last turn is kept as the recording.
  EXPECT_TRUE(BytesEqual(cli.QvData("RecordVM.qv"), self));
}

}  // namespace
