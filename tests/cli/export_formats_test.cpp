// SPDX-License-Identifier: GPL-3.0-or-later
// What kestro-cli writes, by the name it is given: plain WAV, FLAC, Ogg
// Vorbis, Opus and MP3, each read back; the refusal of a name it cannot
// write; clips for Anki; and loudness brought to a target.
#include <gtest/gtest.h>
#include <sndfile.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "cli_runner.h"
#include "export/wav_file_writer.h"
#include "loaded_plugin.h"

namespace {

// A second and a half of two tones, 44.1 kHz stereo.
std::string TwoTones() {
  std::vector<uint8_t> a = ToneBytes(440, 0.75, 44100, 2, 8000);
  const std::vector<uint8_t> b = ToneBytes(660, 0.75, 44100, 2, 8000);
  a.insert(a.end(), b.begin(), b.end());
  return std::string(a.begin(), a.end());
}

double Rms(const std::vector<short>& samples) {
  double sum = 0;
  for (short s : samples)
    sum += static_cast<double>(s) * s;
  return std::sqrt(sum / std::max<size_t>(samples.size(), 1));
}

class ExportFormats : public ::testing::TestWithParam<const char*> {};

TEST_P(ExportFormats, EachIsWrittenAsItsNameSaysAndReadsBackWhole) {
  CliRunner cli;
  const std::string pcm = TwoTones();
  WriteFileBytes(cli.File("lesson.qv"), QvFileBytes(RecordingFormat(), pcm));
  const std::string name = std::string("out.") + GetParam();
  const auto r = cli.Run("--audio=offline --quality=0.5 --wav=" + name + " lesson.qv");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  SF_INFO info{};
  SNDFILE* f = sf_open(cli.File(name).c_str(), SFM_READ, &info);
  ASSERT_NE(f, nullptr) << sf_strerror(nullptr);
  std::vector<short> back(static_cast<size_t>(info.frames) * info.channels);
  sf_readf_short(f, back.data(), info.frames);
  sf_close(f);
  const int major = info.format & SF_FORMAT_TYPEMASK;
  const bool opus = name.ends_with(".opus");
  EXPECT_EQ(major, name.ends_with(".flac")          ? SF_FORMAT_FLAC
                   : name.ends_with(".ogg") || opus ? SF_FORMAT_OGG
                   : name.ends_with(".mp3")         ? SF_FORMAT_MPEG
                                                    : SF_FORMAT_WAV);
  // Opus takes no 44.1 kHz: it is written at 48 kHz.
  const int rate = opus ? 48000 : 44100;
  EXPECT_EQ(info.samplerate, rate);
  EXPECT_EQ(info.channels, 2);
  const int64_t frames = static_cast<int64_t>(pcm.size() / 4) * rate / 44100;
  std::vector<short> original(pcm.size() / 2);
  std::memcpy(original.data(), pcm.data(), pcm.size());
  if (major == SF_FORMAT_FLAC || major == SF_FORMAT_WAV) {
    EXPECT_EQ(back, original);  // lossless: every sample
  } else {
    EXPECT_NEAR(static_cast<double>(info.frames), static_cast<double>(frames), 2400.0);
    // The level of the middle second: the encoders' start-up and padding
    // frames lie outside it.
    auto middle = [](const std::vector<short>& s, size_t r) {
      const size_t from = 2 * r / 4, to = std::min<size_t>(s.size(), 2 * (r / 4 + r));
      return std::vector<short>(s.begin() + static_cast<std::ptrdiff_t>(from),
                                s.begin() + static_cast<std::ptrdiff_t>(to));
    };
    ASSERT_GT(back.size(), 2u * (rate / 4 + rate));
    // MP3 within 3 dB: LAME through libsndfile varies its output by up to
    // 2 dB when fresh heap memory is not zero (as under AddressSanitizer).
    EXPECT_NEAR(20 * std::log10(Rms(middle(back, rate)) / Rms(middle(original, 44100))), 0.0,
                major == SF_FORMAT_MPEG ? 3.0 : 1.0);
  }
}

INSTANTIATE_TEST_SUITE_P(Kinds, ExportFormats,
                         ::testing::Values("wav", "flac", "ogg", "opus", "mp3"));

TEST(ExportWav, APlainPcmHeaderWithRoomForRf64Beyond4GiB) {
  CliRunner cli;
  const std::string pcm = TwoTones();
  WriteFileBytes(cli.File("lesson.qv"), QvFileBytes(RecordingFormat(), pcm));
  ASSERT_EQ(cli.Run("--audio=offline --wav=out.wav lesson.qv").exitCode, 0);
  const std::string bytes = ReadFileBytes(cli.File("out.wav"));
  const WaveFormatEx format = RecordingFormat();
  // Older players and Python's wave module read WAVE_FORMAT_PCM (1), not the
  // extensible form; the JUNK chunk is skipped by every reader.
  EXPECT_EQ(bytes.substr(0, 80), WavFileWriter::WavHeader(format, pcm.size()));
  EXPECT_EQ(bytes.substr(0, 4), "RIFF");
  EXPECT_EQ(bytes.substr(12, 4), "JUNK");
  EXPECT_EQ(bytes[56], 1);
  EXPECT_EQ(bytes[57], 0);
  EXPECT_EQ(bytes.size(), 80 + pcm.size());
  // Past 4 GiB the same 80 bytes become RF64 with its sizes in ds64.
  const uint64_t big = 5ull << 30;
  const std::string rf64 = WavFileWriter::WavHeader(format, big);
  ASSERT_EQ(rf64.size(), 80u);
  EXPECT_EQ(rf64.substr(0, 4), "RF64");
  EXPECT_EQ(rf64.substr(12, 4), "ds64");
  uint64_t riff, data, samples;
  std::memcpy(&riff, rf64.data() + 20, 8);
  std::memcpy(&data, rf64.data() + 28, 8);
  std::memcpy(&samples, rf64.data() + 36, 8);
  EXPECT_EQ(riff, big + 72);
  EXPECT_EQ(data, big);
  EXPECT_EQ(samples, big / 4);
  EXPECT_EQ(rf64.substr(72, 8), std::string("data\xff\xff\xff\xff", 8));
}

TEST(ExportWav, ANameOfNoKnownKindIsRefusedBeforeAnyWork) {
  CliRunner cli;
  WriteFileBytes(cli.File("lesson.qv"), QvFileBytes(RecordingFormat(), TwoTones()));
  for (const char* args : {"--audio=offline --wav=out.aac lesson.qv", "--drill=out.m4a lesson.qv",
                           "--audio=offline --wav=out lesson.qv"}) {
    const auto r = cli.Run(args);
    EXPECT_EQ(r.exitCode, 2) << args;
    EXPECT_NE(r.err.find("use .wav, .flac, .ogg, .opus or .mp3"), std::string::npos) << r.err;
    EXPECT_TRUE(r.out.empty()) << r.out;
  }
  EXPECT_FALSE(std::filesystem::exists(cli.File("out.aac")));
  EXPECT_FALSE(std::filesystem::exists(cli.File("out.m4a")));
}

TEST(ExportClips, EachSentenceIsAFileAndTheListIsAnkisTextImport) {
  CliRunner cli;
  std::string pcm;
  for (int k = 0; k < 3; ++k) {
    const std::vector<uint8_t> tone = ToneBytes(300 + 100 * k, 1.0, 44100, 2);
    pcm.append(tone.begin(), tone.end());
    pcm.append(176400 * 3 / 10, '\0');
  }
  WavFileWriter w;
  ASSERT_TRUE(w.Create(cli.File("lesson.wav"), nullptr));
  w.Append(RecordingFormat(), reinterpret_cast<const uint8_t*>(pcm.data()),
           static_cast<uint32_t>(pcm.size()));
  ASSERT_TRUE(w.Close());
  // Text with a tab, a line break and quotes, as transcripts have them.
  WriteFileBytes(cli.File("lesson.srt"),
                 "1\n00:00:00,000 --> 00:00:01,000\none\n\n"
                 "2\n00:00:01,300 --> 00:00:02,300\nsay \"two\"\nnow\n\n"
                 "3\n00:00:02,600 --> 00:00:03,600\nthree\tfour\n");
  auto r = cli.Run("--clips=out/cards --pad=0,0.1 lesson.wav");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "clips: 3\n");
  auto at = [](int ms) { return static_cast<size_t>(ms) * 441 / 10 * 4; };
  for (int k = 0; k < 3; ++k) {
    const std::string clip = cli.File("out/cards/lesson-00" + std::to_string(k + 1) + ".wav");
    // From the line's start to 0.1 s after its end (into the pause).
    EXPECT_TRUE(BytesEqual(WavDataOf(ReadFileBytes(clip)), pcm.substr(at(1300 * k), at(1100))))
        << clip;
  }
  EXPECT_EQ(ReadFileBytes(cli.File("out/cards/lesson.tsv")),
            "[sound:lesson-001.wav]\tone\t0.000\t1.100\n"
            "[sound:lesson-002.wav]\t\"say \"\"two\"\"<br>now\"\t1.300\t2.400\n"
            "[sound:lesson-003.wav]\t\"three\tfour\"\t2.600\t3.700\n");

