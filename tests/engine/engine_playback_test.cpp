// The engine's device operations driven from the test thread, the way the
// engine thread drives them: real qv plug-in, real decode thread, offline device.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <new>
#include <thread>

#include "engine_fixture.h"

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
constexpr int64_t kBufferNs = 5000LL * 1000000000 / 176400;

class EnginePlaybackTest : public EngineFixture {
 protected:
  void SetUp() override {
    ASSERT_TRUE(engine->AllocateBuffers());
    engine->VolumeSlider(100);  // full level: what is played is the file's bytes
    Inside(*engine).engineFlags() = 0;
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
      if (!Inside(*engine).Feed()) Inside(*engine).Sleep(5);
    }
    return true;
  }

  bool Finished() {
    return Inside(*engine).decodeControl().load() == 0 && Inside(*engine).blockRing().Empty() &&
           !Inside(*engine).haveStaged() && Inside(*engine).pool().AllDone();
  }

  // With the clock held: lets exactly n more buffers play.
  bool PlayBuffers(int n) {
    const uint64_t target = Inside(*engine).buffersFinished().load() + n;
    audio.Clock().Advance(n * kBufferNs);
    return FeedUntil([&] { return Inside(*engine).buffersFinished().load() >= target; });
  }

  static constexpr size_t kBytes = 5000 * 60 + 1236;  // 60 whole buffers and a short one
  std::string pcm;
  std::string path;
};

TEST_F(EnginePlaybackTest, PlaysTheFileBytesInOrder) {
  ASSERT_TRUE(Inside(*engine).OpenItem(path));
  ASSERT_TRUE(FeedUntil([&] { return Finished(); }));
  EXPECT_TRUE(BytesEqual(Played(), pcm));
  // The progress display moved forward, every 11th buffer.
  const std::vector<int> progress = view.Progress();
  ASSERT_GE(progress.size(), 5u);
  EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
}

TEST_F(EnginePlaybackTest, SeekDropsWhatWasQueuedAndReadsOnFromThere) {
  audio.Clock().SetHeld(true);
  ASSERT_TRUE(Inside(*engine).OpenItem(path));
  ASSERT_TRUE(PlayBuffers(5));
  ASSERT_TRUE(Inside(*engine).SeekTo(200000));
  EXPECT_EQ(Inside(*engine).sectionEnd().load(), 0u);
  audio.Clock().SetHeld(false);
  ASSERT_TRUE(FeedUntil([&] { return Finished(); }));
  EXPECT_TRUE(BytesEqual(Played(), pcm.substr(0, 25000) + pcm.substr(200000)));
}

TEST_F(EnginePlaybackTest, StopAtCurrentEndsThePassageAtTheLastPlayedBuffer) {
  audio.Clock().SetHeld(true);
  ASSERT_TRUE(Inside(*engine).OpenItem(path));
  ASSERT_TRUE(FeedUntil([&] { return Inside(*engine).pool().SendIndex() >= 10; }));
  ASSERT_TRUE(PlayBuffers(7));
  ASSERT_TRUE(Inside(*engine).StopAtCurrent());
  EXPECT_EQ(Inside(*engine).sectionEnd().load(), 30000u);  // the start of the seventh buffer
  EXPECT_EQ(view.shown.load(), 7);                         // each sounding buffer went to the panel
  // What was queued is dropped; reading the passage from 0 stops at the new limit.
  Inside(*engine).StopDecoder();
  Inside(*engine).RestartReadingAt(0);
  audio.Clock().SetHeld(false);
  ASSERT_TRUE(FeedUntil([&] { return Finished(); }));
  EXPECT_TRUE(BytesEqual(Played(), pcm.substr(0, 35000) + pcm.substr(0, 30000)));
}

TEST_F(EnginePlaybackTest, SpeedReopensTheDeviceAndResumesAtTheLastPlayedBuffer) {
  audio.Clock().SetHeld(true);
  ASSERT_TRUE(Inside(*engine).OpenItem(path));
  ASSERT_TRUE(PlayBuffers(4));
  Inside(*engine).speedPosition() = 50;
  ASSERT_TRUE(Inside(*engine).ChangeSpeed());
  EXPECT_EQ(Inside(*engine).waveOut()->Format().nSamplesPerSec, 22000u);
  EXPECT_EQ(Inside(*engine).waveOut()->Format().nAvgBytesPerSec, 88000u);
  EXPECT_EQ(Inside(*engine).playFormat().nSamplesPerSec, 44100u);  // the file's own rate is kept
  EXPECT_EQ(view.SampleRate(), 22000u);
  audio.Clock().SetHeld(false);
  ASSERT_TRUE(FeedUntil([&] { return Finished(); }));
  EXPECT_TRUE(BytesEqual(Played(), pcm.substr(0, 20000) + pcm.substr(15000)));
}

