// SPDX-License-Identifier: GPL-3.0-or-later
// The qv plug-in's reader on any bytes: open, read in blocks of changing sizes
// and places, never past what it said it holds.
#include <cstring>
#include <vector>

#include "fuzz_input_file.h"
#include "plugins/qv/qv_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string path = FuzzInputFile(data, size, ".qv");
  QvReader reader;
  WaveFormatEx format{};
  if (reader.Open(path.c_str(), &format) == 0) return 0;
  const uint32_t length = reader.GetLength();
  std::vector<uint8_t> buffer(5000);
  const uint32_t step = size > 0 ? data[0] * 37u + 1 : 1;
  CodecBlock block{buffer.data(), 5000, 0, 0, 0, 0};
  for (int i = 0; i < 64; ++i) {
    if (reader.Read(&block, length / 2 + step) != kReadFilled) break;
    if (block.bytesRead > block.capacity || block.nextPosition > length) std::abort();
    block.position = (block.nextPosition + step * i) % (length + 1);
    block.seekRequested = i % 3 == 0;
  }
  reader.Close();
  return 0;
}
