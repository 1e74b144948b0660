// SPDX-License-Identifier: GPL-3.0-or-later
#include "audio/wave_in.h"

bool WaveIn::Start() {
  if (!IsOpen()) return false;
  {
    std::lock_guard<std::mutex> lock(mutex);
    started = true;
    StartBackend(true);
  }
  Poke();
  return true;
}

bool WaveIn::Stop() {
  if (!IsOpen()) return false;
  std::lock_guard<std::mutex> lock(mutex);
  started = false;
  StartBackend(false);
  return true;
}
