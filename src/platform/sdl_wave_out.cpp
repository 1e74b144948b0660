#include "platform/sdl_wave_out.h"

#include <algorithm>

#include "platform/sdl_audio.h"

SdlWaveOut::~SdlWaveOut() {
  Reset();
  Close();
}

bool SdlWaveOut::OpenBackend(std::string* error) {
  device = OpenSdlDevice(format, false, error);
  if (device == 0) return false;
  // About 100 ms of sound, a whole number of frames: ample between 20 ms polls.
  lead =
      std::max<uint32_t>(format.nAvgBytesPerSec / 10 / format.nBlockAlign, 64) * format.nBlockAlign;
  scratch.resize(lead);
  stretched.resize(lead);
  pushing = nullptr;
  pushOffset = 0;
  handed = 0;
  pushedTotal = finishedTotal = 0;
  SDL_PauseAudioDevice(device, 0);
  return true;
}

void SdlWaveOut::CloseBackend() {
  if (device != 0) SDL_CloseAudioDevice(device);
  device = 0;
}

void SdlWaveOut::ResetBackend() {
  WaveOut::ResetBackend();
  SDL_ClearQueuedAudio(device);
  pushing = nullptr;
  pushOffset = 0;
  handed = 0;
  pushedTotal = finishedTotal = 0;
}

void SdlWaveOut::PauseBackend(bool pause) {
  SDL_PauseAudioDevice(device, pause ? 1 : 0);
}

void SdlWaveOut::Push(const uint8_t* data, uint32_t count, uint32_t offset) {
  ApplyVolume(data, scratch.data(), count, offset);
  SDL_QueueAudio(device, scratch.data(), count);
  pushedTotal += count;
}

void SdlWaveOut::ServiceStretched(std::unique_lock<std::mutex>& lock) {
  // Stretched bytes go to SDL from the first one after the last reset, so what
  // SDL has played counts in the stretcher's output bytes.
  const uint64_t played = pushedTotal - SDL_GetQueuedAudioSize(device);
  while (HasQueued() && FrontStretchedBy(played))
    FinishStretchedFront(lock);
  uint32_t queued = SDL_GetQueuedAudioSize(device);
  while (queued < lead) {
    const uint32_t n = stretcher.Take(stretched.data(), lead - queued);
    if (n > 0) {
      Push(stretched.data(), n, 0);
      queued += n;
      NotDry();
      continue;
    }
    if (FeedNext()) continue;
    if (!HasQueued() || !stretcher.Holding()) break;
    // The end of what was queued stays in the stretcher until it is pushed out;
    // that waits until SDL is about to run out and nothing has come for a
    // while, so that a buffer written a moment late does not cut the sound.
    if (!DryLongEnough() || queued > lead / 4) break;
    FlushStretcher();
  }
}

void SdlWaveOut::Service(std::unique_lock<std::mutex>& lock) {
  if (paused) return;
  if (Stretching()) {
    ServiceStretched(lock);
    return;
  }
  // Buffers whose every byte SDL has taken from its queue have been played.
  const uint64_t played = pushedTotal - SDL_GetQueuedAudioSize(device);
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
  // Keep SDL's queue at about the lead.
  uint32_t queued = SDL_GetQueuedAudioSize(device);
  while (pushing != nullptr && queued < lead) {
    const uint32_t n = std::min(lead - queued, pushing->dwBufferLength - pushOffset);
    if (n > 0) {
      Push(pushing->lpData + pushOffset, n, pushOffset);
      pushOffset += n;
      queued += n;
    }
    if (pushOffset == pushing->dwBufferLength) {
      ++handed;
      pushing = pushing->lpNext;
      pushOffset = 0;
    }
  }
}
