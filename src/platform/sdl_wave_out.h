#pragma once

#include <SDL2/SDL.h>

#include <vector>

#include "platform/wave_out.h"

// Plays through an SDL audio device. Only a short lead of sound is handed to SDL
// ahead of time, so a buffer is reported done close to when it was heard, and
// pause and reset take effect at once.
class SdlWaveOut : public WaveOut {
 public:
  SdlWaveOut() = default;
  ~SdlWaveOut() override;

 protected:
  bool OpenBackend(std::string* error) override;
  void CloseBackend() override;
  void Service(std::unique_lock<std::mutex>& lock) override;
  void ResetBackend() override;
  void PauseBackend(bool pause) override;
  std::chrono::milliseconds PollInterval() const override { return std::chrono::milliseconds(20); }

 private:
  // Stretching: SDL gets the stretcher's output, and a buffer finishes once
  // SDL has played all of its stretched sound.
  void ServiceStretched(std::unique_lock<std::mutex>& lock);
  // Hands count bytes to SDL with the volume applied (offset: see ApplyVolume).
  void Push(const uint8_t* data, uint32_t count, uint32_t offset);

  SDL_AudioDeviceID device = 0;
  uint32_t lead = 0;           // bytes SDL may hold ahead
  WaveHdr* pushing = nullptr;  // buffer being handed to SDL; null: look for the next one
  uint32_t pushOffset = 0;     // bytes of it handed over
  uint32_t handed = 0;         // queued buffers, from the front, handed to SDL whole
  uint64_t pushedTotal = 0;    // bytes handed to SDL since the last reset
  uint64_t finishedTotal = 0;  // bytes of the buffers finished since the last reset
  std::vector<uint8_t> scratch;
  std::vector<uint8_t> stretched;
};
