// SPDX-License-Identifier: GPL-3.0-or-later
// Slowing down with the pitch kept: the stretcher alone, and the offline
// output device stretching what it plays.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <thread>
#include <vector>

#include "audio/offline_wave_out.h"
#include "dsp/tempo_stretcher.h"
#include "loaded_plugin.h"
#include "pcm.h"
#include "temp_dir.h"
#include "wait_for.h"

namespace {

using namespace std::chrono_literals;

WaveFormatEx Format(int rate, int channels, int bits) {
  const uint16_t align = static_cast<uint16_t>(channels * bits / 8);
  return {1,
          static_cast<uint16_t>(channels),
          static_cast<uint32_t>(rate),
          static_cast<uint32_t>(rate * align),
          align,
          static_cast<uint16_t>(bits),
          0};
}

// Everything the stretcher makes of sound put in pieces of piece bytes.
std::vector<uint8_t> Stretch(TempoStretcher& s, const std::vector<uint8_t>& sound, size_t piece) {
  std::vector<uint8_t> out;
  std::vector<uint8_t> buffer(65536);
  auto drain = [&] {
    while (uint32_t n = s.Take(buffer.data(), static_cast<uint32_t>(buffer.size())))
      out.insert(out.end(), buffer.begin(), buffer.begin() + n);
  };
  for (size_t i = 0; i < sound.size(); i += piece) {
    s.Put(sound.data() + i, static_cast<uint32_t>(std::min(piece, sound.size() - i)));
    drain();
  }
  const uint64_t total = s.Flush();
  drain();
  EXPECT_EQ(total, s.Taken());
  return out;
}

TEST(TempoStretcherTest, KeepsThePitchAndStretchesTheLength) {
  for (const double tempo : {0.75, 0.5}) {
    TempoStretcher s;
    s.Configure(Format(44100, 2, 16));
    s.SetTempo(tempo);
    const std::vector<uint8_t> tone = ToneBytes(440, 2.0, 44100, 2);
    const std::vector<uint8_t> out = Stretch(s, tone, 5000);
    const double seconds = out.size() / 176400.0;
    EXPECT_NEAR(seconds, 2.0 / tempo, 0.02) << tempo;
    // 440 Hz: 880 sign changes a second, however long the sound lasts.
    EXPECT_NEAR(ZeroCrossings(out, 2) / seconds, 880, 9) << tempo;
  }
}

TEST(TempoStretcherTest, SlowerThanHalfIsHeldAtHalf) {
  TempoStretcher s;
  s.SetTempo(0.2);
  EXPECT_EQ(s.Tempo(), TempoStretcher::kSlowest);
  s.SetTempo(3);
  EXPECT_EQ(s.Tempo(), 1.0);
}

TEST(TempoStretcherTest, TheResultDependsOnTheSoundAloneNotOnItsPieces) {
  const std::vector<uint8_t> tone = ToneBytes(300, 1.0, 22050, 1);
  TempoStretcher a, b;
  a.Configure(Format(22050, 1, 16));
  b.Configure(Format(22050, 1, 16));
  a.SetTempo(0.75);
  b.SetTempo(0.75);
  const std::vector<uint8_t> whole = Stretch(a, tone, 5000);
  // Odd pieces split samples between two puts.
  EXPECT_EQ(Stretch(b, tone, 1233), whole);
  // After a flush the next sound starts afresh: the same sound comes out the same.
  EXPECT_EQ(Stretch(a, tone, 777), whole);
}

TEST(TempoStretcherTest, EightBitMonoKeepsItsPitchAndMidLevel) {
  TempoStretcher s;
  s.Configure(Format(11025, 1, 8));
  s.SetTempo(0.75);
  std::vector<uint8_t> tone(11025);
  for (size_t i = 0; i < tone.size(); ++i)
    tone[i] = static_cast<uint8_t>(128 + std::lround(60 * std::sin(2 * M_PI * 200 * i / 11025.0)));
  const std::vector<uint8_t> out = Stretch(s, tone, 5000);
  EXPECT_NEAR(out.size() / 11025.0, 4.0 / 3, 0.02);
  int crossings = 0;
  for (size_t i = 1; i < out.size(); ++i)
    crossings += (out[i] >= 128) != (out[i - 1] >= 128);
  EXPECT_NEAR(crossings / (out.size() / 11025.0), 400, 8);
}

class OfflineTempoTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(sink.Create(dir.File("out.wav"), nullptr)); }

  bool Open(OfflineWaveOut& out) {
    return out.Open(RecordingFormat(), [this](WaveDevice*, uint32_t, WaveHdr* h) {
      EXPECT_TRUE(h->dwFlags & WHDR_DONE);
      order.push_back(h);
      ++done;
    });
  }

  // Queues sound in buffers of 5000 bytes.
  void Queue(OfflineWaveOut& out, const std::vector<uint8_t>& sound,
             std::vector<WaveHdr>& headers) {
    headers = std::vector<WaveHdr>(sound.size() / 5000);
    for (size_t i = 0; i < headers.size(); ++i) {
      headers[i].lpData = const_cast<uint8_t*>(sound.data()) + i * 5000;
      headers[i].dwBufferLength = 5000;
      ASSERT_TRUE(out.PrepareHeader(&headers[i]));
      ASSERT_TRUE(out.Write(&headers[i]));
    }
  }

  std::vector<uint8_t> Played() {
    const std::string data = WavDataOf(ReadFileBytes(sink.WrittenPath()));
    return std::vector<uint8_t>(data.begin(), data.end());
  }

  TempDir dir;
  OfflineClock clock;
  WavFileWriter sink;
  std::atomic<int> done{0};
  std::vector<WaveHdr*> order;  // written by the device thread only
};

