// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <memory>
#include <string>

#include "audio/offline_clock.h"
#include "audio/offline_faults.h"
#include "audio/sound_source.h"
#include "audio/wave_in.h"
#include "audio/wave_out.h"
#include "export/wav_file_writer.h"

// Which sound devices the program uses: the sound card through the PulseAudio
// server (PipeWire's too) or through SDL, or the offline ones that need no
// sound card (for tests and batch work). Makes the devices
// and owns what the offline ones share: the clock, the WAV sink and the input sound.
class AudioBackend {
 public:
  // kSystem: kPulse when a PulseAudio server answers and SDL_AUDIODRIVER
  // names no SDL driver, otherwise kSdl.
  enum class Kind { kSystem, kPulse, kSdl, kOffline };

  explicit AudioBackend(Kind kind = Kind::kSystem);
  // "system", "pulse", "sdl" or "offline"; false for anything else.
  static bool ParseKind(const std::string& text, Kind* kind);

  // The kind in use (never kSystem).
  Kind BackendKind() const { return backendKind; }

  // Offline only: every finished output buffer is appended to this WAV file.
  bool SetWavSink(const std::string& path, std::string* error,
                  const WavFileWriter::Options& options = {});
  // Offline only: the input device delivers this file's sound, then silence.
  bool SetInputFile(const std::string& path, std::string* error);

  std::unique_ptr<WaveOut> CreateWaveOut();
  std::unique_ptr<WaveIn> CreateWaveIn();

  OfflineClock& Clock() { return offlineClock; }
  // Offline only, for tests: faults the devices show from now on.
  OfflineFaults& Faults() { return offlineFaults; }
  WavFileWriter& Sink() { return wavSink; }

 private:
  Kind backendKind;
  OfflineClock offlineClock;
  OfflineFaults offlineFaults;
  WavFileWriter wavSink;
  SoundSource inputSound;
};
