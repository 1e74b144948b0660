// SPDX-License-Identifier: GPL-3.0-or-later
#include "audio/pulse_link.h"

#include <chrono>
#include <thread>

bool PulseLink::Connect(std::string* error) {
  loop = pa_threaded_mainloop_new();
  if (loop == nullptr) {
    *error = "cannot start a PulseAudio main loop";
    return false;
  }
  context = pa_context_new(pa_threaded_mainloop_get_api(loop), "Kestro");
  if (context == nullptr) {
    *error = "cannot make a PulseAudio context";
    Disconnect();
    return false;
  }
  bool ok = pa_context_connect(context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) >= 0 &&
            pa_threaded_mainloop_start(loop) >= 0;
  if (ok) {
    Lock();
    ok = WaitLocked([this] { return pa_context_get_state(context) == PA_CONTEXT_READY; }, 3000);
    Unlock();
  }
  if (!ok) {
    *error = "no PulseAudio server answers: " + ErrorText();
    Disconnect();
  }
  return ok;
}

void PulseLink::Disconnect() {
  if (loop == nullptr) return;
  if (context != nullptr) {
    Lock();
    Forget(&question);
    pa_context_disconnect(context);
    pa_context_unref(context);
    context = nullptr;
    Unlock();
  }
  pa_threaded_mainloop_stop(loop);
  pa_threaded_mainloop_free(loop);
  loop = nullptr;
}

bool PulseLink::ServerAnswers() {
  static const bool answers = [] {
    PulseLink probe;
    std::string error;
    return probe.Connect(&error);
  }();
  return answers;
}

bool PulseLink::WaitLocked(const std::function<bool()>& done, int ms) {
  // Polled rather than waited on: a server that stops answering (stopped, not
  // ended) must not hang the caller.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (!done()) {
    if (GoneLocked() || std::chrono::steady_clock::now() > deadline) return false;
    Unlock();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    Lock();
  }
  return true;
}

bool PulseLink::GoneLocked() const {
  if (context == nullptr) return true;
  return !PA_CONTEXT_IS_GOOD(pa_context_get_state(context));
}

void PulseLink::Cork(pa_stream* stream, bool cork) {
  Lock();
  if (stream != nullptr) {
    if (pa_operation* o = pa_stream_cork(stream, cork ? 1 : 0, nullptr, nullptr))
      pa_operation_unref(o);
  }
  Unlock();
}

bool PulseLink::SpecOf(const WaveFormatEx& format, pa_sample_spec* spec) {
  switch (format.wBitsPerSample) {
    case 8:
      spec->format = PA_SAMPLE_U8;
      break;
    case 16:
      spec->format = PA_SAMPLE_S16LE;
      break;
    case 32:
      spec->format = PA_SAMPLE_S32LE;
      break;
    default:
      return false;
  }
  spec->rate = format.nSamplesPerSec;
  spec->channels = static_cast<uint8_t>(format.nChannels);
  return format.wFormatTag == kWaveFormatPcm && pa_sample_spec_valid(spec);
}

bool PulseLink::ConnectLocked(pa_stream* stream, bool record, const pa_buffer_attr& attr,
                              pa_stream_flags_t flags, std::string* error) {
  const int r = record
                    ? pa_stream_connect_record(stream, nullptr, &attr, flags)
                    : pa_stream_connect_playback(stream, nullptr, &attr, flags, nullptr, nullptr);
  if (r >= 0 &&
      WaitLocked([stream] { return pa_stream_get_state(stream) == PA_STREAM_READY; }, 3000))
    return true;
  const bool refused = r < 0 || GoneLocked() || pa_stream_get_state(stream) == PA_STREAM_FAILED;
  *error = refused ? "cannot open a sound stream: " + ErrorText()
                   : std::string("the sound server opened no stream within 3 s");
  return false;
}

bool PulseLink::StreamGone(pa_stream* stream) {
  Lock();
  const bool gone = GoneLocked() || stream == nullptr ||
                    !PA_STREAM_IS_GOOD(pa_stream_get_state(stream)) || HungLocked();
  Unlock();
  return gone;
}

bool PulseLink::HungLocked() {
  // Far beyond a loaded machine's delay (replies come within milliseconds even
  // with every core busy), well within what a learner waits for to be told.
  constexpr auto kAnswerWithin = std::chrono::milliseconds(2000);
  constexpr auto kAskEvery = std::chrono::milliseconds(1000);
  const auto now = std::chrono::steady_clock::now();
  if (question != nullptr) {
    if (pa_operation_get_state(question) == PA_OPERATION_RUNNING)
      return now - askedAt > kAnswerWithin;
    Forget(&question);
    answeredAt = now;
  }
  if (now - answeredAt >= kAskEvery && context != nullptr) {
    question = pa_context_get_server_info(
        context, [](pa_context*, const pa_server_info*, void*) {}, nullptr);
    askedAt = now;
  }
  return false;
}

void PulseLink::Forget(pa_operation** operation) {
  if (*operation == nullptr) return;
  if (pa_operation_get_state(*operation) == PA_OPERATION_RUNNING) pa_operation_cancel(*operation);
  pa_operation_unref(*operation);
  *operation = nullptr;
}

std::string PulseLink::ErrorText() const {
  return context != nullptr ? pa_strerror(pa_context_errno(context)) : "no context";
}
