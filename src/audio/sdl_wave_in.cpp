// SPDX-License-Identifier: GPL-3.0-or-later
#include "audio/sdl_wave_in.h"

#include "audio/sdl_audio.h"

SdlWaveIn::~SdlWaveIn() {
  Reset();
  Close();
}

bool SdlWaveIn::OpenBackend(std::string* error) {
  device = OpenSdlDevice(format, true, error);
  return device != 0;  // opened paused: nothing is captured before Start
}

void SdlWaveIn::CloseBackend() {
  if (device != 0) SDL_CloseAudioDevice(device);
  device = 0;
}

void SdlWaveIn::StartBackend(bool start) {
  SDL_PauseAudioDevice(device, start ? 0 : 1);
}

void SdlWaveIn::ResetBackend() {
  SDL_PauseAudioDevice(device, 1);
  // What was captured but not yet taken goes into the buffers still queued
  // (they come back with what they hold), so that ending a recording loses
  // none of the learner's last words.
  for (WaveHdr* h = Front(); h != nullptr; h = h->lpNext) {
    const uint32_t room = h->dwBufferLength - h->dwBytesRecorded;
    const Uint32 got =
        room > 0 ? SDL_DequeueAudio(device, h->lpData + h->dwBytesRecorded, room) : 0;
    h->dwBytesRecorded += got;
    if (got < room) break;
  }
  SDL_ClearQueuedAudio(device);
  started = false;
}

void SdlWaveIn::Service(std::unique_lock<std::mutex>& lock) {
  // SDL stops a device whose sound system went away; a device we paused is
  // SDL_AUDIO_PAUSED.
  if (started && !Lost() && SDL_GetAudioDeviceStatus(device) == SDL_AUDIO_STOPPED) MarkLost();
  while (started && HasQueued()) {
    WaveHdr* h = Front();
    const uint32_t room = h->dwBufferLength - h->dwBytesRecorded;
    if (room > 0) {
      const Uint32 got = SDL_DequeueAudio(device, h->lpData + h->dwBytesRecorded, room);
      h->dwBytesRecorded += got;
      if (got < room) break;
    }
    FinishFront(lock, MM_WIM_DATA);
  }
}
