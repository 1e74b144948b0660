// SPDX-License-Identifier: GPL-3.0-or-later
#include "audio/stream_wave_out.h"

#include <algorithm>

void StreamWaveOut::SetLead(uint32_t bytes) {
  lead = bytes;
  scratch.resize(lead);
  stretched.resize(lead);
  Forget();
}

bool StreamWaveOut::Stalled(uint64_t played) {
  const auto now = std::chrono::steady_clock::now();
  if (paused || !HasQueued() || played != lastPlayed) {
    lastPlayed = played;
    playedSince = now;
    return false;
  }
  return now - playedSince > std::chrono::seconds(1);
}

void StreamWaveOut::Forget() {
  hungry = true;
  pushing = nullptr;
  pushOffset = 0;
  handed = 0;
  pushedTotal = finishedTotal = lastPlayed = 0;
  playedSince = std::chrono::steady_clock::now();
}

void StreamWaveOut::Push(const uint8_t* data, uint32_t count, uint32_t offset) {
  // Staged, and handed over together: one hand-over a service, not one a buffer.
  ApplyVolume(data, scratch.data() + staged, count, offset);
  staged += count;
  pushedTotal += count;
}

void StreamWaveOut::HandStaged() {
  if (staged > 0) Hand(scratch.data(), staged);
  staged = 0;
}

void StreamWaveOut::ServiceStretched(std::unique_lock<std::mutex>& lock, uint64_t played) {
  // Stretched bytes go to the stream from the first one after the last reset,
  // so what it has played counts in the stretcher's output bytes.
  while (HasQueued() && FrontStretchedBy(played))
    FinishStretchedFront(lock);
  uint32_t room = std::min<uint32_t>(Room(), lead);
  while (room > 0) {
    const uint32_t n = stretcher.Take(stretched.data(), room);
    if (n > 0) {
      Push(stretched.data(), n, 0);
      room -= n;
      NotDry();
      continue;
    }
    if (FeedNext()) continue;
    if (!HasQueued() || !stretcher.Holding()) break;
    HandStaged();
    // The end of what was queued stays in the stretcher until it is pushed out;
    // that waits until the stream is about to run out and nothing has come for
    // a while, so that a buffer written a moment late does not cut the sound.
    if (!DryLongEnough() || Ahead() > lead / 4) break;
    FlushStretcher();
  }
  HandStaged();
}

void StreamWaveOut::Service(std::unique_lock<std::mutex>& lock) {
  // Bytes handed over that the stream has played.
  const uint64_t played = pushedTotal - Ahead();
  if (!Lost() && (StreamGone() || (StallMeansLost() && Stalled(played)))) MarkLost();
  if (paused || Lost()) return;
  if (Stretching()) {
    hungry = true;
    ServiceStretched(lock, played);
    return;
  }
  // Buffers whose every byte the stream has played are done.
  while (handed > 0 && finishedTotal + Front()->dwBufferLength <= played) {
    finishedTotal += Front()->dwBufferLength;
    --handed;
    FinishFront(lock, MM_WOM_DONE);
  }
  if (pushing == nullptr) {
    pushing = Front();
    for (uint32_t i = 0; i < handed && pushing != nullptr; ++i)
      pushing = pushing->lpNext;
    pushOffset = 0;
  }
  if (pushing == nullptr && handed > 0) AllHanded();
  uint32_t room = std::min<uint32_t>(Room(), lead);
  // Half the lead at a time, while the stream still holds half: each hand-over
  // wakes the sound server's client thread, a few times a second is enough.
  if (HandsOverInHalves() && room < lead / 2 && pushedTotal - played >= lead / 2) room = 0;
  while (pushing != nullptr && room > 0) {
    const uint32_t n = std::min(room, pushing->dwBufferLength - pushOffset);
    if (n > 0) {
      Push(pushing->lpData + pushOffset, n, pushOffset);
      pushOffset += n;
      room -= n;
    }
    if (pushOffset == pushing->dwBufferLength) {
      ++handed;
      pushing = pushing->lpNext;
      pushOffset = 0;
    }
  }
  HandStaged();
  hungry = pushing == nullptr && pushedTotal - played < lead / 2;
}
