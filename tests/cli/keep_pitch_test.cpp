// SPDX-License-Identifier: GPL-3.0-or-later
// Slowing down with the pitch kept, through kestro-cli as a learner uses it.
#include <gtest/gtest.h>
#include <sndfile.h>

#include <string>
#include <vector>

#include "cli_runner.h"
#include "dsp/tempo_stretcher.h"
#include "loaded_plugin.h"
#include "pcm.h"

namespace {

constexpr size_t kBuffer = 5000;
constexpr double kBytesPerSecond = 176400;

std::vector<uint8_t> Bytes(const std::string& s) {
  return std::vector<uint8_t>(s.begin(), s.end());
}

int WavRate(const std::string& path) {
  SF_INFO info{};
  SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
  if (f == nullptr) return 0;
  sf_close(f);
  return info.samplerate;
}

// What the output device makes of sound at tempo, without an end: the sound
// it has given out at any moment is the start of this.
std::string Stretched(const std::string& pcm, double tempo) {
  TempoStretcher s;
  s.Configure(RecordingFormat());
  s.SetTempo(tempo);
  std::string out;
  std::vector<uint8_t> buffer(65536);
  for (size_t at = 0; at < pcm.size(); at += kBuffer) {
    const std::string piece = pcm.substr(at, kBuffer);
    s.Put(reinterpret_cast<const uint8_t*>(piece.data()), static_cast<uint32_t>(piece.size()));
    while (uint32_t n = s.Take(buffer.data(), static_cast<uint32_t>(buffer.size())))
      out.append(reinterpret_cast<const char*>(buffer.data()), n);
  }
  return out;
}

TEST(KeepPitch, AToneAtSpeed25LastsFourThirdsAsLongAtItsOwnPitch) {
  CliRunner cli;
  const std::vector<uint8_t> tone = ToneBytes(440, 3.0, 44100, 2);
  const std::string pcm(tone.begin(), tone.end());
  WriteFileBytes(cli.File("tone.qv"), QvFileBytes(RecordingFormat(), pcm));

  auto r = cli.Run("--audio=offline --wav=slow.wav --speed=25 --keep-pitch tone.qv");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const std::vector<uint8_t> slow = Bytes(cli.WavData("slow.wav"));
  EXPECT_EQ(WavRate(cli.File("slow.wav")), 44100);
  const double seconds = slow.size() / kBytesPerSecond;
  EXPECT_NEAR(seconds, 4.0, 0.01);
  EXPECT_NEAR(ZeroCrossings(slow, 2) / seconds, 880, 5);  // still 440 Hz

  // Past half the slider holds half the speed.
  r = cli.Run("--audio=offline --wav=half.wav --speed=80 --keep-pitch tone.qv");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NEAR(cli.WavData("half.wav").size() / kBytesPerSecond, 6.0, 0.01);

  // Without the option the device plays the file's bytes at the lower rate.
  r = cli.Run("--audio=offline --wav=low.wav --speed=25 tone.qv");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(WavRate(cli.File("low.wav")), 33000);
  EXPECT_TRUE(BytesEqual(cli.WavData("low.wav"), pcm));
}

TEST(KeepPitch, TheSoundCardHearsWhatTheOfflineDeviceWrites) {
  CliRunner cli;
  const std::vector<uint8_t> tone = ToneBytes(440, 1.0, 44100, 2);
  WriteFileBytes(cli.File("tone.qv"),
                 QvFileBytes(RecordingFormat(), std::string(tone.begin(), tone.end())));
  auto r = cli.Run("--audio=offline --wav=offline.wav --speed=25 --keep-pitch tone.qv");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  r = cli.Run("--speed=25 --keep-pitch tone.qv", "",
              "SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE=" + cli.File("card.raw"));
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const std::string offline = cli.WavData("offline.wav");
  EXPECT_NEAR(offline.size() / kBytesPerSecond, 4.0 / 3, 0.01);
  EXPECT_TRUE(BytesEqual(Sounding(ReadFileBytes(cli.File("card.raw"))), Sounding(offline)));
}

TEST(KeepPitch, ASlowDrillFindsTheSameSentencesEveryRun) {
  CliRunner cli;
  const std::string lesson = SentenceLesson({{40, 25}, {30, 7}, {25, 25}, {20, 0}});
  WriteFileBytes(cli.File("lesson.qv"), QvFileBytes(RecordingFormat(), lesson));
  auto r = cli.Run("--drill=full.wav --seconds=0.5 lesson.qv");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  ASSERT_EQ(r.out, "sentences: 2\n");
  const std::vector<uint8_t> full = Bytes(cli.WavData("full.wav"));

  r = cli.Run("--drill=slow.wav --seconds=0.5 --speed=25 --keep-pitch lesson.qv");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "sentences: 2\n");
  const std::string first = cli.WavData("slow.wav");
  const std::vector<uint8_t> slow = Bytes(first);
  // Every sentence and every repeat, three quarters as fast, at the same pitch.
  EXPECT_NEAR(static_cast<double>(slow.size()) / full.size(), 4.0 / 3, 0.01);
  const double fullRate = ZeroCrossings(full, 2) / (full.size() / kBytesPerSecond);
  const double slowRate = ZeroCrossings(slow, 2) / (slow.size() / kBytesPerSecond);
  EXPECT_NEAR(slowRate / fullRate, 1.0, 0.02);

