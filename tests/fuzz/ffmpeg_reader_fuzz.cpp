// SPDX-License-Identifier: GPL-3.0-or-later
// The FFmpeg plug-ins' reader on any bytes, as each of its extensions: open,
// read in blocks at changing places, always whole frames and never past the
// length it gives once the read is done.
#include <cstdlib>
#include <vector>

#include "fuzz_input_file.h"
#include "plugins/ffmpeg/ffmpeg_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const char* kExtensions[] = {".m4a", ".aac", ".opus", ".mkv", ".webm", ".wma", ".amr"};
  const char* extension = kExtensions[size > 0 ? data[0] % 7 : 0];
  const std::string path = FuzzInputFile(data, size, extension);
  FfmpegReader reader(extension);
  WaveFormatEx format{};
  if (reader.Open(path.c_str(), &format) == 0) return 0;
  if (format.nBlockAlign == 0 || format.wBitsPerSample != 16 || format.nChannels > 2) std::abort();
  std::vector<uint8_t> buffer(4999);
  const uint32_t step = size > 1 ? data[1] * 4001u + 3 : 3;
  CodecBlock block{buffer.data(), 4999, 0, 0, 0, 0};
  for (int i = 0; i < 48; ++i) {
    if (reader.Read(&block, 0) != kReadFilled) break;
    if (block.bytesRead > block.capacity || block.bytesRead % format.nBlockAlign != 0 ||
        block.position % format.nBlockAlign != 0 || block.nextPosition > reader.GetLength())
      std::abort();
    const uint32_t length = reader.GetLength();
    block.position = length > 0 ? (block.nextPosition + step * i) % length : 0;
    block.seekRequested = i % 4 == 0;
  }
  reader.Close();
  return 0;
}
