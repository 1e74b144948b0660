#include <gtest/gtest.h>
#include <sndfile.h>

#include <cmath>
#include <cstring>

#include "cli_runner.h"
#include "loaded_plugin.h"
#include "platform/wav_file_writer.h"

namespace {

constexpr size_t kBuffer = 5000;

// The offline sound clock as a script sees it: how many whole 5000-byte buffers
// (44.1 kHz 16-bit stereo) each wait lets the device finish.
class SoundTime {
 public:
  size_t Buffers(int64_t ms) {
    budget += ms * 1000000;
    const int64_t n = budget / kBufferNs;
    budget -= n * kBufferNs;
    return static_cast<size_t>(n);
  }

 private:
  static constexpr int64_t kBufferNs = 5000LL * 1000000000 / 176400;
  int64_t budget = 0;
};

std::string Buffers(const std::string& pcm, size_t first, size_t count) {
  return pcm.substr(first * kBuffer, count * kBuffer);
}

// count buffers of a passage played over and over.
std::string Looped(const std::string& passage, size_t count) {
  std::string out;
  for (size_t i = 0; i < count; ++i)
    out += passage.substr((i * kBuffer) % passage.size(), kBuffer);
  return out;
}

class KestroCli : public ::testing::Test {
 protected:
  void SetUp() override {
    lesson = LessonPcm(kBuffer * 400, 1);
    WriteFileBytes(cli.File("lesson.qv"), QvFileBytes(RecordingFormat(), lesson));
    voice = LessonPcm(kBuffer * 600, 2);
    WavFileWriter w;
    ASSERT_TRUE(w.Create(cli.File("voice.wav"), nullptr));
    w.Append(RecordingFormat(), reinterpret_cast<const uint8_t*>(voice.data()),
             static_cast<uint32_t>(voice.size()));
    w.Close();
  }

  CliRunner::Result Script(const std::string& script, const std::string& files = "lesson.qv") {
    return cli.Run("--audio=offline --wav=out.wav --record-from=voice.wav " + files, script);
  }

  CliRunner cli;
  std::string lesson;
  std::string voice;
  SoundTime time;
};

TEST_F(KestroCli, PlaysEveryEntryOnceAtTheStartUpVolume) {
  const std::string second = LessonPcm(kBuffer * 7 + 321, 5);
  WriteFileBytes(cli.File("b.qv"), QvFileBytes(RecordingFormat(), second));
  const auto r = cli.Run("--audio=offline --wav=out.wav lesson.qv missing.qv b.qv");
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.err.find("missing.qv"), std::string::npos);
  EXPECT_TRUE(BytesEqual(cli.WavData("out.wav"), Scaled(lesson + second, 32767)));
}

TEST_F(KestroCli, MarkRepeatAndReadOn) {
  const size_t n1 = time.Buffers(300), n2 = time.Buffers(250), n3 = time.Buffers(700),
               n4 = time.Buffers(200);
  const auto r = Script(
      "volume 100\nwait 300\nread\nwait 250\nrepeat\nstatus\nwait 700\nread\n"
      "wait 200\nstatus\n");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const size_t a = n1 - 1, b = n1 + n2 - 1;  // A and B in buffers
  const std::string expected =
      Buffers(lesson, 0, n1 + n2) + Looped(Buffers(lesson, a, b - a), n3) + Buffers(lesson, b, n4);
  EXPECT_TRUE(BytesEqual(cli.WavData("out.wav"), expected));
  EXPECT_NE(r.out.find("mode=repeating flags=0x00000800 item=0"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("mode=reading flags=0x00000400 item=0 pos=" +
                       std::to_string((b + n4 - 1) * kBuffer) + " length=2000000"),
            std::string::npos)
      << r.out;
}

TEST_F(KestroCli, RepeatRightAfterReadRepeatsNothing) {
  const size_t n1 = time.Buffers(300), n2 = time.Buffers(300);
  const auto r = Script("volume 100\nwait 300\nread\nrepeat\nstatus\nwait 300\n");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("mode=reading"), std::string::npos);
  // Reading goes on from where it was, replaying the last buffer heard.
  EXPECT_TRUE(
      BytesEqual(cli.WavData("out.wav"), Buffers(lesson, 0, n1) + Buffers(lesson, n1 - 1, n2)));
}

