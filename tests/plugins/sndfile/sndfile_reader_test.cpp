// SPDX-License-Identifier: GPL-3.0-or-later
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sndfile.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <map>
#include <memory>
#include <vector>

#include "loaded_plugin.h"
#include "temp_dir.h"

namespace {

constexpr int kRate = 44100;

std::string PluginPath(const std::string& ext) {
  return std::string(KESTRO_PLUGIN_DIR) + "/" + ext + ".so";
}

// Interleaved 16-bit test signal: a different tone and a slow swell per channel.
std::vector<int16_t> Signal(int channels, int frames) {
  std::vector<int16_t> out(static_cast<size_t>(channels) * frames);
  for (int f = 0; f < frames; ++f) {
    for (int c = 0; c < channels; ++c) {
      const double t = static_cast<double>(f) / kRate;
      const double swell = 0.3 + 0.2 * std::sin(2 * M_PI * 1.3 * t);
      out[static_cast<size_t>(f) * channels + c] = static_cast<int16_t>(
          std::lround(32767 * swell * std::sin(2 * M_PI * (330 + 110 * c) * t)));
    }
  }
  return out;
}

// Writes samples (16-bit, interleaved) to path in the given libsndfile format.
void WriteSound(const std::string& path, int format, int channels,
                const std::vector<int16_t>& samples) {
  SF_INFO info{};
  info.samplerate = kRate;
  info.channels = channels;
  info.format = format;
  SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
  ASSERT_NE(f, nullptr) << sf_strerror(nullptr);
  const sf_count_t frames = static_cast<sf_count_t>(samples.size() / channels);
  if ((format & SF_FORMAT_TYPEMASK) == SF_FORMAT_MPEG) {
    // libsndfile 1.2's MPEG encoder garbles 16-bit input; it takes floats intact.
    std::vector<float> floats(samples.size());
    for (size_t i = 0; i < samples.size(); ++i)
      floats[i] = samples[i] / 32768.0f;
    ASSERT_EQ(sf_writef_float(f, floats.data(), frames), frames);
  } else {
    ASSERT_EQ(sf_writef_short(f, samples.data(), frames), frames);
  }
  sf_close(f);
}

class SndfilePlugin {
 public:
  explicit SndfilePlugin(const std::string& ext) : plugin(PluginPath(ext)), codec(plugin.codec()) {}

  // Reads from position onwards in blocks of capacity bytes, seeking first.
  std::vector<int16_t> ReadPcm(uint32_t capacity = 5000, uint32_t position = 0,
                               uint32_t readLimit = 0) {
    std::vector<uint8_t> buffer(capacity);
    CodecBlock block{buffer.data(), capacity, 0, position, 0, 1};
    std::string bytes;
    while (codec->Read(&block, readLimit) == kReadFilled) {
      bytes.append(reinterpret_cast<char*>(buffer.data()), block.bytesRead);
      EXPECT_LE(block.bytesRead, capacity);
      block.position = block.nextPosition;
    }
    lastEnd = block.position;
    std::vector<int16_t> pcm(bytes.size() / 2);
    std::memcpy(pcm.data(), bytes.data(), pcm.size() * 2);
    return pcm;
  }

