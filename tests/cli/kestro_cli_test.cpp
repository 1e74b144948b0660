// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>
#include <filesystem>

#include <cmath>
#include <cstring>

#include "cli_runner.h"
#include "export/wav_file_writer.h"
#include "loaded_plugin.h"

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
  // Recording starts with no sound time left over from before.
  void Drain() { budget = 0; }
  // Sound played from files in turn, over and over, each in buffers of at most
  // 5000 bytes, for as long as ms (and what is left over) allows.
  std::string Cycle(const std::vector<std::string>& files, int64_t ms) {
    budget += ms * 1000000;
    std::string out;
    for (size_t f = 0;; f = (f + 1) % files.size()) {
      for (size_t at = 0; at < files[f].size(); at += kBuffer) {
        const std::string chunk = files[f].substr(at, kBuffer);
        const int64_t ns = static_cast<int64_t>(chunk.size()) * 1000000000 / 176400;
        if (budget < ns) return out;
        budget -= ns;
        out += chunk;
      }
    }
  }

 private:
  static constexpr int64_t kBufferNs = 5000LL * 1000000000 / 176400;
  int64_t budget = 0;
};

std::string Buffers(const std::string& pcm, size_t first, size_t count) {
  return pcm.substr(first * kBuffer, count * kBuffer);
}

// What the offline input captures in ms of sound time: every frame of it.
size_t Recorded(int64_t ms) {
  return static_cast<size_t>(ms * 44100 / 1000 * 4);
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

  CliRunner::Result Script(const std::string& script, const std::string& files = "lesson.qv",
                           const std::string& env = "") {
    return cli.Run("--audio=offline --wav=out.wav --record-from=voice.wav " + files, script, env);
  }

  CliRunner cli;
  std::string lesson;
  std::string voice;
  SoundTime time;
};

TEST_F(KestroCli, PlaysEveryEntryOnceAtFullLevel) {
  const std::string second = LessonPcm(kBuffer * 7 + 320, 5);
  WriteFileBytes(cli.File("b.qv"), QvFileBytes(RecordingFormat(), second));
  auto r = cli.Run("--audio=offline --wav=out.wav lesson.qv missing.qv b.qv");
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.err.find("skipped missing.qv: cannot read it"), std::string::npos) << r.err;
  EXPECT_TRUE(BytesEqual(cli.WavData("out.wav"), lesson + second));
  // Another level when asked for, in either form of the option.
  r = cli.Run("--audio offline --wav out.wav --volume 50 b.qv");
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_TRUE(BytesEqual(cli.WavData("out.wav"), Scaled(second, 32767)));
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
  // The script goes on, the repeat says why it was not served, and the run fails.
  EXPECT_EQ(r.exitCode, 1) << r.err;
  EXPECT_NE(r.err.find("kestro-cli: repeat: the passage to repeat is empty"), std::string::npos)
      << r.err;
  EXPECT_NE(r.out.find("mode=reading"), std::string::npos);
  // Reading goes on from where it was, replaying the last buffer heard.
  EXPECT_TRUE(
      BytesEqual(cli.WavData("out.wav"), Buffers(lesson, 0, n1) + Buffers(lesson, n1 - 1, n2)));
}

TEST_F(KestroCli, RecordsTheInputInOrderPastTheLastSlot) {
  // 12 s of recording fill the 401 slots and wrap; the script ends the recording
  // while the input device is far ahead of the engine.
  const size_t n1 = time.Buffers(200), n2 = Recorded(12000);
  time.Drain();
  const size_t n3 = time.Buffers(150);
  ASSERT_GT(n2, 401u * kBuffer);
  const auto r = Script("volume 100\nwait 200\nrecord\nstatus\nwait 12000\nread\nwait 150\n");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("mode=recording flags=0x00004000"), std::string::npos) << r.out;
  EXPECT_TRUE(BytesEqual(cli.QvData("RecordVM.qv"), voice.substr(0, n2)));
  WaveFormatEx header;
  std::memcpy(&header, ReadFileBytes(cli.File("RecordVM.qv")).data() + 5, sizeof(header));
  const WaveFormatEx expected = RecordingFormat();
  EXPECT_EQ(0, std::memcmp(&header, &expected, sizeof(header)));
  // Reading went on from B, the start of the last buffer heard before recording.
  EXPECT_TRUE(
      BytesEqual(cli.WavData("out.wav"), Buffers(lesson, 0, n1) + Buffers(lesson, n1 - 1, n3)));
}

