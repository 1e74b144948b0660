// SPDX-License-Identifier: GPL-3.0-or-later
// The learner's manual walk-through, checked as flag values and caption colours
// after every command, on the engine and its threads with the offline devices.
#include <gtest/gtest.h>

#include <chrono>
#include <sstream>
#include <thread>

#include "../engine/engine_fixture.h"
#include "cli/script_runner.h"
#include "cli_runner.h"

namespace {

class Walkthrough : public EngineFixture {
 protected:
  void SetUp() override {
    ASSERT_TRUE(engine->AllocateBuffers());
    playlist.Append(MakeQv("lesson.qv", 5000 * 300));
    audio.Clock().SetHeld(true);
    engine->StartThreads();
    runner = std::make_unique<ScriptRunner>(*engine, audio, playlist, out);
    Run("");  // start-up settles
  }
  void TearDown() override { EXPECT_TRUE(engine->Shutdown()); }

  void Run(const std::string& line) {
    std::istringstream in(line);
    std::string error;
    ASSERT_TRUE(runner->RunScript(in, &error)) << error;
  }
  uint32_t Flags() const { return engine->Status().flags; }

  std::ostringstream out;
  std::unique_ptr<ScriptRunner> runner;
};

TEST_F(Walkthrough, FlagsAndCaptionsStepByStep) {
  EXPECT_EQ(Flags(), ENG_PLAYING);
  Run("wait 300");
  EXPECT_EQ(view.Caption(EngineMode::kRead), ModeShown::kRunning);
  Run("read");
  EXPECT_EQ(Flags(), ENG_PLAYING);
  Run("wait 300\nrepeat");
  EXPECT_EQ(Flags(), ENG_REPEATING);
  EXPECT_EQ(view.Caption(EngineMode::kRead), ModeShown::kOff);
  EXPECT_EQ(view.Caption(EngineMode::kRepeat), ModeShown::kRunning);
  Run("repeat");
  EXPECT_EQ(Flags(), ENG_REPEATING);
  EXPECT_EQ(view.Caption(EngineMode::kRepeat), ModeShown::kPaused);
  Run("repeat");
  EXPECT_EQ(view.Caption(EngineMode::kRepeat), ModeShown::kRunning);
  Run("wait 100\nread");
  EXPECT_EQ(Flags(), ENG_PLAYING);
  EXPECT_EQ(view.Caption(EngineMode::kRepeat), ModeShown::kOff);
  Run("wait 200\nrecord");
  EXPECT_EQ(Flags(), ENG_RECORDING);
  EXPECT_EQ(view.Caption(EngineMode::kRecord), ModeShown::kRunning);
  Run("wait 300\nplayback");
  EXPECT_EQ(Flags(), ENG_PLAYING_BACK);
  EXPECT_EQ(view.Caption(EngineMode::kRecord), ModeShown::kOff);
  EXPECT_EQ(view.Caption(EngineMode::kPlayBack), ModeShown::kRunning);
  Run("playback");
  EXPECT_EQ(view.Caption(EngineMode::kPlayBack), ModeShown::kPaused);
  Run("playback\nwait 100\nread");
  EXPECT_EQ(Flags(), ENG_PLAYING);
  EXPECT_EQ(view.Caption(EngineMode::kPlayBack), ModeShown::kOff);
  Run("compare");
  EXPECT_EQ(Flags(), ENG_COMPARING);
  EXPECT_EQ(view.Caption(EngineMode::kCompare), ModeShown::kRunning);
  Run("wait 100\nrecord");  // ends compare, then records
  EXPECT_EQ(Flags(), ENG_RECORDING);
  EXPECT_EQ(view.Caption(EngineMode::kCompare), ModeShown::kOff);
  Run("record");  // ends the recording and starts a new one
  EXPECT_EQ(Flags(), ENG_RECORDING);
  Run("read\npause");
  EXPECT_EQ(Flags(), 0u);
  EXPECT_TRUE(engine->Status().paused);
  Run("play");
  EXPECT_EQ(Flags(), ENG_PLAYING);
  Run("stop");
  EXPECT_EQ(Flags(), 0u);
  EXPECT_TRUE(engine->Status().stopped);
  EXPECT_FALSE(view.TransportEnabled());
}

TEST_F(Walkthrough, RequestsWithoutAPassageAreDropped) {
  // Right after opening, with no output yet and only the start mark, there is no
  // passage to repeat, play back or compare: reading goes on. Recording needs
  // none: it starts where the learner is.
  ASSERT_EQ(Flags(), ENG_PLAYING);
  for (const char* command : {"repeat", "playback", "compare"}) {
    Run(command);
    EXPECT_EQ(Flags(), ENG_PLAYING) << command;
  }
  Run("record");
  EXPECT_EQ(Flags(), ENG_RECORDING);
}

// A speed or volume change acts on what follows and takes nothing back: the
// lower rate resumes at the buffer heard last; the level applies from the next
// buffer the device plays, though more were queued.
TEST_F(Walkthrough, SpeedAndVolumeActOnWhatFollows) {
  const std::string lesson = PatternBytes(5000 * 300, 0);
  Run("volume 100\nwait 100\nspeed 50\nwait 100");  // 3 buffers, then 2 at half the rate
  EXPECT_EQ(engine->Status().outputRate, 22000u);
  EXPECT_EQ(view.SampleRate(), 22000u);
  std::string played = Played();
  ASSERT_EQ(played.size(), 5u * 5000);
  EXPECT_TRUE(BytesEqual(played, lesson.substr(0, 15000) + lesson.substr(10000, 10000)));

  // Back at the file's rate from the buffer heard last: 3 buffers, then 4 silent.
  Run("speed 0\nwait 100\nvolume 0\nwait 100");
  played = Played().substr(25000);
  EXPECT_TRUE(BytesEqual(played, lesson.substr(15000, 15000) + std::string(20000, '\0')));

  // The balance all the way right: the left channel (the first of each frame) silent.
  Run("volume 100\nbalance 100\nwait 100");  // 3 buffers
  std::string right = lesson.substr(50000, 15000);
  for (size_t i = 0; i < right.size(); i += 4)
    right[i] = right[i + 1] = '\0';
  EXPECT_TRUE(BytesEqual(Played().substr(60000), right));
}

TEST_F(Walkthrough, ShutDownAnswersWithinItsBounds) {
  Run("wait 200\nrecord\nwait 100");
  const auto start = std::chrono::steady_clock::now();
  // True only when both threads answered the quit within the bounds.
  EXPECT_TRUE(engine->Shutdown());
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));  // never hangs
  EXPECT_EQ(engine->Status().flags, ENG_EXITED);
  // The recording that was under way is a valid qv file.
  const std::string recording = ReadFileBytes(dir.File("RecordVM.qv"));
  ASSERT_GE(recording.size(), 23u);
  EXPECT_EQ(recording.substr(0, 5), "qvoxa");
}

class AutomaticRepeat : public EngineFixture {};

TEST_F(AutomaticRepeat, SleepsWhileTheLastPlayOfASentenceSounds) {
  ASSERT_TRUE(engine->AllocateBuffers());
  const std::string lesson = SentenceLesson({{20, 30}, {20, 0}});
  playlist.Append(dir.File("s.qv"));
  WriteFileBytes(dir.File("s.qv"), QvFileBytes(RecordingFormat(), lesson));
  engine->CommandAutoManual();
  audio.Clock().SetHeld(true);
  engine->StartThreads();
  std::ostringstream out;
  ScriptRunner runner(*engine, audio, playlist, out);
  std::istringstream script("settings 3 2 0.5 5\nseek 0\nwait-mode repeating\n");
  std::string error;
  ASSERT_TRUE(runner.RunScript(script, &error)) << error;
  // Every play of the sentence is queued at once, and no sound time passes: the
  // engine has nothing to do until a buffer finishes, and must not spin.
  const uint64_t before = engine->Status().passes;
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_LT(engine->Status().passes - before, 60u);
  EXPECT_EQ(engine->Status().flags, ENG_REPEATING);
  EXPECT_TRUE(engine->Shutdown());
}

}  // namespace