TEST_F(KestroCli, RecordsTheInputInOrderPastTheLastSlot) {
  // 12 s of recording fill the 401 slots and wrap; the script ends the recording
  // while the input device is far ahead of the engine.
  const size_t n1 = time.Buffers(200), n2 = time.Buffers(12000), n3 = time.Buffers(150);
  ASSERT_GT(n2, 401u);
  const auto r = Script("volume 100\nwait 200\nrecord\nstatus\nwait 12000\nread\nwait 150\n");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("mode=recording flags=0x00004000"), std::string::npos) << r.out;
  EXPECT_TRUE(BytesEqual(cli.QvData("RecordVM.qv"), Buffers(voice, 0, n2)));
  WaveFormatEx header;
  std::memcpy(&header, ReadFileBytes(cli.File("RecordVM.qv")).data() + 5, sizeof(header));
  const WaveFormatEx expected = RecordingFormat();
  EXPECT_EQ(0, std::memcmp(&header, &expected, sizeof(header)));
  // Reading went on from B, the start of the last buffer heard before recording.
  EXPECT_TRUE(
      BytesEqual(cli.WavData("out.wav"), Buffers(lesson, 0, n1) + Buffers(lesson, n1 - 1, n3)));
}

TEST_F(KestroCli, PlaybackLoopsTheRecordingThenReadsOnFromB) {
  const size_t n1 = time.Buffers(300), n2 = time.Buffers(200), n3 = time.Buffers(400),
               n4 = time.Buffers(1000), n5 = time.Buffers(100);
  const auto r = Script(
      "volume 100\nwait 300\nread\nwait 200\nrecord\nwait 400\nplayback\nstatus\nwait 1000\n"
      "read\nwait 100\n");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("mode=playing-back flags=0x00010000"), std::string::npos) << r.out;
  const std::string recording = Buffers(voice, 0, n3);
  EXPECT_TRUE(BytesEqual(cli.QvData("RecordVM.qv"), recording));
  const size_t b = n1 + n2 - 1;
  EXPECT_TRUE(
      BytesEqual(cli.WavData("out.wav"),
                 Buffers(lesson, 0, n1 + n2) + Looped(recording, n4) + Buffers(lesson, b, n5)));
}

TEST_F(KestroCli, CompareAlternatesRecordingAndPassage) {
  const size_t n1 = time.Buffers(300), n2 = time.Buffers(200), n3 = time.Buffers(150),
               n4 = time.Buffers(1500), n5 = time.Buffers(100);
  const auto r = Script(
      "volume 100\nwait 300\nread\nwait 200\nrecord\nwait 150\ncompare\nstatus\nwait 1500\n"
      "read\nwait 100\n");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("mode=comparing flags=0x00000100"), std::string::npos) << r.out;
  const size_t a = n1 - 1, b = n1 + n2 - 1;
  const std::string cycle = Buffers(voice, 0, n3) + Buffers(lesson, a, b - a);
  EXPECT_TRUE(BytesEqual(cli.WavData("out.wav"),
                         Buffers(lesson, 0, n1 + n2) + Looped(cycle, n4) + Buffers(lesson, b, n5)));
}

TEST_F(KestroCli, StopThenPlayReopensTheSelectedItem) {
  const size_t n1 = time.Buffers(200), n2 = time.Buffers(100);
  const auto r = Script("volume 100\nwait 200\nstop\nstatus\nwait 50\nplay\nwait 100\n");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("mode=idle flags=0x00000000"), std::string::npos) << r.out;
  EXPECT_TRUE(BytesEqual(cli.WavData("out.wav"), Buffers(lesson, 0, n1) + Buffers(lesson, 0, n2)));
}

