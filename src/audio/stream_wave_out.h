// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <chrono>
#include <cstdint>
#include <vector>

#include "audio/wave_out.h"

// An output device that hands sound ahead to a system stream (SDL's queue, a
// PulseAudio stream) and reports a buffer done once the stream has played all
// of it. Backends say how much the stream holds ahead and takes now.
class StreamWaveOut : public WaveOut {
 protected:
  // Sets how much sound the stream may hold ahead: bytes, whole frames.
  void SetLead(uint32_t bytes);
  // Forgets what was handed over (after the stream dropped it).
  void Forget();

  void Service(std::unique_lock<std::mutex>& lock) override;
  // Playing, at the service interval; paused or with nothing queued, only to
  // notice a stream that went away (Enqueue, Restart and Reset wake the
  // thread at once).
  std::chrono::milliseconds PollInterval() const override {
    return std::chrono::milliseconds(paused || !HasQueued() ? 2000 : ServiceInterval());
  }
  // Whether sound goes over half the lead at a time (each hand-over costs the
  // sound server's client a wake) rather than topping the stream up.
  virtual bool HandsOverInHalves() const { return false; }
  // The stream holds less than half the lead and everything queued is handed
  // over (playing starts, the engine is late): a new buffer goes over at once.
  bool WantsBuffers() const override { return hungry && !paused; }

  // Bytes handed over since the last Forget that are not played yet.
  virtual uint32_t Ahead() = 0;
  // Bytes the stream takes now.
  virtual uint32_t Room() = 0;
  // Hands count bytes (volume applied) to the stream.
  virtual void Hand(const uint8_t* data, uint32_t count) = 0;
  // Everything queued has been handed over (the end of an item, or the
  // engine running late): the stream may have to be told to play it out.
  virtual void AllHanded() {}
  // The stream can no longer play (the server went away, the device was
  // unplugged); checked on every service.
  virtual bool StreamGone() = 0;
  // Whether sound that stops being played for a second tells of a device that
  // hangs: for a backend that cannot ask its server whether it still answers.
  // A busy or waking server stalls its clock too, so those that can ask say no.
  virtual bool StallMeansLost() const { return true; }

  uint32_t lead = 0;

 private:
  void ServiceStretched(std::unique_lock<std::mutex>& lock, uint64_t played);
  // Sound waiting and none played for a second while not paused: the stream
  // hangs (a server that stopped answering, a device that stopped taking sound).
  bool Stalled(uint64_t played);
  // Stages count bytes with the volume applied (offset: see ApplyVolume), at
  // most the lead in a service; HandStaged hands them over.
  void Push(const uint8_t* data, uint32_t count, uint32_t offset);
  void HandStaged();

  WaveHdr* pushing = nullptr;  // buffer being handed over; null: look for the next one
  uint32_t pushOffset = 0;     // bytes of it handed over
  uint32_t handed = 0;         // queued buffers, from the front, handed over whole
  uint64_t pushedTotal = 0;    // bytes handed over since the last Forget
  uint64_t finishedTotal = 0;  // bytes of the buffers finished since the last Forget
  uint64_t lastPlayed = 0;     // played, as Stalled last saw it
  bool hungry = true;          // see WantsBuffers
  uint32_t staged = 0;         // bytes of scratch staged
  std::chrono::steady_clock::time_point playedSince{};
  std::vector<uint8_t> scratch;
  std::vector<uint8_t> stretched;
};
