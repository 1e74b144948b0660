// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <string>

#include "codec/codec_server.h"

// Writes the learner's recording as a .qv file: the header once, then the
// captured bytes in the order they arrive. A file cut short anywhere after the
// header is still a valid .qv file, so nothing is patched at the end.
class QvWriter {
 public:
  QvWriter() = default;
  virtual ~QvWriter();
  QvWriter(const QvWriter&) = delete;
  QvWriter& operator=(const QvWriter&) = delete;

  void SetFormat(const WaveFormatEx* format);
  // Creates (or restarts) the file at path and writes its header; nonzero on
  // success. A link at path is replaced by a new file, never written through.
  int32_t Begin(const char* path);
  // Appends the whole frames of count bytes after what was written before; 1
  // on success, 0 on a file error.
  int32_t Append(const void* data, uint32_t count);
  void Finish();

  bool IsOpen() const { return isOpen != 0; }

 private:
  int32_t WriteHeaderAndTruncate();
  bool AppendFrames(const void* data, uint32_t count);

  int file = -1;
  int64_t end = 0;    // where the next bytes go
  std::string split;  // the start of a frame whose rest has not come yet
  int32_t isOpen = 0;
  const WaveFormatEx* format = nullptr;
};