TEST_F(KestroCli, PlaybackLoopsTheRecordingThenReadsOnFromB) {
  const size_t n1 = time.Buffers(300), n2 = time.Buffers(200), n3 = Recorded(400);
  time.Drain();
  const std::string recording = voice.substr(0, n3);
  const std::string looped = time.Cycle({recording}, 1000);
  const size_t n5 = time.Buffers(100);
  const auto r = Script(
      "volume 100\nwait 300\nread\nwait 200\nrecord\nwait 400\nplayback\nstatus\nwait 1000\n"
      "read\nwait 100\n");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("mode=playing-back flags=0x00010000"), std::string::npos) << r.out;
  EXPECT_TRUE(BytesEqual(cli.QvData("RecordVM.qv"), recording));
  const size_t b = n1 + n2 - 1;
  EXPECT_TRUE(BytesEqual(cli.WavData("out.wav"),
                         Buffers(lesson, 0, n1 + n2) + looped + Buffers(lesson, b, n5)));
}

TEST_F(KestroCli, CompareAlternatesRecordingAndPassage) {
  const size_t n1 = time.Buffers(300), n2 = time.Buffers(200), n3 = Recorded(150);
  time.Drain();
  const size_t a = n1 - 1, b = n1 + n2 - 1;
  const std::string cycle = time.Cycle({voice.substr(0, n3), Buffers(lesson, a, b - a)}, 1500);
  const size_t n5 = time.Buffers(100);
  const auto r = Script(
      "volume 100\nwait 300\nread\nwait 200\nrecord\nwait 150\ncompare\nstatus\nwait 1500\n"
      "read\nwait 100\n");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("mode=comparing flags=0x00000100"), std::string::npos) << r.out;
  EXPECT_TRUE(BytesEqual(cli.WavData("out.wav"),
                         Buffers(lesson, 0, n1 + n2) + cycle + Buffers(lesson, b, n5)));
}

// Read on after play-back and mark another passage: compare still pairs the
// recording with the passage it was recorded over.
TEST_F(KestroCli, CompareUsesThePassageTheRecordingWasMadeOver) {
  const size_t n1 = time.Buffers(300), n2 = time.Buffers(200), n3 = Recorded(150);
  const size_t a = n1 - 1, b = n1 + n2 - 1;
  const auto r = Script(
      "volume 100\nwait 300\nread\nwait 200\nrecord\nwait 150\nplayback\nwait 500\n"
      "read\nwait 400\nread\nwait 300\ncompare\nwait 2000\n");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const std::string played = cli.WavData("out.wav");
  const std::string recording = voice.substr(0, n3);
  const std::string pair = recording + Buffers(lesson, a, b - a) + recording;
  EXPECT_NE(played.find(pair), std::string::npos);
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
  // The list loads sorted (b.qv, lesson.qv), and its first entry opens.
  EXPECT_NE(r.out.find("item=0 pos=0 length=50000"), std::string::npos) << r.out;
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

TEST_F(KestroCli, RecordWorksFromTheFirstMomentAndWhileStopped) {
  // Nothing read yet: the recording starts all the same, and reading then goes
  // on from where the learner was, the start.
  SoundTime t;
  const size_t n1 = t.Buffers(100);
  auto r = Script("record\nstatus\nwait 500\nread\nwait 100\n");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("mode=recording"), std::string::npos) << r.out;
  EXPECT_TRUE(BytesEqual(cli.QvData("RecordVM.qv"), voice.substr(0, Recorded(500))));
  EXPECT_TRUE(BytesEqual(cli.WavData("out.wav"), Buffers(lesson, 0, n1)));
  // Stopped: it records, and nothing plays after.
  r = Script("volume 100\nwait 200\nstop\nrecord\nwait 500\nread\nwait 100\nstatus\n");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("mode=idle flags=0x00000000"), std::string::npos) << r.out;
  EXPECT_TRUE(BytesEqual(cli.QvData("RecordVM.qv"), voice.substr(0, Recorded(500))));
  EXPECT_TRUE(BytesEqual(cli.WavData("out.wav"), Buffers(lesson, 0, SoundTime().Buffers(200))));
}

