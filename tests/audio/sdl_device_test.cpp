// SPDX-License-Identifier: GPL-3.0-or-later
// The SDL backend on SDL's disk driver: what is played lands in a file, and
// what is recorded comes from one.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "audio/offline_wave_out.h"
#include "audio/sdl_wave_in.h"
#include "audio/sdl_wave_out.h"
#include "loaded_plugin.h"
#include "pcm.h"
#include "temp_dir.h"
#include "wait_for.h"

namespace {

using namespace std::chrono_literals;

// Non-zero 16-bit samples, so the sound stands out from the driver's silence.
std::vector<uint8_t> Sound(size_t bytes) {
  std::vector<uint8_t> out(bytes);
  for (size_t i = 0; i + 1 < bytes; i += 2) {
    const int16_t s = static_cast<int16_t>(1000 + (i * 7) % 9000);
    std::memcpy(&out[i], &s, 2);
  }
  return out;
}

// Writes the sound to the device in 4000-byte buffers (what is left over is not written).
std::vector<WaveHdr> WriteIn4000(WaveOut& out, const std::vector<uint8_t>& sound) {
  std::vector<WaveHdr> headers(sound.size() / 4000);
  for (size_t i = 0; i < headers.size(); ++i) {
    headers[i].lpData = const_cast<uint8_t*>(sound.data()) + i * 4000;
    headers[i].dwBufferLength = 4000;
    out.PrepareHeader(&headers[i]);
    out.Write(&headers[i]);
  }
  return headers;
}

class SdlOutputTest : public ::testing::Test {
 protected:
  void SetUp() override { ::setenv("SDL_DISKAUDIOFILE", file.c_str(), 1); }

  // Plays the sound in 4000-byte buffers and returns the driver's file.
  std::string Play(const std::vector<uint8_t>& sound, uint32_t volume, bool pauseFirst = false,
                   double tempo = 1.0) {
    SdlWaveOut out;
    std::atomic<size_t> done{0};
    EXPECT_TRUE(out.Open(RecordingFormat(), [&](WaveDevice*, uint32_t, WaveHdr*) { ++done; }))
        << out.LastError();
    out.SetVolume(volume);
    EXPECT_TRUE(out.SetTempo(tempo));
    if (pauseFirst) out.Pause();
    std::vector<WaveHdr> headers = WriteIn4000(out, sound);
    const size_t n = headers.size();
    if (pauseFirst) {
      std::this_thread::sleep_for(200ms);
      EXPECT_EQ(done, 0u);
      pausedFile = ReadFileBytes(file);
      out.Restart();
    }
    EXPECT_TRUE(WaitFor([&] { return done == n; }));
    out.Reset();
    EXPECT_TRUE(out.Close());
    return ReadFileBytes(file);
  }

  TempDir dir;
  std::string file = dir.File("device.raw");
  std::string pausedFile;
};

TEST_F(SdlOutputTest, FullVolumePlaysTheBytesUnchanged) {
  const std::vector<uint8_t> sound = Sound(40000);
  const std::string played = Play(sound, 0xFFFFFFFF);
  EXPECT_TRUE(BytesEqual(Sounding(played), std::string(sound.begin(), sound.end())));
}

TEST_F(SdlOutputTest, HalfVolumeHalvesTheLevel) {
  const std::vector<uint8_t> sound = Sound(40000);
  const std::string played = Play(sound, 0x7FFF7FFF);
  EXPECT_TRUE(
      BytesEqual(Sounding(played), Scaled(std::string(sound.begin(), sound.end()), 0x7FFF)));
}

TEST_F(SdlOutputTest, NothingIsPlayedWhilePaused) {
  const std::vector<uint8_t> sound = Sound(20000);
  const std::string played = Play(sound, 0xFFFFFFFF, true);
  EXPECT_EQ(Sounding(pausedFile), "");
  EXPECT_TRUE(BytesEqual(Sounding(played), std::string(sound.begin(), sound.end())));
}

// The offline device's sound for the same buffers, as the SDL device's
// file would hold it.
std::string PlayOffline(const std::vector<uint8_t>& sound, uint32_t volume, double tempo) {
  TempDir dir;
  OfflineClock clock;
  WavFileWriter sink;
  EXPECT_TRUE(sink.Create(dir.File("out.wav"), nullptr));
  std::atomic<size_t> done{0};
  {
    OfflineWaveOut out(&clock, &sink);
    EXPECT_TRUE(out.Open(RecordingFormat(), [&](WaveDevice*, uint32_t, WaveHdr*) { ++done; }));
    out.SetVolume(volume);
    EXPECT_TRUE(out.SetTempo(tempo));
    out.Pause();
    std::vector<WaveHdr> headers = WriteIn4000(out, sound);
    const size_t n = headers.size();
    out.Restart();
    EXPECT_TRUE(WaitFor([&] { return done == n; }));
    out.Reset();
    out.Close();
  }
  sink.Close();
  return WavDataOf(ReadFileBytes(dir.File("out.wav")));
}

TEST_F(SdlOutputTest, StretchesExactlyAsTheOfflineDeviceDoes) {
  const std::vector<uint8_t> tone = ToneBytes(440, 0.5, 44100, 2);
  for (const uint32_t volume : {0xFFFFFFFFu, 0x7FFF7FFFu}) {
    const std::string offline = PlayOffline(tone, volume, 0.75);
    EXPECT_NEAR(offline.size(), 22 * 4000 / 0.75, 400);
    const std::string played = Play(tone, volume, false, 0.75);
    EXPECT_TRUE(BytesEqual(Sounding(played), Sounding(offline))) << std::hex << volume;
  }
}

TEST(SdlInput, RecordsTheDriversInputFile) {
  TempDir dir;
  const std::vector<uint8_t> voice = Sound(30000);
  WriteFileBytes(dir.File("in.raw"), std::string(voice.begin(), voice.end()));
  ::setenv("SDL_DISKAUDIOFILEIN", dir.File("in.raw").c_str(), 1);
  SdlWaveIn in;
  std::atomic<int> filled{0};
  ASSERT_TRUE(in.Open(RecordingFormat(), [&](WaveDevice*, uint32_t m, WaveHdr*) {
    EXPECT_EQ(m, MM_WIM_DATA);
    ++filled;
  })) << in.LastError();
  std::vector<std::vector<uint8_t>> buffers(5, std::vector<uint8_t>(5000));
  std::vector<WaveHdr> headers(5);
  for (int i = 0; i < 5; ++i) {
    headers[i].lpData = buffers[i].data();
    headers[i].dwBufferLength = 5000;
    in.PrepareHeader(&headers[i]);
    in.AddBuffer(&headers[i]);
  }
  ASSERT_TRUE(in.Start());
  ASSERT_TRUE(WaitFor([&] { return filled == 5; }));
  std::string got;
  for (auto& b : buffers)
    got.append(b.begin(), b.end());
  EXPECT_EQ(got.substr(0, 25000), std::string(voice.begin(), voice.begin() + 25000));
  in.Reset();
  EXPECT_TRUE(in.Close());
}

}  // namespace
