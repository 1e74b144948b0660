// SPDX-License-Identifier: GPL-3.0-or-later
// The engine against devices that misbehave on demand (the offline backend's
// test faults), running on its own threads as in the window.
#include <dirent.h>

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <set>
#include <string>
#include <thread>

#include "engine_fixture.h"
#include "wait_for.h"

namespace {

using namespace std::chrono_literals;

class EngineFaultTest : public EngineFixture {
 protected:
  void SetUp() override {
    ASSERT_TRUE(engine->AllocateBuffers());
    lesson = MakeQv("lesson.qv", 5000 * 200, 1);
  }
  void TearDown() override { EXPECT_TRUE(engine->Shutdown()); }

  std::string lesson;
};

TEST_F(EngineFaultTest, ItemsThatCannotOpenAreSkipped) {
  WriteFileBytes(dir.File("broken.qv"), "not a qv file");
  playlist.Append(dir.File("broken.qv"));
  playlist.Append(lesson);
  audio.Clock().SetHeld(true);
  engine->StartThreads();
  // The end-of-item rule goes from entry 0 to 1... and past the broken one.
  ASSERT_TRUE(WaitFor([&] { return engine->Status().itemsOpened == 1; }));
  EXPECT_EQ(engine->Status().item, 1);
  EXPECT_EQ(std::string(engine->Status().mode), "reading");

  // Without an output device no item opens: every one is tried, then the
  // engine goes idle, and the failed device counts as a fault.
  audio.Faults().refuseOutput = true;
  engine->CommandNext();
  Settle();
  EXPECT_EQ(engine->Status().flags, 0u);
  EXPECT_GT(engine->Faults(), 0u);
  EXPECT_FALSE(view.TransportEnabled());
}

TEST_F(EngineFaultTest, ARecordRequestWithoutAnInputIsDroppedAndKeepsTheOldRecording) {
  WriteFileBytes(dir.File(Engine::kRecordingName), QvFileBytes(RecordingFormat(), "old!"));
  playlist.Append(lesson);
  audio.Clock().SetHeld(true);
  engine->StartThreads();
  ASSERT_TRUE(WaitFor([&] { return engine->Status().itemsOpened == 1; }));
  audio.Clock().Advance(300'000'000);
  ASSERT_TRUE(WaitFor([&] { return engine->Status().position > 0; }));
  audio.Faults().refuseInput = true;
  engine->CommandRecord();
  Settle();
  EXPECT_EQ(engine->Status().flags, ENG_PLAYING);
  EXPECT_EQ(view.Caption(EngineMode::kRecord), ModeShown::kOff);
  EXPECT_EQ(ReadFileBytes(dir.File(Engine::kRecordingName)),
            QvFileBytes(RecordingFormat(), "old!"));
  EXPECT_NE(engine->LastError().find("input device refused"), std::string::npos);
  EXPECT_EQ(engine->LastFault(), EngineFault::kNoInputDevice);
  // Reading goes on: the next sound time plays.
  const uint32_t before = engine->Status().position;
  audio.Clock().Advance(300'000'000);
  EXPECT_TRUE(WaitFor([&] { return engine->Status().position > before; }));
}

TEST_F(EngineFaultTest, AFailedSpeedChangeLeavesTheOutputClosed) {
  playlist.Append(lesson);
  audio.Clock().SetHeld(true);  // the lesson must not end and open again meanwhile
  engine->StartThreads();
  ASSERT_TRUE(WaitFor([&] { return engine->Status().itemsOpened == 1; }));
  audio.Faults().refuseOutput = true;
  engine->SpeedSlider(30);
  Settle();
  // The device stays closed until an item opens again; nothing pretends otherwise.
  EXPECT_EQ(engine->Status().outputRate, 0u);
  EXPECT_FALSE(view.TransportEnabled());
  EXPECT_GT(engine->Faults(), 0u);
  audio.Faults().refuseOutput = false;
  engine->CommandPlayEntry(0);
  Settle();
  EXPECT_EQ(engine->Status().outputRate, 44100u);
  EXPECT_TRUE(view.TransportEnabled());
}

TEST_F(EngineFaultTest, ADeviceThatDiesInMidStreamNeverHangsStopOrShutDown) {
  playlist.Append(lesson);
  audio.Faults().outputStallsAfter = 5;
  engine->StartThreads();
  ASSERT_TRUE(WaitFor([&] { return engine->Status().position >= 4 * 5000; }));
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(engine->Status().position, 4u * 5000);  // nothing more was played
  engine->CommandStop();
  Settle();
  EXPECT_EQ(engine->Status().flags, 0u);
  EXPECT_TRUE(engine->Status().stopped);
  audio.Faults().outputStallsAfter = -1;
  const uint32_t opened = engine->Status().itemsOpened;
  engine->CommandPlay();
  // A working device again: the item opens anew and plays.
  EXPECT_TRUE(WaitFor([&] { return engine->Status().itemsOpened > opened; }));
  EXPECT_FALSE(engine->Status().stopped);
}

TEST_F(EngineFaultTest, ADeviceFarBehindStillHearsEveryByteInOrder) {
  playlist.Append(lesson);
  engine->VolumeSlider(100);
  engine->PlayListOnce();
  audio.Faults().latencyMs = 1;
  engine->StartThreads();
  ASSERT_TRUE(WaitFor([&] { return engine->Status().listFinished; }));
  EXPECT_TRUE(BytesEqual(Played(), ReadFileBytes(lesson).substr(23)));
}

// The names of this process's threads.
std::set<std::string> ThreadNames() {
  std::set<std::string> names;
  DIR* tasks = ::opendir("/proc/self/task");
  while (dirent* entry = tasks ? ::readdir(tasks) : nullptr) {
    if (entry->d_name[0] == '.') continue;
    std::ifstream comm(std::string("/proc/self/task/") + entry->d_name + "/comm");
    std::string name;
    std::getline(comm, name);
    names.insert(name);
  }
  if (tasks) ::closedir(tasks);
  return names;
}

TEST_F(EngineFaultTest, ThreadsAreNamedForWhatTheyDo) {
  playlist.Append(lesson);
  audio.Clock().SetHeld(true);
  engine->StartThreads();
  ASSERT_TRUE(WaitFor([&] { return engine->Status().itemsOpened == 1; }));
  // Each thread names itself as it starts.
  std::set<std::string> names;
  EXPECT_TRUE(WaitFor([&] {
    names = ThreadNames();
    return names.count("engine") && names.count("decode") && names.count("wave-out");
  }));
  for (const char* name : {"engine", "decode", "wave-out"})
    EXPECT_EQ(names.count(name), 1u) << name;
}

}  // namespace
