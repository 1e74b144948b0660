// The engine on a real sound server: a private PulseAudio daemon started by
// the test, heard through its sink's monitor and fed through a pipe source.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

#include "codec/codec_registry.h"
#include "codec/playlist.h"
#include "engine/engine.h"
#include "loaded_plugin.h"
#include "platform/audio_backend.h"
#include "pulse_server.h"
#include "temp_dir.h"
#include "wait_for.h"

namespace {

constexpr uint32_t kSecond = 176400;

class RealServer : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string why;
    if (!server.Start(&why)) {
      GTEST_SKIP() << "no PulseAudio server for this test: " << why;
    }
    registry.ScanPlugins((std::string(KESTRO_STAGE_PLUGIN_DIR) + "/*.so").c_str());
    audio = std::make_unique<AudioBackend>(AudioBackend::Kind::kPulse);
    engine = std::make_unique<Engine>(*audio, registry, playlist, nullptr);
    engine->SetProgramDir(dir.path());
    engine->VolumeSlider(100);  // the file's own level
    ASSERT_TRUE(engine->AllocateBuffers());
    lesson = PatternBytes(kSecond * 30, 3);
    playlist.Append(dir.File("lesson.qv"));
    WriteFileBytes(playlist.At(0), QvFileBytes(RecordingFormat(), lesson));
  }
  void TearDown() override {
    if (engine) {
      EXPECT_TRUE(engine->Shutdown());
    }
  }

  // Plays until something is heard, then records until the recording holds bytes.
  void StartRecording(uint32_t bytes) {
    engine->StartThreads();
    ASSERT_TRUE(WaitFor([&] { return engine->Status().position > 0; }));
    engine->CommandRecord();
    const std::string path = dir.File(Engine::kRecordingName);
    ASSERT_TRUE(WaitFor([&] {
      std::error_code error;
      return std::filesystem::file_size(path, error) >= 23 + bytes && !error;
    }));
  }

  // Waits until the engine has stopped for the device that went away.
  void ExpectToldOfTheLoss() {
    ASSERT_TRUE(WaitFor([&] {
      return engine->Status().stopped && engine->LastFault() == EngineFault::kDeviceLost;
    }));
    EXPECT_EQ(engine->Faults(), 1u);
    EXPECT_NE(engine->LastError().find("went away"), std::string::npos) << engine->LastError();
  }

  // Whether the capture in path holds bytes of the lesson exactly, from at on
  // (the first 1024 frames are left out: the server may fade them in, or the
  // capture begin after them). A capture lags what plays: the tests wait for it.
  bool Heard(const std::string& path, size_t at, size_t bytes) {
    const std::string heard = ReadFileBytes(path);
    const std::string part = lesson.substr(at + 4096, bytes - 4096);
    const size_t found = heard.find(part.substr(0, 400));
    return found != std::string::npos && heard.compare(found, part.size(), part) == 0;
  }

  TempDir dir;
  PulseServer server{dir.path()};
  CodecRegistry registry;
  Playlist playlist;
  std::unique_ptr<AudioBackend> audio;
  std::unique_ptr<Engine> engine;
  std::string lesson;
};

TEST_F(RealServer, PlaysEveryByteAndSurvivesAServerThatDies) {
  const std::string heard = dir.File("heard.raw");
  ASSERT_TRUE(server.CaptureTo(heard));
  engine->StartThreads();
  EXPECT_TRUE(WaitFor([&] { return Heard(heard, 0, kSecond / 2); }));
  server.Kill();
  ExpectToldOfTheLoss();

  // Play once the server is back: the item again, from its start.
  std::string why;
  ASSERT_TRUE(server.Start(&why)) << why;
  const std::string again = dir.File("again.raw");
  ASSERT_TRUE(server.CaptureTo(again));
  const uint32_t opened = engine->Status().itemsOpened;
  engine->CommandPlay();
  EXPECT_TRUE(WaitFor([&] { return Heard(again, 0, kSecond / 2); }))
      << engine->Status().mode << ", item opened " << engine->Status().itemsOpened << " times, "
      << engine->LastError();
  EXPECT_EQ(engine->Status().itemsOpened, opened + 1);
  EXPECT_EQ(engine->Faults(), 1u);
}

TEST_F(RealServer, AServerThatHangsIsToldWithinAboutASecond) {
  engine->StartThreads();
  ASSERT_TRUE(WaitFor([&] { return engine->Status().position > 0; }));
  server.Freeze();
  ExpectToldOfTheLoss();
  server.Kill();
}

TEST_F(RealServer, AServerThatHangsWhileRecordingIsTold) {
  server.Feed(PatternBytes(kSecond * 30, 7));
  StartRecording(kSecond / 2);
  server.Freeze();
  ExpectToldOfTheLoss();
  EXPECT_NE(engine->LastError().find("input"), std::string::npos) << engine->LastError();
  server.Kill();
}

TEST_F(RealServer, ARecordingKeepsWhatTheSourceGaveUpToTheLoss) {
  const std::string fed = PatternBytes(kSecond * 30, 7);
  server.Feed(fed);
  StartRecording(kSecond);
  const std::string path = dir.File(Engine::kRecordingName);
  server.Kill();
  ExpectToldOfTheLoss();
  // Whole frames, every one of them the source's, in order.
  const std::string recording = ReadFileBytes(path);
  ASSERT_EQ(recording.substr(0, 5), "qvoxa");
  const std::string data = recording.substr(23);
  ASSERT_GE(data.size(), kSecond);
  EXPECT_EQ(data.size() % 4, 0u);
  const size_t at = fed.find(data.substr(0, 400));
  ASSERT_NE(at, std::string::npos);
  EXPECT_EQ(data, fed.substr(at, data.size()));
}

}  // namespace
