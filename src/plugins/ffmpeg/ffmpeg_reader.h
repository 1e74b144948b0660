// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "codec/codec_server.h"
#include "ffmpeg_source.h"

// Decodes what FFmpeg reads (AAC in MP4 and ADTS, Opus, the sound of MP4,
// Matroska and WebM videos, WMA, AMR, ...) to 16-bit PCM of one or two
// channels, positions being byte offsets into that PCM as for a .qv file.
//
// Seeks give to the byte what reading from the start gives. A decoder's
// output depends on everything it decoded before (AAC fills noise bands from a
// generator that runs on, float filters carry their past), so the sound is
// cut into segments of a few seconds and each is always made by a new decoder
// started on the same packet a little before it, whether reading goes
// straight on into it or jumps there. A sound converted to another rate is
// one segment: a seek reads it again from its start.
class FfmpegReader : public CodecServer {
 public:
  explicit FfmpegReader(const char* extension);
  virtual ~FfmpegReader();
  FfmpegReader(const FfmpegReader&) = delete;
  FfmpegReader& operator=(const FfmpegReader&) = delete;

  int32_t Open(const char* path, WaveFormatEx* format) override;
  void Close() override;
  int32_t Read(CodecBlock* block, uint32_t readLimit) override;
  uint32_t GetLength() override;
  int32_t IsOpen() override;
  const char* GetExtension() override;

 private:
  static constexpr int kSegmentSeconds = 6;

  bool OpenAt(int maxChannels);
  // Back to the state right after opening: the file opened again.
  bool Rewind();
  // The next frame delivered is frame; false when it is past the end.
  bool SeekTo(uint64_t frame);
  // Decodes segment k from its first frame on into pending, which ends just
  // before it; false when the sound ends before it.
  bool StartSegment(uint64_t k);
  // scratch holds a frame decoded to start at frame at: decodes on to frame
  // start and puts the sound from there on into pending.
  bool KeepFrom(int64_t at, uint64_t start);
  uint64_t SegmentFrames() const;
  uint64_t DecodedEnd() const { return pendingFrame + PendingFrames(); }
  // Drops count frames of what comes next.
  bool Skip(uint64_t count);
  // Decodes the next frame of sound into pending; false at the end.
  bool Fill(int64_t* stamp = nullptr);
  // The frame a decoded frame's stamp stands for, -1 when it cannot be told.
  int64_t Located(int64_t stamp) const;
  // The exact length, found by decoding the last seconds; -1 when unknown.
  int64_t ProbeLength(int64_t estimate);
  uint64_t NextFrame() const { return pendingFrame + pendingUsed; }
  uint64_t PendingFrames() const { return pending.size() / channels; }
  uint64_t MaxFrames() const;

  const char* extension;
  std::string path;
  int maxChannels = 2;
  FfmpegSource source;
  int channels = 0;
  uint32_t blockAlign = 0;
  // Decoded frames not yet delivered: pending[pendingUsed * channels ...],
  // the first of them being frame pendingFrame of the sound.
  std::vector<int16_t> pending;
  uint64_t pendingFrame = 0;
  uint64_t pendingUsed = 0;
  bool ended = false;
  // The first frame the current decoder does not give.
  uint64_t segmentEnd = 0;
  bool segmented = false;
  std::vector<int16_t> scratch;
  // The stamp of the first frame read from the start, and how long it and
  // the frames after it are (for stamps coarser than a frame).
  int64_t originStamp = 0;
  int64_t firstFrames = 0;
  int64_t usualFrames = 0;
  // Read by the engine while the decode thread reads: atomic.
  std::atomic<uint32_t> dataLength{0};
  bool lengthKnown = false;
};
