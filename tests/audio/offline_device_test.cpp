// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>
#include <sndfile.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <thread>
#include <vector>

#include "audio/offline_wave_in.h"
#include "audio/offline_wave_out.h"
#include "loaded_plugin.h"
#include "pcm.h"
#include "temp_dir.h"
#include "wait_for.h"

namespace {

using namespace std::chrono_literals;

// Buffers of 16-bit stereo sound with a recognisable pattern.
struct Buffers {
  explicit Buffers(int n, uint32_t bytes = 4000) : data(n), headers(n) {
    for (int i = 0; i < n; ++i) {
      data[i].resize(bytes);
      for (uint32_t j = 0; j < bytes; j += 2) {
        const int16_t s = static_cast<int16_t>((i * 1000 + j) % 20000 - 10000);
        std::memcpy(&data[i][j], &s, 2);
      }
      headers[i].lpData = data[i].data();
      headers[i].dwBufferLength = bytes;
    }
  }
  std::string All() const {
    std::string all;
    for (const auto& d : data)
      all.append(reinterpret_cast<const char*>(d.data()), d.size());
    return all;
  }
  std::vector<std::vector<uint8_t>> data;
  std::vector<WaveHdr> headers;
};

std::string WavData(const std::string& path) {
  return WavDataOf(ReadFileBytes(path));
}

class OfflineOutputTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(sink.Create(dir.File("out.wav"), nullptr)); }

  bool Open(OfflineWaveOut& out) {
    return out.Open(RecordingFormat(), [this](WaveDevice*, uint32_t message, WaveHdr* h) {
      EXPECT_EQ(message, MM_WOM_DONE);
      EXPECT_TRUE(h->dwFlags & WHDR_DONE);
      EXPECT_FALSE(h->dwFlags & WHDR_INQUEUE);
      ++done;
    });
  }

  void WriteAll(OfflineWaveOut& out, Buffers& b) {
    for (auto& h : b.headers) {
      ASSERT_TRUE(out.PrepareHeader(&h));
      ASSERT_TRUE(out.Write(&h));
    }
  }

  TempDir dir;
  OfflineClock clock;
  WavFileWriter sink;
  std::atomic<int> done{0};
};

TEST_F(OfflineOutputTest, PlaysEveryBufferInOrder) {
  Buffers b(20);
  {
    OfflineWaveOut out(&clock, &sink);
    ASSERT_TRUE(Open(out));
    WriteAll(out, b);
    ASSERT_TRUE(WaitFor([&] { return done == 20; }));
    for (auto& h : b.headers)
      EXPECT_EQ(h.dwFlags.load(), WHDR_DONE | WHDR_PREPARED | 0u);
    EXPECT_TRUE(out.Reset());
    EXPECT_TRUE(out.Close());
  }
  sink.Close();
  EXPECT_EQ(WavData(dir.File("out.wav")), b.All());
  // The header tells the length, as any reader of WAV files sees it.
  SF_INFO info{};
  SNDFILE* f = sf_open(dir.File("out.wav").c_str(), SFM_READ, &info);
  ASSERT_NE(f, nullptr);
  sf_close(f);
  EXPECT_EQ(info.frames, 20 * 4000 / 4);
  EXPECT_EQ(info.channels, 2);
  EXPECT_EQ(info.samplerate, 44100);
}

TEST_F(OfflineOutputTest, HeaderRules) {
  Buffers b(1);
  OfflineWaveOut out(&clock, &sink);
  EXPECT_FALSE(out.Write(&b.headers[0]));  // not open
  ASSERT_TRUE(Open(out));
  EXPECT_FALSE(out.Write(&b.headers[0]));  // not prepared
  clock.SetHeld(true);
  ASSERT_TRUE(out.PrepareHeader(&b.headers[0]));
  ASSERT_TRUE(out.Write(&b.headers[0]));
  EXPECT_FALSE(out.Write(&b.headers[0]));            // already queued
  EXPECT_FALSE(out.UnprepareHeader(&b.headers[0]));  // still playing
  EXPECT_FALSE(out.Close());                         // buffers queued
  EXPECT_TRUE(out.Reset());
  EXPECT_EQ(b.headers[0].dwFlags.load(), WHDR_DONE | WHDR_PREPARED | 0u);
  EXPECT_EQ(done, 0);  // a reset buffer was never played
  EXPECT_TRUE(out.UnprepareHeader(&b.headers[0]));
  EXPECT_TRUE(out.Close());
}

