// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/decode_thread.h"

#include <pthread.h>

#include "dsp/silence_meter.h"
#include "engine/engine_core.h"

void DecodeThread::Start() {
  if (thread.joinable()) return;
  blockHeld = false;
  silenceRatio = SilenceRing::kUnmeasured;
  ended = false;
  thread = std::thread([this] {
    pthread_setname_np(pthread_self(), "decode");
    Run();
    ended = true;
  });
}

void DecodeThread::Join() {
  if (thread.joinable()) thread.join();
}

void DecodeThread::Run() {
  for (;;) {
    const uint32_t seen = cursor.Order();
    if (seen & DEC_QUIT) break;
    if (seen != 0) Step(seen);
    if (cursor.Order() == DEC_RESET) {
      blockHeld = false;
      cursor.AnswerReset();
    }
    // Idle until an order comes, which wakes it.
    if (cursor.Order() == 0) engine.DecodeSleep(1000);
    if (cursor.Order() & DEC_QUIT) break;
  }
  cursor.AnswerQuit();
}

void DecodeThread::Step(uint32_t seen) {
  EngineCore& e = engine;
  // Published before the run order; the engine changes it only with the decoder stopped.
  CodecServer* codec = e.codec.load(std::memory_order_acquire);
  if (codec == nullptr) {
    cursor.Refuse(seen);
    return;
  }
  if (!blockHeld) {
    const int32_t read = cursor.ReadBlock(codec);
    const uint32_t length = codec->GetLength();
    if (length != 0xFFFFFFFFu && e.readingItem.load()) e.fileLength.store(length);
    if (read != kReadFilled) {
      silenceRatio = SilenceRing::kUnmeasured;
      cursor.ReadToEnd(seen);
      e.DecodeSleep(10);
      return;
    }
    if (!e.soundDecoded.exchange(true)) e.itemsHeard.fetch_add(1);
    // playFormat is the engine thread's, read here under the stop handshake:
    // the engine changes it only while this thread is stopped.
    if (e.autoMode.load() && !e.sentencePending.load() && (e.engineFlags.load() & ENG_PLAYING) &&
        !cursor.GapBlock()) {
      const CodecBlock& block = cursor.Block();
      silenceRatio = MeasureSilence(block.data, block.bytesRead, e.playFormat.wBitsPerSample,
                                    e.samplePercent, e.verticalPrecision.load());
    }
    blockHeld = true;
  }
  if (cursor.PassOn(silenceRatio)) {
    blockHeld = false;
    silenceRatio = SilenceRing::kUnmeasured;
  } else {
    // Ring full: offer the same block again once the engine has taken one
    // (which wakes this sleep), or after a while at the latest.
    e.DecodeSleep(2000);
  }
}
