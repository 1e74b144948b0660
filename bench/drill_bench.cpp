// Drill export speed: kestro-cli --drill on a 10-minute 44.1 kHz stereo lesson of
// sentences and pauses, end to end (the goal: under 10 seconds).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace {

// 10 minutes: sentences of 2 to 4 s, each followed by a pause of 2.5 s.
std::string MakeLesson(const std::string& dir) {
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
    const long speech = (2 + sentence % 3) * 44100L, pause = 110250;
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

void DrillExport(benchmark::State& state) {
  const std::string dir = "/tmp/kestro-drill-bench";
  std::filesystem::create_directories(dir);
  std::filesystem::remove_all(dir + "/Arch");
  std::filesystem::copy(KESTRO_STAGE_DIR "/Arch", dir + "/Arch");
  MakeLesson(dir);
  const std::string command =
      "cd " + dir + " && " KESTRO_STAGE_DIR "/kestro-cli --drill=drill.wav lesson.qv > out.txt";
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    if (std::system(command.c_str()) != 0) state.SkipWithError("kestro-cli failed");
    state.SetIterationTime(
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
  state.counters["drill_MB"] = std::filesystem::file_size(dir + "/drill.wav") / 1e6;
}
BENCHMARK(DrillExport)->UseManualTime()->Iterations(2)->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