TEST_F(KestroCli, StartUpOpensWhatTheEndOfItemRuleGives) {
  auto r = cli.Run("--audio=offline", "status\n");  // no Kestro.m3u: empty list
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("mode=idle"), std::string::npos) << r.out;

  r = Script("wait-mode reading\nstatus\n");
  EXPECT_NE(r.out.find("mode=reading flags=0x00000400 item=0 "), std::string::npos) << r.out;

  WriteFileBytes(cli.File("b.qv"), QvFileBytes(RecordingFormat(), LessonPcm(50000, 3)));
  WriteFileBytes(cli.File("Kestro.m3u"), "#EXTM3U\r\nlesson.qv\r\nb.qv\r\n");
  r = cli.Run("--audio=offline", "wait-mode reading\nstatus\n");
  // The list loads sorted (b.qv, lesson.qv), and the rule advances from 0 to 1.
  EXPECT_NE(r.out.find("item=1 pos=0 length=2000000"), std::string::npos) << r.out;
}

TEST_F(KestroCli, PauseAndResume) {
  const size_t n1 = time.Buffers(200), n2 = time.Buffers(100);
  // While paused no sound time passes: the wait is wall-clock time.
  const auto r = Script("volume 100\nwait 200\npause\nstatus\nwait 300\nplay\nwait 100\nstatus\n");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("mode=idle flags=0x00000000"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("mode=reading flags=0x00000400"), std::string::npos) << r.out;
  // Nothing is lost across the pause: the sound goes on where it stopped.
  EXPECT_TRUE(BytesEqual(cli.WavData("out.wav"), Buffers(lesson, 0, n1 + n2)));
}

TEST_F(KestroCli, ReportsBadInputClearly) {
  auto r = cli.Run("--audio=offline --bogus");
  EXPECT_NE(r.exitCode, 0);
  EXPECT_NE(r.err.find("unknown option --bogus"), std::string::npos) << r.err;
  r = cli.Run("--audio=alsa");
  EXPECT_NE(r.exitCode, 0);
  r = Script("volume 100\nfly away\n");
  EXPECT_NE(r.exitCode, 0);
  EXPECT_NE(r.err.find("line 2: unknown command \"fly\""), std::string::npos) << r.err;
  r = Script("seek 20000\n");
  EXPECT_NE(r.exitCode, 0);
  r = Script("wait-mode flying\n");
  EXPECT_NE(r.exitCode, 0);
  r = cli.Run("--help");
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_NE(r.out.find("wait-mode MODE"), std::string::npos);
  r = cli.Run("--audio=offline nothing-here.qv");
  EXPECT_NE(r.exitCode, 0);
  EXPECT_NE(r.err.find("nothing-here.qv"), std::string::npos);
}

TEST_F(KestroCli, SaysWhyNothingPlaysWithoutASoundSystem) {
  const auto r = cli.Run("lesson.qv", "", "SDL_AUDIODRIVER=kestro-no-such-driver");
  EXPECT_NE(r.exitCode, 0);
  EXPECT_NE(r.err.find("nothing could be played: no sound system"), std::string::npos) << r.err;
}

TEST_F(KestroCli, PlaysThroughARealDeviceDriver) {
  const auto r = cli.Run("--audio=sdl lesson.qv", "wait-mode reading\nsleep 300\nstatus\nquit\n",
                         "SDL_AUDIODRIVER=dummy");
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("mode=reading"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("pos=0 "), std::string::npos) << r.out;  // sound has been played
}

TEST_F(KestroCli, PlaysAnMp3Lesson) {
  // A generated mp3 (libsndfile's encoder takes floats intact).
  const int frames = 44100 * 3;
  std::vector<float> signal(frames * 2);
  for (int i = 0; i < frames; ++i) {
    signal[2 * i] = static_cast<float>(0.4 * std::sin(i * 0.05));
    signal[2 * i + 1] = signal[2 * i] * 0.5f;
  }
  SF_INFO info{};
  info.samplerate = 44100;
  info.channels = 2;
  info.format = SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III;
  SNDFILE* f = sf_open(cli.File("lesson.mp3").c_str(), SFM_WRITE, &info);
  ASSERT_NE(f, nullptr);
  sf_writef_float(f, signal.data(), frames);
  sf_close(f);
  SF_INFO readInfo{};
  f = sf_open(cli.File("lesson.mp3").c_str(), SFM_READ, &readInfo);
  ASSERT_NE(f, nullptr);
  std::string decoded(static_cast<size_t>(readInfo.frames) * 4, '\0');
  sf_readf_short(f, reinterpret_cast<short*>(decoded.data()), readInfo.frames);
  sf_close(f);

  const auto r = cli.Run("--audio=offline --wav=out.wav lesson.mp3");
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_TRUE(BytesEqual(cli.WavData("out.wav"), Scaled(decoded, 32767)));
}

}  // namespace