TEST_F(OfflineTempoTest, PlaysEveryBufferStretchedInOrder) {
  const std::vector<uint8_t> tone = ToneBytes(440, 2.0, 44100, 2);
  std::vector<WaveHdr> headers;
  {
    OfflineWaveOut out(&clock, &sink);
    ASSERT_TRUE(Open(out));
    ASSERT_TRUE(out.SetTempo(0.75));
    ASSERT_TRUE(out.Pause());
    Queue(out, tone, headers);
    EXPECT_FALSE(out.SetTempo(1.0));  // not while buffers are queued
    ASSERT_TRUE(out.Restart());
    ASSERT_TRUE(WaitFor([&] { return done == static_cast<int>(headers.size()); }));
    for (size_t i = 0; i < headers.size(); ++i)
      EXPECT_EQ(order[i], &headers[i]);
    // Sound time is the stretched sound's: 4/3 of the two seconds.
    EXPECT_NEAR(clock.Consumed() / 1e9, headers.size() * 5000 / 176400.0 / 0.75, 0.02);
    out.Reset();
    out.Close();
  }
  sink.Close();
  const std::vector<uint8_t> played = Played();
  const double seconds = played.size() / 176400.0;
  EXPECT_NEAR(seconds, headers.size() * 5000 / 176400.0 / 0.75, 0.02);
  EXPECT_NEAR(ZeroCrossings(played, 2) / seconds, 880, 9);
  // What the device plays is what the stretcher makes of the buffers' bytes.
  TempoStretcher reference;
  reference.Configure(RecordingFormat());
  reference.SetTempo(0.75);
  const std::vector<uint8_t> queued(tone.begin(), tone.begin() + headers.size() * 5000);
  EXPECT_EQ(played, Stretch(reference, queued, 5000));
}

TEST_F(OfflineTempoTest, ResetReturnsEveryBufferAndLeavesNothingStale) {
  for (int run = 0; run < 20; ++run) {
    done = 0;
    order.clear();
    ASSERT_TRUE(sink.Create(dir.File("out.wav"), nullptr));
    clock.SetHeld(true);
    const std::vector<uint8_t> before = ToneBytes(440, 1.0, 44100, 2);
    const std::vector<uint8_t> after = ToneBytes(660, 0.5, 44100, 2, 8000);
    std::vector<WaveHdr> first, second;
    OfflineWaveOut out(&clock, &sink);
    ASSERT_TRUE(Open(out));
    ASSERT_TRUE(out.SetTempo(0.75));
    Queue(out, before, first);
    // Part of the way through: the stretcher holds sound made and sound still to make.
    const uint64_t grant = clock.Advance(300'000'000);
    // Used up once the device is refused a buffer: all before it have finished.
    ASSERT_TRUE(WaitFor([&] { return clock.RefusedGrant() >= grant; }));
    const int heard = done;
    ASSERT_GT(heard, 0);
    ASSERT_TRUE(out.Reset());
    for (const WaveHdr& h : first)
      EXPECT_EQ(h.dwFlags.load(), WHDR_DONE | WHDR_PREPARED | 0u);
    EXPECT_EQ(done, heard);  // reset buffers were never played
    clock.Drain();
    sink.Flush();
    const size_t mark = Played().size();
    Queue(out, after, second);
    clock.SetHeld(false);
    ASSERT_TRUE(WaitFor([&] { return done == heard + static_cast<int>(second.size()); }));
    out.Reset();
    out.Close();
    sink.Close();
    // Everything after the reset is the new sound's alone.
    const std::vector<uint8_t> played = Played();
    TempoStretcher reference;
    reference.Configure(RecordingFormat());
    reference.SetTempo(0.75);
    const std::vector<uint8_t> queued(after.begin(), after.begin() + second.size() * 5000);
    ASSERT_EQ(std::vector<uint8_t>(played.begin() + mark, played.end()),
              Stretch(reference, queued, 5000))
        << "run " << run;
  }
}

TEST_F(OfflineTempoTest, TempoOnePlaysTheBytesUnchanged) {
  const std::vector<uint8_t> tone = ToneBytes(440, 0.5, 44100, 2);
  std::vector<WaveHdr> headers;
  {
    OfflineWaveOut out(&clock, &sink);
    ASSERT_TRUE(Open(out));
    ASSERT_TRUE(out.SetTempo(0.75));
    ASSERT_TRUE(out.SetTempo(1.0));
    EXPECT_EQ(out.Tempo(), 1.0);
    Queue(out, tone, headers);
    ASSERT_TRUE(WaitFor([&] { return done == static_cast<int>(headers.size()); }));
    out.Reset();
    out.Close();
  }
  sink.Close();
  EXPECT_EQ(Played(), std::vector<uint8_t>(tone.begin(), tone.begin() + headers.size() * 5000));
}

}  // namespace
