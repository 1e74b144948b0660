#pragma once

#include <atomic>
#include <vector>

#include "platform/wave_device.h"

// A sound output device: buffers written to it are played in order; each
// finished buffer is marked done and reported with MM_WOM_DONE.
class WaveOut : public WaveDevice {
 public:
  bool Write(WaveHdr* header) { return Enqueue(header); }
  bool Pause();
  bool Restart();
  bool Paused() const;
  // Low word left, high word right; 0xFFFF is full level.
  bool SetVolume(uint32_t volume);
  uint32_t Volume() const { return volume.load(); }

 protected:
  // Copies count bytes of sound to out with the volume applied; offset is where
  // in its buffer the first byte lies, so that channels are told apart. 8- and
  // 16-bit samples are scaled; other widths pass unchanged.
  void ApplyVolume(const uint8_t* in, uint8_t* out, uint32_t count, uint32_t offset) const;
  virtual void PauseBackend(bool /*pause*/) {}
  const char* ThreadName() const override { return "wave-out"; }

  bool paused = false;  // guarded by mutex

 private:
  std::atomic<uint32_t> volume{0xFFFFFFFFu};
};
