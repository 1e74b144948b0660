// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "audio/wave_header.h"
#include "codec/codec_server.h"

// What output and input devices share: the queue of buffers with its flags, and
// the device thread that finishes buffers and runs the owner's callback. The
// callback runs on the device thread, must not call back into the device, and
// should return quickly.
class WaveDevice {
 public:
  using Callback = std::function<void(WaveDevice* device, uint32_t message, WaveHdr* header)>;

  virtual ~WaveDevice();
  WaveDevice(const WaveDevice&) = delete;
  WaveDevice& operator=(const WaveDevice&) = delete;

  // Opens the device for format; false (with ErrorText) when it cannot.
  bool Open(const WaveFormatEx& format, Callback callback);
  // Fails while buffers are still queued.
  bool Close();
  bool IsOpen() const { return open; }

  bool PrepareHeader(WaveHdr* header);
  // Fails while the buffer is queued, and while its done callback still runs:
  // until then the callback may read it, so its owner must not refill it.
  bool UnprepareHeader(WaveHdr* header);
  // Stops the device and returns every queued buffer as done (without callbacks:
  // they were never played or filled).
  bool Reset();

  const WaveFormatEx& Format() const { return format; }
  // The device went away while open (its sound server ended, it was
  // unplugged): it plays or records nothing more, and only closing it helps.
  bool Lost() const { return lost.load(); }
  // Why the last Open failed.
  std::string LastError() const;
  // How often a playing device looks at its stream (finishes buffers, hands
  // sound over), in milliseconds: more often is finer, less often costs less.
  void SetServiceInterval(int ms) { serviceMs = ms; }

 protected:
  WaveDevice() = default;

  // Queues a prepared buffer (write or add).
  bool Enqueue(WaveHdr* header);
  bool HasQueued() const { return head != nullptr; }
  WaveHdr* Front() const { return head; }
  // Marks the front buffer done and runs the callback with message, outside the lock.
  void FinishFront(std::unique_lock<std::mutex>& lock, uint32_t message);
  // Wakes the device thread.
  void Poke();
  // The backend found the device gone (see Lost).
  void MarkLost() { lost = true; }
  // Close has begun: whatever the device thread waits for, it should stop waiting.
  bool Closing() const { return closing.load(); }

  // Backend hooks. OpenBackend and CloseBackend run without the lock; the others
  // with it held.
  virtual bool OpenBackend(std::string* error) = 0;
  virtual void CloseBackend() = 0;
  virtual void Service(std::unique_lock<std::mutex>& lock) = 0;
  virtual void ResetBackend() {}
  // Whether a buffer queued now should wake the device thread; otherwise its
  // next service takes it.
  virtual bool WantsBuffers() const { return true; }
  virtual std::chrono::milliseconds PollInterval() const { return std::chrono::milliseconds(5); }
  // The device thread's name, as debuggers and top -H show it.
  virtual const char* ThreadName() const = 0;
  int ServiceInterval() const { return serviceMs.load(); }
  // Duration of a buffer of bytes in the open format, in nanoseconds.
  int64_t DurationOf(uint32_t bytes) const;

  mutable std::mutex mutex;
  WaveFormatEx format{};

 private:
  void ThreadMain();

  Callback callback;
  std::condition_variable wake;
  std::condition_variable callbackDone;
  std::thread thread;
  bool open = false;
  bool quit = false;
  std::atomic<bool> closing{false};
  std::atomic<bool> lost{false};
  std::atomic<int> serviceMs{50};
  bool inCallback = false;
  const WaveHdr* callbackHeader = nullptr;  // the buffer whose callback runs
  uint64_t pokes = 0;
  WaveHdr* head = nullptr;
  WaveHdr* tail = nullptr;
  std::string error;
};
