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
  auto& buffersFinished() { return e.buffersFinished; }
  auto& codec() { return e.codec; }
  auto& cursor() { return e.cursor; }
  // The cursor's ring and the block the engine took last (benchmarks take
  // blocks as fast as the decoder gives them).
  auto& blockRing() { return e.cursor.ring; }
  auto& currentBlock() { return e.cursor.current; }
  auto& currentPath() { return e.currentPath; }
  auto& engineFlags() { return e.engineFlags; }
  auto& flagsSeen() { return e.flagsSeen; }
  auto& fileLength() { return e.fileLength; }
  auto& itemByteRate() { return e.itemByteRate; }
  auto& listFinished() { return e.listFinished; }
  auto& markRing() { return e.markRing; }
  auto& openRequest() { return e.openRequest; }
  auto& passes() { return e.passes; }
  auto& paused() { return e.paused; }
  auto& playFormat() { return e.playFormat; }
  auto& playlistIndex() { return e.playlistIndex; }
  auto& programDir() { return e.programDir; }
  auto& repeatCount() { return e.repeatCount; }
  auto& seekTarget() { return e.seekTarget; }
  auto& sentencePending() { return e.sentencePending; }
  auto& sentencesFound() { return e.sentencesFound; }
  auto& silenceRing() { return e.silenceRing; }
  auto& speedPosition() { return e.speedPosition; }
  auto& stopAtListEnd() { return e.stopAtListEnd; }
  auto& stopped() { return e.stopped; }
  auto& view() { return e.view; }
  auto& volumeValue() { return e.volumeValue; }
  auto& waker() { return e.waker; }
  auto& waveOut() { return e.waveOut; }
  auto& windowBlocks() { return e.windowBlocks; }
  auto& horizontalSeconds() { return e.horizontalSeconds; }
  auto& samplePercent() { return e.samplePercent; }
  auto& verticalPrecision() { return e.verticalPrecision; }

  template <typename... A>
  auto ApplyVolume(A&&... a) {
    return e.ApplyVolume(std::forward<A>(a)...);
  }
  template <typename... A>
  auto ChangeSpeed(A&&... a) {
    return e.ChangeSpeed(std::forward<A>(a)...);
  }
  template <typename... A>
  auto CloseOutput(A&&... a) {
    return e.CloseOutput(std::forward<A>(a)...);
  }
  template <typename... A>
  auto OnWaveOutDone(A&&... a) {
    return e.OnWaveOutDone(std::forward<A>(a)...);
  }
  template <typename... A>
  auto OpenInput(A&&... a) {
    return e.OpenInput(std::forward<A>(a)...);
  }
  template <typename... A>
  auto OpenItem(A&&... a) {
    return e.OpenItem(std::forward<A>(a)...);
  }
  template <typename... A>
  auto OpenItemAt(A&&... a) {
    return e.OpenItemAt(std::forward<A>(a)...);
  }
  template <typename... A>
  auto OpenNextItem(A&&... a) {
    return e.OpenNextItem(std::forward<A>(a)...);
  }
  template <typename... A>
  auto PauseOutput(A&&... a) {
    return e.PauseOutput(std::forward<A>(a)...);
  }
  template <typename... A>
  auto Post(A&&... a) {
    return e.Post(std::forward<A>(a)...);
  }
  template <typename... A>
  auto ReopenOutput(A&&... a) {
    return e.ReopenOutput(std::forward<A>(a)...);
  }
  template <typename... A>
  auto RestartOutput(A&&... a) {
    return e.RestartOutput(std::forward<A>(a)...);
  }
  template <typename... A>
  auto SeekTo(A&&... a) {
    return e.SeekTo(std::forward<A>(a)...);
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
