// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>

#include "codec/codec_server.h"

// A decoded block with where it lies in the item and how quiet it is.
struct PcmBlock {
  uint8_t* data = nullptr;
  uint32_t bytes = 0;
  uint32_t position = 0;
  uint32_t nextPosition = 0;
  float silenceRatio = 0;
  bool gap = false;  // silence between plays, not the sound's own
};

// Decoded blocks on their way from the decode thread to the engine thread.
// Blocks change hands by exchanging data pointers; the lock is held for one
// record operation at a time.
class BlockRing {
 public:
  bool Allocate(uint32_t blockSize, uint32_t capacity);
  void Free();

  // Stores the request's block, taking its buffer and giving it an empty one.
  // False when the ring is full.
  bool Push(CodecBlock* request, float silenceRatio, bool gap = false);
  // Moves the oldest block into current, which gives up its buffer in exchange.
  // False when the ring is empty.
  bool Take(PcmBlock* current);
  void Clear();

  bool Empty() const;
  uint32_t Count() const;
  uint32_t Capacity() const { return capacity; }

 private:
  mutable std::mutex lock;
  std::unique_ptr<PcmBlock[]> records;
  std::unique_ptr<uint8_t[]> memory;
  uint32_t capacity = 0;
  uint32_t readIndex = 0;
  uint32_t writeIndex = 0;
  uint32_t blockSize = 0;
};
