// SPDX-License-Identifier: GPL-3.0-or-later
#include "audio/sdl_audio.h"

#include <cstdlib>
#include <mutex>

bool InitSdlAudio(std::string* error) {
  static std::once_flag once;
  static bool ok = false;
  static std::string why;
  std::call_once(once, [] {
    ok = SDL_InitSubSystem(SDL_INIT_AUDIO) == 0;
    if (!ok) why = std::string("no sound system: ") + SDL_GetError();
    // Devices are closed before the program ends; SDL's own state goes then too.
    std::atexit(SDL_Quit);
  });
  if (!ok && error) *error = why;
  return ok;
}

SDL_AudioFormat SdlFormatOf(const WaveFormatEx& format) {
  if (format.wFormatTag != kWaveFormatPcm) return 0;
  switch (format.wBitsPerSample) {
    case 8:
      return AUDIO_U8;
    case 16:
      return AUDIO_S16LSB;
    case 32:
      return AUDIO_S32LSB;
    default:
      return 0;
  }
}

SDL_AudioDeviceID OpenSdlDevice(const WaveFormatEx& format, bool capture, std::string* error) {
  if (!InitSdlAudio(error)) return 0;
  SDL_AudioSpec want{};
  want.freq = static_cast<int>(format.nSamplesPerSec);
  want.format = SdlFormatOf(format);
  want.channels = static_cast<Uint8>(format.nChannels);
  if (want.format == 0 || format.nChannels == 0 || format.nChannels > 8) {
    if (error) *error = "the sound device cannot play this format";
    return 0;
  }
  // About 20 ms per device buffer: short enough that what is reported as played
  // is what the learner has just heard.
  Uint16 samples = 256;
  while (samples < 4096 && samples * 50u < format.nSamplesPerSec)
    samples *= 2;
  want.samples = samples;
  want.callback = nullptr;  // queue API
  SDL_AudioSpec have{};
  const SDL_AudioDeviceID id = SDL_OpenAudioDevice(nullptr, capture ? 1 : 0, &want, &have, 0);
  if (id == 0 && error) *error = std::string("cannot open the sound device: ") + SDL_GetError();
  return id;
}
