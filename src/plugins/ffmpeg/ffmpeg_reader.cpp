// SPDX-License-Identifier: GPL-3.0-or-later
#include "ffmpeg_reader.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

FfmpegReader::FfmpegReader(const char* ext) : extension(ext) {}

FfmpegReader::~FfmpegReader() {
  Close();
}

int32_t FfmpegReader::Open(const char* file, WaveFormatEx* format) {
  Close();
  if (file == nullptr || format == nullptr) return 0;
  try {
    path = file;
    // A sound too long for the interface's 32-bit byte counts in stereo may
    // still fit in mono: better one channel than not at all.
    if (!OpenAt(2) && !(channels == 2 && OpenAt(1))) {
      Close();
      return 0;
    }
  } catch (...) {
    Close();
    return 0;
  }
  format->wFormatTag = kWaveFormatPcm;
  format->nChannels = static_cast<uint16_t>(channels);
  format->nSamplesPerSec = static_cast<uint32_t>(source.Rate());
  format->nBlockAlign = static_cast<uint16_t>(blockAlign);
  format->nAvgBytesPerSec = format->nSamplesPerSec * blockAlign;
  format->wBitsPerSample = 16;
  format->cbSize = 0;
  return 1;
}

bool FfmpegReader::OpenAt(int channelsAtMost) {
  maxChannels = channelsAtMost;
  segmented = false;
  if (!Rewind()) return false;
  segmented = !source.Resampled();
  segmentEnd = segmented ? SegmentFrames() : std::numeric_limits<uint64_t>::max();
  // The first frame says where the sound starts on the container's clock
  // (after any encoder delay the container declares), the second how long a
  // frame usually is.
  if (!Fill(&originStamp)) return false;
  firstFrames = static_cast<int64_t>(PendingFrames());
  usualFrames = Fill() ? static_cast<int64_t>(PendingFrames()) - firstFrames : 0;
  // Where stamps cannot place a frame and frames differ in size (Vorbis in
  // Matroska), only reading from the start is exact.
  for (int i = 0; i < 6 && segmented && source.CoarseStamps(); ++i) {
    const uint64_t before = PendingFrames();
    if (!Fill()) break;
    const auto frames = static_cast<int64_t>(PendingFrames() - before);
    if (frames != usualFrames && !(ended && frames < usualFrames)) segmented = false;
  }
  segmentEnd = segmented ? SegmentFrames() : std::numeric_limits<uint64_t>::max();

  int64_t estimate = source.DurationFrames();
  if (estimate <= 0 && source.BytesRead() > 0) {
    // A file written as it was recorded says nothing of its length: what the
    // first frames took of it tells roughly.
    estimate = static_cast<int64_t>(static_cast<double>(DecodedEnd()) * source.FileBytes() /
                                    source.BytesRead());
  }
  const int64_t exact = ProbeLength(estimate);
  lengthKnown = exact >= 0;
  const int64_t length = lengthKnown ? exact : std::max<int64_t>(estimate, 0);
  if (static_cast<uint64_t>(length) > MaxFrames()) return false;
  dataLength = static_cast<uint32_t>(length) * blockAlign;
  return Rewind();
}

void FfmpegReader::Close() {
  source.Close();
  path.clear();
  pending.clear();
  pending.shrink_to_fit();
  pendingFrame = pendingUsed = 0;
  ended = false;
  dataLength = 0;
  lengthKnown = false;
}

uint64_t FfmpegReader::MaxFrames() const {
  return blockAlign == 0 ? 0 : std::numeric_limits<uint32_t>::max() / blockAlign;
}

uint64_t FfmpegReader::SegmentFrames() const {
  return static_cast<uint64_t>(source.Rate()) * kSegmentSeconds;
}

bool FfmpegReader::Rewind() {
  if (!source.Open(path, maxChannels)) return false;
  channels = source.Channels();
  blockAlign = static_cast<uint32_t>(channels) * sizeof(int16_t);
  pending.clear();
  pendingFrame = pendingUsed = 0;
  ended = false;
  segmentEnd = segmented ? SegmentFrames() : std::numeric_limits<uint64_t>::max();
  return true;
}

