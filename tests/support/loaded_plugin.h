// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>

#include "codec/codec_server.h"

// A codec plug-in library opened for a test, with the object its GetServer hands out.
class LoadedPlugin {
 public:
  explicit LoadedPlugin(const std::string& path);
  ~LoadedPlugin();
  LoadedPlugin(const LoadedPlugin&) = delete;
  LoadedPlugin& operator=(const LoadedPlugin&) = delete;

  CodecServer* codec() const { return server; }
  GetServerFunction getServer() const { return function; }

 private:
  void* module = nullptr;
  GetServerFunction function = nullptr;
  CodecServer* server = nullptr;
};

// The recording format: PCM, 2 channels, 44100 Hz, 16 bits.
WaveFormatEx RecordingFormat();

// The bytes of a .qv file holding format and pcm.
std::string QvFileBytes(const WaveFormatEx& format, const std::string& pcm);
// The sound data of a WAV (or RF64) file's bytes: its "data" chunk, as long as
// the file holds; "<no wav>" when there is none.
std::string WavDataOf(const std::string& fileBytes);

// n bytes of a pattern that differs at every offset within 251 bytes.
std::string PatternBytes(size_t n, unsigned seed = 0);
