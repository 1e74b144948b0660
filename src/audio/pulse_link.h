// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <pulse/pulseaudio.h>

#include <chrono>
#include <functional>
#include <string>

#include "codec/codec_server.h"

// A connection to the PulseAudio server (PipeWire's pulse server answers the
// same): its own threaded main loop and context. Calls into libpulse are made
// between Lock and Unlock; libpulse's callbacks only wake waiters.
class PulseLink {
 public:
  PulseLink() = default;
  ~PulseLink() { Disconnect(); }
  PulseLink(const PulseLink&) = delete;
  PulseLink& operator=(const PulseLink&) = delete;

  // Connects (never starting a server); false with error when no server
  // answers within a few seconds.
  bool Connect(std::string* error);
  void Disconnect();
  // Whether a server answers now (asked once per process).
  static bool ServerAnswers();

  void Lock() { pa_threaded_mainloop_lock(loop); }
  void Unlock() { pa_threaded_mainloop_unlock(loop); }
  // With the lock held: waits until done() holds, up to ms milliseconds;
  // false when it did not (or the server went away meanwhile).
  bool WaitLocked(const std::function<bool()>& done, int ms);
  // With the lock held: the server went away (or never answered).
  bool GoneLocked() const;
  // The server or stream went away, or the server leaves requests unanswered
  // (takes the lock).
  bool StreamGone(pa_stream* stream);
  pa_context* Context() const { return context; }
  // libpulse's text for the context's last error.
  std::string ErrorText() const;
  // With the lock held: cancels *operation if it still runs, and lets it go.
  static void Forget(pa_operation** operation);
  // Corks (or uncorks) stream, not waiting for the server's answer.
  void Cork(pa_stream* stream, bool cork);
  // The server's sample format for a PCM format; false when it has none.
  static bool SpecOf(const WaveFormatEx& format, pa_sample_spec* spec);
  // With the lock held: connects stream for playing (or recording) with attr
  // and flags and waits until it is ready; false with error.
  bool ConnectLocked(pa_stream* stream, bool record, const pa_buffer_attr& attr,
                     pa_stream_flags_t flags, std::string* error);

 private:
  // With the lock held: the server has left a request unanswered for longer
  // than a slow server ever takes (it was stopped, or hangs). Asks it anew a
  // few times a second. A stream's clock that stalls, or a source that has not
  // delivered yet, says nothing of this: a busy or waking server still answers.
  bool HungLocked();

  pa_threaded_mainloop* loop = nullptr;
  pa_context* context = nullptr;
  pa_operation* question = nullptr;  // the request awaiting its answer
  std::chrono::steady_clock::time_point askedAt{};
  std::chrono::steady_clock::time_point answeredAt{};
};