TEST_F(EnginePlaybackTest, VolumeAppliesToWhatFollows) {
  audio.Clock().SetHeld(true);
  ASSERT_TRUE(Inside(*engine).OpenItem(path));
  engine->VolumeSlider(100);
  Inside(*engine).ApplyVolume();
  ASSERT_TRUE(PlayBuffers(2));
  engine->VolumeSlider(0);
  Inside(*engine).ApplyVolume();
  audio.Clock().SetHeld(false);
  ASSERT_TRUE(FeedUntil([&] { return Finished(); }));
  EXPECT_TRUE(BytesEqual(Played(), pcm.substr(0, 10000) + std::string(kBytes - 10000, '\0')));
}

TEST_F(EnginePlaybackTest, PauseHoldsTheSoundAndRestartGoesOn) {
  ASSERT_TRUE(Inside(*engine).OpenItem(path));
  ASSERT_TRUE(Inside(*engine).PauseOutput());
  EXPECT_FALSE(view.TransportEnabled());
  ASSERT_TRUE(FeedUntil([&] { return Inside(*engine).decodeControl().load() == 0; }));
  for (int i = 0; i < 20; ++i)
    Inside(*engine).Feed();
  EXPECT_TRUE(BytesEqual(Played(), ""));
  ASSERT_TRUE(Inside(*engine).RestartOutput());
  EXPECT_TRUE(view.TransportEnabled());
  ASSERT_TRUE(FeedUntil([&] { return Finished(); }));
  EXPECT_TRUE(BytesEqual(Played(), pcm));
}

TEST_F(EnginePlaybackTest, StopClosesTheDeviceAndOpeningAgainStartsAfresh) {
  audio.Clock().SetHeld(true);
  ASSERT_TRUE(Inside(*engine).OpenItem(path));
  ASSERT_TRUE(PlayBuffers(3));
  ASSERT_TRUE(Inside(*engine).CloseOutput());
  EXPECT_TRUE(Inside(*engine).stopped().load());
  EXPECT_FALSE(Inside(*engine).waveOut());
  EXPECT_FALSE(view.TransportEnabled());
  EXPECT_FALSE(Inside(*engine).SeekTo(0));  // no device
  audio.Clock().SetHeld(false);
  ASSERT_TRUE(Inside(*engine).OpenItem(path));
  EXPECT_FALSE(Inside(*engine).stopped().load());
  ASSERT_TRUE(FeedUntil([&] { return Finished(); }));
  EXPECT_TRUE(BytesEqual(Played(), pcm.substr(0, 15000) + pcm));
}

TEST_F(EnginePlaybackTest, ReopenOutputStartsTheItemOver) {
  audio.Clock().SetHeld(true);
  ASSERT_TRUE(Inside(*engine).OpenItem(path));
  ASSERT_TRUE(PlayBuffers(2));
  Inside(*engine).StopDecoder();
  ASSERT_TRUE(Inside(*engine).ReopenOutput());
  EXPECT_EQ(Inside(*engine).readRequest().position, 0u);
  Inside(*engine).readRequest().seekRequested = 1;
  Inside(*engine).StoreDecode(DEC_RUN);
  audio.Clock().SetHeld(false);
  ASSERT_TRUE(FeedUntil([&] { return Finished(); }));
  EXPECT_TRUE(BytesEqual(Played(), pcm.substr(0, 10000) + pcm));
}

TEST_F(EnginePlaybackTest, PlayingAllocatesNothing) {
  Inside(*engine).view() = nullptr;  // the fake view keeps a growing list
  const std::string longer = dir.File("long.qv");
  WriteFileBytes(longer, QvFileBytes(RecordingFormat(), PatternBytes(5000 * 900, 1)));
  ASSERT_TRUE(Inside(*engine).OpenItem(longer));
  ASSERT_TRUE(FeedUntil([&] { return Inside(*engine).pool().SendIndex() > 20; }));
  const uint64_t before = allocations.load();
  ASSERT_TRUE(FeedUntil([&] { return Finished(); }));
  EXPECT_EQ(allocations.load(), before);
  EXPECT_EQ(Played().size(), 5000u * 900);
}

TEST_F(EnginePlaybackTest, DecoderObeysResetAndQuit) {
  ASSERT_TRUE(Inside(*engine).OpenItem(path));
  Inside(*engine).StopDecoder();
  EXPECT_EQ(Inside(*engine).decodeControl().load(), 0u);
  Inside(*engine).StopDecodeThread();
  EXPECT_EQ(Inside(*engine).decodeControl().load(), DEC_QUIT_DONE);
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
  EXPECT_EQ(Inside(*engine).decodeControl().load(), DEC_RUN);
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
    Inside(*engine).StopDecoder();
    Inside(*engine).autoMode() = c.automatic;
    Inside(*engine).StoreFlags(c.flags);
    Inside(*engine).sentencePending() = c.pending;  // OpenItem clears it
    Inside(*engine).RestartReadingAt(0);
    for (int i = 0; i < 400 && Inside(*engine).decodeControl().load() != 0; ++i)
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