namespace {

// What the drill of a lesson must hold. Each boundary B is the buffer heard last
// when the sentence end was found: reading plays up to and including it, the
// sentence before it (up to B) is repeated count times, and reading goes on
// from B, so that buffer is heard again.
std::string DrillOf(const std::string& lesson, const std::vector<size_t>& boundaries, int count) {
  std::string out;
  size_t start = 0;
  for (size_t b : boundaries) {
    out += lesson.substr(start * kBuffer, (b + 1 - start) * kBuffer);
    const std::string sentence = lesson.substr(start * kBuffer, (b - start) * kBuffer);
    for (int i = 0; i < count; ++i)
      out += sentence;
    start = b;
  }
  return out + lesson.substr(start * kBuffer);
}

TEST(KestroDrill, RepeatsEverySentenceFollowedByALongPause) {
  CliRunner cli;
  // With a 0.5 s window (18 buffers) a pause of 25 buffers ends a sentence and a
  // pause of 7 does not; the last sentence has no long pause after it.
  const std::string lesson = SentenceLesson({{40, 25}, {30, 7}, {25, 25}, {20, 0}});
  WriteFileBytes(cli.File("lesson.qv"), QvFileBytes(RecordingFormat(), lesson));
  const auto r = cli.Run("--drill=drill.wav --seconds=0.5 --count=3 lesson.qv");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "sentences: 2\n");
  // A sentence end is found when the 18-flag window holds the last loud buffer L
  // and 17 silent ones; the buffer heard last then is L + 16: 39 + 16 and 126 + 16.
  EXPECT_TRUE(BytesEqual(cli.WavData("drill.wav"), Scaled(DrillOf(lesson, {55, 142}, 3), 32767)));

  // The same lesson again gives the same drill, byte for byte.
  const std::string first = ReadFileBytes(cli.File("drill.wav"));
  ASSERT_EQ(cli.Run("--drill=drill.wav --seconds=0.5 --count=3 lesson.qv").exitCode, 0);
  EXPECT_TRUE(BytesEqual(ReadFileBytes(cli.File("drill.wav")), first));
}

TEST(KestroDrill, CountAndWindowFromTheSettings) {
  CliRunner cli;
  const std::string lesson = SentenceLesson({{30, 30}, {30, 30}, {10, 0}});
  WriteFileBytes(cli.File("lesson.qv"), QvFileBytes(RecordingFormat(), lesson));
  // One play after hearing it: count 1.
  auto r = cli.Run("--drill=one.wav --seconds=0.5 --count=1 lesson.qv");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "sentences: 2\n");
  EXPECT_TRUE(BytesEqual(cli.WavData("one.wav"), Scaled(DrillOf(lesson, {45, 105}, 1), 32767)));
  // A 2 s window is longer than every pause: nothing is repeated.
  r = cli.Run("--drill=none.wav --count=5 lesson.qv");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "sentences: 0\n");
  EXPECT_TRUE(BytesEqual(cli.WavData("none.wav"), Scaled(lesson, 32767)));
  // Settings out of the dialog's ranges are refused.
  EXPECT_NE(cli.Run("--drill=x.wav --count=0 lesson.qv").exitCode, 0);
  EXPECT_NE(cli.Run("--drill=x.wav --seconds=0.05 lesson.qv").exitCode, 0);
  EXPECT_NE(cli.Run("--drill=x.wav a.qv b.qv").exitCode, 0);
}

}  // namespace