TEST_F(KestroCli, ASeekWhilePausedWaitsForPlay) {
  SoundTime t;
  const size_t n1 = t.Buffers(200), n2 = t.Buffers(100);
  const auto r = Script("volume 100\nwait 200\npause\nseek 5000\nstatus\nplay\nwait 100\n");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  // Still paused, as before the seek; Play goes on from the target.
  EXPECT_NE(r.out.find("mode=idle flags=0x00000000"), std::string::npos) << r.out;
  EXPECT_TRUE(
      BytesEqual(cli.WavData("out.wav"), Buffers(lesson, 0, n1) + Buffers(lesson, 200, n2)));
}

TEST_F(KestroCli, ReportsBadInputClearly) {
  auto r = cli.Run("--audio=offline --bogus");
  EXPECT_NE(r.exitCode, 0);
  EXPECT_NE(r.err.find("unknown option --bogus"), std::string::npos) << r.err;
  r = cli.Run("--keep-pitch=yes lesson.qv");
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_NE(r.err.find("option --keep-pitch takes no value"), std::string::npos) << r.err;
  r = cli.Run("--speed=101 lesson.qv");
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_NE(r.err.find("--speed=101 is out of range (0..100)"), std::string::npos) << r.err;
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

TEST_F(KestroCli, NamesWhatItSkipsAndFailsWhenNothingCanBeDone) {
  ::mkdir(cli.File("folder.qv").c_str(), 0755);
  WriteFileBytes(cli.File("broken.qv"), "qvoxa and nothing else");
  // What would block a reader for ever, and files that open but hold no whole
  // frame or nothing a decoder can give.
  ASSERT_EQ(::mkfifo(cli.File("fifo.wav").c_str(), 0600), 0);
  WriteFileBytes(cli.File("tiny.qv"), QvFileBytes(RecordingFormat(), "\x01\x02"));
  SF_INFO info{};
  info.samplerate = 44100;
  info.channels = 2;
  info.format = SF_FORMAT_FLAC | SF_FORMAT_PCM_16;
  SNDFILE* flac = sf_open(cli.File("cut.flac").c_str(), SFM_WRITE, &info);
  ASSERT_NE(flac, nullptr);
  sf_write_short(flac, reinterpret_cast<const short*>(lesson.data()),
                 static_cast<sf_count_t>(lesson.size() / 2));
  sf_close(flac);
  // Cut inside the first frame: after the metadata blocks, each with a 4-byte
  // header whose last three bytes are its length.
  const std::string whole = ReadFileBytes(cli.File("cut.flac"));
  size_t at = 4;
  for (bool last = false; !last && at + 4 <= whole.size();
       at += 4 + ((uint8_t(whole[at + 1]) << 16) | (uint8_t(whole[at + 2]) << 8) |
                  uint8_t(whole[at + 3])))
    last = (uint8_t(whole[at]) & 0x80) != 0;
  ASSERT_EQ(::truncate(cli.File("cut.flac").c_str(), static_cast<off_t>(at + 200)), 0);
  auto r = cli.Run(
      "--audio=offline --wav=out.wav folder.qv broken.qv fifo.wav tiny.qv cut.flac "
      "lesson.qv");
  EXPECT_EQ(r.exitCode, 0) << r.err;
  for (const char* skipped : {"folder.qv: it is a directory", "broken.qv: it is not a sound file",
                              "fifo.wav: it is not a regular file", "tiny.qv: it holds no sound",
                              "cut.flac: no sound could be decoded from it"})
    EXPECT_NE(r.err.find(std::string("skipped ") + skipped), std::string::npos) << r.err;
  EXPECT_TRUE(BytesEqual(cli.WavData("out.wav"), lesson));
  r = cli.Run("--drill=drill.wav cut.flac");
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.err.find("try a shorter"), std::string::npos) << r.err;

  // An output that is an input (by any name) is refused before anything is
  // written, and the lesson is left whole.
  ASSERT_EQ(::symlink("lesson.qv", cli.File("same.qv").c_str()), 0);
  for (const char* args : {"--audio=offline --wav=lesson.qv lesson.qv", "--drill=same.qv lesson.qv",
                           "--audio=offline --wav=voice.wav "
                           "--record-from=voice.wav --script=- lesson.qv"}) {
    r = cli.Run(args, "");
    EXPECT_EQ(r.exitCode, 2) << args;
    EXPECT_NE(r.err.find("is the input"), std::string::npos) << r.err;
  }
  EXPECT_EQ(cli.QvData("lesson.qv"), lesson);
  // A link at the output's name is replaced, not written through.
  WriteFileBytes(cli.File("thesis.txt"), "my thesis");
  ASSERT_EQ(::symlink("thesis.txt", cli.File("linked.wav").c_str()), 0);
  r = cli.Run("--audio=offline --wav=linked.wav lesson.qv");
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(ReadFileBytes(cli.File("thesis.txt")), "my thesis");
  EXPECT_TRUE(BytesEqual(cli.WavData("linked.wav"), lesson));

  // Nothing to drill: exit 1 like play mode, and no empty WAV left behind.
  r = cli.Run("--drill=drill.wav broken.qv");
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("nothing to drill"), std::string::npos) << r.err;
  EXPECT_NE(::access(cli.File("drill.wav").c_str(), F_OK), 0);
  r = cli.Run("--audio=offline --wav=none.wav broken.qv");
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(::access(cli.File("none.wav").c_str(), F_OK), 0);

  // A drill without a sentence says what it looked for.
  r = cli.Run("--drill=drill.wav --seconds=5 lesson.qv");
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.err.find("no pause of 5 s or longer; try a shorter --seconds"), std::string::npos)
      << r.err;

  r = cli.Run("--version");
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out.rfind("kestro-cli ", 0), 0u) << r.out;
  r = cli.Run("-h");
  EXPECT_NE(r.out.find("Usage: kestro-cli"), std::string::npos);
  r = cli.Run("--audio");
  EXPECT_NE(r.exitCode, 0);
  EXPECT_NE(r.err.find("needs a value"), std::string::npos) << r.err;
}

