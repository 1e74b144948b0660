#include "engine/engine.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <thread>

#include "engine_fixture.h"

namespace {

using namespace std::chrono_literals;

TEST(EngineFormulas, Volume) {
  EXPECT_EQ(Engine::VolumeValue(50, 100, 50, 100), 32767u << 16 | 32767u);
  EXPECT_EQ(Engine::VolumeValue(100, 100, 50, 100), 0xFFFFFFFFu);
  EXPECT_EQ(Engine::VolumeValue(0, 100, 50, 100), 0u);
  EXPECT_EQ(Engine::VolumeValue(100, 100, 100, 100), 0x0000FFFFu);  // right silent
  EXPECT_EQ(Engine::VolumeValue(100, 100, 0, 100), 0xFFFF0000u);    // left silent
  EXPECT_EQ(Engine::VolumeValue(100, 100, 75, 100), (0xFFFFu / 2) << 16 | 0xFFFFu);
}

TEST(EngineFormulas, SpeedRate) {
  EXPECT_EQ(Engine::SpeedRate(44100, 0, 100), 44100u);
  EXPECT_EQ(Engine::SpeedRate(44100, 50, 100), 22000u);
  EXPECT_EQ(Engine::SpeedRate(44100, 99, 100), 5000u);
  EXPECT_EQ(Engine::SpeedRate(44100, 100, 100), Engine::SpeedRate(44100, 99, 100));
  EXPECT_EQ(Engine::SpeedRate(8000, 10, 100), 7200u);
}

TEST(EngineFormulas, WindowBlocks) {
  EXPECT_EQ(Engine::WindowBlocks(176400, 2.0f), 71u);
  EXPECT_EQ(Engine::WindowBlocks(44100, 2.0f), 18u);
  EXPECT_EQ(Engine::WindowBlocks(8000, 2.0f), 3u);
  EXPECT_EQ(Engine::WindowBlocks(176400, 0.01f), 0u);
}

class EngineCommandTest : public EngineFixture {};

TEST_F(EngineCommandTest, PlayDependsOnState) {
  for (const char* e : {"a.qv", "b.qv", "c.qv"})
    playlist.Append(e);
  Engine& e = *engine;
  // Reading the selected item: nothing.
  e.playlistIndex = 1;
  playlist.Select(1);
  e.CommandPlay();
  EXPECT_EQ(e.engineFlags.load(), 0u);
  // Another item selected: change to it.
  playlist.Select(2);
  e.CommandPlay();
  EXPECT_EQ(e.engineFlags.load(), ENG_ITEM_CHANGE);
  EXPECT_EQ(e.playlistIndex.load(), 2);
  EXPECT_TRUE(e.openRequest.load());
  // Paused: resume, whatever is selected.
  e.engineFlags = 0;
  e.paused = true;
  playlist.Select(0);
  e.CommandPlay();
  EXPECT_EQ(e.engineFlags.load(), ENG_RESUME_REQ);
  EXPECT_EQ(e.playlistIndex.load(), 2);
  // Stopped with no selection: index -1, which opening lowers to the last item.
  e.engineFlags = 0;
  e.stopped = true;
  playlist.Select(-1);
  e.CommandPlay();
  EXPECT_EQ(e.playlistIndex.load(), -1);
  EXPECT_EQ(e.engineFlags.load(), ENG_ITEM_CHANGE);
}

TEST_F(EngineCommandTest, PreviousAndNextStopAtTheEnds) {
  for (const char* e : {"a.qv", "b.qv"})
    playlist.Append(e);
  Engine& e = *engine;
  e.CommandPrevious();
  EXPECT_EQ(e.playlistIndex.load(), 0);
  EXPECT_EQ(e.engineFlags.load(), ENG_ITEM_CHANGE);
  e.CommandNext();
  EXPECT_EQ(e.playlistIndex.load(), 1);
  e.CommandNext();
  EXPECT_EQ(e.playlistIndex.load(), 1);
}

TEST_F(EngineCommandTest, RequestsAndSliders) {
  Engine& e = *engine;
  e.CommandRead();
  e.CommandRepeat();
  e.CommandRecord();
  e.CommandPlayBack();
  e.CommandCompare();
  e.CommandPause();
  e.CommandStop();
  EXPECT_EQ(e.engineFlags.load(), ENG_READ_REQ | ENG_REPEAT_REQ | ENG_RECORD_REQ |
                                      ENG_PLAYBACK_REQ | ENG_COMPARE_REQ | ENG_PAUSE_REQ |
                                      ENG_STOP_REQ);
  e.engineFlags = 0;
  e.fileLength = 1234567;
  e.ProgressSlider(5, 5000);  // dragging: nothing yet
  EXPECT_EQ(e.engineFlags.load(), 0u);
  e.ProgressSlider(4, 5000);
  EXPECT_EQ(e.seekTarget.load(), 5000u * 123);
  EXPECT_EQ(e.engineFlags.load(), ENG_SEEK_REQ);
  e.fileLength = 9999;
  e.ProgressSlider(4, 10000);
  EXPECT_EQ(e.seekTarget.load(), 0u);

  e.engineFlags = 0;
  EXPECT_EQ(e.volumeValue.load(), 32767u << 16 | 32767u);
  e.BalanceSlider(0, 100);
  EXPECT_EQ(e.volumeValue.load(), 32767u);
  e.VolumeSlider(2, 0);
  EXPECT_EQ(e.volumeValue.load(), 0u);
  EXPECT_EQ(e.engineFlags.load(), ENG_VOLUME_REQ);
  e.SpeedSlider(4, 30);
  EXPECT_EQ(e.speedPosition.load(), 30);
  EXPECT_TRUE(e.engineFlags.load() & ENG_SPEED_REQ);
}

TEST_F(EngineCommandTest, AutoManualAndSettings) {
  Engine& e = *engine;
  e.sentencePending = true;
  EXPECT_TRUE(e.CommandAutoManual());
  EXPECT_FALSE(e.sentencePending.load());
  EXPECT_FALSE(e.CommandAutoManual());
  e.itemByteRate = 176400;
  e.ApplySettings(5, 3, 1.0f, 10);
  EXPECT_EQ(e.repeatCount.load(), 5u);
  EXPECT_EQ(e.windowBlocks.load(), 35u);  // (176400 + 2500) / 5000
  EXPECT_EQ(e.silenceRing.Capacity(), 35u);
}

TEST_F(EngineCommandTest, QuitSurvivesWholeWordStores) {
  Engine& e = *engine;
  e.Post(ENG_QUIT | ENG_READ_REQ);
  e.StoreFlags(ENG_PLAYING);
  EXPECT_EQ(e.engineFlags.load(), ENG_QUIT | ENG_PLAYING);
  e.decodeControl = DEC_QUIT;
  e.StoreDecode(DEC_RUN);
  EXPECT_EQ(e.decodeControl.load(), DEC_QUIT);
  // A decoder that has quit stays quit: stopping it does not wait for it.
  e.decodeControl = DEC_QUIT_DONE;
  e.StoreDecode(DEC_RUN);
  e.StopDecoder();
  EXPECT_EQ(e.decodeControl.load(), DEC_QUIT_DONE);
}

class EngineOpenTest : public EngineFixture {
 protected:
  void SetUp() override { ASSERT_TRUE(engine->AllocateBuffers()); }
};

TEST_F(EngineOpenTest, OpenItemStartsReading) {
  const std::string path = MakeQv("lesson.qv", 123456);
  Engine& e = *engine;
  e.markRing.Push(777);
  e.paused = true;
  e.stopped = true;
  ASSERT_TRUE(e.OpenItem(path));
  EXPECT_EQ(e.fileLength.load(), 123456u);
  EXPECT_EQ(e.engineFlags.load(), ENG_PLAYING);
  EXPECT_EQ(e.decodeControl.load(), DEC_RUN);
  EXPECT_EQ(e.windowBlocks.load(), 71u);
  EXPECT_EQ(e.silenceRing.Capacity(), 71u);
  EXPECT_EQ(e.currentPath, path);
  EXPECT_FALSE(e.paused.load());
  EXPECT_FALSE(e.stopped.load());
  uint32_t mark;
  ASSERT_TRUE(e.markRing.Get(0, &mark));
  EXPECT_EQ(mark, 0u);
  EXPECT_FALSE(e.markRing.Get(1, &mark));
  EXPECT_TRUE(view.TransportEnabled());
  EXPECT_EQ(view.SampleRate(), 44100u);
  ASSERT_TRUE(e.waveOut);
  EXPECT_EQ(e.waveOut->Volume(), 32767u << 16 | 32767u);
}

TEST_F(EngineOpenTest, OpenSoundFailuresSayWhy) {
  Engine& e = *engine;
  WriteFileBytes(dir.File("broken.qv"), "not a qv file");
  WriteFileBytes(dir.File("noext"), "x");
  EXPECT_FALSE(e.OpenItem(dir.File("noext")));
  EXPECT_NE(e.LastError().find("extension"), std::string::npos);
  EXPECT_FALSE(e.OpenItem(dir.File("lesson.xyz")));
  EXPECT_NE(e.LastError().find(".xyz"), std::string::npos);
  EXPECT_FALSE(e.OpenItem(dir.File("broken.qv")));
  EXPECT_NE(e.LastError().find("broken.qv"), std::string::npos);
  EXPECT_FALSE(e.OpenItem(dir.File("missing.qv")));
  EXPECT_FALSE(e.OpenItem(".qv"));
  EXPECT_EQ(e.fileLength.load(), 0u);
  EXPECT_FALSE(view.TransportEnabled());
  // The extension is found whatever its case and surrounding spaces.
  const std::string upper = dir.File("LESSON.QV ");
  WriteFileBytes(upper, QvFileBytes(RecordingFormat(), PatternBytes(100)));
  EXPECT_TRUE(e.OpenItem(upper));
}

TEST(EngineDevice, MissingSoundSystemIsReported) {
  ::setenv("SDL_AUDIODRIVER", "kestro-no-such-driver", 1);
  TempDir dir;
  const std::string path = dir.File("a.qv");
  WriteFileBytes(path, QvFileBytes(RecordingFormat(), PatternBytes(20000)));
  CodecRegistry registry;
  registry.ScanPlugins((std::string(KESTRO_STAGE_PLUGIN_DIR) + "/*.so").c_str());
  AudioBackend audio(AudioBackend::Kind::kSdl);
  Playlist playlist;
  Engine engine(audio, registry, playlist, nullptr);
  ASSERT_TRUE(engine.AllocateBuffers());
  EXPECT_FALSE(engine.OpenItem(path));
  EXPECT_FALSE(engine.waveOut);
  EXPECT_NE(engine.LastError().find("no sound system"), std::string::npos) << engine.LastError();
  EXPECT_FALSE(engine.OpenInput());
}

TEST_F(EngineOpenTest, NextAndAtSkipItemsThatFail) {
  Engine& e = *engine;
  const std::string good = MakeQv("good.qv", 10000);
  playlist.Append(dir.File("bad1.qv"));
  playlist.Append(good);
  playlist.Append(dir.File("bad2.xyz"));
  // From the last item the search wraps to the first and finds the good one.
  e.playlistIndex = 1;
  playlist.Select(1);
  e.OpenNextItem();
  EXPECT_EQ(e.playlistIndex.load(), 1);
  EXPECT_EQ(playlist.Selection(), 1);
  EXPECT_EQ(e.currentPath, good);
  // A position beyond the list is lowered to its last entry, then wraps.
  e.currentPath.clear();
  e.OpenItemAt(17);
  EXPECT_EQ(e.currentPath, good);
  EXPECT_EQ(playlist.Selection(), 1);
  // An item the learner selected while another played is taken next.
  playlist.Append(MakeQv("other.qv", 5000));
  playlist.Select(3);
  e.OpenNextItem();
  EXPECT_EQ(e.playlistIndex.load(), 3);
  EXPECT_EQ(e.currentPath, dir.File("other.qv"));
  // With nothing playable, nothing opens and nothing hangs.
  playlist.Clear();
  playlist.Append(dir.File("bad1.qv"));
  e.currentPath.clear();
  e.OpenNextItem();
  e.OpenItemAt(0);
  EXPECT_EQ(e.currentPath, "");
  playlist.Clear();
  e.OpenNextItem();
  e.OpenItemAt(0);
}

}  // namespace

