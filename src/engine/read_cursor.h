// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

#include "audio/wave_in.h"
#include "audio/wave_out.h"
#include "codec/codec_server.h"
#include "engine/block_ring.h"
#include "engine/waker.h"
#include "engine/wave_buffer_pool.h"

// decodeControl: the engine thread's orders to the decode thread and its answers.
constexpr uint32_t DEC_RUN = 1;
constexpr uint32_t DEC_QUIT = 2;
constexpr uint32_t DEC_RESET = 4;
constexpr uint32_t DEC_QUIT_DONE = 8;

// Where the sound comes from and where it goes: the decoder's read request and
// limit, the blocks on their way from the decode thread, the block staged for
// the pool, and the pool's hand-over to the output device. Every start of a
// mode, seek, speed change and item open moves the read through the operations
// here, in one order: stop the decoder, drop the staged block, clear the ring,
// take every buffer back from the device, empty the pool, set the position and
// the limit, run the decoder.
//
// Threads: the engine thread calls everything but the decoder's side; the decode
// thread owns the request while the order is DEC_RUN and uses only the decoder's
// side; device callbacks read and mark slots of Slots(); Shutdown may order a quit.
class ReadCursor {
 public:
  static constexpr uint32_t kBlocksPerWake = 32;

  // sleep: the engine thread's own wait (cut short by its events);
  // decoderRunning: whether a decode thread exists to answer orders.
  ReadCursor(Waker& waker, std::function<void(uint32_t)> sleep,
             std::function<bool()> decoderRunning);

  // All buffers, once; false (nothing kept) when they cannot be had.
  bool Allocate(uint32_t blockSize, uint32_t ringSize, uint32_t poolSize);
  void Release();

  // ---- engine thread ----
  // Stops the decoder and waits until it has answered (a quitting decoder is
  // left to quit): afterwards nothing reads the codec or the request.
  void StopDecoder();
  // Lets the decoder read on from where the request stands. Without a limit,
  // the stop source (when set) gives one: reading stops at each sentence's end.
  void Run();
  void SetStopSource(std::function<uint32_t(uint32_t position)> source) {
    stopSource = std::move(source);
  }
  // Where the next read starts.
  uint32_t ReadPosition() const { return request.position; }
  // Stops everything: the decoder, the staged block, the ring, the device's
  // queue (every buffer back) and the pool. Position and limit stay.
  void Stop(WaveOut* out);
  // Stop, then the read is set to position with limit (0: none). The decoder
  // stays stopped until Run, so that the caller may first set the mode it reads for.
  // An exact limit cuts the block that holds it (a transcript's sentence ends
  // where its line ends); otherwise that block is played whole.
  void MoveTo(uint32_t position, uint32_t limit, WaveOut* out, bool exact = false);
  // MoveTo and Run.
  void RestartAt(uint32_t position, uint32_t limit, WaveOut* out);
  // A sound was just opened: Stop, then the next read is its first block, no
  // limit. The decoder stays stopped.
  void AtStart(WaveOut* out);
  // The decoder has read to its limit and the ring is drained, while the device
  // may still play: the next play is read from position, with the same limit.
  void ReadAgainFrom(uint32_t position);
  // Stops at what the learner heard last: the limit becomes the start of the
  // last buffer the device finished (rounded down to frameBytes), and
  // everything after it is dropped. False, stopping nothing, when no buffer
  // has finished since the pool was last emptied.
  bool StopAtHeard(WaveOut* out, uint32_t frameBytes, uint32_t* heard);
  // Before the next read (with the decoder stopped or idle): bytes of silence
  // handed on first, all shown at position at (the learner's turn after a
  // play). Stop drops it.
  void SetGap(uint32_t bytes, uint32_t at) {
    gapLeft = bytes;
    gapAt = at;
  }
  // Sets the limit; a value other than 0 only while the decoder is stopped.
  void SetLimit(uint32_t limit) {
    limitPosition.store(limit);
    exactLimit = false;
  }
  // Takes every buffer back from device (reset), leaving the rest as it is.
  void ReturnBuffers(WaveDevice* device) { pool.ResetDevice(device); }
  // Moves one block from the ring into the pool and writes the next slot to
  // the device; true when a slot was written.
  bool Feed(WaveOut* out);
  // The pool's slots, zeroed, all queued at the input device to record into
  // (after Stop: a slot is never queued at two devices).
  bool LendToInput(WaveIn* in) { return pool.QueueAllForInput(in); }

