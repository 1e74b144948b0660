// SPDX-License-Identifier: GPL-3.0-or-later
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

// With no thread to serve them, the bits the commands post stay to be seen.
TEST_F(EngineCommandTest, CommandsPostTheirRequests) {
  Engine& e = *engine;
  const std::pair<void (Engine::*)(), uint32_t> commands[] = {
      {&Engine::CommandRead, ENG_READ_REQ},       {&Engine::CommandRepeat, ENG_REPEAT_REQ},
      {&Engine::CommandRecord, ENG_RECORD_REQ},   {&Engine::CommandPlayBack, ENG_PLAYBACK_REQ},
      {&Engine::CommandCompare, ENG_COMPARE_REQ}, {&Engine::CommandPause, ENG_PAUSE_REQ},
      {&Engine::CommandStop, ENG_STOP_REQ},       {&Engine::CommandNext, ENG_ITEM_CHANGE}};
  uint32_t expected = 0;
  for (const auto& [command, bit] : commands) {
    (e.*command)();
    expected |= bit;
    EXPECT_EQ(e.Status().flags, expected);
  }
  e.ProgressSlider(5000);
  e.VolumeSlider(0);
  e.SpeedSlider(130);
  EXPECT_EQ(e.Status().flags, expected | ENG_SEEK_REQ | ENG_VOLUME_REQ | ENG_SPEED_REQ);
  EXPECT_EQ(e.Status().volumePosition, 0);
  EXPECT_EQ(e.Status().speedPosition, 100);
}

TEST_F(EngineCommandTest, AutoManualDropsASentenceNotYetRepeated) {
  Engine& e = *engine;
  // Inside: a sentence found but not yet served shows nowhere until its repeat starts.
  Inside(e).sentencePending() = true;
  EXPECT_TRUE(e.CommandAutoManual());
  EXPECT_TRUE(e.Status().autoMode);
  EXPECT_FALSE(Inside(e).sentencePending().load());
  EXPECT_FALSE(e.CommandAutoManual());
  EXPECT_FALSE(e.Status().autoMode);
}

// Inside: the race of a whole-word store with a post cannot be met on demand
// from outside; the test sets what the step found and stores.
TEST_F(EngineCommandTest, QuitSurvivesWholeWordStores) {
  Engine& e = *engine;
  // A step that found the read request drops it; a stop posted after it looked
  // and a pending quit stay.
  Inside(e).Post(ENG_QUIT | ENG_READ_REQ);
  Inside(e).flagsSeen() = ENG_QUIT | ENG_READ_REQ;
  Inside(e).Post(ENG_STOP_REQ);
  Inside(e).StoreFlags(ENG_PLAYING);
  EXPECT_EQ(e.Status().flags, ENG_QUIT | ENG_STOP_REQ | ENG_PLAYING);
  Inside(e).flagsSeen() = 0;
  ReadCursor& cursor = Inside(e).cursor();
  cursor.OrderQuit();
  cursor.Run();
  EXPECT_EQ(cursor.Order(), DEC_QUIT);
  // A decoder that has quit stays quit: stopping it does not wait for it.
  cursor.AnswerQuit();
  cursor.Run();
  cursor.StopDecoder();
  EXPECT_EQ(cursor.Order(), DEC_QUIT_DONE);
}

// The engine on its own threads with the offline clock held: commands are
// served, and sound time passes only when a test lets it.
class RunningEngine : public EngineFixture {
 protected:
  void SetUp() override { ASSERT_TRUE(engine->AllocateBuffers()); }
  void TearDown() override { EXPECT_TRUE(engine->Shutdown()); }
  void Start(const std::vector<std::string>& names) {
    for (const std::string& name : names)
      playlist.Append(name.find('/') == std::string::npos ? MakeQv(name, 5000 * 100) : name);
    audio.Clock().SetHeld(true);
    engine->StartThreads();
    Settle();
  }
  // Opens entry index as a double click does, and waits until it is served.
  void Choose(int index) {
    engine->CommandPlayEntry(index);
    Settle();
  }
};