  // Nothing is replaced without --force, and nothing written then.
  WriteFileBytes(cli.File("out/cards/lesson-002.wav"), "mine");
  r = cli.Run("--clips=out/cards --pad=0,0.1 lesson.wav");
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("lesson-001.wav is there already: give --force"), std::string::npos)
      << r.err;
  EXPECT_EQ(ReadFileBytes(cli.File("out/cards/lesson-002.wav")), "mine");
  r = cli.Run("--clips=out/cards --force --quality=0.3 lesson.wav");
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(ReadFileBytes(cli.File("out/cards/lesson-002.wav")), "mine");
}

// Integrated loudness (LUFS) and true peak (dBTP) as FFmpeg's ebur128
// filter measures them: a meter that is not ours.
std::pair<double, double> Loudness(const std::string& path) {
  FILE* pipe = ::popen(
      ("ffmpeg -nostats -i '" + path + "' -af ebur128=peak=true -f null - 2>&1").c_str(), "r");
  std::string text;
  char buffer[4096];
  for (size_t n; pipe != nullptr && (n = std::fread(buffer, 1, sizeof(buffer), pipe)) > 0;)
    text.append(buffer, n);
  if (pipe != nullptr) ::pclose(pipe);
  double lufs = NAN, peak = NAN;
  const size_t summary = text.rfind("Summary:");
  if (summary != std::string::npos) {
    std::sscanf(text.c_str() + text.find("I:", summary) + 2, "%lf", &lufs);
    std::sscanf(text.c_str() + text.find("Peak:", summary) + 5, "%lf", &peak);
  }
  return {lufs, peak};
}

