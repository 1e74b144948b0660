// SPDX-License-Identifier: GPL-3.0-or-later
// The WaveOut / WaveIn contract, checked on every backend: the offline devices
// and SDL's disk driver (a real, real-time device without a sound card).
#include <gtest/gtest.h>
#include <stdlib.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "audio/offline_wave_in.h"
#include "audio/offline_wave_out.h"
#include "audio/sdl_wave_in.h"
#include "audio/sdl_wave_out.h"
#include "loaded_plugin.h"
#include "temp_dir.h"
#include "wait_for.h"

namespace {

using namespace std::chrono_literals;

// Non-zero 16-bit samples that differ along the buffer.
std::vector<uint8_t> Sound(size_t bytes, int seed) {
  std::vector<uint8_t> out(bytes);
  for (size_t i = 0; i + 1 < bytes; i += 2) {
    const int16_t s = static_cast<int16_t>(1000 + (i * 7 + seed * 131) % 9000);
    std::memcpy(&out[i], &s, 2);
  }
  return out;
}

enum class Backend { kOffline, kSdl };

class DeviceContract : public ::testing::TestWithParam<Backend> {
 protected:
  void SetUp() override {
    ::setenv("SDL_DISKAUDIOFILE", dir.File("out.raw").c_str(), 1);
    ::setenv("SDL_DISKAUDIOFILEIN", dir.File("in.raw").c_str(), 1);
    WriteFileBytes(dir.File("in.raw"), std::string(200000, '\x11'));
  }
  std::unique_ptr<WaveOut> MakeOut() {
    if (GetParam() == Backend::kOffline) {
      sink.Create(dir.File("out.wav"), nullptr);
      return std::make_unique<OfflineWaveOut>(&clock, &sink);
    }
    return std::make_unique<SdlWaveOut>();
  }
  // Everything the output played (after it closed): the WAV sink's data, or
  // the disk driver's file without the silence it writes while nothing is queued.
  std::string Played() {
    if (GetParam() == Backend::kOffline) {
      sink.Close();
      return WavDataOf(ReadFileBytes(dir.File("out.wav")));
    }
    const std::string raw = ReadFileBytes(dir.File("out.raw"));
    std::string out;
    for (size_t i = 0; i + 1 < raw.size(); i += 2) {
      if (raw[i] != 0 || raw[i + 1] != 0) out.append(raw, i, 2);
    }
    return out;
  }
  std::unique_ptr<WaveIn> MakeIn() {
    if (GetParam() == Backend::kOffline) return std::make_unique<OfflineWaveIn>(&clock, nullptr);
    return std::make_unique<SdlWaveIn>();
  }

  // n buffers of 4000 bytes with their headers.
  struct Buffers {
    explicit Buffers(size_t n) : data(n), headers(n) {
      for (size_t i = 0; i < n; ++i) {
        data[i] = Sound(4000, static_cast<int>(i));
        headers[i].lpData = data[i].data();
        headers[i].dwBufferLength = 4000;
      }
    }
    std::vector<std::vector<uint8_t>> data;
    std::vector<WaveHdr> headers;
  };

  // What the callbacks reported, in order.
  struct Log {
    void Add(uint32_t message, WaveHdr* h) {
      std::lock_guard<std::mutex> lock(mutex);
      messages.push_back(message);
      headers.push_back(h);
    }
    size_t Count() {
      std::lock_guard<std::mutex> lock(mutex);
      return headers.size();
    }
    std::mutex mutex;
    std::vector<uint32_t> messages;
    std::vector<WaveHdr*> headers;
  };
  WaveDevice::Callback Logger(Log& log) {
    return [&log](WaveDevice*, uint32_t m, WaveHdr* h) { log.Add(m, h); };
  }