TEST_F(OfflineOutputTest, ABufferStaysPreparedWhileItsCallbackRuns) {
  Buffers b(1);
  std::atomic<bool> inside{false}, release{false};
  OfflineWaveOut out(&clock, &sink);
  ASSERT_TRUE(out.Open(RecordingFormat(), [&](WaveDevice*, uint32_t, WaveHdr*) {
    inside = true;
    while (!release)
      std::this_thread::sleep_for(1ms);
  }));
  WriteAll(out, b);
  ASSERT_TRUE(WaitFor([&] { return inside.load(); }));
  // Done, yet the callback may still read it: its owner cannot take it back.
  EXPECT_TRUE(b.headers[0].dwFlags & WHDR_DONE);
  EXPECT_FALSE(out.UnprepareHeader(&b.headers[0]));
  release = true;
  ASSERT_TRUE(WaitFor([&] { return out.UnprepareHeader(&b.headers[0]); }));
  out.Reset();
  out.Close();
}

TEST_F(OfflineOutputTest, HeldClockLetsOnlyTheGrantedSoundPass) {
  clock.SetHeld(true);
  Buffers b(10, 17640);  // 100 ms each at 44.1 kHz stereo 16-bit
  OfflineWaveOut out(&clock, &sink);
  ASSERT_TRUE(Open(out));
  WriteAll(out, b);
  std::this_thread::sleep_for(30ms);
  EXPECT_EQ(done, 0);
  clock.Advance(250'000'000);  // 250 ms: two buffers
  ASSERT_TRUE(WaitFor([&] { return done == 2; }));
  std::this_thread::sleep_for(20ms);
  EXPECT_EQ(done, 2);
  EXPECT_EQ(clock.Budget(), 50'000'000);
  clock.Advance(50'000'000);
  ASSERT_TRUE(WaitFor([&] { return done == 3; }));
  clock.SetHeld(false);
  ASSERT_TRUE(WaitFor([&] { return done == 10; }));
  out.Reset();
  out.Close();
}

TEST_F(OfflineOutputTest, PauseHoldsAndRestartGoesOn) {
  Buffers b(5);
  OfflineWaveOut out(&clock, &sink);
  ASSERT_TRUE(Open(out));
  ASSERT_TRUE(out.Pause());
  WriteAll(out, b);
  std::this_thread::sleep_for(30ms);
  EXPECT_EQ(done, 0);
  ASSERT_TRUE(out.Restart());
  ASSERT_TRUE(WaitFor([&] { return done == 5; }));
  out.Reset();
  out.Close();
  sink.Close();
  EXPECT_EQ(WavData(dir.File("out.wav")), b.All());
}

