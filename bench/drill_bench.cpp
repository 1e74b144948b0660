// SPDX-License-Identifier: GPL-3.0-or-later
// Batch work on a 10-minute 44.1 kHz stereo lesson of sentences and pauses, end
// to end through kestro-cli: plain reading, scripted reading, the drill, and the
// drill slowed down with the pitch kept.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "command_timing.h"

namespace {

// 10 minutes: sentences of 2 to 4 s, each followed by a pause of pause frames.
std::string MakeLesson(const std::string& dir, long pause) {
  const std::string path = dir + "/lesson.qv";
  FILE* f = std::fopen(path.c_str(), "wb");
  const unsigned char header[23] = {'q', 'v',  'o',  'x',  'a', 1, 0, 2,  0, 0x44, 0xAC, 0,
                                    0,   0x10, 0xB1, 0x02, 0,   4, 0, 16, 0, 0,    0};
  std::fwrite(header, 1, sizeof(header), f);
  const long total = 600L * 44100;
  std::vector<int16_t> frame(2);
  long written = 0;
  int sentence = 0;
  while (written < total) {
    const long speech = (2 + sentence % 3) * 44100L;
    for (long i = 0; i < speech + pause && written < total; ++i, ++written) {
      const double t = written / 44100.0;
      const double v = i < speech ? (0.6 + 0.4 * std::sin(2 * M_PI * 4 * t)) *
                                        std::sin(2 * M_PI * 220 * t) * 12000
                                  : 0;
      frame[0] = frame[1] = static_cast<int16_t>(v);
      std::fwrite(frame.data(), 2, 2, f);
    }
    ++sentence;
  }
  std::fclose(f);
  return path;
}

// Batch work side by side, run after run: plain offline reading of the lesson,
// the same reading driven by a script, and the drill (which writes four times
// the sound). The ratios are what counts: the script should cost next to
// nothing, and the drill about what its four times the sound costs.
// The argument is the pause after each sentence in ms: 2500 (some 110
// sentences), 1000 (some 150 short ones, each drilled soon after the last).
void BatchWork(benchmark::State& state) {
  const std::string dir = "/tmp/kestro-drill-bench";
  std::filesystem::create_directories(dir);
  std::filesystem::remove_all(dir + "/Arch");
  std::filesystem::copy(KESTRO_STAGE_DIR "/Arch", dir + "/Arch");
  MakeLesson(dir, state.range(0) * 441 / 10);
  {
    FILE* script = std::fopen((dir + "/read.txt").c_str(), "w");
    std::fputs("volume 100\nwait-mode idle\nquit\n", script);
    std::fclose(script);
  }
  const std::string cli = "cd " + dir + " && " KESTRO_STAGE_DIR "/kestro-cli ";
  const std::string plain = cli + "--audio=offline --wav=plain.wav lesson.qv > /dev/null";
  const std::string scripted =
      cli + "--audio=offline --wav=scripted.wav --script=read.txt lesson.qv > /dev/null";
  // Pauses count from 0.8 of their length (the default, 2 s, suits 2.5 s).
  const std::string seconds =
      state.range(0) < 2500 ? "--seconds=" + std::to_string(state.range(0) * 0.8 / 1000) + " " : "";
  const std::string drill = cli + "--drill=drill.wav " + seconds + "lesson.qv > /dev/null";
  // The same drill three quarters as fast with the pitch kept: it stretches
  // all of its output.
  const std::string slow =
      cli + "--drill=slow.wav --speed=25 --keep-pitch " + seconds + "lesson.qv > /dev/null";
  std::vector<double> plainS, scriptedS, drillS, slowS;
  for (auto _ : state) {
    const double p = Seconds(plain), s = Seconds(scripted), d = Seconds(drill), w = Seconds(slow);
    if (p < 0 || s < 0 || d < 0 || w < 0) state.SkipWithError("kestro-cli failed");
    plainS.push_back(p);
    scriptedS.push_back(s);
    drillS.push_back(d);
    slowS.push_back(w);
    state.SetIterationTime(p + s + d + w);
  }
  state.counters["plain_s"] = Median(plainS);
  state.counters["scripted_s"] = Median(scriptedS);
  state.counters["drill_s"] = Median(drillS);
  state.counters["scripted_x_plain"] = Median(scriptedS) / Median(plainS);
  state.counters["drill_x_plain"] = Median(drillS) / Median(plainS);
  state.counters["drill_MB"] = std::filesystem::file_size(dir + "/drill.wav") / 1e6;
  state.counters["slow_drill_s"] = Median(slowS);
  state.counters["slow_x_drill"] = Median(slowS) / Median(drillS);
  state.counters["slow_drill_MB"] = std::filesystem::file_size(dir + "/slow.wav") / 1e6;
}
BENCHMARK(BatchWork)->Arg(2500)->Arg(1000)->UseManualTime()->Iterations(5)->Unit(
    benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