TEST_F(RunningEngine, PlayDependsOnState) {
  Start({"a.qv", "b.qv", "c.qv"});
  const EngineStatus first = engine->Status();
  ASSERT_EQ(first.itemsOpened, 1u);
  // Reading the selected item: nothing.
  engine->CommandPlay();
  Settle();
  EXPECT_EQ(engine->Status().itemsOpened, 1u);
  // Another item selected: change to it.
  playlist.Select(2);
  engine->CommandPlay();
  Settle();
  EXPECT_EQ(engine->Status().item, 2);
  EXPECT_EQ(engine->Status().itemsOpened, 2u);
  // Paused: resume, whatever is selected.
  engine->CommandPause();
  Settle();
  ASSERT_TRUE(engine->Status().paused);
  playlist.Select(0);
  engine->CommandPlay();
  Settle();
  EXPECT_FALSE(engine->Status().paused);
  EXPECT_EQ(engine->Status().item, 2);
  EXPECT_EQ(engine->Status().itemsOpened, 2u);
  EXPECT_EQ(engine->Status().flags, ENG_PLAYING);
  // Stopped with no selection: the last item opens.
  engine->CommandStop();
  Settle();
  ASSERT_TRUE(engine->Status().stopped);
  playlist.Select(-1);
  engine->CommandPlay();
  Settle();
  EXPECT_FALSE(engine->Status().stopped);
  EXPECT_EQ(engine->Status().itemsOpened, 3u);
  EXPECT_EQ(playlist.Selection(), 2);
  EXPECT_EQ(engine->Status().item, 2);
}

TEST_F(RunningEngine, PreviousAndNextStopAtTheEnds) {
  Start({"a.qv", "b.qv"});
  // The first entry opens at start (not the second, as advancing from 0 would).
  ASSERT_EQ(engine->Status().item, 0);
  for (auto [command, item] : {std::pair{&Engine::CommandNext, 1},
                               {&Engine::CommandPrevious, 0},
                               {&Engine::CommandPrevious, 0},
                               {&Engine::CommandNext, 1}}) {
    const uint32_t opened = engine->Status().itemsOpened;
    ((*engine).*command)();
    Settle();
    EXPECT_EQ(engine->Status().item, item);
    EXPECT_EQ(engine->Status().itemsOpened, opened + 1);  // at an end, the same entry again
  }
}

TEST_F(RunningEngine, OpeningAnItemStartsReadingIt) {
  Start({"a.qv", MakeQv("lesson.qv", 123456)});
  // Opening clears a pause and a stop, and reads the item from its start.
  for (void (Engine::*before)() : {&Engine::CommandPause, &Engine::CommandStop}) {
    ((*engine).*before)();
    Settle();
    Choose(1);
    const EngineStatus s = engine->Status();
    EXPECT_EQ(s.flags, ENG_PLAYING);
    EXPECT_FALSE(s.paused);
    EXPECT_FALSE(s.stopped);
    EXPECT_EQ(s.item, 1);
    EXPECT_EQ(s.length, 123456u);
    EXPECT_EQ(s.byteRate, 176400u);
    EXPECT_EQ(s.windowBlocks, 71u);
    EXPECT_EQ(s.outputRate, 44100u);
    EXPECT_TRUE(view.TransportEnabled());
    EXPECT_EQ(view.SampleRate(), 44100u);
  }
  // Nothing has been read yet: there is no passage to repeat.
  engine->CommandRepeat();
  Settle();
  EXPECT_EQ(engine->Status().flags, ENG_PLAYING);
}

TEST_F(RunningEngine, SettingsApplyToTheOpenItem) {
  Start({"a.qv"});
  engine->ApplySettings(5, 3, 1.0f, 10);
  const EngineStatus s = engine->Status();
  EXPECT_EQ(s.repeatCount, 5u);
  EXPECT_EQ(s.verticalPrecision, 3u);
  EXPECT_FLOAT_EQ(s.horizontalSeconds, 1.0f);
  EXPECT_EQ(s.samplePercent, 10u);
  EXPECT_EQ(s.windowBlocks, 35u);  // (176400 + 2500) / 5000
}

