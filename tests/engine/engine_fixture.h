// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "audio/audio_backend.h"
#include "codec/codec_registry.h"
#include "engine/engine.h"
#include "engine_test_access.h"
#include "library/playlist.h"
#include "loaded_plugin.h"
#include "temp_dir.h"
#include "wait_for.h"

// A window stand-in that remembers what the engine told it.
class FakeView : public EngineView {
 public:
  void ShowMode(EngineMode mode, ModeShown shown) override {
    std::lock_guard<std::mutex> lock(mutex);
    captions[mode] = shown;
  }
  void EnableTransport(bool enable) override {
    {
      std::lock_guard<std::mutex> lock(mutex);
      transportEnabled = enable;
    }
    if (onTransport) onTransport(enable);
  }
  void SetProgressPosition(int position) override {
    std::lock_guard<std::mutex> lock(mutex);
    progress.push_back(position);
  }
  void SetSpeedPosition(int position) override {
    std::lock_guard<std::mutex> lock(mutex);
    speed = position;
  }
  void SetSampleFormat(uint32_t rate, uint16_t, uint16_t) override {
    std::lock_guard<std::mutex> lock(mutex);
    sampleRate = rate;
  }
  void ShowBuffer(const uint8_t*, uint32_t) override { ++shown; }

  ModeShown Caption(EngineMode mode) {
    std::lock_guard<std::mutex> lock(mutex);
    return captions.count(mode) ? captions[mode] : ModeShown::kOff;
  }
  bool TransportEnabled() {
    std::lock_guard<std::mutex> lock(mutex);
    return transportEnabled;
  }
  uint32_t SampleRate() {
    std::lock_guard<std::mutex> lock(mutex);
    return sampleRate;
  }
  std::vector<int> Progress() {
    std::lock_guard<std::mutex> lock(mutex);
    return progress;
  }

  std::atomic<int> shown{0};
  // Called on the engine thread, in the middle of the step that serves a request.
  std::function<void(bool)> onTransport;

 private:
  std::mutex mutex;
  std::map<EngineMode, ModeShown> captions;
  bool transportEnabled = false;
  std::vector<int> progress;
  int speed = -1;
  uint32_t sampleRate = 0;
};

// An engine on the offline backend with the program's real plug-ins, writing
// everything it plays to a WAV file.
class EngineFixture : public ::testing::Test {
 protected:
  EngineFixture() {
    registry.ScanPlugins((std::string(KESTRO_STAGE_PLUGIN_DIR) + "/*.so").c_str());
    audio.SetWavSink(dir.File("played.wav"), nullptr);
    engine = std::make_unique<Engine>(audio, registry, playlist, &view);
    engine->SetProgramDir(dir.path());
  }
  ~EngineFixture() override { engine.reset(); }

  // A .qv file of n bytes of the recording format with a recognisable pattern.
  std::string MakeQv(const std::string& name, size_t bytes, unsigned seed = 0) {
    const std::string path = dir.File(name);
    WriteFileBytes(path, QvFileBytes(RecordingFormat(), PatternBytes(bytes, seed)));
    return path;
  }

  // Waits until the engine's threads have served every request posted so far
  // (an item change with the open it asked for), and two passes more.
  void Settle() {
    ASSERT_TRUE(WaitFor([&] {
      const EngineStatus s = engine->Status();
      return (s.flags & kPostedBits) == 0 && !s.openPending;
    })) << engine->Status().flags;
    const uint64_t start = engine->Status().passes;
    ASSERT_TRUE(WaitFor([&] {
      if (engine->Status().passes >= start + 2) return true;
      engine->WakeEngine();
      return false;
    }));
  }

  // What the output device has played so far.
  std::string Played() {
    audio.Sink().Flush();
    const std::string data = WavDataOf(ReadFileBytes(audio.Sink().WrittenPath()));
    return data == "<no wav>" ? std::string() : data;
  }

  TempDir dir;
  AudioBackend audio{AudioBackend::Kind::kOffline};
  CodecRegistry registry;
  Playlist playlist;
  FakeView view;
  std::unique_ptr<Engine> engine;
};
