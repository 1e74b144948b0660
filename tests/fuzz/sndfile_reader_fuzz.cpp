// SPDX-License-Identifier: GPL-3.0-or-later
// The libsndfile plug-ins' reader on any bytes, as each of its formats: open,
// read in blocks at changing places, always whole frames and never past the
// length it gives.
#include <cstdlib>
#include <vector>

#include "fuzz_input_file.h"
#include "plugins/sndfile/sndfile_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const char* kExtensions[] = {".wav", ".flac", ".ogg", ".mp3"};
  const char* extension = kExtensions[size > 0 ? data[0] % 4 : 0];
  const std::string path = FuzzInputFile(data, size, extension);
  SndfileReader reader(extension);
  WaveFormatEx format{};
  if (reader.Open(path.c_str(), &format) == 0) return 0;
  if (format.nBlockAlign == 0 || format.wBitsPerSample != 16) std::abort();
  std::vector<uint8_t> buffer(4999);
  const uint32_t step = size > 1 ? data[1] * 4001u + 3 : 3;
  CodecBlock block{buffer.data(), 4999, 0, 0, 0, 0};
  for (int i = 0; i < 48; ++i) {
    const uint32_t length = reader.GetLength();
    if (reader.Read(&block, 0) != kReadFilled) break;
    if (block.bytesRead > block.capacity || block.bytesRead % format.nBlockAlign != 0 ||
        block.position % format.nBlockAlign != 0 || block.nextPosition > length)
      std::abort();
    block.position =
        reader.GetLength() > 0 ? (block.nextPosition + step * i) % reader.GetLength() : 0;
    block.seekRequested = i % 4 == 0;
  }
  reader.Close();
  return 0;
}
