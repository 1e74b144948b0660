// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/read_cursor.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>

ReadCursor::ReadCursor(Waker& w, std::function<void(uint32_t)> s, std::function<bool()> running)
    : waker(w), sleep(std::move(s)), decoderRunning(std::move(running)) {}

bool ReadCursor::Allocate(uint32_t blockSize, uint32_t ringSize, uint32_t poolSize) {
  if (!ring.Allocate(blockSize, ringSize)) return false;
  if (!pool.Allocate(blockSize, poolSize)) {
    ring.Free();
    return false;
  }
  // Three transit buffers in one allocation, one every blockSize + 2 bytes: the
  // staged slot's, the current block's and the decoder's.
  transit.reset(new (std::nothrow) uint8_t[3 * blockSize + 16]());
  if (!transit) {
    pool.Free();
    ring.Free();
    return false;
  }
  staged.header.lpData = transit.get();
  current.data = transit.get() + (blockSize + 2);
  request.data = transit.get() + 2 * (blockSize + 2);
  request.capacity = blockSize;
  return true;
}

void ReadCursor::Release() {
  ring.Free();
  pool.Free();
  transit.reset();
  staged.header.lpData = nullptr;
  current.data = nullptr;
  request.data = nullptr;
}

void ReadCursor::Order(uint32_t value) {
  uint32_t old = control.load();
  while (!(old & (DEC_QUIT | DEC_QUIT_DONE)) && !control.compare_exchange_weak(old, value)) {
  }
  waker.Notify();
}

void ReadCursor::StopDecoder() {
  uint32_t old = control.load();
  // A decoder that is quitting, or has quit, is never told anything else.
  if (old != 0 && !(old & (DEC_QUIT | DEC_QUIT_DONE)))
    control.compare_exchange_strong(old, DEC_RESET);
  waker.Notify();
  // The decoder answers within one of its passes, a reset with 0 and a quit with
  // DEC_QUIT_DONE; until then it may still be reading.
  for (;;) {
    const uint32_t now = control.load(std::memory_order_acquire);
    if (now == 0 || now == DEC_QUIT_DONE) break;
    const bool running = decoderRunning();
    if ((now & DEC_QUIT) && !running) break;
    if (!running && now == DEC_RESET) {
      control.store(0);
      break;
    }
    sleep(20);
  }
}

void ReadCursor::Run() {
  if (limitPosition.load() == 0 && stopSource) {
    limitPosition = stopSource(request.position);
    exactLimit = limitPosition.load() != 0;
  }
  Order(DEC_RUN);
}

void ReadCursor::Stop(WaveOut* out) {
  StopDecoder();
  firstBlockWakes = true;
  gapLeft = 0;
  if (gapBlock) request.position = resumePosition;
  gapBlock = false;
  gapSounding = false;
  // A staged block, the ring and whatever the device still holds belong to the old place.
  haveStaged = false;
  ring.Clear();
  pool.ResetDevice(out);
  pool.Reset();
}

void ReadCursor::MoveTo(uint32_t position, uint32_t limit, WaveOut* out, bool exact) {
  Stop(out);
  // The limit goes before the decoder runs, so that its first read cannot meet
  // the old limit and end the item.
  limitPosition = limit;
  exactLimit = exact;
  request.position = position;
  request.seekRequested = 1;
}

void ReadCursor::RestartAt(uint32_t position, uint32_t limit, WaveOut* out) {
  MoveTo(position, limit, out);
  Run();
}

void ReadCursor::AtStart(WaveOut* out) {
  Stop(out);
  limitPosition = 0;
  request.position = 0;
  request.nextPosition = 0;
  request.bytesRead = 0;
  request.seekRequested = 0;
}

void ReadCursor::ReadAgainFrom(uint32_t position) {
  request.position = position;
  request.seekRequested = 1;
  Run();
}

bool ReadCursor::StopAtHeard(WaveOut* out, uint32_t frameBytes, uint32_t* heard) {
  uint32_t position;
  // Read before the device is reset: the reset hands back buffers never heard.
  if (!LastPlayed(&position)) return false;
  // The decoder is far past what was heard: left running it would meet the new
  // limit. A seek or a sample split between channels would shift every later
  // sample, so the limit is a whole frame.
  Stop(out);
  if (frameBytes > 1) position -= position % frameBytes;
  limitPosition = position;
  *heard = position;
  waker.Notify();
  return true;
}

