// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "codec/codec_server.h"

// A qv lesson of the given length (44.1 kHz 16-bit stereo), made once in /tmp.
inline std::string MakeQvLesson(int seconds) {
  const std::string path = "/tmp/kestro-bench-lesson-" + std::to_string(seconds) + ".qv";
  if (::access(path.c_str(), R_OK) == 0) return path;
  FILE* f = std::fopen(path.c_str(), "wb");
  const WaveFormatEx format{kWaveFormatPcm, 2, 44100, 176400, 4, 16, 0};
  std::fwrite("qvoxa", 1, 5, f);
  std::fwrite(&format, 1, sizeof(format), f);
  std::vector<uint8_t> second(176400);
  for (size_t i = 0; i < second.size(); ++i)
    second[i] = static_cast<uint8_t>(i * 13);
  for (int s = 0; s < seconds; ++s)
    std::fwrite(second.data(), 1, second.size(), f);
  std::fclose(f);
  return path;
}
