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
  uint32_t Flags() const { return Inside(*engine).engineFlags().load(); }

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
  EXPECT_TRUE(Inside(*engine).paused().load());
  Run("play");
  EXPECT_EQ(Flags(), ENG_PLAYING);
  Run("stop");
  EXPECT_EQ(Flags(), 0u);
  EXPECT_TRUE(Inside(*engine).stopped().load());
  EXPECT_FALSE(view.TransportEnabled());
}

TEST_F(Walkthrough, RequestsWithoutAPassageAreDropped) {
  // Right after opening, with no output yet and only the start mark, there is no
  // passage to record, repeat, play back or compare: reading goes on.
  Inside(*engine).StoreFlags(ENG_PLAYING);
  for (const char* command : {"repeat", "playback", "compare", "record"}) {
    Run(command);
    EXPECT_EQ(Flags(), ENG_PLAYING) << command;
  }
}

TEST_F(Walkthrough, ShutDownAnswersWithinItsBounds) {
  Run("wait 200\nrecord\nwait 100");
  const auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(engine->Shutdown());
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));  // never hangs
  EXPECT_EQ(Inside(*engine).engineFlags().load(), ENG_EXITED);
  EXPECT_EQ(Inside(*engine).decodeControl().load(), DEC_QUIT_DONE);
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
  Inside(*engine).autoMode() = true;
  audio.Clock().SetHeld(true);
  engine->StartThreads();
  std::ostringstream out;
  ScriptRunner runner(*engine, audio, playlist, out);
  std::istringstream script("settings 3 2 0.5 5\nseek 0\nwait-mode repeating\n");
  std::string error;
  ASSERT_TRUE(runner.RunScript(script, &error)) << error;
  // Every play of the sentence is queued at once, and no sound time passes: the
  // engine has nothing to do until a buffer finishes, and must not spin.
  const uint64_t before = Inside(*engine).passes().load();
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_LT(Inside(*engine).passes().load() - before, 60u);
  EXPECT_EQ(Inside(*engine).engineFlags().load(), ENG_REPEATING);
  EXPECT_TRUE(engine->Shutdown());
}

}  // namespace
