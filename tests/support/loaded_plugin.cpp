// SPDX-License-Identifier: GPL-3.0-or-later
#include "loaded_plugin.h"

#include <dlfcn.h>

#include <cstring>
#include <stdexcept>

LoadedPlugin::LoadedPlugin(const std::string& path) {
  module = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (module == nullptr) throw std::runtime_error("cannot load " + path + ": " + ::dlerror());
  function = reinterpret_cast<GetServerFunction>(::dlsym(module, KESTRO_GET_SERVER_NAME));
  if (function == nullptr) throw std::runtime_error(path + " has no GetServer");
  function(&server);
}

LoadedPlugin::~LoadedPlugin() {
  if (server != nullptr) server->Close();
  ::dlclose(module);
}

WaveFormatEx RecordingFormat() {
  WaveFormatEx f{};
  f.wFormatTag = kWaveFormatPcm;
  f.nChannels = 2;
  f.nSamplesPerSec = 44100;
  f.nAvgBytesPerSec = 176400;
  f.nBlockAlign = 4;
  f.wBitsPerSample = 16;
  f.cbSize = 0;
  return f;
}

std::string QvFileBytes(const WaveFormatEx& format, const std::string& pcm) {
  std::string bytes = "qvoxa";
  bytes.append(reinterpret_cast<const char*>(&format), sizeof(format));
  bytes += pcm;
  return bytes;
}

std::string PatternBytes(size_t n, unsigned seed) {
  std::string bytes(n, '\0');
  for (size_t i = 0; i < n; ++i)
    bytes[i] = static_cast<char>((i + seed) % 251);
  return bytes;
}

std::string WavDataOf(const std::string& bytes) {
  if (bytes.size() < 12 || (bytes.compare(0, 4, "RIFF") != 0 && bytes.compare(0, 4, "RF64") != 0)) {
    return "<no wav>";
  }
  for (size_t at = 12; at + 8 <= bytes.size();) {
    uint32_t size;
    std::memcpy(&size, bytes.data() + at + 4, 4);
    if (bytes.compare(at, 4, "data") == 0) return bytes.substr(at + 8);
    at += 8 + size + (size & 1);
  }
  return "<no wav>";
}