TEST_F(KestroCli, AFullDiskEndsTheRecordingWithWholeFramesAndSaysSo) {
  // The shell's file-size limit (200 KiB or 100 KiB, as it counts blocks) fails
  // the recorder's writes as a full disk would.
  const auto r = Script("volume 100\nwait 200\nrecord\nwait 3000\nread\nwait 100\nstatus\n",
                        "lesson.qv", "ulimit -f 200;");
  EXPECT_EQ(r.exitCode, 1) << r.err;
  EXPECT_NE(r.err.find("is the disk full?"), std::string::npos) << r.err;
  EXPECT_NE(r.out.find("mode=reading"), std::string::npos) << r.out;  // reading goes on
  const std::string recorded = cli.QvData("RecordVM.qv");
  EXPECT_GT(recorded.size(), 50000u);
  EXPECT_LT(recorded.size(), Recorded(3000));
  EXPECT_EQ(recorded.size() % 4, 0u);
  EXPECT_TRUE(BytesEqual(recorded, voice.substr(0, recorded.size())));
}

TEST_F(KestroCli, AFullDiskLeavesTheOldWavAndSaysSo) {
  WriteFileBytes(cli.File("out.wav"), "the learner's earlier drill");
  const auto r = cli.Run("--audio=offline --wav=out.wav lesson.qv", "", "ulimit -f 200;");
  EXPECT_EQ(r.exitCode, 1) << r.err;
  EXPECT_NE(r.err.find("could not write all of out.wav"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("is the disk full?"), std::string::npos) << r.err;
  // The name keeps what it held, and the unfinished file is gone.
  EXPECT_EQ(ReadFileBytes(cli.File("out.wav")), "the learner's earlier drill");
  for (const auto& entry : std::filesystem::directory_iterator(cli.dir.path()))
    EXPECT_EQ(entry.path().filename().string().rfind(".out.wav.", 0), std::string::npos);
}

TEST_F(KestroCli, SaysWhyNothingPlaysWithoutASoundSystem) {
  const auto r = cli.Run("lesson.qv", "", "SDL_AUDIODRIVER=kestro-no-such-driver");
  EXPECT_NE(r.exitCode, 0);
  EXPECT_NE(r.err.find("nothing could be played: cannot open the sound output: no sound system"),
            std::string::npos)
      << r.err;
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

  auto r = cli.Run("--audio=offline --wav=out.wav lesson.mp3");
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_TRUE(BytesEqual(cli.WavData("out.wav"), decoded));

  // Repeats seek back: every buffer heard is the lesson's own sound, exactly.
  r = cli.Run("--audio=offline --wav=out.wav lesson.mp3",
              "wait 700\nread\nwait 600\nrepeat\nwait 2500\nseek 3000\nwait 400\n");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const std::string heard = cli.WavData("out.wav");
  ASSERT_GT(heard.size(), 176400u * 4);
  for (size_t at = 0; at < heard.size(); at += kBuffer)
    EXPECT_NE(decoded.find(heard.substr(at, kBuffer)), std::string::npos) << at;
}

// ---- faults found in review: each replays the learner's commands and checks
// ---- what was heard and recorded afterwards.

TEST_F(KestroCli, RecordingRightAfterAModeEndIsWholeEveryRun) {
  // 20 s of tones with pauses as a 44.1 kHz stereo wav, recorded from itself.
  const std::string tones = SentenceLesson({{106, 97}, {106, 97}, {106, 97}, {106, 97}});
  WavFileWriter w;
  ASSERT_TRUE(w.Create(cli.File("tones.wav"), nullptr));
  w.Append(RecordingFormat(), reinterpret_cast<const uint8_t*>(tones.data()),
           static_cast<uint32_t>(tones.size()));
  w.Close();
  const std::string script =
      "wait 3000\nread\nstatus\nwait 2000\nrepeat\nstatus\nwait-mode repeating\nwait 4000\nread\n"
      "wait-mode reading\nrecord\nwait-mode recording\nwait 700\nplayback\n"
      "wait-mode playing-back\nwait 500\nquit\n";
  for (int run = 0; run < 50; ++run) {
    const auto r =
        cli.Run("--audio=offline --wav=out.wav --record-from=tones.wav tones.wav", script);
    ASSERT_EQ(r.exitCode, 0) << "run " << run << ": " << r.err << r.out;
    // Every frame of the 700 ms, and the recording is what was then played back.
    const std::string recorded = cli.QvData("RecordVM.qv");
    ASSERT_TRUE(BytesEqual(recorded, tones.substr(0, Recorded(700)))) << "run " << run;
    const std::string played = cli.WavData("out.wav");
    ASSERT_GE(played.size(), Recorded(400));
    ASSERT_NE(played.find(recorded.substr(0, Recorded(400))), std::string::npos) << "run " << run;
  }
}

TEST_F(KestroCli, AnEmptyRecordingPlaysBackWithoutHangingAWait) {
  const auto r = Script("wait 300\nread\nwait 200\nrecord\nplayback\nwait 500\nstatus\n");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("mode=playing-back"), std::string::npos) << r.out;
  EXPECT_EQ(cli.QvData("RecordVM.qv"), "");
}