bool FfmpegReader::Fill(int64_t* stamp) {
  if (ended) return false;
  if (pendingUsed > 0) {
    pending.erase(pending.begin(),
                  pending.begin() + static_cast<ptrdiff_t>(pendingUsed * channels));
    pendingFrame += pendingUsed;
    pendingUsed = 0;
  }
  const uint64_t before = PendingFrames();
  if (DecodedEnd() >= segmentEnd) {
    if (!StartSegment(segmentEnd / SegmentFrames())) {
      ended = true;
      return false;
    }
  } else {
    int64_t at = 0;
    if (source.Next(pending, &at) <= 0) {
      pending.resize(before * channels);
      ended = true;
      return false;
    }
    if (stamp != nullptr) *stamp = at;
    // What this decoder makes past its segment the next one makes again.
    if (DecodedEnd() > segmentEnd) pending.resize((segmentEnd - pendingFrame) * channels);
  }
  // Past what 32-bit byte positions can name the sound ends.
  if (DecodedEnd() > MaxFrames()) {
    pending.resize((MaxFrames() - std::min(pendingFrame, MaxFrames())) * channels);
    ended = true;
  }
  return PendingFrames() > before;
}

bool FfmpegReader::KeepFrom(int64_t at, uint64_t start) {
  const auto first = static_cast<int64_t>(start);
  for (int64_t stamp = 0; at + static_cast<int64_t>(scratch.size() / channels) <= first;) {
    at += static_cast<int64_t>(scratch.size() / channels);
    scratch.clear();
    if (source.Next(scratch, &stamp) <= 0) return false;
  }
  pending.insert(pending.end(), scratch.begin() + (first - at) * channels, scratch.end());
  if (DecodedEnd() > segmentEnd) pending.resize((segmentEnd - pendingFrame) * channels);
  return true;
}

bool FfmpegReader::StartSegment(uint64_t k) {
  const uint64_t start = k * SegmentFrames();
  segmentEnd = start + SegmentFrames();
  const int64_t from = static_cast<int64_t>(start) - source.PrerollFrames();
  for (int64_t back = 0; segmented && from - back > 0;
       back = back == 0 ? from / 16 + 1 : back * 4) {
    if (!source.Restart(originStamp + from - back, originStamp + from)) break;
    scratch.clear();
    int64_t stamp = 0;
    const bool decoded = source.Next(scratch, &stamp) > 0;
    if (source.LandedLate()) continue;
    if (!decoded) return false;  // the sound ends before the segment
    const int64_t at = Located(stamp);
    if (at < 0 || at > static_cast<int64_t>(start)) continue;
    return KeepFrom(at, start);
  }
  // Where no seek gets there, the decoder that starts at the file's start
  // does: from here on the sound is read straight through.
  segmented = false;
  segmentEnd = std::numeric_limits<uint64_t>::max();
  if (!source.Open(path, maxChannels)) return false;
  scratch.clear();
  int64_t stamp = 0;
  return source.Next(scratch, &stamp) > 0 && KeepFrom(0, start);
}

bool FfmpegReader::Skip(uint64_t count) {
  while (count > 0) {
    const uint64_t available = PendingFrames() - pendingUsed;
    if (available == 0) {
      if (!Fill()) return false;
      continue;
    }
    const uint64_t take = std::min(available, count);
    pendingUsed += take;
    count -= take;
  }
  return true;
}

int64_t FfmpegReader::Located(int64_t stamp) const {
  if (stamp == std::numeric_limits<int64_t>::min()) return -1;
  int64_t at = stamp - originStamp;
  // Matroska's millisecond stamps miss a frame's first sample by up to half
  // a millisecond: packets of one size put it back on their grid. A new
  // decoder's first frame starts after what it drops from its start.
  if (source.CoarseStamps() && usualFrames > 0) {
    const int64_t packet = at - source.StartSkipStamp() - firstFrames;
    const double frames = static_cast<double>(packet) / static_cast<double>(usualFrames);
    at = firstFrames + std::llround(frames) * usualFrames + source.StartSkipFrames();
  }
  return at;
}

