// SPDX-License-Identifier: GPL-3.0-or-later
// A lesson whose every frame tells its own place, and the reading of a
// capture of it: the sound server's null sink passes 16-bit sound on
// unchanged, so each captured frame says which frame of the lesson it was.
//   latency_probe make LESSON.wav SECONDS
//   latency_probe read CAPTURE.raw     (prints where the sound stops, starts
//                                       and jumps, as frames of the capture)
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

// Frame f as two samples: its low and high 15 bits, plus one so that no
// frame of the lesson is silence.
void Encode(uint32_t f, int16_t* left, int16_t* right) {
  *left = static_cast<int16_t>((f & 0x3FFF) + 1);
  *right = static_cast<int16_t>((f >> 14 & 0x3FFF) + 1);
}

int Make(const char* path, int seconds) {
  const uint32_t frames = static_cast<uint32_t>(seconds) * 44100;
  std::ofstream out(path, std::ios::binary);
  auto put32 = [&](uint32_t v) { out.write(reinterpret_cast<const char*>(&v), 4); };
  auto put16 = [&](uint16_t v) { out.write(reinterpret_cast<const char*>(&v), 2); };
  out.write("RIFF", 4);
  put32(36 + frames * 4);
  out.write("WAVEfmt ", 8);
  put32(16);
  put16(1);
  put16(2);
  put32(44100);
  put32(176400);
  put16(4);
  put16(16);
  out.write("data", 4);
  put32(frames * 4);
  for (uint32_t f = 0; f < frames; ++f) {
    int16_t s[2];
    Encode(f, &s[0], &s[1]);
    out.write(reinterpret_cast<const char*>(s), 4);
  }
  return out ? 0 : 1;
}

// The capture's events, each with its frame index in the capture: where the
// sound stops, where it starts again and where it jumps to another place of
// the lesson (only where the server passes the sound on unchanged).
int Read(const char* path) {
  std::ifstream in(path, std::ios::binary);
  const std::vector<char> bytes{std::istreambuf_iterator<char>(in), {}};
  const size_t frames = bytes.size() / 4;
  std::vector<int16_t> s(frames * 2);
  std::memcpy(s.data(), bytes.data(), frames * 4);
  bool sounding = false;
  long last = -1;
  size_t quiet = 0;
  for (size_t i = 0; i < frames; ++i) {
    if (s[2 * i] == 0 && s[2 * i + 1] == 0) {
      // A few quiet frames are no stop: 10 ms of them are.
      if (sounding && ++quiet == 441) {
        std::printf("stop %zu\n", i + 1 - quiet);
        sounding = false;
      }
      continue;
    }
    quiet = 0;
    const long f = static_cast<long>((s[2 * i] - 1) | (s[2 * i + 1] - 1) << 14);
    if (!sounding) {
      std::printf("start %zu\n", i);
      sounding = true;
    } else if (f > last + 100 || f < last - 100) {
      std::printf("jump %zu\n", i);
    }
    last = f;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::string(argv[1]) == "make") return Make(argv[2], std::atoi(argv[3]));
  if (argc == 3 && std::string(argv[1]) == "read") return Read(argv[2]);
  std::fprintf(stderr, "usage: latency_probe make LESSON.wav SECONDS | read CAPTURE.raw\n");
  return 2;
}
