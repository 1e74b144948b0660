// SPDX-License-Identifier: GPL-3.0-or-later
// Many hands on the engine at once: random commands from several threads against
// a playing, recording engine, then shut-down.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <random>
#include <thread>
#include <vector>

#include "engine_fixture.h"
#include "export/wav_file_writer.h"

namespace {

class EngineStress : public EngineFixture {};

TEST_F(EngineStress, RandomCommandsFromManyThreads) {
  // Three short lessons and a voice to record from.
  for (int i = 0; i < 3; ++i) {
    playlist.Append(MakeQv("lesson" + std::to_string(i) + ".qv", 5000 * (60 + 30 * i) + 17 * i, i));
  }
  WavFileWriter voice;
  ASSERT_TRUE(voice.Create(dir.File("voice.wav"), nullptr));
  const std::string pcm = PatternBytes(5000 * 200, 9);
  voice.Append(RecordingFormat(), reinterpret_cast<const uint8_t*>(pcm.data()),
               static_cast<uint32_t>(pcm.size()));
  voice.Close();
  ASSERT_TRUE(audio.SetInputFile(dir.File("voice.wav"), nullptr));
  ASSERT_TRUE(engine->AllocateBuffers());
  engine->StartThreads();

  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(3);
  std::vector<std::thread> hands;
  for (int t = 0; t < 4; ++t) {
    hands.emplace_back([&, t] {
      std::mt19937 random(1234 + t);
      Engine& e = *engine;
      while (std::chrono::steady_clock::now() < end) {
        const int position = static_cast<int>(random() % 101);
        switch (random() % 20) {
          case 0:
            e.CommandPlay();
            break;
          case 1:
            e.CommandPause();
            break;
          case 2:
            e.CommandStop();
            break;
          case 3:
            e.CommandPrevious();
            break;
          case 4:
            e.CommandNext();
            break;
          case 5:
            e.CommandRead();
            break;
          case 6:
            e.CommandRepeat();
            break;
          case 7:
            e.CommandRecord();
            break;
          case 8:
            e.CommandPlayBack();
            break;
          case 9:
            e.CommandCompare();
            break;
          case 10:
            e.CommandPlayEntry(static_cast<int>(random() % 4));
            break;
          case 11:
            e.CommandAutoManual();
            break;
          case 12:
            e.ApplySettings(1 + random() % 5, random() % 10, 0.1f + (random() % 30) / 10.0f,
                            5 + random() % 96);
            break;
          case 13:
            e.ProgressSlider(position * 100);
            break;
          case 14:
            e.SpeedSlider(position);
            break;
          case 15:
            e.VolumeSlider(position);
            break;
          case 16:
            e.BalanceSlider(position);
            break;
          case 17:
            playlist.Select(static_cast<int>(random() % 4) - 1);
            break;
          case 18:
            if (playlist.Count() < 6) {
              playlist.Append(random() % 2 ? dir.File("lesson1.qv") : dir.File("missing.qv"));
            }
            break;
          case 19:
            if (playlist.Count() > 2)
              playlist.Remove(static_cast<int>(random() % playlist.Count()));
            break;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(random() % 3000));
      }
    });
  }
  for (auto& hand : hands)
    hand.join();

  // The handshake's waits are bounded: a hang would take for ever, a busy
  // machine only longer. True only when both threads answered the quit.
  const auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(engine->Shutdown());
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
  EXPECT_EQ(engine->Status().flags, ENG_EXITED);

  // Whatever recording was left behind is a valid qv file of the recording format.
  const std::string path = dir.File("RecordVM.qv");
  if (std::filesystem::exists(path)) {
    const std::string bytes = ReadFileBytes(path);
    ASSERT_GE(bytes.size(), 23u);
    EXPECT_EQ(bytes.substr(0, 5), "qvoxa");
    const WaveFormatEx expected = RecordingFormat();
    EXPECT_EQ(0, std::memcmp(bytes.data() + 5, &expected, sizeof(expected)));
    // Its sound is the voice from its start, then the silence after it.
    const std::string sound = bytes.substr(23);
    std::string voiced = pcm;
    if (sound.size() > voiced.size()) voiced.append(sound.size() - voiced.size(), '\0');
    EXPECT_TRUE(BytesEqual(sound, voiced.substr(0, sound.size())));
  }
}

}  // namespace

namespace {

// The speed slider dragged quickly, and keep pitch chosen in between: the
// device ends up as the last position and choice say, however the requests
// fell between the engine's passes.
TEST_F(EngineStress, TheLastSpeedChangeAlwaysTakesEffect) {
  playlist.Append(MakeQv("lesson.qv", 5000 * 2000));
  audio.Clock().SetHeld(true);
  ASSERT_TRUE(engine->AllocateBuffers());
  engine->StartThreads();
  auto until = [&](const std::function<bool()>& done) {
    for (int i = 0; i < 1000 && !done(); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    return done();
  };
  ASSERT_TRUE(until([&] { return engine->Status().outputRate == 44100; }));
  std::mt19937 random(7);
  for (int round = 0; round < 100; ++round) {
    int position = 0;
    for (int i = 0; i < 8; ++i) {
      position = 1 + static_cast<int>(random() % 60);
      engine->SpeedSlider(position);
      if (random() % 3 == 0) engine->SetKeepPitch(!engine->KeepPitch());
      std::this_thread::sleep_for(std::chrono::microseconds(random() % 400));
    }
    const bool keep = engine->KeepPitch();
    const uint32_t rate = keep ? 44100 : Engine::SpeedRate(44100, position, 100);
    const float tempo = keep ? static_cast<float>(Engine::SpeedTempo(position, 100)) : 1.0f;
    ASSERT_TRUE(until([&] {
      const EngineStatus s = engine->Status();
      return !(s.flags & ENG_SPEED_REQ) && s.outputRate == rate && s.outputTempo == tempo;
    })) << "round "
        << round << ": position " << position << " keep " << keep << ", the device plays "
        << engine->Status().outputRate << " Hz at " << engine->Status().outputTempo;
  }
}

}  // namespace