TEST_F(RunningEngine, AnEntryThatCannotOpenSaysWhy) {
  WriteFileBytes(dir.File("broken.qv"), "not a qv file");
  WriteFileBytes(dir.File("noext"), "x");
  const std::string upper = dir.File("LESSON.QV");
  WriteFileBytes(upper, QvFileBytes(RecordingFormat(), PatternBytes(100)));
  for (const char* name : {"lesson.qv ", "lesson.q", "lesson."})
    CopyFile(upper, dir.File(name));
  ASSERT_EQ(::mkfifo(dir.File("fifo.qv").c_str(), 0600), 0);
  Start({});
  // The whole extension in either case, and nothing else: a FIFO named like a
  // sound file is refused before a plug-in could block on it.
  const struct {
    const char* name;
    const char* why;  // nullptr: it opens
  } cases[] = {
      {"noext", "extension"},       {"lesson.xyz", ".xyz"},     {"broken.qv", "broken.qv"},
      {"missing.qv", "missing.qv"}, {"LESSON.QV", nullptr},     {"lesson.qv ", ".qv \""},
      {"lesson.q", ".q\""},         {"lesson.", "\".\" files"}, {"fifo.qv", "not a regular file"}};
  for (const auto& c : cases) {
    playlist.Clear();
    playlist.Append(dir.File(c.name));
    const uint32_t opened = engine->Status().itemsOpened;
    Choose(0);
    const EngineStatus s = engine->Status();
    if (c.why == nullptr) {
      EXPECT_EQ(s.itemsOpened, opened + 1) << c.name;
      EXPECT_TRUE(view.TransportEnabled());
      continue;
    }
    EXPECT_EQ(s.itemsOpened, opened) << c.name;
    EXPECT_NE(s.lastError.find(c.why), std::string::npos) << c.name << ": " << s.lastError;
    EXPECT_EQ(engine->LastFault(), EngineFault::kFileNotPlayable) << c.name;
    EXPECT_EQ(s.flags, 0u) << c.name;
    EXPECT_EQ(s.length, 0u) << c.name;
    EXPECT_FALSE(view.TransportEnabled()) << c.name;
  }
}

TEST_F(RunningEngine, EntriesThatFailAreSkipped) {
  const std::string good = MakeQv("good.qv", 10000);
  Start({dir.File("bad1.qv"), good, dir.File("bad2.xyz")});
  ASSERT_EQ(engine->Status().item, 1);
  // From the last entry the search wraps to the first and finds the good one;
  // a position beyond the list is lowered to its last entry first.
  for (int chosen : {2, 17}) {
    const uint32_t opened = engine->Status().itemsOpened;
    Choose(chosen);
    EXPECT_EQ(engine->Status().itemsOpened, opened + 1) << chosen;
    EXPECT_EQ(engine->Status().item, 1) << chosen;
    EXPECT_EQ(playlist.Selection(), 1) << chosen;
  }
  // An entry the learner selected while another played is taken at its end.
  playlist.Append(MakeQv("other.qv", 5000 * 100));
  playlist.Select(3);
  const uint32_t before = engine->Status().itemsOpened;
  audio.Clock().Advance(100'000'000);  // good.qv holds 57 ms
  ASSERT_TRUE(WaitFor([&] {
    const EngineStatus s = engine->Status();
    return s.item == 3 && s.itemsOpened == before + 1;
  }));
  // With nothing playable, nothing opens and nothing hangs.
  playlist.Clear();
  playlist.Append(dir.File("bad1.qv"));
  const uint32_t opened = engine->Status().itemsOpened;
  Choose(0);
  engine->CommandNext();
  Settle();
  playlist.Clear();
  engine->CommandNext();
  Choose(0);
  EXPECT_EQ(engine->Status().itemsOpened, opened);
  EXPECT_EQ(engine->Status().flags, 0u);
}

TEST(EngineDevice, MissingSoundSystemIsReported) {
  ::setenv("SDL_AUDIODRIVER", "kestro-no-such-driver", 1);
  TempDir dir;
  Playlist playlist;
  playlist.Append(dir.File("a.qv"));
  WriteFileBytes(playlist.At(0), QvFileBytes(RecordingFormat(), PatternBytes(20000)));
  CodecRegistry registry;
  registry.ScanPlugins((std::string(KESTRO_STAGE_PLUGIN_DIR) + "/*.so").c_str());
  AudioBackend audio(AudioBackend::Kind::kSdl);
  Engine engine(audio, registry, playlist, nullptr);
  ASSERT_TRUE(engine.AllocateBuffers());
  engine.StartThreads();
  ASSERT_TRUE(WaitFor([&] { return engine.Faults() > 0; }));
  EXPECT_NE(engine.LastError().find("no sound system"), std::string::npos) << engine.LastError();
  EXPECT_EQ(engine.LastFault(), EngineFault::kNoOutputDevice);
  EXPECT_EQ(engine.Status().outputRate, 0u);
  EXPECT_EQ(engine.Status().itemsOpened, 0u);
  EXPECT_TRUE(engine.Shutdown());
}

}  // namespace

