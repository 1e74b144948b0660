// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/wave_buffer_pool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>

#include "audio/offline_wave_in.h"
#include "audio/offline_wave_out.h"
#include "loaded_plugin.h"
#include "wait_for.h"

namespace {

using namespace std::chrono_literals;

class PoolTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(pool.Allocate(5000, 4));
    staged.header.lpData = stagedBuffer;
    clock.SetHeld(true);
    ASSERT_TRUE(out.Open(RecordingFormat(), [this](WaveDevice*, uint32_t, WaveHdr*) { ++done; }));
  }
  void TearDown() override {
    pool.ResetDevice(&out);
    out.Close();
  }

  bool Stage(uint32_t position, uint8_t fill) {
    std::memset(staged.header.lpData, fill, 5000);
    staged.header.dwBufferLength = 5000;
    staged.header.dwFlags = 0;
    staged.position = position;
    staged.nextPosition = position + 5000;
    staged.silenceRatio = 0.5f;
    return pool.Add(&staged, &out);
  }

  void Play(int buffers) {
    const int target = done + buffers;
    clock.Advance(buffers * (5000LL * 1000000000 / 176400) + 1000);
    for (int i = 0; i < 500 && done < target; ++i)
      std::this_thread::sleep_for(1ms);
    ASSERT_EQ(done, target);
  }

  WaveBufferPool pool;
  uint8_t stagedBuffer[5000];
  WaveSlot staged;
  OfflineClock clock;
  OfflineWaveOut out{&clock, nullptr};
  std::atomic<int> done{0};
};

TEST_F(PoolTest, AddExchangesBuffersAndSendWritesInOrder) {
  uint8_t* first = staged.header.lpData;
  ASSERT_TRUE(Stage(0, 1));
  EXPECT_NE(staged.header.lpData, first);
  EXPECT_EQ(pool.SlotAt(0)->header.lpData, first);
  EXPECT_EQ(pool.SlotAt(0)->header.lpData[0], 1);
  EXPECT_EQ(pool.SlotAt(0)->position.load(), 0u);
  EXPECT_EQ(pool.SlotAt(4)->slotIndex, 4u);
  EXPECT_EQ(pool.SlotAt(5), nullptr);
  EXPECT_FALSE(pool.AllDone());  // filled, not sent
  EXPECT_EQ(pool.SendNext(&out), 1);
  EXPECT_EQ(pool.SendNext(&out), 0);  // nothing more filled
  EXPECT_FALSE(pool.AllDone());       // queued at the device
  Play(1);
  EXPECT_TRUE(pool.AllDone());
}

TEST_F(PoolTest, FullPoolAndQueuedSlotsRefuseMore) {
  for (uint32_t i = 0; i < 4; ++i) {
    ASSERT_TRUE(Stage(i * 5000, static_cast<uint8_t>(i)));
    ASSERT_EQ(pool.SendNext(&out), 1);
  }
  // Four slots queued; the fifth slot is free but the slot after it is still queued.
  ASSERT_TRUE(Stage(20000, 9));
  EXPECT_FALSE(Stage(25000, 10));
  Play(1);
  EXPECT_EQ(pool.SendNext(&out), 1);
  // The played slot is free once its done callback has returned, which may be
  // a moment after it has begun.
  EXPECT_TRUE(WaitFor([&] { return Stage(25000, 10); }, 10000));
}

TEST_F(PoolTest, LastPlayedIsTheNewestFinishedSlot) {
  uint32_t p, n;
  float r;
  EXPECT_FALSE(pool.LastPlayed(&p, &n, &r));
  for (uint32_t i = 0; i < 3; ++i) {
    Stage(10000 + i * 5000, 0);
    pool.SendNext(&out);
  }
  EXPECT_FALSE(pool.LastPlayed(&p, &n, &r));  // nothing finished yet
  Play(2);
  ASSERT_TRUE(pool.LastPlayed(&p, &n, &r));
  EXPECT_EQ(p, 15000u);
  EXPECT_EQ(n, 20000u);
  EXPECT_FLOAT_EQ(r, 0.5f);
  pool.ResetDevice(&out);
  pool.Reset();
  EXPECT_TRUE(pool.AllDone());
  EXPECT_FALSE(pool.LastPlayed(&p, &n, &r));
  EXPECT_EQ(pool.SendIndex(), 0u);
  EXPECT_EQ(pool.FillIndex(), 0u);
}

TEST_F(PoolTest, ResetDeviceReturnsEverySlot) {
  for (uint32_t i = 0; i < 3; ++i) {
    Stage(i * 5000, 0);
    pool.SendNext(&out);
  }
  pool.ResetDevice(&out);
  for (uint32_t i = 0; i < 3; ++i) {
    EXPECT_EQ(pool.SlotAt(i)->header.dwFlags.load(), WHDR_DONE) << i;
  }
  EXPECT_TRUE(pool.AllDone());
  EXPECT_EQ(done, 0);
  pool.ResetLengths();
  EXPECT_EQ(pool.SlotAt(2)->header.dwBufferLength, 5000u);
  EXPECT_EQ(pool.SlotAt(2)->header.dwFlags.load(), 0u);
}

TEST_F(PoolTest, NoSlotIsEverQueuedAtTwoDevices) {
  for (uint32_t i = 0; i < 3; ++i) {
    ASSERT_TRUE(Stage(i * 5000, static_cast<uint8_t>(i + 1)));
    ASSERT_EQ(pool.SendNext(&out), 1);
  }
  OfflineWaveIn in{&clock, nullptr};
  ASSERT_TRUE(in.Open(RecordingFormat(), nullptr));
  // The output still holds three slots: recording may not take them, nor may
  // the pool be emptied under the device.
  EXPECT_FALSE(pool.QueueAllForInput(&in));
  EXPECT_FALSE(pool.ResetLengths());
  EXPECT_FALSE(pool.Reset());
  EXPECT_EQ(pool.SlotAt(0)->header.lpData[0], 1);
  EXPECT_EQ(pool.SlotAt(3)->header.dwFlags.load(), 0u);  // nothing went to the input
  // Taken back from the output, every slot goes to the input, zeroed.
  pool.ResetDevice(&out);
  EXPECT_TRUE(pool.Reset());
  ASSERT_TRUE(pool.QueueAllForInput(&in));
  for (uint32_t i = 0; i <= 4; ++i) {
    EXPECT_EQ(pool.SlotAt(i)->header.dwFlags.load(), WHDR_PREPARED | WHDR_INQUEUE) << i;
    EXPECT_EQ(pool.SlotAt(i)->header.lpData[0], 0) << i;
  }
  in.Reset();
  pool.ResetDevice(&in);
  in.Close();
}

}  // namespace
