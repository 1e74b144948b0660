// SPDX-License-Identifier: GPL-3.0-or-later
// Sentence clips of a 10-minute MP3 lesson with a transcript, side by side:
// kestro-cli --clips against the ffmpeg command run once per sentence, cutting
// the same spans and encoding them as MP3 at a like bit rate (kestro's default
// comes to some 90 kbit/s here; ffmpeg's at 96 kbit/s).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "command_timing.h"

namespace {

struct Span {
  double start, end;
};

// 10 minutes of 44.1 kHz stereo: sentences of 2 to 4 s, each followed by a
// 1-s pause, as WAV; returns the sentences' spans as the transcript gives them.
std::vector<Span> MakeLesson(const std::string& wav) {
  const long total = 600L * 44100;
  std::vector<int16_t> pcm(static_cast<size_t>(total) * 2);
  std::vector<Span> spans;
  long at = 0;
  for (int sentence = 0; at < total; ++sentence) {
    const long speech = (2 + sentence % 3) * 44100L, pause = 44100;
    if (at + speech <= total) spans.push_back({at / 44100.0, (at + speech) / 44100.0});
    for (long i = 0; i < speech + pause && at < total; ++i, ++at) {
      const double t = at / 44100.0;
      const double v = i < speech ? (0.6 + 0.4 * std::sin(2 * M_PI * 4 * t)) *
                                        std::sin(2 * M_PI * (180 + 20 * (sentence % 5)) * t) * 12000
                                  : 0;
      pcm[2 * at] = pcm[2 * at + 1] = static_cast<int16_t>(v);
    }
  }
  std::ofstream out(wav, std::ios::binary);
  auto u32 = [&](uint32_t v) { out.write(reinterpret_cast<const char*>(&v), 4); };
  auto u16 = [&](uint16_t v) { out.write(reinterpret_cast<const char*>(&v), 2); };
  const uint32_t bytes = static_cast<uint32_t>(pcm.size() * 2);
  out.write("RIFF", 4);
  u32(36 + bytes);
  out.write("WAVEfmt ", 8);
  u32(16);
  u16(1);
  u16(2);
  u32(44100);
  u32(176400);
  u16(4);
  u16(16);
  out.write("data", 4);
  u32(bytes);
  out.write(reinterpret_cast<const char*>(pcm.data()), bytes);
  return spans;
}

std::string Time(double s) {
  char text[32];
  const int ms = static_cast<int>(std::lround(s * 1000));
  std::snprintf(text, sizeof(text), "%02d:%02d:%02d,%03d", ms / 3600000, ms / 60000 % 60,
                ms / 1000 % 60, ms % 1000);
  return text;
}

void Clips(benchmark::State& state) {
  const std::string dir = "/tmp/kestro-clips-bench";
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  std::filesystem::copy(KESTRO_STAGE_DIR "/Arch", dir + "/Arch");
  const std::vector<Span> spans = MakeLesson(dir + "/lesson.wav");
  if (std::system(("ffmpeg -v error -y -i " + dir + "/lesson.wav -c:a libmp3lame -b:a 128k " + dir +
                   "/lesson.mp3")
                      .c_str()) != 0) {
    state.SkipWithError("ffmpeg could not make the lesson");
    return;
  }
  // The transcript, and the same spans cut by ffmpeg with kestro-cli's pads
  // (0.15 s before, 0.25 s after: every pause here is longer than both).
  std::ofstream srt(dir + "/lesson.srt");
  std::ofstream script(dir + "/ffmpeg-clips.sh");
  script << "set -e\nmkdir -p " << dir << "/ff\n";
  for (size_t i = 0; i < spans.size(); ++i) {
    srt << i + 1 << "\n" << Time(spans[i].start) << " --> " << Time(spans[i].end) << "\nline\n\n";
    char name[64];
    std::snprintf(name, sizeof(name), "ff/lesson-%03zu.mp3", i + 1);
    script << "ffmpeg -v error -y -ss " << std::max(0.0, spans[i].start - 0.15) << " -to "
           << spans[i].end + 0.25 << " -i " << dir << "/lesson.mp3 -c:a libmp3lame -b:a 96k " << dir
           << "/" << name << "\n";
  }
  srt.close();
  script.close();
  const std::string kestro =
      "cd " + dir + " && " KESTRO_STAGE_DIR "/kestro-cli --clips=k --force lesson.mp3 > /dev/null";
  const std::string ffmpeg = "sh " + dir + "/ffmpeg-clips.sh";
  std::vector<double> ours, theirs;
  for (auto _ : state) {
    const double k = Seconds(kestro), f = Seconds(ffmpeg);
    if (k < 0 || f < 0) state.SkipWithError("a command failed");
    ours.push_back(k);
    theirs.push_back(f);
    state.SetIterationTime(k + f);
  }
  state.counters["clips"] = static_cast<double>(spans.size());
  state.counters["kestro_s"] = Median(ours);
  state.counters["ffmpeg_s"] = Median(theirs);
  state.counters["kestro_x_ffmpeg"] = Median(ours) / Median(theirs);
  auto megabytes = [](const std::string& folder) {
    double sum = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
      if (entry.path().extension() == ".mp3") sum += static_cast<double>(entry.file_size());
    return sum / 1e6;
  };
  state.counters["kestro_MB"] = megabytes(dir + "/k");
  state.counters["ffmpeg_MB"] = megabytes(dir + "/ff");
}
BENCHMARK(Clips)->UseManualTime()->Iterations(3)->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
