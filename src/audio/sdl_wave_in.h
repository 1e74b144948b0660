// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <SDL2/SDL.h>

#include "audio/wave_in.h"

// Records through an SDL capture device.
class SdlWaveIn : public WaveIn {
 public:
  SdlWaveIn() = default;
  ~SdlWaveIn() override;

 protected:
  bool OpenBackend(std::string* error) override;
  void CloseBackend() override;
  void Service(std::unique_lock<std::mutex>& lock) override;
  void ResetBackend() override;
  void StartBackend(bool start) override;

 private:
  SDL_AudioDeviceID device = 0;
};
