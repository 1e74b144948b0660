#include "engine/engine.h"
#include "engine_test_access.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <chrono>
#include <thread>

#include "engine_fixture.h"
#include "wait_for.h"

namespace {

using namespace std::chrono_literals;

TEST(EngineFormulas, Volume) {
  EXPECT_EQ(Engine::VolumeValue(50, 100, 50, 100), 32767u << 16 | 32767u);
  EXPECT_EQ(Engine::VolumeValue(100, 100, 50, 100), 0xFFFFFFFFu);
  EXPECT_EQ(Engine::VolumeValue(0, 100, 50, 100), 0u);
  // The low word is the left channel (the devices' contract).
  EXPECT_EQ(Engine::VolumeValue(100, 100, 0, 100), 0x0000FFFFu);    // slider left: right silent
  EXPECT_EQ(Engine::VolumeValue(100, 100, 100, 100), 0xFFFF0000u);  // slider right: left silent
  EXPECT_EQ(Engine::VolumeValue(100, 100, 75, 100), 0xFFFFu << 16 | 0xFFFFu / 2);
}

TEST(EngineFormulas, SpeedRate) {
  for (uint32_t own : {44100u, 22050u, 11025u, 8000u})
    EXPECT_EQ(Engine::SpeedRate(own, 0, 100), own);
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
  Inside(e).playlistIndex() = 1;
  playlist.Select(1);
  e.CommandPlay();
  EXPECT_EQ(Inside(e).engineFlags().load(), 0u);
  // Another item selected: change to it.
  playlist.Select(2);
  e.CommandPlay();
  EXPECT_EQ(Inside(e).engineFlags().load(), ENG_ITEM_CHANGE);
  EXPECT_EQ(Inside(e).playlistIndex().load(), 2);
  EXPECT_TRUE(Inside(e).openRequest().load());
  // Paused: resume, whatever is selected.
  Inside(e).engineFlags() = 0;
  Inside(e).paused() = true;
  playlist.Select(0);
  e.CommandPlay();
  EXPECT_EQ(Inside(e).engineFlags().load(), ENG_RESUME_REQ);
  EXPECT_EQ(Inside(e).playlistIndex().load(), 2);
  // Stopped with no selection: index -1, which opening lowers to the last item.
  Inside(e).engineFlags() = 0;
  Inside(e).stopped() = true;
  playlist.Select(-1);
  e.CommandPlay();
  EXPECT_EQ(Inside(e).playlistIndex().load(), -1);
  EXPECT_EQ(Inside(e).engineFlags().load(), ENG_ITEM_CHANGE);
}

TEST_F(EngineCommandTest, PreviousAndNextStopAtTheEnds) {
  for (const char* e : {"a.qv", "b.qv"})
    playlist.Append(e);
  Engine& e = *engine;
  e.CommandPrevious();
  EXPECT_EQ(Inside(e).playlistIndex().load(), 0);
  EXPECT_EQ(Inside(e).engineFlags().load(), ENG_ITEM_CHANGE);
  e.CommandNext();
  EXPECT_EQ(Inside(e).playlistIndex().load(), 1);
  e.CommandNext();
  EXPECT_EQ(Inside(e).playlistIndex().load(), 1);
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
  EXPECT_EQ(Inside(e).engineFlags().load(), ENG_READ_REQ | ENG_REPEAT_REQ | ENG_RECORD_REQ |
                                                ENG_PLAYBACK_REQ | ENG_COMPARE_REQ | ENG_PAUSE_REQ |
                                                ENG_STOP_REQ);
  Inside(e).engineFlags() = 0;
  Inside(e).fileLength() = 1234567;
  e.ProgressSlider(5000);
  EXPECT_EQ(Inside(e).seekTarget().load(), 5000u * 123);
  EXPECT_EQ(Inside(e).engineFlags().load(), ENG_SEEK_REQ);
  Inside(e).fileLength() = 9999;
  e.ProgressSlider(10000);
  EXPECT_EQ(Inside(e).seekTarget().load(), 0u);

  Inside(e).engineFlags() = 0;
  EXPECT_EQ(Inside(e).volumeValue().load(), 32767u << 16 | 32767u);
  e.BalanceSlider(100);  // all the way right: the left channel (low word) silent
  EXPECT_EQ(Inside(e).volumeValue().load(), 32767u << 16);
  e.VolumeSlider(0);
  EXPECT_EQ(Inside(e).volumeValue().load(), 0u);
  EXPECT_EQ(Inside(e).engineFlags().load(), ENG_VOLUME_REQ);
  e.SpeedSlider(30);
  EXPECT_EQ(Inside(e).speedPosition().load(), 30);
  EXPECT_TRUE(Inside(e).engineFlags().load() & ENG_SPEED_REQ);
}

TEST_F(EngineCommandTest, AutoManualAndSettings) {
  Engine& e = *engine;
  Inside(e).sentencePending() = true;
  EXPECT_TRUE(e.CommandAutoManual());
  EXPECT_FALSE(Inside(e).sentencePending().load());
  EXPECT_FALSE(e.CommandAutoManual());
  Inside(e).itemByteRate() = 176400;
  e.ApplySettings(5, 3, 1.0f, 10);
  EXPECT_EQ(Inside(e).repeatCount().load(), 5u);
  EXPECT_EQ(Inside(e).windowBlocks().load(), 35u);  // (176400 + 2500) / 5000
  EXPECT_EQ(Inside(e).silenceRing().Capacity(), 35u);
}

TEST_F(EngineCommandTest, QuitSurvivesWholeWordStores) {
  Engine& e = *engine;
  // A step that found the read request drops it; a stop posted after it looked
  // and a pending quit stay.
  Inside(e).Post(ENG_QUIT | ENG_READ_REQ);
  Inside(e).flagsSeen() = ENG_QUIT | ENG_READ_REQ;
  Inside(e).Post(ENG_STOP_REQ);
  Inside(e).StoreFlags(ENG_PLAYING);
  EXPECT_EQ(Inside(e).engineFlags().load(), ENG_QUIT | ENG_STOP_REQ | ENG_PLAYING);
  Inside(e).flagsSeen() = 0;
  Inside(e).decodeControl() = DEC_QUIT;
  Inside(e).StoreDecode(DEC_RUN);
  EXPECT_EQ(Inside(e).decodeControl().load(), DEC_QUIT);
  // A decoder that has quit stays quit: stopping it does not wait for it.
  Inside(e).decodeControl() = DEC_QUIT_DONE;
  Inside(e).StoreDecode(DEC_RUN);
  Inside(e).StopDecoder();
  EXPECT_EQ(Inside(e).decodeControl().load(), DEC_QUIT_DONE);
}

class EngineOpenTest : public EngineFixture {
 protected:
  void SetUp() override { ASSERT_TRUE(engine->AllocateBuffers()); }
};

TEST_F(EngineOpenTest, OpenItemStartsReading) {
  const std::string path = MakeQv("lesson.qv", 123456);
  Engine& e = *engine;
  Inside(e).markRing().Push(777);
  Inside(e).paused() = true;
  Inside(e).stopped() = true;
  ASSERT_TRUE(Inside(e).OpenItem(path));
  EXPECT_EQ(Inside(e).fileLength().load(), 123456u);
  EXPECT_EQ(Inside(e).engineFlags().load(), ENG_PLAYING);
  EXPECT_EQ(Inside(e).decodeControl().load(), DEC_RUN);
  EXPECT_EQ(Inside(e).windowBlocks().load(), 71u);
  EXPECT_EQ(Inside(e).silenceRing().Capacity(), 71u);
  EXPECT_EQ(Inside(e).currentPath(), path);
  EXPECT_FALSE(Inside(e).paused().load());
  EXPECT_FALSE(Inside(e).stopped().load());
  uint32_t mark;
  ASSERT_TRUE(Inside(e).markRing().Get(0, &mark));
  EXPECT_EQ(mark, 0u);
  EXPECT_FALSE(Inside(e).markRing().Get(1, &mark));
  EXPECT_TRUE(view.TransportEnabled());
  EXPECT_EQ(view.SampleRate(), 44100u);
  ASSERT_TRUE(Inside(e).waveOut());
  EXPECT_EQ(Inside(e).waveOut()->Volume(), 32767u << 16 | 32767u);
}

TEST_F(EngineOpenTest, OpenSoundFailuresSayWhy) {
  Engine& e = *engine;
  WriteFileBytes(dir.File("broken.qv"), "not a qv file");
  WriteFileBytes(dir.File("noext"), "x");
  EXPECT_FALSE(Inside(e).OpenItem(dir.File("noext")));
  EXPECT_NE(e.LastError().find("extension"), std::string::npos);
  EXPECT_FALSE(Inside(e).OpenItem(dir.File("lesson.xyz")));
  EXPECT_NE(e.LastError().find(".xyz"), std::string::npos);
  EXPECT_FALSE(Inside(e).OpenItem(dir.File("broken.qv")));
  EXPECT_NE(e.LastError().find("broken.qv"), std::string::npos);
  EXPECT_FALSE(Inside(e).OpenItem(dir.File("missing.qv")));
  EXPECT_FALSE(Inside(e).OpenItem(".qv"));
  EXPECT_EQ(Inside(e).fileLength().load(), 0u);
  EXPECT_FALSE(view.TransportEnabled());
  // The whole extension in either case, and nothing else: a FIFO named like a
  // sound file is refused before a plug-in could block on it.
  const std::string upper = dir.File("LESSON.QV");
  WriteFileBytes(upper, QvFileBytes(RecordingFormat(), PatternBytes(100)));
  EXPECT_TRUE(Inside(e).OpenItem(upper));
  for (const char* name : {"lesson.qv ", "lesson.q", "lesson."}) {
    CopyFile(upper, dir.File(name));
    EXPECT_FALSE(Inside(e).OpenItem(dir.File(name))) << name;
  }
  ASSERT_EQ(::mkfifo(dir.File("fifo.qv").c_str(), 0600), 0);
  EXPECT_FALSE(Inside(e).OpenItem(dir.File("fifo.qv")));
  EXPECT_NE(e.LastError().find("not a regular file"), std::string::npos) << e.LastError();
  EXPECT_EQ(e.LastFault(), EngineFault::kFileNotPlayable);
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
  EXPECT_FALSE(Inside(engine).OpenItem(path));
  EXPECT_FALSE(Inside(engine).waveOut());
  EXPECT_NE(engine.LastError().find("no sound system"), std::string::npos) << engine.LastError();
  EXPECT_EQ(engine.LastFault(), EngineFault::kNoOutputDevice);
  EXPECT_FALSE(Inside(engine).OpenInput());
  EXPECT_EQ(engine.LastFault(), EngineFault::kNoInputDevice);
}

TEST_F(EngineOpenTest, NextAndAtSkipItemsThatFail) {
  Engine& e = *engine;
  const std::string good = MakeQv("good.qv", 10000);
  playlist.Append(dir.File("bad1.qv"));
  playlist.Append(good);
  playlist.Append(dir.File("bad2.xyz"));
  // From the last item the search wraps to the first and finds the good one.
  Inside(e).playlistIndex() = 1;
  playlist.Select(1);
  Inside(e).OpenNextItem();
  EXPECT_EQ(Inside(e).playlistIndex().load(), 1);
  EXPECT_EQ(playlist.Selection(), 1);
  EXPECT_EQ(Inside(e).currentPath(), good);
  // A position beyond the list is lowered to its last entry, then wraps.
  Inside(e).currentPath().clear();
  Inside(e).OpenItemAt(17);
  EXPECT_EQ(Inside(e).currentPath(), good);
  EXPECT_EQ(playlist.Selection(), 1);
  // An item the learner selected while another played is taken next.
  playlist.Append(MakeQv("other.qv", 5000));
  playlist.Select(3);
  Inside(e).OpenNextItem();
  EXPECT_EQ(Inside(e).playlistIndex().load(), 3);
  EXPECT_EQ(Inside(e).currentPath(), dir.File("other.qv"));
  // With nothing playable, nothing opens and nothing hangs.
  playlist.Clear();
  playlist.Append(dir.File("bad1.qv"));
  Inside(e).currentPath().clear();
  Inside(e).OpenNextItem();
  Inside(e).OpenItemAt(0);
  EXPECT_EQ(Inside(e).currentPath(), "");
  playlist.Clear();
  Inside(e).OpenNextItem();
  Inside(e).OpenItemAt(0);
}

}  // namespace