  for (int run = 0; run < 3; ++run) {
    r = cli.Run("--drill=again.wav --seconds=0.5 --speed=25 --keep-pitch lesson.qv");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(BytesEqual(cli.WavData("again.wav"), first)) << "run " << run;
  }
}

TEST(KeepPitch, PauseSeekAndItemChangePlayNothingStale) {
  CliRunner cli;
  const std::string lesson = LessonPcm(kBuffer * 800, 3);
  const std::string second = LessonPcm(kBuffer * 300, 4);
  WriteFileBytes(cli.File("lesson.qv"), QvFileBytes(RecordingFormat(), lesson));
  WriteFileBytes(cli.File("second.qv"), QvFileBytes(RecordingFormat(), second));
  // Start-up opens the first file named.
  const std::string fromStart = Stretched(second, 0.75);
  const std::string fromMiddle = Stretched(second.substr(150 * kBuffer), 0.75);
  const std::string next = Stretched(lesson, 0.75);
  for (int run = 0; run < 5; ++run) {
    const auto r =
        cli.Run("--audio=offline --wav=out.wav --speed=25 --keep-pitch second.qv lesson.qv",
                "volume 100\nwait 300\npause\nsleep 50\nplay\nwait 300\nseek 5000\nwait 300\n"
                "open 1\nwait 300\nstatus\n");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find(" speed=25 rate=44100 tempo=0.75"), std::string::npos) << r.out;
    const std::string out = cli.WavData("out.wav");
    // 1.2 s of sound time, in whole buffers of about 38 ms each.
    EXPECT_NEAR(out.size() / kBytesPerSecond, 1.2, 0.16);
    // Before the seek: the item from its start, through the pause, with nothing
    // lost or played twice; after it, the item from the seek's place, then the
    // other item, each from its start and nothing else.
    const size_t seek = out.find(fromMiddle.substr(0, 4000));
    ASSERT_NE(seek, std::string::npos) << "run " << run;
    const size_t change = out.find(next.substr(0, 4000), seek);
    ASSERT_NE(change, std::string::npos) << "run " << run;
    EXPECT_NEAR(seek / kBytesPerSecond, 0.6, 0.08);
    EXPECT_NEAR((change - seek) / kBytesPerSecond, 0.3, 0.08);
    EXPECT_TRUE(BytesEqual(out.substr(0, seek), fromStart.substr(0, seek))) << "run " << run;
    EXPECT_TRUE(BytesEqual(out.substr(seek, change - seek), fromMiddle.substr(0, change - seek)))
        << "run " << run;
    EXPECT_TRUE(BytesEqual(out.substr(change), next.substr(0, out.size() - change)))
        << "run " << run;
  }
}

TEST(KeepPitch, TheScriptTurnsItOnAndOffWhileSoundPlays) {
  CliRunner cli;
  const std::string lesson = LessonPcm(kBuffer * 400, 5);
  WriteFileBytes(cli.File("lesson.qv"), QvFileBytes(RecordingFormat(), lesson));
  const auto r = cli.Run("--audio=offline --wav=out.wav lesson.qv",
                         "volume 100\nspeed 25\nwait 200\nstatus\nkeep-pitch on\nwait 200\n"
                         "status\nkeep-pitch off\nwait 200\nstatus\nkeep-pitch maybe\n");
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("keep-pitch takes on or off"), std::string::npos) << r.err;
  const std::vector<std::string> want = {"speed=25 rate=33000 tempo=1.00",
                                         "speed=25 rate=44100 tempo=0.75",
                                         "speed=25 rate=33000 tempo=1.00"};
  size_t at = 0;
  for (const std::string& w : want) {
    at = r.out.find(w, at);
    ASSERT_NE(at, std::string::npos) << w << "\n" << r.out;
  }
}

}  // namespace