namespace {

// Sentence detection as the output callback runs it, buffer by buffer.
class DetectionTest : public EngineFixture {
 protected:
  void SetUp() override {
    ASSERT_TRUE(engine->AllocateBuffers());
    engine->autoMode = true;
    engine->windowBlocks = 3;
    engine->silenceRing.Recreate(3);
    engine->engineFlags = ENG_PLAYING;
  }
  // Finishes buffer i, whose successor (the buffer now sounding) has ratio.
  void Finish(uint32_t i, float ratio) {
    engine->pool.SlotAt(i + 1)->silenceRatio = ratio;
    engine->OnWaveOutDone(nullptr, MM_WOM_DONE, &engine->pool.SlotAt(i)->header);
  }
};

TEST_F(DetectionTest, StrictlyAboveFourFifthsIsSilent) {
  for (uint32_t i = 0; i < 10; ++i)
    Finish(i, 0.8f);
  EXPECT_EQ(engine->engineFlags.load(), ENG_PLAYING);
  Finish(10, 0.81f);
  EXPECT_EQ(engine->engineFlags.load(), ENG_PLAYING);
  Finish(11, 1.0f);  // a full window with at most one buffer not silent
  EXPECT_EQ(engine->engineFlags.load(), ENG_PLAYING | ENG_REPEAT_REQ);
  EXPECT_TRUE(engine->sentencePending.load());
  EXPECT_EQ(engine->sentencesFound.load(), 1u);
  // While the sentence is pending, nothing more is found.
  for (uint32_t i = 13; i < 20; ++i)
    Finish(i, 1.0f);
  EXPECT_EQ(engine->sentencesFound.load(), 1u);
}

TEST_F(DetectionTest, OnlyWhileReadingInAutomaticMode) {
  engine->autoMode = false;
  for (uint32_t i = 0; i < 5; ++i)
    Finish(i, 1.0f);
  engine->autoMode = true;
  engine->engineFlags = ENG_REPEATING;
  for (uint32_t i = 5; i < 10; ++i)
    Finish(i, 1.0f);
  EXPECT_EQ(engine->sentencesFound.load(), 0u);
  EXPECT_EQ(engine->engineFlags.load(), ENG_REPEATING);
}

TEST_F(DetectionTest, TheLearnersOwnRepeatOnlyClearsTheWindow) {
  engine->engineFlags = ENG_PLAYING | ENG_REPEAT_REQ;
  for (uint32_t i = 0; i < 3; ++i)
    Finish(i, 1.0f);
  EXPECT_FALSE(engine->sentencePending.load());
  EXPECT_EQ(engine->sentencesFound.load(), 0u);
  // The window starts empty again: two more silent buffers are not enough.
  engine->engineFlags = ENG_PLAYING;
  Finish(3, 1.0f);
  Finish(4, 1.0f);
  EXPECT_EQ(engine->sentencesFound.load(), 0u);
  Finish(5, 1.0f);
  EXPECT_EQ(engine->sentencesFound.load(), 1u);
}

TEST_F(EngineFixture, APendingQuitIsNeverWipedByTheDecoder) {
  ASSERT_TRUE(engine->AllocateBuffers());
  // A codec whose every read ends at once, and a quit already posted when the
  // decoder looks: it must quit, not go idle.
  CodecServer* qv = registry.FindCodec("qv");
  ASSERT_NE(qv, nullptr);
  const std::string empty = MakeQv("empty.qv", 0);
  WaveFormatEx format{};
  ASSERT_EQ(qv->Open(empty.c_str(), &format), 1);
  engine->codec.store(qv);
  for (int run = 0; run < 20; ++run) {
    engine->decodeControl.store(DEC_QUIT);
    engine->StartDecodeThread();
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (engine->decodeControl.load() != DEC_QUIT_DONE && std::chrono::steady_clock::now() < end)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_EQ(engine->decodeControl.load(), DEC_QUIT_DONE) << run;
    engine->StopDecodeThread();
    engine->decodeControl.store(0);
  }
  qv->Close();
  engine->codec.store(nullptr);
}

TEST_F(EngineFixture, ShutDownAfterAFailedOpenEndsEveryTime) {
  WriteFileBytes(dir.File("cut.wav"), "RIFF\x24\x00\x00\x00WAVEfmt ");
  for (int run = 0; run < 30; ++run) {
    Playlist list;
    list.Append(dir.File("cut.wav"));
    Engine e(audio, registry, list, nullptr);
    ASSERT_TRUE(e.AllocateBuffers());
    e.StartThreads();
    std::this_thread::sleep_for(std::chrono::milliseconds(run % 3));
    EXPECT_TRUE(e.Shutdown()) << run;
    EXPECT_EQ(e.decodeControl.load(), DEC_QUIT_DONE) << run;
  }
}

}  // namespace
