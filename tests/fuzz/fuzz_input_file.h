// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

// The readers under test take a path: each input is written to one file of
// the process's own, rewritten for every run.
inline std::string FuzzInputFile(const uint8_t* data, size_t size, const char* extension) {
  static const std::string path =
      std::string("/tmp/kestro-fuzz-") + std::to_string(::getpid()) + extension;
  FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) std::abort();
  if (size > 0 && std::fwrite(data, 1, size, f) != size) std::abort();
  std::fclose(f);
  return path;
}
