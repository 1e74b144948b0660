// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <SDL2/SDL.h>

#include "audio/stream_wave_out.h"

// Plays through an SDL audio device. Only a short lead of sound is handed to SDL
// ahead of time, so a buffer is reported done close to when it was heard, and
// pause and reset take effect at once.
class SdlWaveOut : public StreamWaveOut {
 public:
  SdlWaveOut() = default;
  ~SdlWaveOut() override;

 protected:
  bool OpenBackend(std::string* error) override;
  void CloseBackend() override;
  void ResetBackend() override;
  void PauseBackend(bool pause) override;
  uint32_t Ahead() override { return SDL_GetQueuedAudioSize(device); }
  uint32_t Room() override;
  // SDL's own queue is kept topped up from a short lead: it is looked at every
  // 20 ms while playing, whatever the engine asks.
  std::chrono::milliseconds PollInterval() const override {
    return std::chrono::milliseconds(paused || !HasQueued() ? 2000 : 20);
  }
  void Hand(const uint8_t* data, uint32_t count) override { SDL_QueueAudio(device, data, count); }
  // SDL stops a device whose sound system went away (it never stops one
  // itself otherwise: a pause is SDL_AUDIO_PAUSED).
  bool StreamGone() override { return SDL_GetAudioDeviceStatus(device) == SDL_AUDIO_STOPPED; }

 private:
  SDL_AudioDeviceID device = 0;
};
