// SPDX-License-Identifier: GPL-3.0-or-later
#include "sndfile_reader.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>

SndfileReader::SndfileReader(const char* ext)
    : extension(ext), staging(new (std::nothrow) int16_t[kStagingFrames * kMaxChannels]) {}

SndfileReader::~SndfileReader() {
  Close();
}

int32_t SndfileReader::Open(const char* path, WaveFormatEx* format) {
  if (file != nullptr) Close();
  if (path == nullptr || format == nullptr || !staging) return 0;
  SF_INFO info{};
  SNDFILE* opened = sf_open(path, SFM_READ, &info);
  if (opened == nullptr) return 0;
  if (info.frames == SF_COUNT_MAX) {
    // A file cut off before its end (an Ogg stream without its last page)
    // has no length the decoder can tell: it is what can be decoded.
    info.frames = CountFrames(opened, info.channels);
    sf_close(opened);
    SF_INFO again{};
    opened = sf_open(path, SFM_READ, &again);
    if (opened == nullptr) return 0;
  }
  // Refuse what the 32-bit byte counts of the interface cannot describe rather
  // than wrap around, and what no sound device could play.
  const uint64_t frameBytes = static_cast<uint64_t>(info.channels) * sizeof(int16_t);
  const uint64_t length = static_cast<uint64_t>(std::max<sf_count_t>(info.frames, 0)) * frameBytes;
  if (info.channels < 1 || info.channels > kMaxChannels || info.samplerate < 1 || info.frames < 0 ||
      length > std::numeric_limits<uint32_t>::max() ||
      static_cast<uint64_t>(info.samplerate) * frameBytes > std::numeric_limits<uint32_t>::max()) {
    sf_close(opened);
    return 0;
  }
  file = opened;
  mpeg = (info.format & SF_FORMAT_TYPEMASK) == SF_FORMAT_MPEG;
  dataLength = static_cast<uint32_t>(length);
  blockAlign = static_cast<uint32_t>(frameBytes);
  streamPos = 0;

  format->wFormatTag = kWaveFormatPcm;
  format->nChannels = static_cast<uint16_t>(info.channels);
  format->nSamplesPerSec = static_cast<uint32_t>(info.samplerate);
  format->nAvgBytesPerSec = static_cast<uint32_t>(info.samplerate) * blockAlign;
  format->nBlockAlign = static_cast<uint16_t>(blockAlign);
  format->wBitsPerSample = 16;
  format->cbSize = 0;
  return 1;
}

void SndfileReader::Close() {
  if (file != nullptr) sf_close(file);
  file = nullptr;
  dataLength = 0;
  blockAlign = 0;
  streamPos = 0;
}

sf_count_t SndfileReader::CountFrames(SNDFILE* sound, int channels) {
  if (channels < 1 || channels > kMaxChannels) return 0;
  sf_count_t frames = 0;
  for (sf_count_t got; (got = sf_readf_short(sound, staging.get(), kStagingFrames)) > 0;)
    frames += got;
  return frames;
}

bool SndfileReader::SeekTo(uint32_t position) {
  // A read never starts inside a frame: that would shift every later sample
  // into the wrong channel or byte.
  const sf_count_t frame = position / blockAlign;
  // An MP3 frame borrows bits from the frames before it and its filters carry
  // their past: decoded from well before the place and the lead-in dropped,
  // the sound there is exactly what reading straight through gives.
  const sf_count_t start = mpeg ? std::max<sf_count_t>(0, frame - kMpegLeadIn) : frame;
  if (sf_seek(file, start, SEEK_SET) != start) return false;
  for (sf_count_t left = frame - start; left > 0;) {
    const sf_count_t got =
        sf_readf_short(file, staging.get(), std::min<sf_count_t>(left, kStagingFrames));
    if (got <= 0) return false;
    left -= got;
  }
  streamPos = static_cast<uint32_t>(frame) * blockAlign;
  return true;
}

int32_t SndfileReader::Read(CodecBlock* block, uint32_t readLimit) {
  if (block == nullptr || file == nullptr) return kReadEnd;
  if (block->position >= EffectiveReadLimit(readLimit, dataLength)) return kReadEnd;
  if (block->seekRequested != 0) {
    // A refused seek is dropped: reading goes on from the current place.
    SeekTo(block->position);
    block->seekRequested = 0;
  }
  if (block->data == nullptr) return kReadEnd;
  block->position = streamPos;

  // Whole frames only, and never past the length announced at Open, so
  // positions stay exact even where a decoder finds more frames than it first
  // reported.
  const uint32_t remaining = dataLength - std::min(streamPos, dataLength);
  const uint32_t wanted = std::min(block->capacity, remaining) / blockAlign;
  uint8_t* out = block->data;
  uint32_t done = 0;
  while (done < wanted * blockAlign) {
    const uint32_t frames = std::min(wanted - done / blockAlign, kStagingFrames);
    const sf_count_t got = sf_readf_short(file, staging.get(), frames);
    if (got <= 0) {
      // The decoder ended before the length its header gave (a cut file):
      // the length is what was decoded.
      dataLength = streamPos;
      break;
    }
    const uint32_t bytes = static_cast<uint32_t>(got) * blockAlign;
    std::memcpy(out + done, staging.get(), bytes);
    done += bytes;
    streamPos += bytes;
  }
  if (done == 0) return kReadEnd;
  block->bytesRead = done;
  block->nextPosition = block->position + done;
  return kReadFilled;
}

uint32_t SndfileReader::GetLength() {
  return file ? dataLength : 0xFFFFFFFFu;
}

int32_t SndfileReader::IsOpen() {
  return file != nullptr ? 1 : 0;
}

const char* SndfileReader::GetExtension() {
  return extension;
}
