// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <thread>

#include "engine/thread_join.h"

class EngineCore;
class ReadCursor;

// Reads the open item's codec ahead in 5000-byte blocks, measures how quiet each
// block is, and hands the blocks to the engine thread through the BlockRing.
// Steered by the read cursor's orders.
class DecodeThread {
 public:
  DecodeThread(EngineCore& engine, ReadCursor& cursor) : engine(engine), cursor(cursor) {}
  ~DecodeThread() { Join(); }
  DecodeThread(const DecodeThread&) = delete;
  DecodeThread& operator=(const DecodeThread&) = delete;

  void Start();
  // Waits for the thread to end (it ends on DEC_QUIT).
  void Join();
  // Joins the thread if it ends within limit; otherwise leaves it running
  // (detached) and returns false.
  bool JoinWithin(std::chrono::milliseconds limit) {
    return JoinThreadWithin(thread, ended, limit);
  }
  bool Running() const { return thread.joinable(); }

 private:
  void Run();
  // One read and hand-over under the order seen.
  void Step(uint32_t seen);

  EngineCore& engine;
  ReadCursor& cursor;
  std::thread thread;
  std::atomic<bool> ended{false};
  bool blockHeld = false;
  float silenceRatio = 0;
};