  TempDir dir;
  OfflineClock clock;
  WavFileWriter sink;
};

TEST_P(DeviceContract, OutputFinishesBuffersInOrderWithTheirFlags) {
  auto out = MakeOut();
  Log log;
  ASSERT_TRUE(out->Open(RecordingFormat(), Logger(log))) << out->LastError();
  Buffers b(6);
  EXPECT_FALSE(out->Write(&b.headers[0]));  // not prepared
  for (auto& h : b.headers) {
    ASSERT_TRUE(out->PrepareHeader(&h));
    EXPECT_EQ(h.dwFlags.load(), WHDR_PREPARED);
    ASSERT_TRUE(out->Write(&h));
  }
  ASSERT_TRUE(WaitFor([&] { return log.Count() == 6; }));
  for (size_t i = 0; i < 6; ++i) {
    EXPECT_EQ(log.headers[i], &b.headers[i]) << i;
    EXPECT_EQ(log.messages[i], MM_WOM_DONE);
    EXPECT_EQ(b.headers[i].dwFlags.load(), WHDR_DONE | WHDR_PREPARED) << i;
  }
  EXPECT_TRUE(out->UnprepareHeader(&b.headers[0]));
  EXPECT_EQ(b.headers[0].dwFlags.load(), static_cast<uint32_t>(WHDR_DONE));
  EXPECT_TRUE(out->Close());
  std::string all;
  for (const auto& d : b.data)
    all.append(d.begin(), d.end());
  EXPECT_TRUE(BytesEqual(Played(), all));  // full level: the bytes as given
}

TEST_P(DeviceContract, QueuedBuffersAreHeldUntilResetWhichReturnsThemWithoutCallbacks) {
  auto out = MakeOut();
  Log log;
  ASSERT_TRUE(out->Open(RecordingFormat(), Logger(log))) << out->LastError();
  ASSERT_TRUE(out->Pause());  // so that every buffer is still queued
  Buffers b(4);
  for (auto& h : b.headers) {
    out->PrepareHeader(&h);
    ASSERT_TRUE(out->Write(&h));
  }
  for (auto& h : b.headers) {
    EXPECT_EQ(h.dwFlags.load(), WHDR_PREPARED | WHDR_INQUEUE);
    EXPECT_FALSE(out->PrepareHeader(&h));  // queued headers are the device's
    EXPECT_FALSE(out->UnprepareHeader(&h));
  }
  EXPECT_FALSE(out->Write(&b.headers[0]));  // already queued
  EXPECT_FALSE(out->Close());               // refused while buffers are queued
  ASSERT_TRUE(out->Reset());
  for (auto& h : b.headers)
    EXPECT_EQ(h.dwFlags.load(), WHDR_DONE | WHDR_PREPARED);
  std::this_thread::sleep_for(30ms);
  EXPECT_EQ(log.Count(), 0u);  // never played, so never reported
  EXPECT_TRUE(out->Close());
}

TEST_P(DeviceContract, PauseHoldsTheQueueAndRestartGoesOn) {
  auto out = MakeOut();
  Log log;
  ASSERT_TRUE(out->Open(RecordingFormat(), Logger(log))) << out->LastError();
  ASSERT_TRUE(out->Pause());
  EXPECT_TRUE(out->Paused());
  Buffers b(3);
  for (auto& h : b.headers) {
    out->PrepareHeader(&h);
    out->Write(&h);
  }
  std::this_thread::sleep_for(100ms);
  EXPECT_EQ(log.Count(), 0u);
  ASSERT_TRUE(out->Restart());
  EXPECT_FALSE(out->Paused());
  ASSERT_TRUE(WaitFor([&] { return log.Count() == 3; }));
  EXPECT_TRUE(out->Close());
}

TEST_P(DeviceContract, VolumeScalesTheLeftAndRightChannels) {
  auto out = MakeOut();
  Log log;
  ASSERT_TRUE(out->Open(RecordingFormat(), Logger(log))) << out->LastError();
  EXPECT_EQ(out->Volume(), 0xFFFFFFFFu);
  ASSERT_TRUE(out->SetVolume(0x40007FFF));  // left at half, right at a quarter
  EXPECT_EQ(out->Volume(), 0x40007FFFu);
  Buffers b(3);
  for (auto& h : b.headers) {
    out->PrepareHeader(&h);
    out->Write(&h);
  }
  ASSERT_TRUE(WaitFor([&] { return log.Count() == 3; }));
  EXPECT_TRUE(out->Close());
  std::string expected;
  for (const auto& d : b.data) {
    for (size_t i = 0; i + 1 < d.size(); i += 2) {
      int16_t s;
      std::memcpy(&s, &d[i], 2);
      const int64_t level = (i / 2) % 2 == 0 ? 0x7FFF : 0x4000;
      s = static_cast<int16_t>(s * level / 0xFFFF);
      expected.append(reinterpret_cast<const char*>(&s), 2);
    }
  }
  EXPECT_TRUE(BytesEqual(Played(), expected));
}

TEST_P(DeviceContract, InputFillsBuffersInOrderAndResetReturnsTheRest) {
  auto in = MakeIn();
  Log log;
  ASSERT_TRUE(in->Open(RecordingFormat(), Logger(log))) << in->LastError();
  Buffers b(3);
  for (auto& h : b.headers) {
    in->PrepareHeader(&h);
    ASSERT_TRUE(in->AddBuffer(&h));
    EXPECT_EQ(h.dwFlags.load(), WHDR_PREPARED | WHDR_INQUEUE);
  }
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(log.Count(), 0u);  // nothing before Start
  ASSERT_TRUE(in->Start());
  ASSERT_TRUE(WaitFor([&] { return log.Count() == 3; }));
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(log.headers[i], &b.headers[i]);
    EXPECT_EQ(log.messages[i], MM_WIM_DATA);
    EXPECT_EQ(b.headers[i].dwBytesRecorded, 4000u);
    EXPECT_EQ(b.headers[i].dwFlags.load(), WHDR_DONE | WHDR_PREPARED);
  }
  // Queued again while the clock is held (offline) or right before a reset:
  // the reset returns them done, and no more callbacks come.
  clock.SetHeld(true);
  for (auto& h : b.headers) {
    in->PrepareHeader(&h);
    in->AddBuffer(&h);
  }
  EXPECT_FALSE(in->Close());
  ASSERT_TRUE(in->Reset());
  const size_t reported = log.Count();
  for (auto& h : b.headers)
    EXPECT_TRUE(h.dwFlags.load() & WHDR_DONE);
  std::this_thread::sleep_for(30ms);
  EXPECT_EQ(log.Count(), reported);
  EXPECT_TRUE(in->Close());
}

INSTANTIATE_TEST_SUITE_P(EveryBackend, DeviceContract,
                         ::testing::Values(Backend::kOffline, Backend::kSdl), [](const auto& info) {
                           return info.param == Backend::kOffline ? "offline" : "sdl_disk";
                         });

}  // namespace
