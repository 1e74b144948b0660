// SPDX-License-Identifier: GPL-3.0-or-later
// The FFmpeg plug-ins on lessons the ffmpeg command makes from our own speech:
// the same sound as FFmpeg's own decoder, exact seeks, lengths, bad files.
#include <gtest/gtest.h>

#include <fstream>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <random>
#include <vector>

#include "loaded_plugin.h"
#include "temp_dir.h"

namespace {

TempDir& Lessons() {
  static TempDir dir;
  return dir;
}

void Make(const std::string& command) {
  ASSERT_EQ(std::system((command + " 2>/dev/null").c_str()), 0) << command;
}

// The lesson: 20 s of the demo's speech, made once into each format.
std::string Lesson(const std::string& name, const std::string& options) {
  const std::string path = Lessons().File(name);
  if (!std::ifstream(path).good())
    Make("ffmpeg -v error -y -t 20 -i '" + std::string(KESTRO_SPEECH) + "' " + options + " '" +
         path + "'");
  return path;
}

// What FFmpeg's own decoder makes of path, as 16-bit PCM of channels.
std::string Reference(const std::string& path, int channels) {
  const std::string raw = path + ".ref.raw";
  Make("ffmpeg -v error -y -i '" + path + "' -vn -ac " + std::to_string(channels) + " -f s16le '" +
       raw + "'");
  return ReadFileBytes(raw);
}

class Plugin {
 public:
  explicit Plugin(const std::string& ext)
      : plugin(std::string(KESTRO_PLUGIN_DIR) + "/" + ext + ".so"), codec(plugin.codec()) {}

  // Reads from position on in blocks of capacity bytes, at most limit bytes.
  std::string ReadFrom(uint32_t position, uint32_t capacity, size_t limit = SIZE_MAX) {
    std::vector<uint8_t> buffer(capacity);
    CodecBlock block{buffer.data(), capacity, 0, position, 0, 1};
    std::string bytes;
    while (bytes.size() < limit && codec->Read(&block, 0) == kReadFilled) {
      EXPECT_EQ(block.position % format.nBlockAlign, 0u);
      bytes.append(reinterpret_cast<char*>(buffer.data()), block.bytesRead);
      block.position = block.nextPosition;
    }
    return bytes.substr(0, std::min(limit, bytes.size()));
  }