TEST_F(KestroCli, ARecordingEndedByQuitOrTheScriptsEndIsWhole) {
  for (const char* ending : {"quit\n", ""}) {
    const auto r = Script(std::string("wait 200\nrecord\nwait 3000\n") + ending);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(BytesEqual(cli.QvData("RecordVM.qv"), voice.substr(0, Recorded(3000)))) << ending;
  }
}

TEST_F(KestroCli, StopWhileRecordingKeepsTheRecording) {
  const size_t n1 = time.Buffers(200), n2 = Recorded(1000);
  time.Drain();
  const size_t n3 = time.Buffers(300);
  const auto r = Script("volume 100\nwait 200\nrecord\nwait 1000\nstop\nstatus\nplay\nwait 300\n");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("mode=idle flags=0x00000000"), std::string::npos) << r.out;
  EXPECT_TRUE(BytesEqual(cli.QvData("RecordVM.qv"), voice.substr(0, n2)));
  // Play opens the item again from its start, with sound.
  EXPECT_TRUE(BytesEqual(cli.WavData("out.wav"), Buffers(lesson, 0, n1) + Buffers(lesson, 0, n3)));
}

// SIGTERM (a logout, `kill`) while recording from a script still being typed:
// kestro-cli ends at once, the recording and the WAV file whole, status 143.
TEST_F(KestroCli, ASignalEndsTheRunWithWholeFiles) {
  const size_t n1 = time.Buffers(200), n2 = Recorded(700);
  WriteFileBytes(cli.File("script.txt"), "volume 100\nwait 200\nrecord\nwait 700\nstatus\n");
  const std::string command =
      "cd '" + cli.dir.path() +
      "' && mkfifo in && ('" KESTRO_STAGE_DIR
      "/kestro-cli' --audio=offline --wav=out.wav --record-from=voice.wav --script=- lesson.qv"
      " < in > out.txt 2> err.txt & pid=$!; exec 3> in; cat script.txt >&3;"
      " for i in $(seq 3000); do grep -q mode=recording out.txt && break; sleep 0.02; done;"
      " kill -TERM $pid; wait $pid; echo $? > code; exec 3>&-)";
  ASSERT_EQ(std::system(command.c_str()), 0);
  EXPECT_EQ(ReadFileBytes(cli.File("code")), "143\n") << ReadFileBytes(cli.File("err.txt"));
  EXPECT_NE(ReadFileBytes(cli.File("err.txt")).find("stopped by"), std::string::npos);
  EXPECT_TRUE(BytesEqual(cli.QvData("RecordVM.qv"), voice.substr(0, n2)));
  EXPECT_TRUE(BytesEqual(cli.WavData("out.wav"), Buffers(lesson, 0, n1)));
}

