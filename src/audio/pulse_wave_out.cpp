// SPDX-License-Identifier: GPL-3.0-or-later
#include "audio/pulse_wave_out.h"

#include <algorithm>

PulseWaveOut::~PulseWaveOut() {
  Reset();
  Close();
}

bool PulseWaveOut::OpenBackend(std::string* error) {
  if (!PulseLink::SpecOf(format, &spec)) {
    *error = "the sound server cannot play this format";
    return false;
  }
  if (!link.Connect(error)) return false;
  // Half a second ahead, whole frames: refilled half at a time, the server is
  // asked for little and a busy machine has a quarter of a second to spare.
  // Pause and seek do not wait for it (a cork, a new stream).
  SetLead(std::max<uint32_t>(format.nAvgBytesPerSec / 2 / format.nBlockAlign, 64) *
          format.nBlockAlign);
  link.Lock();
  const bool ok = NewStream(error);
  link.Unlock();
  if (!ok) link.Disconnect();
  return ok;
}

void PulseWaveOut::CloseBackend() {
  link.Lock();
  DropStream();
  link.Unlock();
  link.Disconnect();
}

bool PulseWaveOut::NewStream(std::string* error) {
  stream = pa_stream_new(link.Context(), "Kestro", &spec, nullptr);
  if (stream == nullptr) {
    *error = "cannot make a sound stream: " + link.ErrorText();
    return false;
  }
  pa_buffer_attr attr{};
  attr.maxlength = static_cast<uint32_t>(-1);
  attr.tlength = lead;
  // Playing starts with the first frame: the last short buffer of an item is
  // never kept back waiting for more.
  attr.prebuf = format.nBlockAlign;
  // The server keeps (lead - 2 minreq) / 2 in the sink, 100 ms, and asks for
  // more 150 ms at a time.
  attr.minreq = lead * 3 / 10 / format.nBlockAlign * format.nBlockAlign;
  attr.fragsize = static_cast<uint32_t>(-1);
  const auto flags = static_cast<pa_stream_flags_t>(
      PA_STREAM_ADJUST_LATENCY | PA_STREAM_INTERPOLATE_TIMING | PA_STREAM_AUTO_TIMING_UPDATE |
      (paused ? PA_STREAM_START_CORKED : 0));
  if (!link.ConnectLocked(stream, false, attr, flags, error)) {
    DropStream();
    return false;
  }
  written = drainedTo = drainingTo = 0;
  return true;
}

void PulseWaveOut::AllHanded() {
  link.Lock();
  if (stream != nullptr && drain == nullptr && drainedTo < written) {
    drainingTo = written;
    drain = pa_stream_drain(
        stream,
        [](pa_stream*, int success, void* self) {
          auto* out = static_cast<PulseWaveOut*>(self);
          if (success) out->drainedTo = out->drainingTo;
          pa_operation_unref(out->drain);
          out->drain = nullptr;
        },
        this);
  }
  link.Unlock();
}

void PulseWaveOut::DropStream() {
  PulseLink::Forget(&drain);
  PulseLink::Forget(&timing);
  lastTime = 0;
  if (stream == nullptr) return;
  pa_stream_disconnect(stream);
  pa_stream_unref(stream);
  stream = nullptr;
}

void PulseWaveOut::ResetBackend() {
  WaveOut::ResetBackend();
  // A new stream drops what the server holds at once (a flush waits for the
  // sink's own buffer to play out).
  link.Lock();
  DropStream();
  std::string error;
  // A lost device gets no new stream (a hung server would keep the reset waiting).
  if (!Lost() && !link.GoneLocked() && !NewStream(&error)) MarkLost();
  link.Unlock();
  Forget();
}

void PulseWaveOut::PauseBackend(bool pause) {
  link.Cork(stream, pause);
}

void PulseWaveOut::RefreshStandingClockLocked(pa_usec_t usec, bool waiting) {
  // libpulse interpolates the clock from its last timing update, and those
  // grow rare (1.5 s apart) while the stream runs. One that found the stream
  // not playing (an underrun on a busy machine) holds the clock still until
  // the next, and no buffer would finish meanwhile: while sound waits and the
  // clock stands, fresh timing is asked for.
  if (timing != nullptr && pa_operation_get_state(timing) == PA_OPERATION_RUNNING) return;
  PulseLink::Forget(&timing);
  const bool standing = usec == lastTime;
  lastTime = usec;
  if (standing && waiting && !paused && stream != nullptr)
    timing = pa_stream_update_timing_info(stream, nullptr, nullptr);
}

uint32_t PulseWaveOut::Ahead() {
  link.Lock();
  pa_usec_t usec = 0;
  // No timing yet: nothing has been played.
  const bool timed = stream != nullptr && pa_stream_get_time(stream, &usec) >= 0;
  const uint64_t heard = std::max<uint64_t>(timed ? pa_usec_to_bytes(usec, &spec) : 0, drainedTo);
  RefreshStandingClockLocked(usec, heard < written);
  link.Unlock();
  return static_cast<uint32_t>(written - std::min(written, heard));
}

uint32_t PulseWaveOut::Room() {
  link.Lock();
  const size_t room = stream != nullptr ? pa_stream_writable_size(stream) : 0;
  link.Unlock();
  return room == static_cast<size_t>(-1) ? 0 : static_cast<uint32_t>(std::min<size_t>(room, lead));
}

void PulseWaveOut::Hand(const uint8_t* data, uint32_t count) {
  link.Lock();
  if (stream != nullptr && pa_stream_write(stream, data, count, nullptr, 0, PA_SEEK_RELATIVE) >= 0)
    written += count;
  link.Unlock();
}

bool PulseWaveOut::StreamGone() {
  return link.StreamGone(stream);
}