bool FfmpegReader::SeekTo(uint64_t frame) {
  const uint64_t next = NextFrame();
  // Close ahead, decoding on is quicker than any seek.
  if (frame >= next && frame - next <= static_cast<uint64_t>(source.Rate()) * 2)
    return Skip(frame - next);
  const uint64_t k = segmented ? frame / SegmentFrames() : 0;
  if (k == 0) return Rewind() && Skip(frame);
  pending.clear();
  pendingUsed = 0;
  pendingFrame = k * SegmentFrames();
  ended = false;
  if (!StartSegment(k)) {
    ended = true;
    return false;
  }
  return Skip(frame - pendingFrame);
}

int64_t FfmpegReader::ProbeLength(int64_t estimate) {
  if (estimate <= 0) return -1;
  for (const int64_t back : {3, 30}) {
    const int64_t from = std::max<int64_t>(estimate - back * source.Rate(), 0);
    if (!SeekTo(static_cast<uint64_t>(from))) continue;
    while (Fill())
      pendingUsed = PendingFrames();
    pendingUsed = PendingFrames();
    if (NextFrame() > static_cast<uint64_t>(from)) return static_cast<int64_t>(NextFrame());
  }
  return -1;
}

int32_t FfmpegReader::Read(CodecBlock* block, uint32_t readLimit) {
  if (block == nullptr || !source.IsOpen() || blockAlign == 0) return kReadEnd;
  try {
    const uint32_t length = dataLength.load();
    uint32_t limit = EffectiveReadLimit(readLimit, length);
    if (!lengthKnown) limit = readLimit != 0 ? readLimit : std::numeric_limits<uint32_t>::max();
    if (block->position >= limit) return kReadEnd;
    if (block->seekRequested != 0) {
      SeekTo(block->position / blockAlign);
      block->seekRequested = 0;
    }
    if (block->data == nullptr) return kReadEnd;
    const uint64_t start = NextFrame() * blockAlign;
    if (start >= limit) return kReadEnd;
    block->position = static_cast<uint32_t>(start);
    // As every plug-in does, a block that starts before the limit is read in
    // full: up to its capacity or the end of the sound.
    uint64_t room = block->capacity;
    if (lengthKnown) room = std::min<uint64_t>(room, length - std::min<uint64_t>(start, length));
    room = std::min<uint64_t>(room, std::numeric_limits<uint32_t>::max() - start);
    const uint64_t wanted = room / blockAlign;
    uint64_t done = 0;
    while (done < wanted) {
      const uint64_t available = PendingFrames() - pendingUsed;
      if (available == 0) {
        if (Fill()) continue;
        // The end of what decodes is the length, longer or shorter than
        // the container said.
        dataLength = static_cast<uint32_t>(NextFrame() * blockAlign);
        lengthKnown = true;
        break;
      }
      const uint64_t take = std::min(available, wanted - done);
      std::memcpy(block->data + done * blockAlign, pending.data() + pendingUsed * channels,
                  take * blockAlign);
      pendingUsed += take;
      done += take;
    }
    if (!lengthKnown && NextFrame() * blockAlign > dataLength.load())
      dataLength = static_cast<uint32_t>(NextFrame() * blockAlign);
    if (done == 0) return kReadEnd;
    block->bytesRead = static_cast<uint32_t>(done * blockAlign);
    block->nextPosition = block->position + block->bytesRead;
    return kReadFilled;
  } catch (...) {
    return kReadEnd;
  }
}

uint32_t FfmpegReader::GetLength() {
  return source.IsOpen() ? dataLength.load() : 0xFFFFFFFFu;
}

int32_t FfmpegReader::IsOpen() {
  return source.IsOpen() ? 1 : 0;
}

const char* FfmpegReader::GetExtension() {
  return extension;
}
