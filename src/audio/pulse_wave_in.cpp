// SPDX-License-Identifier: GPL-3.0-or-later
#include "audio/pulse_wave_in.h"

#include <algorithm>
#include <cstring>

PulseWaveIn::~PulseWaveIn() {
  Reset();
  Close();
}

bool PulseWaveIn::OpenBackend(std::string* error) {
  pa_sample_spec spec{};
  if (!PulseLink::SpecOf(format, &spec)) {
    *error = "the sound server cannot record this format";
    return false;
  }
  if (!link.Connect(error)) return false;
  link.Lock();
  stream = pa_stream_new(link.Context(), "Kestro recording", &spec, nullptr);
  pa_buffer_attr attr{};
  attr.maxlength = static_cast<uint32_t>(-1);
  // About 20 ms per fragment, whole frames.
  attr.fragsize =
      std::max<uint32_t>(format.nAvgBytesPerSec / 50 / format.nBlockAlign, 16) * format.nBlockAlign;
  const auto flags =
      static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY | PA_STREAM_START_CORKED);
  const bool ok = stream != nullptr && link.ConnectLocked(stream, true, attr, flags, error);
  link.Unlock();
  if (!ok) CloseBackend();
  carry.clear();
  carryAt = 0;
  return ok;
}

void PulseWaveIn::CloseBackend() {
  link.Lock();
  if (stream != nullptr) {
    pa_stream_disconnect(stream);
    pa_stream_unref(stream);
    stream = nullptr;
  }
  link.Unlock();
  link.Disconnect();
}

void PulseWaveIn::StartBackend(bool start) {
  link.Cork(stream, !start);
}

bool PulseWaveIn::TakeCaptured() {
  link.Lock();
  const void* data = nullptr;
  size_t bytes = 0;
  const bool got = stream != nullptr && pa_stream_peek(stream, &data, &bytes) >= 0 && bytes > 0;
  if (got) {
    carry.erase(carry.begin(), carry.begin() + static_cast<ptrdiff_t>(carryAt));
    carryAt = 0;
    const auto* p = static_cast<const uint8_t*>(data);
    // A hole in the capture (data null) is silence.
    if (p != nullptr) {
      carry.insert(carry.end(), p, p + bytes);
    } else {
      carry.insert(carry.end(), bytes, format.wBitsPerSample == 8 ? 0x80 : 0);
    }
    pa_stream_drop(stream);
  }
  link.Unlock();
  return got;
}

bool PulseWaveIn::CopyCarryInto(WaveHdr* h) {
  const size_t n = std::min<size_t>(h->dwBufferLength - h->dwBytesRecorded, carry.size() - carryAt);
  std::memcpy(h->lpData + h->dwBytesRecorded, carry.data() + carryAt, n);
  h->dwBytesRecorded += static_cast<uint32_t>(n);
  carryAt += n;
  return h->dwBytesRecorded == h->dwBufferLength;
}

void PulseWaveIn::FillFromCarry(std::unique_lock<std::mutex>* lock) {
  while (carryAt < carry.size() && HasQueued() && CopyCarryInto(Front()))
    FinishFront(*lock, MM_WIM_DATA);
}

void PulseWaveIn::Service(std::unique_lock<std::mutex>& lock) {
  if (!started) return;
  // A source that has not delivered yet (a device waking, a headset changing
  // profile) is waited for: only a stream or server that fails is a loss.
  if (!Lost() && link.StreamGone(stream)) MarkLost();
  do {
    FillFromCarry(&lock);
  } while (started && HasQueued() && TakeCaptured());
}

void PulseWaveIn::ResetBackend() {
  StartBackend(false);
  // What was captured but not yet taken goes into the buffers still queued
  // (they come back with what they hold), so that ending a recording loses
  // none of the learner's last words.
  do {
    for (WaveHdr* h = Front(); h != nullptr && carryAt < carry.size(); h = h->lpNext)
      CopyCarryInto(h);
  } while (carryAt == carry.size() && TakeCaptured());
  carry.clear();
  carryAt = 0;
  link.Lock();
  if (stream != nullptr) {
    if (pa_operation* o = pa_stream_flush(stream, nullptr, nullptr)) pa_operation_unref(o);
  }
  link.Unlock();
  started = false;
}
