// SPDX-License-Identifier: GPL-3.0-or-later
#include "audio/sdl_wave_out.h"

#include <algorithm>

#include "audio/sdl_audio.h"

SdlWaveOut::~SdlWaveOut() {
  Reset();
  Close();
}

bool SdlWaveOut::OpenBackend(std::string* error) {
  device = OpenSdlDevice(format, false, error);
  if (device == 0) return false;
  // About 100 ms of sound, a whole number of frames: ample between 20 ms polls.
  SetLead(std::max<uint32_t>(format.nAvgBytesPerSec / 10 / format.nBlockAlign, 64) *
          format.nBlockAlign);
  SDL_PauseAudioDevice(device, 0);
  return true;
}

void SdlWaveOut::CloseBackend() {
  if (device != 0) SDL_CloseAudioDevice(device);
  device = 0;
}

void SdlWaveOut::ResetBackend() {
  WaveOut::ResetBackend();
  SDL_ClearQueuedAudio(device);
  Forget();
}

void SdlWaveOut::PauseBackend(bool pause) {
  SDL_PauseAudioDevice(device, pause ? 1 : 0);
}

uint32_t SdlWaveOut::Room() {
  const uint32_t queued = SDL_GetQueuedAudioSize(device);
  return queued < lead ? lead - queued : 0;
}
