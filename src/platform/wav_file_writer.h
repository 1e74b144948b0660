#pragma once

#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>

#include "codec/codec_server.h"

// Appends sound to a WAV file. The header takes the format of the first sound
// written and its sizes are brought up to date by Flush and on close, so the
// file is a valid WAV file after every Flush.
class WavFileWriter {
 public:
  WavFileWriter() = default;
  ~WavFileWriter();
  WavFileWriter(const WavFileWriter&) = delete;
  WavFileWriter& operator=(const WavFileWriter&) = delete;

  // Creates path (replacing any file); false with error set when it cannot.
  bool Create(const std::string& path, std::string* error);
  // Appends bytes; the first call fixes the header's format.
  bool Append(const WaveFormatEx& format, const uint8_t* data, uint32_t count);
  bool Flush();
  void Close();
  bool IsOpen() const;
  uint64_t DataBytes() const;

 private:
  bool WriteHeader();

  mutable std::mutex mutex;
  FILE* file = nullptr;
  bool haveFormat = false;
  WaveFormatEx format{};
  uint64_t dataBytes = 0;
  bool failed = false;
};