int32_t ReadCursor::ReadBlock(CodecServer* codec) {
  if (gapLeft > 0 && request.data != nullptr && request.capacity > 0) {
    const uint32_t n = std::min(gapLeft, request.capacity);
    std::memset(request.data, 0, n);
    gapLeft -= n;
    gapBlock = true;
    resumePosition = request.position;
    request.bytesRead = n;
    request.position = gapAt;
    request.nextPosition = gapAt;
    return kReadFilled;
  }
  const uint32_t limit = limitPosition.load();
  const int32_t result = codec->Read(&request, limit);
  if (result == kReadFilled && limit != 0 && exactLimit.load() && request.nextPosition > limit) {
    request.bytesRead = limit - request.position;
    request.nextPosition = limit;
    // The codec read past the limit: reading on from it needs a seek.
    request.seekRequested = 1;
  }
  return result;
}

bool ReadCursor::Feed(WaveOut* out) {
  if (!haveStaged) {
    // An empty ring is waited for while the decoder runs; the wait ends when a
    // block arrives, and that block is taken at once.
    bool took = ring.Take(&current);
    if (!took && (control.load() & DEC_RUN)) {
      sleep(20);
      took = ring.Take(&current);
    }
    if (took) {
      // The decoder waits for room only when the ring was full.
      if (ring.Count() + 1 >= ring.Capacity()) waker.Notify(Waker::kDecoder);
      staged.position.store(current.position, std::memory_order_relaxed);
      staged.nextPosition.store(current.nextPosition, std::memory_order_relaxed);
      staged.silenceRatio.store(current.silenceRatio, std::memory_order_relaxed);
      staged.gap.store(current.gap, std::memory_order_relaxed);
      std::swap(staged.header.lpData, current.data);
      staged.header.dwBufferLength = current.bytes;
      staged.header.dwFlags.store(0, std::memory_order_relaxed);
      haveStaged = true;
    }
  }
  if (haveStaged && pool.Add(&staged, out)) haveStaged = false;
  return pool.SendNext(out) == 1;
}

bool ReadCursor::Idle() const {
  return control.load() == 0 && ring.Empty();
}

bool ReadCursor::NothingMore() const {
  return Idle() && !haveStaged.load();
}

bool ReadCursor::AwaitingDecoder() const {
  return (control.load() & DEC_RUN) && ring.Empty() && !haveStaged.load();
}

bool ReadCursor::AllPlayed() const {
  return pool.AllDone() && !haveStaged.load();
}

bool ReadCursor::LastPlayed(uint32_t* position) const {
  uint32_t next;
  float ratio;
  return pool.LastPlayed(position, &next, &ratio);
}

void ReadCursor::OrderQuit() {
  control.store(DEC_QUIT, std::memory_order_release);
  waker.Notify();
}

bool ReadCursor::PassOn(float silenceRatio) {
  if (!ring.Push(&request, silenceRatio, gapBlock)) return false;
  // The first block after a stop goes on at once (the first sound), the rest
  // in batches: filling the ring and the device is then not a wake of the
  // engine for every block. (A device running short wakes it by itself.)
  const uint32_t count = ring.Count();
  if ((count == 1 && firstBlockWakes.exchange(false)) || count % kBlocksPerWake == 0)
    waker.Notify(Waker::kEngine);
  request.position = gapBlock ? resumePosition : request.nextPosition;
  gapBlock = false;
  return true;
}

void ReadCursor::ReadToEnd(uint32_t seen) {
  // Only a run order goes idle, and only while it stands: a reset or quit
  // posted meanwhile is never overwritten.
  if (seen == DEC_RUN && control.compare_exchange_strong(seen, 0)) waker.Notify(Waker::kEngine);
}

void ReadCursor::Refuse(uint32_t seen) {
  control.compare_exchange_strong(seen, seen == DEC_QUIT ? DEC_QUIT : DEC_RESET);
}

bool ReadCursor::AnswerReset() {
  uint32_t now = DEC_RESET;
  // StopDecoder waits for this answer.
  if (!control.compare_exchange_strong(now, 0)) return false;
  waker.Notify(Waker::kEngine);
  return true;
}

void ReadCursor::AnswerQuit() {
  control.store(DEC_QUIT_DONE, std::memory_order_release);
  waker.Notify(Waker::kEngine);
}