  LoadedPlugin plugin;
  CodecServer* codec;
  WaveFormatEx format{};
};

int MaxDifference(const std::string& a, const std::string& b) {
  int most = 0;
  for (size_t i = 0; i + 1 < std::min(a.size(), b.size()); i += 2) {
    int16_t x, y;
    std::memcpy(&x, a.data() + i, 2);
    std::memcpy(&y, b.data() + i, 2);
    most = std::max(most, std::abs(x - y));
  }
  return most;
}

// Where a and b first differ; the size of both when they are equal.
size_t FirstDifference(const std::string& a, const std::string& b) {
  size_t i = 0;
  while (i < a.size() && i < b.size() && a[i] == b[i])
    ++i;
  return i;
}

struct Case {
  const char* file;
  const char* options;
  int channels;
  int rate;
  // AAC that fills bands with noise: the noise generator runs on from the
  // file's start in FFmpeg's straight decoding and from each segment's start
  // here, so those bands differ as they do after any seek in FFmpeg.
  bool noiseBands = false;
};

// How far below the signal the difference between a and b lies, in dB.
double DifferenceDb(const std::string& a, const std::string& b) {
  double signal = 0, error = 0;
  for (size_t i = 0; i + 1 < std::min(a.size(), b.size()); i += 2) {
    int16_t x, y;
    std::memcpy(&x, a.data() + i, 2);
    std::memcpy(&y, b.data() + i, 2);
    signal += static_cast<double>(y) * y;
    error += static_cast<double>(x - y) * (x - y);
  }
  return 10 * std::log10(signal / std::max(error, 1.0));
}

std::string Extension(const std::string& path) {
  return path.substr(path.rfind('.') + 1);
}

// path decodes to FFmpeg's own sound, and a seek anywhere gives the bytes
// reading from the start gives.
void ExpectDecodesAndSeeksExactly(const std::string& path, int channels, int rate,
                                  bool noiseBands = false) {
  Plugin p(Extension(path));
  ASSERT_EQ(p.codec->Open(path.c_str(), &p.format), 1);
  EXPECT_EQ(p.format.nChannels, channels);
  EXPECT_EQ(p.format.nSamplesPerSec, static_cast<uint32_t>(rate));
  EXPECT_EQ(p.format.wBitsPerSample, 16);
  const uint32_t lengthAtOpen = p.codec->GetLength();

  const std::string whole = p.ReadFrom(0, 4999 / p.format.nBlockAlign * p.format.nBlockAlign);
  const std::string reference = Reference(path, channels);
  EXPECT_EQ(whole.size(), reference.size());
  if (noiseBands)
    EXPECT_GT(DifferenceDb(whole, reference), 35);
  else
    EXPECT_LE(MaxDifference(whole, reference), 1);
  EXPECT_EQ(lengthAtOpen, whole.size());
  EXPECT_EQ(p.codec->GetLength(), whole.size());

  // A block that starts before the read limit is read in full, as every
  // plug-in reads it.
  std::vector<uint8_t> buffer(8192);
  CodecBlock limited{buffer.data(), 8192, 0, 0, 0, 1};
  ASSERT_EQ(p.codec->Read(&limited, 100 * p.format.nBlockAlign), kReadFilled);
  EXPECT_EQ(limited.bytesRead,
            std::min<size_t>(8192 / p.format.nBlockAlign * p.format.nBlockAlign, whole.size()));

  // Backwards and forwards, near and far, the start and the last frames.
  std::mt19937 random(7);
  const uint32_t frames = static_cast<uint32_t>(whole.size() / p.format.nBlockAlign);
  ASSERT_GT(frames, 0u);
  std::vector<uint32_t> places = {frames / 2, 0, 1, frames - 1, frames / 3, frames / 3 + 4410};
  for (int i = 0; i < 30; ++i)
    places.push_back(random() % frames);
  for (const uint32_t frame : places) {
    const uint32_t at = frame * p.format.nBlockAlign;
    const std::string got = p.ReadFrom(at, 8192, 8192);
    const std::string want = whole.substr(at, 8192);
    ASSERT_EQ(FirstDifference(got, want), want.size())
        << "seek to frame " << frame << " of " << frames << ", " << got.size() << " bytes";
  }
}

class FfmpegFormat : public ::testing::TestWithParam<Case> {};

TEST_P(FfmpegFormat, DecodesAsFfmpegDoesAndSeeksToTheByte) {
  const Case& c = GetParam();
  ExpectDecodesAndSeeksExactly(Lesson(c.file, c.options), c.channels, c.rate, c.noiseBands);
}

INSTANTIATE_TEST_SUITE_P(
    Lessons, FfmpegFormat,
    ::testing::Values(
        Case{"speech.m4a", "-c:a aac -aac_pns 0 -b:a 96k", 2, 44100},
        Case{"book.m4b", "-ac 1 -c:a aac -aac_pns 0 -b:a 48k", 1, 44100},
        Case{"radio.aac", "-ar 22050 -c:a aac -aac_pns 0", 2, 22050},
        Case{"voice.opus", "-ac 1 -c:a libopus -b:a 24k", 1, 48000},
        Case{"film.mp4",
             "-f lavfi -i testsrc=size=160x120:rate=10 -map 1:v -map 0:a -shortest "
             "-c:v libx264 -preset ultrafast -c:a aac -aac_pns 0",
             2, 44100},
        Case{"series.mkv", "-c:a aac -aac_pns 0", 2, 44100},
        Case{"clip.webm", "-c:a libopus", 2, 48000},
        Case{"talk.mov", "-ar 16000 -c:a aac", 2, 16000, true},
        Case{"phone.3gp", "-ar 8000 -ac 1 -c:a aac -aac_pns 0", 1, 8000},
        Case{"old.wma", "-c:a wmav2", 2, 44100}, Case{"music.mka", "-c:a libvorbis", 2, 44100},
        Case{"surround.m4a",
             "-af 'pan=5.1|FL=c0|FR=c1|FC=0.5*c0+0.5*c1|LFE=0.2*c0|BL=0.3*c0|BR=0.3*c1' -c:a aac "
             "-aac_pns 0",
             2, 44100}),
    [](const auto& info) {
      std::string name = info.param.file;
      name[name.find('.')] = '_';
      return name;
    });

// Debian's ffmpeg has no AMR encoder: the frames are random bits, which the
// decoder takes as speech parameters as it takes any.
TEST(FfmpegPlugins, AmrDecodesAsFfmpegDoes) {
  std::mt19937 random(3);
  std::string amr = "#!AMR\n";
  for (int frame = 0; frame < 500; ++frame) {  // 10 s of 12.2 kbit/s frames
    amr += '\x3C';
    for (int i = 0; i < 31; ++i)
      amr += static_cast<char>(random());
  }
  const std::string path = Lessons().File("memo.amr");
  WriteFileBytes(path, amr);
  ExpectDecodesAndSeeksExactly(path, 1, 8000);
}

// Written to a pipe, a Matroska file has neither duration nor index.
TEST(FfmpegPlugins, AFileWithoutDurationPlaysToItsEndAndThenKnowsIt) {
  const std::string path = Lessons().File("live.mkv");
  Make("ffmpeg -v error -y -t 8 -i '" + std::string(KESTRO_SPEECH) +
       "' -c:a libopus -f matroska pipe:1 > '" + path + "'");
  Plugin p("mkv");
  ASSERT_EQ(p.codec->Open(path.c_str(), &p.format), 1);
  const std::string whole = p.ReadFrom(0, 4096);
  const std::string reference = Reference(path, 2);
  EXPECT_EQ(whole.size(), reference.size());
  EXPECT_LE(MaxDifference(whole, reference), 1);
  EXPECT_EQ(p.codec->GetLength(), whole.size());
  const uint32_t middle = static_cast<uint32_t>(whole.size() / 2 / 4 * 4);
  EXPECT_EQ(p.ReadFrom(middle, 4096, 4096), whole.substr(middle, 4096));
}

// Whatever a file holds, the plug-in refuses it or reads whole frames to an
// end and then gives the length it read.
TEST(FfmpegPlugins, BrokenFilesAreRefusedOrEndEarly) {
  const std::string good = Lesson("whole.m4a", "-c:a aac -movflags +faststart");
  const std::string bytes = ReadFileBytes(good);
  const std::string moovLast = ReadFileBytes(Lesson("late.m4a", "-c:a aac"));
  std::string flipped = bytes;
  for (size_t i = 2000; i < flipped.size(); i += 97)
    flipped[i] = static_cast<char>(~flipped[i]);
  const std::map<std::string, std::string> files = {
      {"empty.m4a", ""},
      {"text.opus", "this is not sound\n"},
      {"pattern.webm", PatternBytes(200000, 5)},
      {"half.m4a", bytes.substr(0, bytes.size() / 2)},
      {"headless.m4a", moovLast.substr(0, moovLast.size() / 2)},
      {"flipped.m4a", flipped},
      {"picture.mp4", ReadFileBytes(Lesson("picture.mp4",
                                           "-f lavfi -i testsrc=size=64x48:rate=5 -map 1:v -t 2 "
                                           "-c:v libx264 -preset ultrafast"))},
  };
  int refused = 0;
  for (const auto& [name, content] : files) {
    SCOPED_TRACE(name);
    const std::string path = Lessons().File(name);
    WriteFileBytes(path, content);
    Plugin p(Extension(name));
    if (p.codec->Open(path.c_str(), &p.format) == 0) {
      ++refused;
      continue;
    }
    const std::string got = p.ReadFrom(0, 4096);
    EXPECT_EQ(got.size() % p.format.nBlockAlign, 0u);
    EXPECT_EQ(p.codec->GetLength(), got.size());
    if (name == "half.m4a") {
      EXPECT_LT(got.size(), Reference(good, 2).size());
    }
  }
  EXPECT_GE(refused, 5);  // all but the cut and the damaged lesson
}

}  // namespace
