// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <vector>

#include "engine/block_ring.h"
#include "engine/mark_ring.h"
#include "engine/silence_ring.h"

namespace {

TEST(MarkRing, KeepsTheLastTenNewestFirst) {
  MarkRing ring;
  uint32_t p = 99;
  EXPECT_FALSE(ring.Get(0, &p));
  for (uint32_t i = 1; i <= 11; ++i)
    ring.Push(i * 100);
  EXPECT_EQ(ring.Count(), 10u);
  ASSERT_TRUE(ring.Get(0, &p));
  EXPECT_EQ(p, 1100u);
  ASSERT_TRUE(ring.Get(9, &p));
  EXPECT_EQ(p, 200u);  // the first mark was dropped
  EXPECT_FALSE(ring.Get(10, &p));
  ring.Reset();
  EXPECT_FALSE(ring.Get(0, &p));
  ring.Push(0);
  ASSERT_TRUE(ring.Get(0, &p));
  EXPECT_EQ(p, 0u);
  EXPECT_FALSE(ring.Get(1, &p));
}

// Feeds flags and returns the index (1-based) of every feed that detected an end.
std::vector<int> Detections(SilenceRing& ring, uint32_t window, const std::vector<bool>& flags) {
  std::vector<int> hits;
  for (size_t i = 0; i < flags.size(); ++i) {
    if (ring.Feed(flags[i], window)) {
      hits.push_back(static_cast<int>(i) + 1);
      ring.Clear();
    }
  }
  return hits;
}

TEST(SilenceRing, FullWindowWithAtMostOneNoisyBuffer) {
  SilenceRing ring;
  ring.Recreate(71);
  // Silence alone (a lead-in, the rest of a pause after a repeat) is no
  // sentence, nor is silence with sound only at its end: the sound must come
  // before the window of silence.
  std::vector<bool> allSilent(71, true);
  EXPECT_TRUE(Detections(ring, 71, allSilent).empty());
  std::vector<bool> soundThenSilence(72, true);
  soundThenSilence[0] = false;
  EXPECT_EQ(Detections(ring, 71, soundThenSilence), std::vector<int>{72});

  // One noisy buffer inside the window is allowed once sound came before it.
  ring.Clear();
  std::vector<bool> oneNoisy(80, true);
  oneNoisy[5] = oneNoisy[40] = false;
  EXPECT_EQ(Detections(ring, 71, oneNoisy), std::vector<int>{77});

  ring.Clear();
  std::vector<bool> twoNoisy(71, true);
  twoNoisy[10] = twoNoisy[50] = false;
  EXPECT_TRUE(Detections(ring, 71, twoNoisy).empty());
  // The window slides: once the first noisy buffer has left it, it fires.
  EXPECT_EQ(Detections(ring, 71, std::vector<bool>(11, true)), std::vector<int>{11});
}

TEST(SilenceRing, WindowsBelowTwoNeverFire) {
  for (uint32_t window : {0u, 1u}) {
    SilenceRing ring;
    ring.Recreate(window);
    EXPECT_TRUE(Detections(ring, window, std::vector<bool>(50, true)).empty()) << window;
  }
  SilenceRing never;  // never created: nothing stored, nothing found
  EXPECT_TRUE(Detections(never, 3, std::vector<bool>(10, true)).empty());
}

TEST(SilenceRing, RecreateClears) {
  SilenceRing ring;
  ring.Recreate(3);
  ring.Feed(false, 3);
  ring.Feed(true, 3);
  ring.Recreate(3);
  EXPECT_FALSE(ring.Feed(false, 3));
  EXPECT_FALSE(ring.Feed(true, 3));
  EXPECT_FALSE(ring.Feed(true, 3));
  EXPECT_TRUE(ring.Feed(true, 3));
  // Blocks the decoder did not measure are not sound heard.
  ring.Clear();
  for (int i = 0; i < 2; ++i)
    EXPECT_FALSE(ring.Feed(false, 3, false));
  for (int i = 0; i < 6; ++i)
    EXPECT_FALSE(ring.Feed(true, 3));
  EXPECT_EQ(ring.Capacity(), 3u);
}

TEST(BlockRing, HandsBlocksOverByExchangingBuffers) {
  BlockRing ring;
  ASSERT_TRUE(ring.Allocate(5000, 3));
  uint8_t requestBuffer[5000];
  uint8_t currentBuffer[5000];
  CodecBlock request{requestBuffer, 5000, 0, 0, 0, 0};
  PcmBlock current;
  current.data = currentBuffer;

  EXPECT_FALSE(ring.Take(&current));
  std::vector<uint8_t*> stored;
  for (uint32_t i = 0; i < 3; ++i) {
    request.data[0] = static_cast<uint8_t>(i + 1);
    request.bytesRead = 5000 - i;
    request.position = i * 5000;
    request.nextPosition = i * 5000 + 5000 - i;
    uint8_t* given = request.data;
    ASSERT_TRUE(ring.Push(&request, 0.25f * i));
    EXPECT_NE(request.data, given);  // the request got an empty buffer back
    stored.push_back(given);
  }
  EXPECT_FALSE(ring.Push(&request, 0));  // 3 blocks: full
  EXPECT_EQ(ring.Count(), 3u);

  for (uint32_t i = 0; i < 3; ++i) {
    uint8_t* mine = current.data;
    ASSERT_TRUE(ring.Take(&current));
    EXPECT_EQ(current.data, stored[i]);
    EXPECT_EQ(current.data[0], i + 1);
    EXPECT_EQ(current.bytes, 5000 - i);
    EXPECT_EQ(current.position, i * 5000);
    EXPECT_FLOAT_EQ(current.silenceRatio, 0.25f * i);
    EXPECT_NE(mine, nullptr);
  }
  EXPECT_TRUE(ring.Empty());
  ASSERT_TRUE(ring.Push(&request, 0));
  ring.Clear();
  EXPECT_TRUE(ring.Empty());
  EXPECT_FALSE(ring.Take(&current));
  ring.Free();
  EXPECT_EQ(ring.Capacity(), 0u);
  EXPECT_FALSE(ring.Push(&request, 0));
}

}  // namespace
