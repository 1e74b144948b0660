// SPDX-License-Identifier: GPL-3.0-or-later
// Playing a lesson, and the hand-over from the decode thread to the device:
// real qv plug-in, real decode thread, offline device. Where the test thread
// drives the read cursor itself, it checks what no face shows: allocations
// while playing, the decoder's answers and waits, the silence measure of blocks.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <new>
#include <thread>

#include "engine_fixture.h"
#include "wait_for.h"

namespace {
std::atomic<uint64_t> allocations{0};
}  // namespace

// Counts every allocation of the process, to show that playing allocates nothing.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void* operator new(std::size_t size) {
  ++allocations;
  if (void* p = std::malloc(size ? size : 1)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
  std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
  std::free(p);
}

namespace {

using Clock = std::chrono::steady_clock;

class EnginePlaybackTest : public EngineFixture {
 protected:
  void SetUp() override {
    ASSERT_TRUE(engine->AllocateBuffers());
    engine->VolumeSlider(100);  // full level: what is played is the file's bytes
    // The test thread is the engine thread; the decoder is the real one.
    Inside(*engine).StartDecodeThread();
    pcm = PatternBytes(kBytes, 3);
    path = dir.File("lesson.qv");
    WriteFileBytes(path, QvFileBytes(RecordingFormat(), pcm));
  }

  // Feeds the device until condition holds; false after 20 s.
  bool FeedUntil(const std::function<bool()>& condition) {
    const auto deadline = Clock::now() + std::chrono::seconds(20);
    while (!condition()) {
      if (Clock::now() > deadline) return false;
      if (!Inside(*engine).cursor().Feed(Out())) Inside(*engine).Sleep(5);
    }
    return true;
  }

  // Everything read has been played.
  bool Finished() {
    return Inside(*engine).cursor().NothingMore() && Inside(*engine).cursor().AllPlayed();
  }
  WaveOut* Out() { return Inside(*engine).waveOut().get(); }

  static constexpr size_t kBytes = 5000 * 60 + 1236;  // 60 whole buffers and a short one
  std::string pcm;
  std::string path;
};

// Through the face: the engine's own threads, lockstep on the offline device.
TEST_F(EngineFixture, PlaysTheFileBytesInOrderAndShowsThem) {
  ASSERT_TRUE(engine->AllocateBuffers());
  engine->VolumeSlider(100);  // full level: what is played is the file's bytes
  const std::string pcm = PatternBytes(5000 * 60 + 1236, 3);
  playlist.Append(dir.File("lesson.qv"));
  WriteFileBytes(playlist.At(0), QvFileBytes(RecordingFormat(), pcm));
  engine->PlayListOnce();
  engine->SetLockstep(true);
  engine->StartThreads();
  WaitFor([&] { return engine->Status().listFinished; });
  ASSERT_TRUE(engine->Shutdown());
  EXPECT_TRUE(BytesEqual(Played(), pcm));
  // Every buffer but the last finished while the next sounded, which went to
  // the waveform panel; the progress display moved forward every 11th buffer.
  EXPECT_EQ(view.shown.load(), 60);
  const std::vector<int> progress = view.Progress();
  ASSERT_EQ(progress.size(), 5u);
  EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
}

TEST_F(EnginePlaybackTest, PlayingAllocatesNothing) {
  Inside(*engine).view() = nullptr;  // the fake view keeps a growing list
  const std::string longer = dir.File("long.qv");
  WriteFileBytes(longer, QvFileBytes(RecordingFormat(), PatternBytes(5000 * 900, 1)));
  ASSERT_TRUE(Inside(*engine).OpenItem(longer));
  ASSERT_TRUE(FeedUntil([&] { return Inside(*engine).cursor().Slots().SendIndex() > 20; }));
  const uint64_t before = allocations.load();
  ASSERT_TRUE(FeedUntil([&] { return Finished(); }));
  EXPECT_EQ(allocations.load(), before);
  EXPECT_EQ(Played().size(), 5000u * 900);
}

TEST_F(EnginePlaybackTest, DecoderObeysResetAndQuit) {
  ASSERT_TRUE(Inside(*engine).OpenItem(path));
  Inside(*engine).cursor().StopDecoder();
  EXPECT_EQ(Inside(*engine).cursor().Order(), 0u);
  Inside(*engine).StopDecodeThread();
  EXPECT_EQ(Inside(*engine).cursor().Order(), DEC_QUIT_DONE);
}

TEST_F(EnginePlaybackTest, FullRingMakesTheDecoderWaitWithoutLosingABlock) {
  const std::string longer = dir.File("long.qv");
  const std::string sound = PatternBytes(5000 * 700, 2);
  WriteFileBytes(longer, QvFileBytes(RecordingFormat(), sound));
  audio.Clock().SetHeld(true);
  ASSERT_TRUE(Inside(*engine).OpenItem(longer));
  // Without feeding, the ring fills to its 300 blocks and the decoder waits.
  const auto deadline = Clock::now() + std::chrono::seconds(10);
  while (Inside(*engine).blockRing().Count() < 300 && Clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  EXPECT_EQ(Inside(*engine).blockRing().Count(), 300u);
  EXPECT_EQ(Inside(*engine).cursor().Order(), DEC_RUN);
  audio.Clock().SetHeld(false);
  ASSERT_TRUE(FeedUntil([&] { return Finished(); }));
  EXPECT_TRUE(BytesEqual(Played(), sound));
}

TEST_F(EnginePlaybackTest, AutomaticModeMeasuresOnlyWhileReading) {
  // Loud and silent buffers in turn.
  std::string loud;
  for (int i = 0; i < 2500; ++i)
    loud += std::string("\x00\x40", 2);
  std::string sound;
  for (int i = 0; i < 20; ++i)
    sound += (i % 2) ? std::string(5000, '\0') : loud;
  WriteFileBytes(dir.File("mixed.qv"), QvFileBytes(RecordingFormat(), sound));
  struct Case {
    bool automatic;
    bool pending;
    uint32_t flags;
    bool measured;
  };
  for (const Case& c :
       {Case{false, false, ENG_PLAYING, false}, Case{true, false, ENG_PLAYING, true},
        Case{true, true, ENG_PLAYING, false}, Case{true, false, ENG_REPEATING, false}}) {
    ASSERT_TRUE(Inside(*engine).OpenItem(dir.File("mixed.qv")));
    Inside(*engine).cursor().StopDecoder();
    Inside(*engine).autoMode() = c.automatic;
    Inside(*engine).StoreFlags(c.flags);
    Inside(*engine).sentencePending() = c.pending;  // OpenItem clears it
    Inside(*engine).cursor().RestartAt(0, 0, Out());
    for (int i = 0; i < 400 && Inside(*engine).cursor().Order() != 0; ++i)
      Inside(*engine).Sleep(5);
    PcmBlock& block = Inside(*engine).currentBlock();  // the test acts as the engine thread
    for (int i = 0; i < 20; ++i) {
      ASSERT_TRUE(Inside(*engine).blockRing().Take(&block));
      EXPECT_FLOAT_EQ(block.silenceRatio, (c.measured && i % 2) ? 1.0f : 0.0f)
          << c.automatic << c.pending << c.flags << " block " << i;
    }
  }
}

}  // namespace
