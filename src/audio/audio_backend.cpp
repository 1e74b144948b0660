// SPDX-License-Identifier: GPL-3.0-or-later
#include "audio/audio_backend.h"

#include <cstdlib>

#include "audio/offline_wave_in.h"
#include "audio/offline_wave_out.h"
#include "audio/pulse_link.h"
#include "audio/pulse_wave_in.h"
#include "audio/pulse_wave_out.h"
#include "audio/sdl_wave_in.h"
#include "audio/sdl_wave_out.h"

AudioBackend::AudioBackend(Kind kind) : backendKind(kind) {
  if (kind != Kind::kSystem) return;
  // An SDL driver named in the environment is a choice of SDL.
  const char* driver = std::getenv("SDL_AUDIODRIVER");
  const bool sdlChosen = driver != nullptr && *driver != '\0';
  backendKind = !sdlChosen && PulseLink::ServerAnswers() ? Kind::kPulse : Kind::kSdl;
}

bool AudioBackend::ParseKind(const std::string& text, Kind* kind) {
  if (text == "system") {
    *kind = Kind::kSystem;
  } else if (text == "pulse") {
    *kind = Kind::kPulse;
  } else if (text == "sdl") {
    *kind = Kind::kSdl;
  } else if (text == "offline") {
    *kind = Kind::kOffline;
  } else {
    return false;
  }
  return true;
}

bool AudioBackend::SetWavSink(const std::string& path, std::string* error,
                              const WavFileWriter::Options& options) {
  return wavSink.Create(path, error, options);
}

bool AudioBackend::SetInputFile(const std::string& path, std::string* error) {
  return inputSound.Load(path, error);
}

std::unique_ptr<WaveOut> AudioBackend::CreateWaveOut() {
  if (backendKind == Kind::kOffline) {
    return std::make_unique<OfflineWaveOut>(&offlineClock, wavSink.IsOpen() ? &wavSink : nullptr,
                                            &offlineFaults);
  }
  if (backendKind == Kind::kPulse) return std::make_unique<PulseWaveOut>();
  return std::make_unique<SdlWaveOut>();
}

std::unique_ptr<WaveIn> AudioBackend::CreateWaveIn() {
  if (backendKind == Kind::kOffline) {
    return std::make_unique<OfflineWaveIn>(
        &offlineClock, inputSound.Loaded() ? &inputSound : nullptr, &offlineFaults);
  }
  if (backendKind == Kind::kPulse) return std::make_unique<PulseWaveIn>();
  return std::make_unique<SdlWaveIn>();
}
