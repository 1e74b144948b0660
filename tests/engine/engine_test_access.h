// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <utility>

#include "engine/engine.h"
#include "engine/engine_core.h"

// The one door through which tests (and benchmarks of the engine's inner
// loops) reach past the engine's public face: its fields and the operations
// of its own threads. A check written with Inside(engine) is a check of the
// inside, not of what the window or kestro-cli can see.
class EngineTestAccess {
 public:
  explicit EngineTestAccess(Engine& engine) : e(*engine.core) {}

  auto& autoMode() { return e.autoMode; }
  auto& codec() { return e.codec; }
  auto& cursor() { return e.cursor; }
  // The cursor's ring and the block the engine took last (benchmarks take
  // blocks as fast as the decoder gives them).
  auto& blockRing() { return e.cursor.ring; }
  auto& currentBlock() { return e.cursor.current; }
  auto& engineFlags() { return e.engineFlags; }
  auto& flagsSeen() { return e.flagsSeen; }
  auto& fileLength() { return e.fileLength; }
  auto& listFinished() { return e.listFinished; }
  auto& playlistIndex() { return e.playlistIndex; }
  auto& seekTarget() { return e.seekTarget; }
  auto& sentencePending() { return e.sentencePending; }
  auto& silenceRing() { return e.silenceRing; }
  auto& stopAtListEnd() { return e.stopAtListEnd; }
  auto& view() { return e.view; }
  auto& waker() { return e.waker; }
  auto& waveOut() { return e.waveOut; }
  auto& windowBlocks() { return e.windowBlocks; }

  template <typename... A>
  auto OnWaveOutDone(A&&... a) {
    return e.OnWaveOutDone(std::forward<A>(a)...);
  }
  template <typename... A>
  auto OpenItem(A&&... a) {
    return e.OpenItem(std::forward<A>(a)...);
  }
  template <typename... A>
  auto Post(A&&... a) {
    return e.Post(std::forward<A>(a)...);
  }
  template <typename... A>
  auto Sleep(A&&... a) {
    return e.Sleep(std::forward<A>(a)...);
  }
  template <typename... A>
  auto StartDecodeThread(A&&... a) {
    return e.StartDecodeThread(std::forward<A>(a)...);
  }
  template <typename... A>
  auto StopDecodeThread(A&&... a) {
    return e.StopDecodeThread(std::forward<A>(a)...);
  }
  template <typename... A>
  auto StoreFlags(A&&... a) {
    return e.StoreFlags(std::forward<A>(a)...);
  }

 private:
  EngineCore& e;
};

inline EngineTestAccess Inside(Engine& engine) {
  return EngineTestAccess(engine);
}
