// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>

#include "codec/codec_server.h"

// Reads Kestro's own .qv files: "qvoxa", an 18-byte WaveFormatEx, raw PCM.
class QvReader : public CodecServer {
 public:
  QvReader();
  virtual ~QvReader();
  QvReader(const QvReader&) = delete;
  QvReader& operator=(const QvReader&) = delete;

  int32_t Open(const char* path, WaveFormatEx* format) override;
  void Close() override;
  int32_t Read(CodecBlock* block, uint32_t readLimit) override;
  uint32_t GetLength() override;
  int32_t IsOpen() override;
  const char* GetExtension() override;

 private:
  const char* extension;
  int32_t dataStart;
  int32_t dataLength;
  int file;  // file descriptor, -1 while closed
};