TEST_F(KestroCli, StopDuringAModeThenPlayReadsPastTheOldB) {
  for (const char* mode : {"repeat", "compare"}) {
    SoundTime t;
    const size_t n1 = t.Buffers(300), n2 = t.Buffers(250), n3 = t.Buffers(100);
    (void)n3;
    const size_t n4 = t.Buffers(2000);
    ASSERT_GT(n4, n1 + n2 + 20);
    const auto r = Script(std::string("volume 100\nwait 300\nread\nwait 250\n") + mode +
                          "\nwait 100\nstop\nplay\nwait 2000\nstatus\n");
    // Compare has no recording to play: it says so, and the run fails.
    ASSERT_EQ(r.exitCode, std::string(mode) == "compare" ? 1 : 0) << r.err;
    const std::string played = cli.WavData("out.wav");
    ASSERT_GE(played.size(), n4 * kBuffer);
    // The last 2 s are the item from its start, straight past where B was.
    EXPECT_TRUE(BytesEqual(played.substr(played.size() - n4 * kBuffer), Buffers(lesson, 0, n4)))
        << mode;
  }
}

TEST_F(KestroCli, SeekLandsOnAWholeFrame) {
  // 201 bytes per slider step: position 1 is in the middle of a frame.
  const std::string odd = LessonPcm(2010000, 7);
  WriteFileBytes(cli.File("odd.qv"), QvFileBytes(RecordingFormat(), odd));
  const size_t n1 = time.Buffers(100), n2 = time.Buffers(100);
  const auto r = Script("volume 100\nwait 100\nseek 1\nwait 100\n", "odd.qv");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_TRUE(
      BytesEqual(cli.WavData("out.wav"), Buffers(odd, 0, n1) + odd.substr(200, n2 * kBuffer)));
}

TEST_F(KestroCli, ASeekNeverPlaysABlockReadBeforeIt) {
  // Long enough that the pool, the ring and the staged block all fill while
  // the clock stands still; then the seek must drop every one of them.
  const std::string longer = LessonPcm(kBuffer * 800, 8);
  WriteFileBytes(cli.File("long.qv"), QvFileBytes(RecordingFormat(), longer));
  const size_t n1 = time.Buffers(100), n2 = time.Buffers(100);
  const auto r = Script("volume 100\nwait 100\nsleep 300\nseek 5000\nwait 100\n", "long.qv");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_TRUE(
      BytesEqual(cli.WavData("out.wav"), Buffers(longer, 0, n1) + Buffers(longer, 400, n2)));
}

TEST_F(KestroCli, CompareDuringCompareKeepsThePassage) {
  const size_t n1 = time.Buffers(300), n2 = time.Buffers(200), n3 = Recorded(150);
  time.Drain();
  const size_t a = n1 - 1, b = n1 + n2 - 1;
  const std::vector<std::string> cycle = {voice.substr(0, n3), Buffers(lesson, a, b - a)};
  // The second compare comes while the passage of the first cycle plays.
  const std::string first = time.Cycle(cycle, 400);
  const std::string second = time.Cycle(cycle, 1500);
  const size_t n5 = time.Buffers(100);
  const auto r = Script(
      "volume 100\nwait 300\nread\nwait 200\nrecord\nwait 150\ncompare\nwait 400\ncompare\n"
      "wait 1500\nread\nwait 100\nstatus\n");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_TRUE(BytesEqual(cli.WavData("out.wav"),
                         Buffers(lesson, 0, n1 + n2) + first + second + Buffers(lesson, b, n5)));
}

