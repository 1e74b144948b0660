// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "audio/wave_device.h"

// A sound input device: buffers added to it are filled in order once Start has
// been called; each filled buffer is marked done, its dwBytesRecorded set, and
// reported with MM_WIM_DATA. Reset returns the rest with what they hold so far.
class WaveIn : public WaveDevice {
 public:
  bool AddBuffer(WaveHdr* header) {
    if (header == nullptr) return false;
    header->dwBytesRecorded = 0;
    return Enqueue(header);
  }
  bool Start();
  bool Stop();

 protected:
  virtual void StartBackend(bool /*start*/) {}
  const char* ThreadName() const override { return "wave-in"; }
  bool started = false;  // guarded by mutex
};