namespace {

// Sentence detection as the output callback runs it, buffer by buffer. Inside:
// the test plays the device, finishing slots of chosen quietness, to check the
// detector's exact rule; the drills check sentences found in whole lessons.
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
    WaveBufferPool& pool = Inside(*engine).cursor().Slots();
    pool.SlotAt(i + 1)->silenceRatio = ratio;
    Inside(*engine).OnWaveOutDone(nullptr, MM_WOM_DONE, &pool.SlotAt(i)->header);
  }
};

TEST_F(DetectionTest, StrictlyAboveFourFifthsIsSilent) {
  for (uint32_t i = 0; i < 10; ++i)
    Finish(i, 0.8f);
  EXPECT_EQ(engine->Status().flags, ENG_PLAYING);
  Finish(10, 0.81f);
  EXPECT_EQ(engine->Status().flags, ENG_PLAYING);
  Finish(11, 1.0f);  // a full window with at most one buffer not silent
  EXPECT_EQ(engine->Status().flags, ENG_PLAYING | ENG_REPEAT_REQ);
  EXPECT_TRUE(Inside(*engine).sentencePending().load());
  EXPECT_EQ(engine->Status().sentencesFound, 1u);
  // While the sentence is pending, nothing more is found.
  for (uint32_t i = 13; i < 20; ++i)
    Finish(i, 1.0f);
  EXPECT_EQ(engine->Status().sentencesFound, 1u);
}

TEST_F(DetectionTest, OnlyWhileReadingInAutomaticMode) {
  Inside(*engine).autoMode() = false;
  for (uint32_t i = 0; i < 5; ++i)
    Finish(i, 1.0f);
  Inside(*engine).autoMode() = true;
  Inside(*engine).engineFlags() = ENG_REPEATING;
  for (uint32_t i = 5; i < 10; ++i)
    Finish(i, 1.0f);
  EXPECT_EQ(engine->Status().sentencesFound, 0u);
  EXPECT_EQ(engine->Status().flags, ENG_REPEATING);
}

TEST_F(DetectionTest, TheLearnersOwnRepeatOnlyClearsTheWindow) {
  Inside(*engine).engineFlags() = ENG_PLAYING | ENG_REPEAT_REQ;
  Finish(0, 0.0f);
  for (uint32_t i = 1; i < 4; ++i)
    Finish(i, 1.0f);
  EXPECT_FALSE(Inside(*engine).sentencePending().load());
  EXPECT_EQ(engine->Status().sentencesFound, 0u);
  // The window starts empty again: silence alone is no sentence; sound, then a
  // window of silence after it, ends the next one.
  Inside(*engine).engineFlags() = ENG_PLAYING;
  Finish(4, 1.0f);
  Finish(5, 0.0f);
  for (uint32_t i = 6; i < 8; ++i)
    Finish(i, 1.0f);
  EXPECT_EQ(engine->Status().sentencesFound, 0u);
  Finish(8, 1.0f);
  EXPECT_EQ(engine->Status().sentencesFound, 1u);
}

TEST_F(EngineFixture, APendingQuitIsNeverWipedByTheDecoder) {
  ASSERT_TRUE(engine->AllocateBuffers());
  // A codec whose every read ends at once, and a quit already posted when the
  // decoder looks: it must quit, not go idle. Inside: the test is the engine
  // thread, handing the decoder its codec and its orders.
  CodecServer* qv = registry.FindCodec("qv");
  ASSERT_NE(qv, nullptr);
  const std::string empty = MakeQv("empty.qv", 0);
  WaveFormatEx format{};
  ASSERT_EQ(qv->Open(empty.c_str(), &format), 1);
  Inside(*engine).codec().store(qv);
  for (int run = 0; run < 20; ++run) {
    Inside(*engine).cursor().OrderQuit();
    Inside(*engine).StartDecodeThread();
    WaitFor([&] { return Inside(*engine).cursor().DecoderQuit(); });
    ASSERT_TRUE(Inside(*engine).cursor().DecoderQuit()) << run;
    Inside(*engine).StopDecodeThread();
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
    EXPECT_TRUE(e.Shutdown()) << run;  // both threads answered the quit
  }
}

}  // namespace