// Three one-second sentences at levels 26 dB apart, the middle one with
// clicks far above its level, and their transcript.
std::string UnevenLesson(CliRunner& cli) {
  std::string pcm;
  const double levels[] = {600, 2000, 12000};
  for (int k = 0; k < 3; ++k) {
    std::vector<uint8_t> tone = ToneBytes(300 + 150 * k, 1.0, 44100, 2, levels[k]);
    // Clicks: 2 ms of 3 kHz at -0.8 dBFS, every half second: at the
    // target they would pass full scale.
    for (size_t click = 5000; k == 1 && click + 88 < tone.size() / 4; click += 22050)
      for (size_t i = 0; i < 88; ++i) {
        const auto loud = static_cast<int16_t>(30000 * std::sin(2 * M_PI * 3000 * i / 44100.0));
        std::memcpy(&tone[4 * (click + i)], &loud, 2);
        std::memcpy(&tone[4 * (click + i) + 2], &loud, 2);
      }
    pcm.append(tone.begin(), tone.end());
    pcm.append(176400 / 2, '\0');
  }
  WavFileWriter w;
  EXPECT_TRUE(w.Create(cli.File("lesson.wav"), nullptr));
  w.Append(RecordingFormat(), reinterpret_cast<const uint8_t*>(pcm.data()),
           static_cast<uint32_t>(pcm.size()));
  EXPECT_TRUE(w.Close());
  WriteFileBytes(cli.File("lesson.srt"),
                 "1\n00:00:00,000 --> 00:00:01,000\na\n\n2\n00:00:01,500 --> 00:00:02,500\nb\n\n"
                 "3\n00:00:03,000 --> 00:00:04,000\nc\n");
  return pcm;
}

struct LoudnessCase {
  const char* kind;
  const char* option;
  double target;
  double tolerance;  // a lossy encoder moves the level it was handed a little
};

class ExportLoudness : public ::testing::TestWithParam<LoudnessCase> {};

TEST_P(ExportLoudness, TheWholeFileAndEachClipReachTheTargetUnderThePeakLimit) {
  const LoudnessCase c = GetParam();
  CliRunner cli;
  UnevenLesson(cli);
  const std::string out = std::string("out.") + c.kind;
  auto r = cli.Run(std::string("--audio=offline ") + c.option + " --wav=" + out + " lesson.wav");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  auto [lufs, peak] = Loudness(cli.File(out));
  EXPECT_NEAR(lufs, c.target, c.tolerance) << out;
  const bool lossless = c.tolerance <= 0.5;
  if (lossless) {
    EXPECT_LE(peak, -1.0) << out;
    SF_INFO info{};
    SNDFILE* f = sf_open(cli.File(out).c_str(), SFM_READ, &info);
    ASSERT_NE(f, nullptr);
    std::vector<short> back(static_cast<size_t>(info.frames) * info.channels);
    sf_readf_short(f, back.data(), info.frames);
    sf_close(f);
    short most = 0;
    for (short v : back)
      most = std::max<short>(most, static_cast<short>(std::abs(v)));
    EXPECT_LE(most, 29205);  // -1 dBFS
  }

  // Each clip alone, side by side with the clips as the lesson has them.
  r = cli.Run(std::string(c.option) + " --clips=even lesson.wav");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  ASSERT_EQ(cli.Run("--clips=asis lesson.wav").exitCode, 0);
  double quietest = 0, loudest = -100;
  for (int k = 1; k <= 3; ++k) {
    const std::string name = "lesson-00" + std::to_string(k) + ".wav";
    const auto [clipLufs, clipPeak] = Loudness(cli.File("even/" + name));
    EXPECT_NEAR(clipLufs, c.target, 0.5) << name;
    EXPECT_LE(clipPeak, -1.0) << name;
    const double asIs = Loudness(cli.File("asis/" + name)).first;
    quietest = std::min(quietest, asIs);
    loudest = std::max(loudest, asIs);
  }
  EXPECT_GT(loudest - quietest, 20.0);
}

INSTANTIATE_TEST_SUITE_P(Kinds, ExportLoudness,
                         ::testing::Values(LoudnessCase{"wav", "--normalize", -16, 0.5},
                                           LoudnessCase{"flac", "--loudness=-23", -23, 0.5},
                                           LoudnessCase{"opus", "--normalize", -16, 1.0}),
                         [](const ::testing::TestParamInfo<LoudnessCase>& info) {
                           return std::string(info.param.kind);
                         });

}  // namespace
