// SPDX-License-Identifier: GPL-3.0-or-later
// The engine on a real sound server: a private PulseAudio daemon, or PipeWire's
// pulse server, started by the test, heard through its sink's monitor and fed
// through a pipe source.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

#include "audio/audio_backend.h"
#include "codec/codec_registry.h"
#include "engine/engine.h"
#include "library/playlist.h"
#include "loaded_plugin.h"
#include "pcm.h"
#include "pulse_server.h"
#include "temp_dir.h"
#include "wait_for.h"

namespace {

constexpr uint32_t kSecond = 176400;

class RealServer : public ::testing::TestWithParam<PulseServer::Kind> {
 protected:
  void SetUp() override {
    std::string why;
    if (!server.Start(&why)) {
      GTEST_SKIP() << "no such sound server for this test: " << why;
    }
    registry.ScanPlugins((std::string(KESTRO_STAGE_PLUGIN_DIR) + "/*.so").c_str());
    audio = std::make_unique<AudioBackend>(AudioBackend::Kind::kPulse);
    engine = std::make_unique<Engine>(*audio, registry, playlist, nullptr);
    engine->SetProgramDir(dir.path());
    engine->VolumeSlider(100);  // the file's own level
    ASSERT_TRUE(engine->AllocateBuffers());
    lesson = NoiseBytes(kSecond * 30, 3);
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
  void ExpectToldOfTheLoss(uint32_t losses = 1) {
    ASSERT_TRUE(WaitFor([&] {
      return engine->Status().stopped && engine->LastFault() == EngineFault::kDeviceLost;
    }));
    EXPECT_EQ(engine->Faults(), losses);
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
  PulseServer server{dir.path(), GetParam()};
  CodecRegistry registry;
  Playlist playlist;
  std::unique_ptr<AudioBackend> audio;
  std::unique_ptr<Engine> engine;
  std::string lesson;
};

TEST_P(RealServer, AfterEachLossPlayGoesOnFromWhereTheLearnerWas) {
  const std::string heard = dir.File("heard.raw");
  ASSERT_TRUE(server.CaptureTo(heard));
  engine->StartThreads();
  EXPECT_TRUE(WaitFor([&] { return Heard(heard, 0, kSecond / 2); }));
  for (int loss = 1; loss <= 3; ++loss) {
    // Some seconds on, so that starting afresh could not pass for going on.
    const uint32_t before = engine->Status().position;
    ASSERT_TRUE(WaitFor([&] { return engine->Status().position > before + 2 * kSecond; }));
    server.Kill();
    ExpectToldOfTheLoss(loss);
    const uint32_t place = engine->Status().position;

    std::string why;
    ASSERT_TRUE(server.Start(&why)) << why;
    const std::string again = dir.File("again" + std::to_string(loss) + ".raw");
    ASSERT_TRUE(server.CaptureTo(again));
    engine->CommandPlay();
    // What sounds first is the lesson from the place, and it plays on.
    ASSERT_TRUE(WaitFor([&] { return Heard(again, place, kSecond); }))
        << "loss " << loss << ": " << engine->Status().mode << ", " << engine->LastError();
    EXPECT_FALSE(Heard(again, 0, kSecond / 2)) << "loss " << loss << ": started afresh";
    const std::string capture = ReadFileBytes(again);
    const size_t first = capture.find_first_not_of('\0');
    ASSERT_NE(first, std::string::npos);
    const size_t at = lesson.find(capture.substr(first + 8192, 400));
    ASSERT_NE(at, std::string::npos) << "loss " << loss << ": what sounded first is not the lesson";
    EXPECT_LE(at, place + kSecond / 2) << "loss " << loss;
    EXPECT_GE(at + kSecond / 2, place) << "loss " << loss;
    EXPECT_EQ(engine->Faults(), static_cast<uint32_t>(loss));
  }
}

TEST_P(RealServer, ARecordingWaitsForASourceThatIsSlowToDeliver) {
  // The source gives nothing for 3 s (a device waking, a headset changing its
  // profile), then the learner's voice.
  const std::string fed = NoiseBytes(kSecond * 30, 7);
  engine->StartThreads();
  ASSERT_TRUE(WaitFor([&] { return engine->Status().position > 0; }));
  server.Feed(fed, 3000);
  engine->CommandRecord();
  const std::string path = dir.File(Engine::kRecordingName);
  ASSERT_TRUE(WaitFor([&] {
    std::error_code error;
    return (std::filesystem::file_size(path, error) >= 23 + kSecond && !error) ||
           engine->Faults() > 0;
  }));
  EXPECT_EQ(engine->Faults(), 0u) << engine->LastError();
  engine->CommandStop();
  ASSERT_TRUE(WaitFor([&] { return engine->Status().stopped; }));
  // Everything from the first sound the source gave, in order; before it at
  // most the silence of a source that was still waking.
  const std::string data = ReadFileBytes(path).substr(23);
  const size_t first = data.find(fed.substr(0, 400));
  ASSERT_NE(first, std::string::npos);
  EXPECT_EQ(data.find_first_not_of('\0'), first);
  ASSERT_GE(data.size() - first, kSecond);
  EXPECT_EQ(data.compare(first, data.size() - first, fed, 0, data.size() - first), 0);
}

// The server's own clock and capture are checked byte for byte on PulseAudio;
// PipeWire's pulse server mixes in floating point, so only what does not
// depend on the bytes runs on both.
using RealServerOfAnyKind = RealServer;

TEST_P(RealServerOfAnyKind, AServerThatHangsIsToldWithinAboutTwoSeconds) {
  engine->StartThreads();
  ASSERT_TRUE(WaitFor([&] { return engine->Status().position > 0; }));
  server.Freeze();
  ExpectToldOfTheLoss();
  server.Kill();
}

TEST_P(RealServer, AServerThatHangsWhileRecordingIsTold) {
  server.Feed(NoiseBytes(kSecond * 30, 7));
  StartRecording(kSecond / 2);
  server.Freeze();
  // Told as the input's loss or the output's: whichever asked first.
  ExpectToldOfTheLoss();
  server.Kill();
}

TEST_P(RealServer, ARecordingKeepsWhatTheSourceGaveUpToTheLoss) {
  const std::string fed = NoiseBytes(kSecond * 30, 7);
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

INSTANTIATE_TEST_SUITE_P(Servers, RealServer, ::testing::Values(PulseServer::Kind::kPulseAudio),
                         [](const auto& info) { return PulseServer::Name(info.param); });
INSTANTIATE_TEST_SUITE_P(Servers, RealServerOfAnyKind,
                         ::testing::Values(PulseServer::Kind::kPulseAudio,
                                           PulseServer::Kind::kPipeWire),
                         [](const auto& info) { return PulseServer::Name(info.param); });

}  // namespace