TEST_F(KestroCli, SeekThenRepeatAtOnceReadsOnFromTheTarget) {
  // Marks at about 3 s and then at 1 s: the last marked passage runs backwards.
  const size_t n1 = time.Buffers(3000), n2 = time.Buffers(1000), n3 = time.Buffers(500);
  const auto r = Script(
      "volume 100\nwait 3000\nread\nseek 0\nwait 1000\nread\nseek 5000\nrepeat\nstatus\n"
      "wait 500\n");
  EXPECT_EQ(r.exitCode, 1) << r.err;  // the repeat could not be served, and said so
  EXPECT_NE(r.err.find("kestro-cli: repeat: "), std::string::npos) << r.err;
  EXPECT_NE(r.out.find("mode=reading"), std::string::npos) << r.out;
  EXPECT_TRUE(BytesEqual(cli.WavData("out.wav"), Buffers(lesson, 0, n1) + Buffers(lesson, 0, n2) +
                                                     Buffers(lesson, 200, n3)));
}

TEST_F(KestroCli, ModesAskedForWhilePausedPlayAtOnce) {
  const size_t n1 = time.Buffers(300), n2 = time.Buffers(300);
  const size_t a = n1 - 1, b = n1 + n2 - 1;
  const std::string start = "volume 100\nwait 300\nread\nwait 300\npause\n";
  const std::string heard = Buffers(lesson, 0, n1 + n2);

  SoundTime t = time;
  auto r = Script(start + "repeat\nstatus\nwait 1000\n");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("mode=repeating"), std::string::npos) << r.out;
  EXPECT_TRUE(
      BytesEqual(cli.WavData("out.wav"), heard + t.Cycle({Buffers(lesson, a, b - a)}, 1000)));

  t = time;
  r = Script(start + "record\nstatus\nwait 200\nread\nwait 300\npause\nstatus\n");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("mode=recording"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("mode=idle"), std::string::npos) << r.out;  // Pause works again
  t.Drain();
  EXPECT_TRUE(BytesEqual(cli.QvData("RecordVM.qv"), voice.substr(0, Recorded(200))));
  EXPECT_TRUE(BytesEqual(cli.WavData("out.wav"), heard + Buffers(lesson, b, t.Buffers(300))));

  // A recording to play back and compare: made before the pause.
  const std::string withRecording =
      "volume 100\nwait 300\nread\nwait 300\nrecord\nwait 200\nread\nwait 300\npause\n";
  r = Script(withRecording + "playback\nstatus\nwait 500\nread\nwait 100\npause\nstatus\n");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("mode=playing-back"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("mode=idle"), std::string::npos) << r.out;
  std::string played = cli.WavData("out.wav");
  EXPECT_NE(played.find(voice.substr(0, Recorded(200))), std::string::npos);

  r = Script(withRecording + "compare\nstatus\nwait 500\n");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("mode=comparing"), std::string::npos) << r.out;
  played = cli.WavData("out.wav");
  EXPECT_NE(played.find(voice.substr(0, Recorded(200))), std::string::npos);
}

TEST_F(KestroCli, WaitsGrantExactlyTheirSpan) {
  // An item of 10 buffers ends inside the wait; the wait goes on with the next
  // play of the list, and nothing sounds once it is over.
  const std::string shortLesson = LessonPcm(kBuffer * 10, 4);
  WriteFileBytes(cli.File("short.qv"), QvFileBytes(RecordingFormat(), shortLesson));
  for (int run = 0; run < 5; ++run) {
    SoundTime t;
    const std::string expected = t.Cycle({shortLesson}, 1000);
    const auto r = Script("volume 100\nwait 1000\nsleep 200\nstatus\nsleep 100\n", "short.qv");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(BytesEqual(cli.WavData("out.wav"), expected)) << "run " << run;
  }
}