namespace {

// Sentence detection as the output callback runs it, buffer by buffer.
class DetectionTest : public EngineFixture {
 protected:
  void SetUp() override {
    ASSERT_TRUE(engine->AllocateBuffers());
    Inside(*engine).autoMode() = true;
    Inside(*engine).windowBlocks() = 3;
    Inside(*engine).silenceRing().Recreate(3);
    Inside(*engine).engineFlags() = ENG_PLAYING;
  }
  // Finishes buffer i, whose successor (the buffer now sounding) has ratio.
  void Finish(uint32_t i, float ratio) {
    Inside(*engine).pool().SlotAt(i + 1)->silenceRatio = ratio;
    Inside(*engine).OnWaveOutDone(nullptr, MM_WOM_DONE, &Inside(*engine).pool().SlotAt(i)->header);
  }
};

TEST_F(DetectionTest, StrictlyAboveFourFifthsIsSilent) {
  for (uint32_t i = 0; i < 10; ++i)
    Finish(i, 0.8f);
  EXPECT_EQ(Inside(*engine).engineFlags().load(), ENG_PLAYING);
  Finish(10, 0.81f);
  EXPECT_EQ(Inside(*engine).engineFlags().load(), ENG_PLAYING);
  Finish(11, 1.0f);  // a full window with at most one buffer not silent
  EXPECT_EQ(Inside(*engine).engineFlags().load(), ENG_PLAYING | ENG_REPEAT_REQ);
  EXPECT_TRUE(Inside(*engine).sentencePending().load());
  EXPECT_EQ(Inside(*engine).sentencesFound().load(), 1u);
  // While the sentence is pending, nothing more is found.
  for (uint32_t i = 13; i < 20; ++i)
    Finish(i, 1.0f);
  EXPECT_EQ(Inside(*engine).sentencesFound().load(), 1u);
}

TEST_F(DetectionTest, OnlyWhileReadingInAutomaticMode) {
  Inside(*engine).autoMode() = false;
  for (uint32_t i = 0; i < 5; ++i)
    Finish(i, 1.0f);
  Inside(*engine).autoMode() = true;
  Inside(*engine).engineFlags() = ENG_REPEATING;
  for (uint32_t i = 5; i < 10; ++i)
    Finish(i, 1.0f);
  EXPECT_EQ(Inside(*engine).sentencesFound().load(), 0u);
  EXPECT_EQ(Inside(*engine).engineFlags().load(), ENG_REPEATING);
}

TEST_F(DetectionTest, TheLearnersOwnRepeatOnlyClearsTheWindow) {
  Inside(*engine).engineFlags() = ENG_PLAYING | ENG_REPEAT_REQ;
  for (uint32_t i = 0; i < 3; ++i)
    Finish(i, 1.0f);
  EXPECT_FALSE(Inside(*engine).sentencePending().load());
  EXPECT_EQ(Inside(*engine).sentencesFound().load(), 0u);
  // The window starts empty again: two more silent buffers are not enough.
  Inside(*engine).engineFlags() = ENG_PLAYING;
  Finish(3, 1.0f);
  Finish(4, 1.0f);
  EXPECT_EQ(Inside(*engine).sentencesFound().load(), 0u);
  Finish(5, 1.0f);
  EXPECT_EQ(Inside(*engine).sentencesFound().load(), 1u);
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
  Inside(*engine).codec().store(qv);
  for (int run = 0; run < 20; ++run) {
    Inside(*engine).decodeControl().store(DEC_QUIT);
    Inside(*engine).StartDecodeThread();
    WaitFor([&] { return Inside(*engine).decodeControl().load() == DEC_QUIT_DONE; });
    ASSERT_EQ(Inside(*engine).decodeControl().load(), DEC_QUIT_DONE) << run;
    Inside(*engine).StopDecodeThread();
    Inside(*engine).decodeControl().store(0);
  }
  qv->Close();
  Inside(*engine).codec().store(nullptr);
}

// A request the learner makes while the engine serves another one is served
// next, never wiped by the served step's whole-word store.
TEST_F(EngineFixture, AStopPressedDuringASpeedChangeIsServed) {
  ASSERT_TRUE(engine->AllocateBuffers());
  playlist.Append(MakeQv("a.qv", 5000 * 100));
  audio.Clock().SetHeld(true);
  engine->StartThreads();
  ASSERT_TRUE(WaitFor([&] { return engine->Status().outputRate == 44100; }));
  std::atomic<bool> pressed{false};
  view.onTransport = [&](bool enable) {
    if (!enable && !pressed.exchange(true)) engine->CommandStop();
  };
  engine->SpeedSlider(50);  // reopens the device: the transport is disabled meanwhile
  ASSERT_TRUE(WaitFor([&] { return pressed.load(); }));
  EXPECT_TRUE(WaitFor([&] {
    const EngineStatus s = engine->Status();
    return s.stopped && s.flags == 0;
  })) << engine->Status().flags;
  view.onTransport = nullptr;
  EXPECT_TRUE(engine->Shutdown());
}

// A second file chosen while the first is being opened (its item change still
// set, so the second post changes nothing) is opened too.
TEST_F(EngineFixture, AnEntryChosenWhileAnotherOpensIsOpened) {
  ASSERT_TRUE(engine->AllocateBuffers());
  playlist.Append(MakeQv("a.qv", 5000 * 100));
  playlist.Append(MakeQv("b.qv", 5000 * 100));
  audio.Clock().SetHeld(true);
  engine->StartThreads();
  ASSERT_TRUE(WaitFor([&] { return engine->Status().itemsOpened == 1; }));
  std::atomic<bool> chosen{false};
  view.onTransport = [&](bool enable) {
    if (!enable && !chosen.exchange(true)) engine->CommandPlayEntry(1);
  };
  engine->CommandPlayEntry(0);  // opening it disables the transport: b is chosen then
  EXPECT_TRUE(WaitFor([&] {
    const EngineStatus s = engine->Status();
    return chosen.load() && !s.openPending && s.itemsOpened == 3;
  })) << engine->Status().itemsOpened;
  EXPECT_EQ(playlist.Selection(), 1);
  view.onTransport = nullptr;
  EXPECT_TRUE(engine->Shutdown());
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
    EXPECT_EQ(Inside(e).decodeControl().load(), DEC_QUIT_DONE) << run;
  }
}

}  // namespace
