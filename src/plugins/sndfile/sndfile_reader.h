// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <sndfile.h>

#include <cstdint>
#include <memory>

#include "codec/codec_server.h"

// Decodes any format libsndfile reads (wav, flac, ogg, mp3, ...) and delivers it
// as 16-bit PCM at the file's own rate and channel count. Positions are byte
// offsets into that PCM, exactly as if it were stored in a .qv file; every
// read starts and ends on a whole frame.
class SndfileReader : public CodecServer {
 public:
  static constexpr int kMaxChannels = 8;

  explicit SndfileReader(const char* extension);
  virtual ~SndfileReader();
  SndfileReader(const SndfileReader&) = delete;
  SndfileReader& operator=(const SndfileReader&) = delete;

  int32_t Open(const char* path, WaveFormatEx* format) override;
  void Close() override;
  int32_t Read(CodecBlock* block, uint32_t readLimit) override;
  uint32_t GetLength() override;
  int32_t IsOpen() override;
  const char* GetExtension() override;

 private:
  static constexpr uint32_t kStagingFrames = 4096;
  // Frames an MP3 seek decodes before its place: eight MPEG frames.
  static constexpr sf_count_t kMpegLeadIn = 8 * 1152;

  // The frames the stream decodes to from where it is, read to its end.
  sf_count_t CountFrames(SNDFILE* sound, int channels);

  // Moves the stream to byte offset position; false when the decoder refuses.
  bool SeekTo(uint32_t position);

  const char* extension;
  SNDFILE* file = nullptr;
  uint32_t dataLength = 0;
  uint32_t blockAlign = 0;
  uint32_t streamPos = 0;  // byte offset the next delivered byte comes from
  bool mpeg = false;
  std::unique_ptr<int16_t[]> staging;
};