TEST_F(KestroCli, AnAutomaticScriptGivesTheSameResultEveryRun) {
  const std::string sentences = SentenceLesson({{40, 25}, {30, 30}, {25, 25}, {20, 0}});
  WriteFileBytes(cli.File("s.qv"), QvFileBytes(RecordingFormat(), sentences));
  const std::string script =
      "volume 100\nsettings 2 2 0.5 5\nauto\nseek 0\nwait 2000\nstatus\nwait 1500\nstatus\nwait "
      "3000\n"
      "status\n";
  const auto first = Script(script, "s.qv");
  ASSERT_EQ(first.exitCode, 0) << first.err;
  EXPECT_NE(first.out.find("mode=repeating"), std::string::npos) << first.out;
  const std::string firstWav = cli.WavData("out.wav");
  for (int run = 0; run < 4; ++run) {
    const auto again = Script(script, "s.qv");
    EXPECT_EQ(again.out, first.out) << "run " << run;
    EXPECT_TRUE(BytesEqual(cli.WavData("out.wav"), firstWav)) << "run " << run;
  }
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
  EXPECT_TRUE(BytesEqual(cli.WavData("drill.wav"), DrillOf(lesson, {55, 142}, 3)));

  // The same lesson again gives the same drill, byte for byte.
  const std::string first = ReadFileBytes(cli.File("drill.wav"));
  ASSERT_EQ(cli.Run("--drill=drill.wav --seconds=0.5 --count=3 lesson.qv").exitCode, 0);
  EXPECT_TRUE(BytesEqual(ReadFileBytes(cli.File("drill.wav")), first));
}

TEST(KestroDrill, ALongDrillIsTheSameEveryRun) {
  // Two minutes: sentence ends are found while the pool runs full, where the
  // buffer heard last has already been filled again.
  std::vector<std::pair<int, int>> sentences;
  for (int i = 0; i < 18; ++i)
    sentences.push_back({60 + (i % 3) * 30, 90});
  const std::string lesson = SentenceLesson(sentences);
  CliRunner cli;
  WriteFileBytes(cli.File("lesson.qv"), QvFileBytes(RecordingFormat(), lesson));
  ASSERT_EQ(cli.Run("--drill=a.wav lesson.qv").exitCode, 0);
  const std::string first = cli.WavData("a.wav");
  ASSERT_GT(first.size(), lesson.size() * 3);
  for (int run = 0; run < 3; ++run) {
    const auto r = cli.Run("--drill=b.wav lesson.qv");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "sentences: 18\n");
    EXPECT_TRUE(BytesEqual(cli.WavData("b.wav"), first)) << "run " << run;
  }
}

TEST(KestroDrill, WaitModeStopsTheSoundWhereTheModeBegins) {
  CliRunner cli;
  const std::string lesson = SentenceLesson({{40, 25}, {30, 7}, {25, 25}, {20, 0}});
  WriteFileBytes(cli.File("lesson.qv"), QvFileBytes(RecordingFormat(), lesson));
  const auto r = cli.Run("--audio=offline --wav=out.wav lesson.qv",
                         "volume 100\nsettings 3 2 0.5 5\nauto\nseek 0\nwait-mode repeating\n"
                         "status\nsleep 100\nstatus\n");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  // The sentence end is found once buffer 55 has been heard; nothing more plays
  // after the mode has begun, not even during the sleep.
  EXPECT_NE(r.out.find("mode=repeating flags=0x00000800 item=0 pos=275000 "), std::string::npos)
      << r.out;
  EXPECT_TRUE(BytesEqual(cli.WavData("out.wav"), lesson.substr(0, 56 * kBuffer)));
}

TEST(KestroDrill, CountAndWindowFromTheSettings) {
  CliRunner cli;
  const std::string lesson = SentenceLesson({{30, 30}, {30, 30}, {10, 0}});
  WriteFileBytes(cli.File("lesson.qv"), QvFileBytes(RecordingFormat(), lesson));
  // One play after hearing it: count 1.
  auto r = cli.Run("--drill=one.wav --seconds=0.5 --count=1 lesson.qv");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "sentences: 2\n");
  EXPECT_TRUE(BytesEqual(cli.WavData("one.wav"), DrillOf(lesson, {45, 105}, 1)));
  // A 2 s window is longer than every pause: nothing is repeated.
  r = cli.Run("--drill=none.wav --count=5 lesson.qv");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "sentences: 0\n");
  EXPECT_TRUE(BytesEqual(cli.WavData("none.wav"), lesson));
  // Settings out of the dialog's ranges are refused.
  EXPECT_NE(cli.Run("--drill=x.wav --count=0 lesson.qv").exitCode, 0);
  EXPECT_NE(cli.Run("--drill=x.wav --seconds=0.05 lesson.qv").exitCode, 0);
  EXPECT_NE(cli.Run("--drill=x.wav a.qv b.qv").exitCode, 0);
}

}  // namespace
