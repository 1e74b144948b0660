#include "engine/decode_thread.h"

#include <pthread.h>

#include "engine/engine.h"
#include "engine/silence_meter.h"

void DecodeThread::Start() {
  if (thread.joinable()) return;
  blockHeld = false;
  silenceRatio = 0;
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
  Engine& e = engine;
  std::atomic<uint32_t>& control = e.decodeControl;
  for (;;) {
    uint32_t seen = control.load(std::memory_order_acquire);
    if (seen & DEC_QUIT) break;
    if (seen != 0) {
      CodecServer* codec = e.codec.load(std::memory_order_acquire);
      if (codec == nullptr) {
        control.compare_exchange_strong(seen, seen == DEC_QUIT ? DEC_QUIT : DEC_RESET);
      } else {
        bool ended = false;
        if (!blockHeld) {
          const int32_t r = codec->Read(&e.readRequest, e.sectionEnd.load());
          if (r != kReadFilled) {
            silenceRatio = 0;
            // Only a run order goes idle, and only while it stands: a reset or
            // quit posted meanwhile is never overwritten.
            if (seen == DEC_RUN && control.compare_exchange_strong(seen, 0)) {
              e.waker.Notify(Waker::kEngine);
            }
            e.DecodeSleep(10);
            ended = true;
          } else {
            if (!e.soundDecoded.exchange(true)) e.itemsHeard.fetch_add(1);
            if (e.autoMode.load() && !e.sentencePending.load() &&
                (e.engineFlags.load() & ENG_PLAYING)) {
              silenceRatio = MeasureSilence(e.readRequest.data, e.readRequest.bytesRead,
                                            e.playFormat.wBitsPerSample, e.samplePercent,
                                            e.verticalPrecision.load());
            }
            blockHeld = true;
          }
        }
        if (!ended && blockHeld) {
          if (!e.blockRing.Push(&e.readRequest, silenceRatio)) {
            // Ring full: offer the same block again once the engine has taken one
            // (which wakes this sleep), or after a while at the latest.
            e.DecodeSleep(50);
          } else {
            // The engine waits for blocks only when the ring was empty.
            if (e.blockRing.Count() == 1) e.waker.Notify(Waker::kEngine);
            e.readRequest.position = e.readRequest.nextPosition;
            blockHeld = false;
            silenceRatio = 0;
          }
        }
      }
    }
    uint32_t now = control.load(std::memory_order_acquire);
    if (now == DEC_RESET) {
      blockHeld = false;
      // StopDecoder waits for this answer.
      if (control.compare_exchange_strong(now, 0)) e.waker.Notify(Waker::kEngine);
      now = control.load(std::memory_order_acquire);
    }
    if (now == 0) e.DecodeSleep(20);
    if (control.load(std::memory_order_acquire) & DEC_QUIT) break;
  }
  control.store(DEC_QUIT_DONE, std::memory_order_release);
  e.waker.Notify(Waker::kEngine);
}