  LoadedPlugin plugin;
  CodecServer* codec;
  uint32_t lastEnd = 0;
};

// Largest normalised cross-correlation of b against a over lags in [-maxLag, maxLag].
double BestCorrelation(const std::vector<int16_t>& a, const std::vector<int16_t>& b, int maxLag,
                       int* bestLag) {
  double best = -1;
  for (int lag = -maxLag; lag <= maxLag; lag += 2) {  // whole stereo frames
    double ab = 0, aa = 0, bb = 0;
    for (size_t i = 8000; i + 8000 < a.size(); i += 3) {
      const long j = static_cast<long>(i) + lag;
      if (j < 0 || j >= static_cast<long>(b.size())) continue;
      ab += static_cast<double>(a[i]) * b[j];
      aa += static_cast<double>(a[i]) * a[i];
      bb += static_cast<double>(b[j]) * b[j];
    }
    const double r = (aa > 0 && bb > 0) ? ab / std::sqrt(aa * bb) : 0;
    if (r > best) {
      best = r;
      *bestLag = lag;
    }
  }
  return best;
}

struct Format {
  const char* ext;
  int sfFormat;
  bool lossless;
};

const Format kFormats[] = {
    {"wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, true},
    {"flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, true},
    {"ogg", SF_FORMAT_OGG | SF_FORMAT_VORBIS, false},
    {"mp3", SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III, false},
};

void PrintTo(const Format& format, std::ostream* os) {
  *os << format.ext;
}

class SndfileFormatTest : public ::testing::TestWithParam<Format> {
 protected:
  TempDir dir;
};

TEST_P(SndfileFormatTest, DecodesTheSignal) {
  const Format& fmt = GetParam();
  const int frames = kRate * 2;
  const std::vector<int16_t> signal = Signal(2, frames);
  const std::string path = dir.File(std::string("lesson.") + fmt.ext);
  WriteSound(path, fmt.sfFormat, 2, signal);

  SndfilePlugin p(fmt.ext);
  EXPECT_STREQ(p.codec->GetExtension(), (std::string(".") + fmt.ext).c_str());
  WaveFormatEx format{};
  ASSERT_EQ(p.codec->Open(path.c_str(), &format), 1);
  EXPECT_EQ(p.codec->IsOpen(), 1);
  EXPECT_EQ(format.wFormatTag, 1);
  EXPECT_EQ(format.nChannels, 2);
  EXPECT_EQ(format.nSamplesPerSec, 44100u);
  EXPECT_EQ(format.nBlockAlign, 4);
  EXPECT_EQ(format.nAvgBytesPerSec, 176400u);
  EXPECT_EQ(format.wBitsPerSample, 16);
  EXPECT_EQ(format.cbSize, 0);

  const std::vector<int16_t> pcm = p.ReadPcm();
  EXPECT_EQ(pcm.size() * 2, p.codec->GetLength());
  if (fmt.lossless) {
    EXPECT_EQ(pcm, signal);
  } else {
    // Lossy codecs pad and delay a little; the sound itself must be there.
    EXPECT_NEAR(static_cast<double>(pcm.size()), static_cast<double>(signal.size()), 2 * 4608);
    int lag = 0;
    EXPECT_GT(BestCorrelation(signal, pcm, 2400, &lag), 0.95) << "lag " << lag;
  }
  p.codec->Close();
  EXPECT_EQ(p.codec->IsOpen(), 0);
}

TEST_P(SndfileFormatTest, SeeksLandOnTheirFrame) {
  const Format& fmt = GetParam();
  const std::vector<int16_t> signal = Signal(2, kRate);
  const std::string path = dir.File(std::string("seek.") + fmt.ext);
  WriteSound(path, fmt.sfFormat, 2, signal);
  SndfilePlugin p(fmt.ext);
  WaveFormatEx format{};
  ASSERT_EQ(p.codec->Open(path.c_str(), &format), 1);
  const std::vector<int16_t> whole = p.ReadPcm();
  for (uint32_t frame : {0u, 1u, 1153u, 12345u, 30000u, 30000u, 2000u}) {
    const std::vector<int16_t> tail = p.ReadPcm(5000, frame * 4);
    ASSERT_EQ(tail.size(), whole.size() - frame * 2) << frame;
    // Exact in every format: a repeat must sound the same every time.
    EXPECT_TRUE(std::equal(tail.begin(), tail.end(), whole.begin() + frame * 2)) << frame;
  }
  // A read limit stops reading after the block that reaches it.
  const std::vector<int16_t> limited = p.ReadPcm(1000, 0, 2500);
  EXPECT_EQ(limited.size(), 1500u);
  // Reading at the end delivers nothing.
  EXPECT_TRUE(p.ReadPcm(1000, p.codec->GetLength()).empty());
}

TEST_P(SndfileFormatTest, BrokenFilesFailOrEndEarly) {
  const Format& fmt = GetParam();
  const std::vector<int16_t> signal = Signal(2, kRate);
  const std::string good = dir.File(std::string("good.") + fmt.ext);
  WriteSound(good, fmt.sfFormat, 2, signal);
  const std::string bytes = ReadFileBytes(good);

  std::vector<std::string> broken = {bytes.substr(0, bytes.size() / 2), bytes.substr(0, 50),
                                     bytes.substr(0, 3), "", std::string(5000, '\x7f')};
  std::string scrambled = bytes;
  for (size_t i = 200; i < scrambled.size(); i += 7)
    scrambled[i] = static_cast<char>(i * 31);
  broken.push_back(scrambled);
  std::string headerless = bytes;
  std::memset(headerless.data(), 0x55, 16);
  broken.push_back(headerless);

  SndfilePlugin p(fmt.ext);
  for (size_t i = 0; i < broken.size(); ++i) {
    const std::string path = dir.File(std::string("broken.") + fmt.ext);
    WriteFileBytes(path, broken[i]);
    WaveFormatEx format{};
    if (p.codec->Open(path.c_str(), &format) == 0) {
      EXPECT_EQ(p.codec->IsOpen(), 0) << i;
      continue;
    }
    const std::vector<int16_t> pcm = p.ReadPcm(4096);
    EXPECT_LE(pcm.size() * 2, p.codec->GetLength()) << i;
    p.codec->Close();
  }
}

// A file cut off (a download that stopped) plays what it holds, and its length
// is what can be decoded.
TEST_P(SndfileFormatTest, ACutFilePlaysWhatItHolds) {
  const Format& fmt = GetParam();
  const std::string path = dir.File(std::string("cut.") + fmt.ext);
  WriteSound(path, fmt.sfFormat, 2, Signal(2, kRate * 10));
  const std::string bytes = ReadFileBytes(path);
  WriteFileBytes(path, bytes.substr(0, bytes.size() * 9 / 10));
  SndfilePlugin p(fmt.ext);
  WaveFormatEx format{};
  ASSERT_EQ(p.codec->Open(path.c_str(), &format), 1);
  const std::vector<int16_t> pcm = p.ReadPcm();
  // Ogg pages hold more than a second of sound each: the last whole one ends it.
  EXPECT_GT(pcm.size(), size_t(kRate * 2 * 10 * 7 / 10));
  EXPECT_EQ(pcm.size() * 2, p.codec->GetLength());
}

INSTANTIATE_TEST_SUITE_P(Formats, SndfileFormatTest, ::testing::ValuesIn(kFormats),
                         [](const auto& info) { return std::string(info.param.ext); });

TEST(SndfileWav, EveryWidthComesOutAs16Bit) {
  TempDir dir;
  SndfilePlugin p("wav");
  for (int channels : {1, 2}) {
    const std::vector<int16_t> signal = Signal(channels, 5000);
    const std::map<int, int> tolerance = {{SF_FORMAT_PCM_U8, 256},
                                          {SF_FORMAT_PCM_16, 0},
                                          {SF_FORMAT_PCM_24, 0},
                                          {SF_FORMAT_FLOAT, 1}};
    for (const auto& [subtype, tol] : tolerance) {
      const std::string path = dir.File("w" + std::to_string(subtype) + ".wav");
      WriteSound(path, SF_FORMAT_WAV | subtype, channels, signal);
      WaveFormatEx format{};
      ASSERT_EQ(p.codec->Open(path.c_str(), &format), 1);
      EXPECT_EQ(format.nChannels, channels);
      EXPECT_EQ(format.wBitsPerSample, 16);
      EXPECT_EQ(format.nBlockAlign, 2 * channels);
      const std::vector<int16_t> pcm = p.ReadPcm(777);  // odd blocks split frames
      ASSERT_EQ(pcm.size(), signal.size());
      int worst = 0;
      for (size_t i = 0; i < pcm.size(); ++i)
        worst = std::max(worst, std::abs(pcm[i] - signal[i]));
      EXPECT_LE(worst, tol) << "subtype " << subtype << " channels " << channels;
      p.codec->Close();
    }
  }
}

TEST(SndfileWav, SeeksAndReadsKeepToWholeFrames) {
  TempDir dir;
  const std::vector<int16_t> signal = Signal(2, 3000);
  const std::string path = dir.File("u.wav");
  WriteSound(path, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 2, signal);
  const std::string raw(reinterpret_cast<const char*>(signal.data()), signal.size() * 2);
  SndfilePlugin p("wav");
  WaveFormatEx format{};
  ASSERT_EQ(p.codec->Open(path.c_str(), &format), 1);
  for (uint32_t start : {1u, 2u, 3u, 4001u}) {
    uint8_t buffer[333];
    CodecBlock block{buffer, sizeof(buffer), 0, start, 0, 1};
    std::string got;
    uint32_t first = UINT32_MAX;
    while (p.codec->Read(&block, 0) == kReadFilled) {
      if (first == UINT32_MAX) first = block.position;
      EXPECT_EQ(block.bytesRead % 4, 0u);
      got.append(reinterpret_cast<char*>(buffer), block.bytesRead);
      block.position = block.nextPosition;
    }
    // The seek lands on the frame the byte belongs to, and says so.
    const uint32_t frameStart = start - start % 4;
    EXPECT_EQ(first, frameStart);
    EXPECT_EQ(got, raw.substr(frameStart)) << start;
  }
}

TEST(SndfileWav, RefusesWhatThe32BitCountsCannotHold) {
  TempDir dir;
  // An 8-bit mono file of 3 GB decodes to 6 GB of 16-bit PCM. Sparse: no disk is used.
  const std::string path = dir.File("huge.wav");
  const uint32_t dataBytes = 3000000000u;
  std::string header = "RIFF";
  auto put32 = [&](uint32_t v) { header.append(reinterpret_cast<const char*>(&v), 4); };
  auto put16 = [&](uint16_t v) { header.append(reinterpret_cast<const char*>(&v), 2); };
  put32(36 + dataBytes);
  header += "WAVEfmt ";
  put32(16);
  put16(1);
  put16(1);
  put32(8000);
  put32(8000);
  put16(1);
  put16(8);
  header += "data";
  put32(dataBytes);
  WriteFileBytes(path, header);
  ASSERT_EQ(::truncate(path.c_str(), static_cast<off_t>(header.size()) + dataBytes), 0);
  SndfilePlugin p("wav");
  WaveFormatEx format{};
  EXPECT_EQ(p.codec->Open(path.c_str(), &format), 0);
  EXPECT_EQ(p.codec->IsOpen(), 0);
}

TEST(SndfilePluginLibrary, OneObjectAndOnlyGetServerExported) {
  for (const char* ext : {"wav", "flac", "ogg", "mp3"}) {
    SndfilePlugin p(ext);
    CodecServer* again = nullptr;
    p.plugin.getServer()(&again);
    EXPECT_EQ(again, p.codec) << ext;
    uint8_t buffer[16];
    CodecBlock block{buffer, sizeof(buffer), 0, 0, 0, 0};
    EXPECT_EQ(p.codec->Read(&block, 0), kReadEnd) << ext;  // nothing open

    const std::string command = "nm -D --defined-only " + PluginPath(ext);
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(::popen(command.c_str(), "r"), ::pclose);
    ASSERT_TRUE(pipe);
    std::string all;
    char line[512];
    while (std::fgets(line, sizeof(line), pipe.get()))
      all += line;
    EXPECT_NE(all.find(" T GetServer\n"), std::string::npos) << all;
    EXPECT_EQ(std::count(all.begin(), all.end(), '\n'), 1) << all;
  }
}

}  // namespace