  // ---- what the engine thread asks ----
  uint32_t Limit() const { return limitPosition.load(); }
  // The decoder has stopped and the ring is empty: nothing more will come.
  bool Idle() const;
  // Idle, and no block waits to go to the pool (any thread: the pacer asks).
  bool NothingMore() const;
  // The decoder runs but nothing waits for the pool yet: its next batch of
  // blocks wakes the engine (any thread: the output's callback asks).
  bool AwaitingDecoder() const;
  // Nothing waits for the pool or is queued at the device.
  bool AllPlayed() const;
  bool LastPlayed(uint32_t* position) const;
  // The slots as the devices see them: the callbacks read and mark them, the
  // recording reads the ones the input filled. Only the cursor empties,
  // fills or queues them for output.
  WaveBufferPool& Slots() { return pool; }

  // ---- shut-down (any thread) ----
  void OrderQuit();
  bool DecoderQuit() const { return control.load() == DEC_QUIT_DONE; }

  // ---- the decode thread's side ----
  uint32_t Order() const { return control.load(std::memory_order_acquire); }
  // Reads the next block into the request (the codec's own return value); a
  // gap set goes first, as blocks of silence.
  int32_t ReadBlock(CodecServer* codec);
  // The block read is silence of a gap.
  bool GapBlock() const { return gapBlock; }
  // Device callbacks: the slot now sounding; whether it is a gap's (until Stop).
  void NoteSounding(const WaveSlot& slot) {
    gapSounding.store(slot.gap.load(std::memory_order_relaxed));
  }
  bool GapSounding() const { return gapSounding.load(); }
  const CodecBlock& Block() const { return request; }
  // Hands the block read to the engine thread; false when the ring is full.
  bool PassOn(float silenceRatio);
  // The decoder found nothing (more) to read: a run order it saw goes idle.
  void ReadToEnd(uint32_t seen);
  // No codec to read: a run order it saw becomes a reset.
  void Refuse(uint32_t seen);
  // Answers a reset order; true when one was answered.
  bool AnswerReset();
  void AnswerQuit();

 private:
  std::atomic<bool> firstBlockWakes{true};  // see PassOn
  friend class EngineTestAccess;

  // Stores an order, leaving DEC_QUIT and DEC_QUIT_DONE standing.
  void Order(uint32_t value);

  Waker& waker;
  std::function<void(uint32_t)> sleep;
  std::function<bool()> decoderRunning;
  std::function<uint32_t(uint32_t)> stopSource;  // engine thread only

  // Stored by the engine thread (orders), by OrderQuit, and by the decode
  // thread (its answers: 0 when idle, DEC_QUIT_DONE).
  std::atomic<uint32_t> control{0};
  // The decoder's request: the decode thread's while the order is DEC_RUN; the
  // engine thread sets it only while the decoder is stopped.
  CodecBlock request{nullptr, 0, 0, 0, 0, 0};
  // The read limit (B): stored while the decoder is stopped, or 0 at any time.
  std::atomic<uint32_t> limitPosition{0};
  std::atomic<bool> exactLimit{false};
  // The gap still to hand on, and where it is shown: the engine thread's
  // while the decoder is stopped or idle, then the decode thread's.
  uint32_t gapLeft = 0;
  uint32_t gapAt = 0;
  bool gapBlock = false;  // decode thread: the request holds gap silence
  std::atomic<bool> gapSounding{false};
  uint32_t resumePosition = 0;  // decode thread: where reading goes on after it
  BlockRing ring;
  // Engine thread only: the block taken from the ring and the slot staged for
  // the pool (haveStaged is atomic so that the offline pacer may read it).
  PcmBlock current;
  WaveSlot staged;
  std::atomic<bool> haveStaged{false};
  WaveBufferPool pool;
  std::unique_ptr<uint8_t[]> transit;
};