TEST_F(OfflineOutputTest, VolumeScalesEachChannel) {
  Buffers b(1, 8);
  const int16_t in[4] = {1000, 1000, -20000, 32767};
  std::memcpy(b.data[0].data(), in, 8);
  OfflineWaveOut out(&clock, &sink);
  ASSERT_TRUE(Open(out));
  ASSERT_TRUE(out.SetVolume(0x0000'8000));  // left about half, right silent
  WriteAll(out, b);
  ASSERT_TRUE(WaitFor([&] { return done == 1; }));
  out.Reset();
  out.Close();
  sink.Close();
  int16_t played[4];
  const std::string bytes = WavData(dir.File("out.wav"));
  ASSERT_EQ(bytes.size(), 8u);
  std::memcpy(played, bytes.data(), 8);
  EXPECT_EQ(played[0], 1000 * 0x8000 / 0xFFFF);
  EXPECT_EQ(played[1], 0);
  EXPECT_EQ(played[2], -20000 * 0x8000 / 0xFFFF);
  EXPECT_EQ(played[3], 0);
  EXPECT_EQ(b.data[0][0], reinterpret_cast<const uint8_t*>(in)[0]);  // the buffer is untouched
}

TEST(OfflineInput, DeliversTheFileThenSilence) {
  TempDir dir;
  // The input file: 1.5 buffers of recognisable sound, as a WAV file.
  WavFileWriter w;
  ASSERT_TRUE(w.Create(dir.File("voice.wav"), nullptr));
  const std::string voice = PatternBytes(6000) + std::string(0, '\0');
  std::string pcm = voice;
  for (size_t i = 1; i < pcm.size(); i += 2)
    pcm[i] &= 0x3F;  // keep samples small and plain
  w.Append(RecordingFormat(), reinterpret_cast<const uint8_t*>(pcm.data()),
           static_cast<uint32_t>(pcm.size()));
  w.Close();
  SoundSource source;
  ASSERT_TRUE(source.Load(dir.File("voice.wav"), nullptr));

  OfflineClock clock;
  clock.SetHeld(true);
  OfflineWaveIn in(&clock, &source);
  std::atomic<int> filled{0};
  ASSERT_TRUE(in.Open(RecordingFormat(), [&](WaveDevice*, uint32_t message, WaveHdr*) {
    EXPECT_EQ(message, MM_WIM_DATA);
    ++filled;
  }));
  Buffers b(3, 4000);
  for (auto& h : b.headers) {
    ASSERT_TRUE(in.PrepareHeader(&h));
    ASSERT_TRUE(in.AddBuffer(&h));
  }
  clock.Advance(1'000'000'000);
  std::this_thread::sleep_for(20ms);
  EXPECT_EQ(filled, 0);  // not started
  ASSERT_TRUE(in.Start());
  ASSERT_TRUE(WaitFor([&] { return filled == 3; }));
  std::string got;
  for (auto& h : b.headers) {
    EXPECT_EQ(h.dwBytesRecorded, 4000u);
    got.append(reinterpret_cast<char*>(h.lpData), h.dwBytesRecorded);
  }
  EXPECT_EQ(got, pcm + std::string(6000, '\0'));
  in.Reset();
  EXPECT_TRUE(in.Close());
}

TEST(OfflineInput, ResetReturnsUnfilledBuffersEmpty) {
  OfflineClock clock;
  clock.SetHeld(true);
  OfflineWaveIn in(&clock, nullptr);
  ASSERT_TRUE(in.Open(RecordingFormat(), nullptr));
  Buffers b(2);
  for (auto& h : b.headers) {
    in.PrepareHeader(&h);
    in.AddBuffer(&h);
  }
  in.Start();
  EXPECT_FALSE(in.Close());
  ASSERT_TRUE(in.Reset());
  for (auto& h : b.headers) {
    EXPECT_EQ(h.dwFlags.load(), WHDR_DONE | WHDR_PREPARED | 0u);
    EXPECT_EQ(h.dwBytesRecorded, 0u);
  }
  EXPECT_TRUE(in.Close());
}

TEST(OfflineInput, ResetHandsBackThePartlyFilledBuffer) {
  OfflineClock clock;
  clock.SetHeld(true);
  OfflineWaveIn in(&clock, nullptr);
  ASSERT_TRUE(in.Open(RecordingFormat(), nullptr));
  Buffers b(2);
  for (auto& h : b.headers) {
    in.PrepareHeader(&h);
    in.AddBuffer(&h);
  }
  in.Start();
  // 10 ms is 441 frames: the first buffer holds exactly those when reset.
  clock.Advance(10'000'000);
  ASSERT_TRUE(WaitFor([&] { return clock.Budget() == 0; }));
  ASSERT_TRUE(in.Reset());
  EXPECT_EQ(b.headers[0].dwBytesRecorded, 441u * 4);
  EXPECT_EQ(b.headers[1].dwBytesRecorded, 0u);
  EXPECT_TRUE(in.Close());
}

TEST(SoundSourceTest, ConvertsRateAndChannelsWithoutAliasing) {
  TempDir dir;
  // One second of a 1 kHz tone, mono at 22050 Hz, and of a 15 kHz tone at 44100 Hz.
  auto tone = [&](const std::string& name, int rate, double hz) {
    std::vector<int16_t> pcm(rate);
    for (int i = 0; i < rate; ++i)
      pcm[i] = static_cast<int16_t>(12000 * std::sin(2 * M_PI * hz * i / rate));
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* f = sf_open(dir.File(name).c_str(), SFM_WRITE, &info);
    sf_writef_short(f, pcm.data(), rate);
    sf_close(f);
  };
  tone("low.wav", 22050, 1000);
  tone("high.wav", 44100, 15000);
  SoundSource low, high;
  ASSERT_TRUE(low.Load(dir.File("low.wav"), nullptr));
  ASSERT_TRUE(high.Load(dir.File("high.wav"), nullptr));

  const std::vector<uint8_t> stereo = low.Render(RecordingFormat());
  EXPECT_NEAR(static_cast<double>(stereo.size()), 176400, 176400 * 0.01);
  EXPECT_NEAR(ZeroCrossings(stereo, 2), 2000, 20);  // still 1 kHz
  int16_t left, right;
  std::memcpy(&left, &stereo[40000], 2);
  std::memcpy(&right, &stereo[40002], 2);
  EXPECT_EQ(left, right);

  // At 16 kHz a 15 kHz tone cannot be carried: it must fade, not fold to 1 kHz.
  const WaveFormatEx narrow{kWaveFormatPcm, 1, 16000, 32000, 2, 16, 0};
  const std::vector<uint8_t> folded = high.Render(narrow);
  double energy = 0;
  for (size_t i = 0; i + 1 < folded.size(); i += 2) {
    int16_t v;
    std::memcpy(&v, &folded[i], 2);
    energy += static_cast<double>(v) * v;
  }
  const double rms = std::sqrt(energy / (folded.size() / 2));
  EXPECT_LT(rms, 12000 / std::sqrt(2.0) / 10);  // at least 20 dB down
}

}  // namespace
