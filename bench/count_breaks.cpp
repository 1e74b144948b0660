// SPDX-License-Identifier: GPL-3.0-or-later
// Counts the breaks in a capture of 16-bit stereo sound that never holds 32
// silent frames in a row of its own: every such run between the first and the
// last sound is a dropout. Prints the sound's length, the breaks and the
// silence they put in.
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: count_breaks CAPTURE.raw\n");
    return 2;
  }
  std::ifstream in(argv[1], std::ios::binary);
  const std::vector<char> bytes{std::istreambuf_iterator<char>(in), {}};
  const size_t frames = bytes.size() / 4;
  auto silent = [&](size_t i) {
    return bytes[4 * i] == 0 && bytes[4 * i + 1] == 0 && bytes[4 * i + 2] == 0 &&
           bytes[4 * i + 3] == 0;
  };
  size_t first = 0, last = frames;
  while (first < frames && silent(first))
    ++first;
  while (last > first && silent(last - 1))
    --last;
  size_t breaks = 0, inserted = 0, run = 0;
  for (size_t i = first; i < last; ++i) {
    if (silent(i)) {
      ++run;
      continue;
    }
    if (run >= 32) {
      ++breaks;
      inserted += run;
    }
    run = 0;
  }
  std::printf("sound %.2f s, breaks %zu, silence inserted %.0f ms\n", (last - first) / 44100.0,
              breaks, inserted / 44.1);
  return 0;
}
