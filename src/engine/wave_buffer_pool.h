// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "audio/wave_in.h"
#include "audio/wave_out.h"

// One buffer of the pool: the header the device gets, and where its sound lies
// in the item. The device callbacks read slots while the engine thread fills
// others, so the fields they read are atomic.
struct WaveSlot {
  WaveHdr header;
  std::atomic<uint32_t> position{0};
  std::atomic<uint32_t> nextPosition{0};
  std::atomic<float> silenceRatio{0};
  std::atomic<bool> gap{false};  // silence between plays (the learner's turn)
  uint32_t slotIndex = 0;
};

// The ring of sound buffers that the output device plays and the input device
// records into. Used by the engine thread alone; devices and callbacks only read it.
class WaveBufferPool {
 public:
  bool Allocate(uint32_t bufferSize, uint32_t count);
  void Free();

  // Moves the staged slot's sound into the next free slot by exchanging buffers.
  bool Add(WaveSlot* staged, WaveOut* out);
  // Writes the next filled slot to the device; 1 when one was written.
  int SendNext(WaveOut* out);
  // Nothing waits to be sent and nothing is queued at the device.
  bool AllDone() const;
  // The most recently played slot's place; false when none is known. A slot
  // that has been filled again since it played is still known, through the
  // device callback's NoteFinished.
  bool LastPlayed(uint32_t* position, uint32_t* nextPosition, float* silenceRatio) const;
  // The device finished slot (device callback thread).
  void NoteFinished(const WaveSlot& slot);
  // Resets the device (every queued slot comes back done) and unprepares the slots.
  void ResetDevice(WaveDevice* device);
  // Empties every slot; false, changing nothing, while any slot is still queued
  // at a device (its buffer belongs to the device until it comes back).
  bool Reset();
  // Readies every slot for recording (full length, nothing recorded, flags 0);
  // false, changing nothing, while any slot is still queued at a device.
  bool ResetLengths();
  // ResetLengths, then every slot zeroed, prepared and added to the input
  // device in index order. A slot is never queued at two devices: while the
  // output still holds one, this refuses and queues nothing.
  bool QueueAllForInput(WaveIn* in);
  // Some slot is queued at a device.
  bool AnyQueued() const;
  WaveSlot* SlotAt(uint32_t i);

  uint32_t Count() const { return count; }
  uint32_t BufferSize() const { return bufferSize; }
  uint32_t SendIndex() const { return sendIndex.load(); }
  uint32_t FillIndex() const { return fillIndex; }

 private:
  std::unique_ptr<WaveSlot[]> slots;
  std::unique_ptr<uint8_t[]> memory;
  // Read by the device callback to see how much is still queued.
  std::atomic<uint32_t> sendIndex{0};
  uint32_t fillIndex = 0;
  uint32_t count = 0;
  uint32_t bufferSize = 0;
  // The slot the device finished last, as it was then (0 positions: none since Reset).
  std::atomic<uint32_t> lastPosition{0};
  std::atomic<uint32_t> lastNext{0};
  std::atomic<float> lastRatio{0};
};
