// SPDX-License-Identifier: GPL-3.0-or-later
// The engine thread at work: how fast a request is served while reading through
// a real device driver (SDL's dummy driver), how fast plain reading runs on the
// offline devices, and what real-time playback costs in CPU (at full speed and
// slowed down with the pitch kept).
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "audio/audio_backend.h"
#include "bench_lesson.h"
#include "codec/codec_registry.h"
#include "engine/engine.h"
#include "engine_test_access.h"
#include "library/playlist.h"

namespace {

using Clock = std::chrono::steady_clock;

// An engine with its threads running on one lesson.
struct Rig {
  explicit Rig(AudioBackend::Kind kind, int seconds)
      : audio(kind), engine(audio, registry, playlist, nullptr) {
    registry.ScanPlugins(KESTRO_PLUGIN_DIR "/*.so");
    playlist.Append(MakeQvLesson(seconds));
    engine.AllocateBuffers();
  }
  CodecRegistry registry;
  Playlist playlist;
  AudioBackend audio;
  Engine engine;
};

double CpuSeconds() {
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
         (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

void RequestLatency(benchmark::State& state) {
  Rig rig(AudioBackend::Kind::kSdl, 600);
  Engine& e = rig.engine;
  e.StartThreads();
  while (e.Status().length == 0)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  std::vector<double> latencies;
  for (auto _ : state) {
    const auto start = Clock::now();
    Inside(e).Post(ENG_VOLUME_REQ);
    // Spinning (a sleep of 20 us takes about 100 us here and would be measured
    // instead of the engine), yielding the core so that the engine thread is
    // not kept off it by the benchmark itself.
    while (e.Status().flags & ENG_VOLUME_REQ) {
      std::this_thread::yield();
    }
    const double us = std::chrono::duration<double, std::micro>(Clock::now() - start).count();
    latencies.push_back(us);
    state.SetIterationTime(us / 1e6);
    std::this_thread::sleep_for(std::chrono::milliseconds(7));  // requests arrive at random
  }
  std::sort(latencies.begin(), latencies.end());
  state.counters["median_us"] = latencies[latencies.size() / 2];
  state.counters["p99_us"] = latencies[latencies.size() * 99 / 100];
  e.Shutdown();
}
BENCHMARK(RequestLatency)->UseManualTime()->Iterations(500)->Unit(benchmark::kMicrosecond);

void OfflineReading(benchmark::State& state) {
  double seconds = 0;
  for (auto _ : state) {
    Rig rig(AudioBackend::Kind::kOffline, 600);
    Inside(rig.engine).stopAtListEnd() = true;
    Inside(rig.engine).playlistIndex() = -1;
    const auto start = Clock::now();
    rig.engine.StartThreads();
    while (!Inside(rig.engine).listFinished().load())
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
    seconds += 600;
    rig.engine.Shutdown();
  }
  state.counters["sound_s_per_s"] = benchmark::Counter(seconds, benchmark::Counter::kIsRate);
}
BENCHMARK(OfflineReading)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

// Arg 1: three quarters as fast with the pitch kept (the device stretches).
void RealTimePlaybackCpu(benchmark::State& state) {
  const bool slow = state.range(0) != 0;
  for (auto _ : state) {
    Rig rig(AudioBackend::Kind::kSdl, 600);
    rig.engine.StartThreads();
    while (Inside(rig.engine).fileLength().load() == 0)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    if (slow) {
      rig.engine.SetKeepPitch(true);
      rig.engine.SpeedSlider(25);
      while (rig.engine.Status().outputTempo != 0.75f)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    std::this_thread::sleep_for(std::chrono::seconds(2));  // the queues fill
    const double cpu0 = CpuSeconds();
    const auto start = Clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(10));
    const double wall = std::chrono::duration<double>(Clock::now() - start).count();
    const double cpu = CpuSeconds() - cpu0;
    state.SetIterationTime(wall);
    // Where the time went, thread by thread (utime + stime in clock ticks).
    std::string report;
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
      const std::string path = task.path().string() + "/stat";
      FILE* f = std::fopen(path.c_str(), "r");
      if (!f) continue;
      char buf[1024] = {};
      std::fread(buf, 1, sizeof(buf) - 1, f);
      std::fclose(f);
      std::string stat = buf;
      const size_t close = stat.rfind(')');
      std::vector<std::string> fields;
      size_t pos = close + 2;
      while (pos < stat.size() && fields.size() < 15) {
        const size_t next = stat.find(' ', pos);
        fields.push_back(stat.substr(pos, next - pos));
        pos = next + 1;
      }
      report += stat.substr(stat.find('(') + 1, close - stat.find('(') - 1) + ":" + fields[11] +
                "+" + fields[12] + " ";
    }
    if (std::getenv("KESTRO_BENCH_THREADS")) std::fprintf(stderr, "%s\n", report.c_str());
    state.counters["cpu_s_per_min"] = cpu / wall * 60;
    state.counters["core_percent"] = cpu / wall * 100;
    rig.engine.Shutdown();
  }
}
BENCHMARK(RealTimePlaybackCpu)
    ->Arg(0)
    ->Arg(1)
    ->UseManualTime()
    ->Iterations(1)
    ->Unit(benchmark::kSecond);

}  // namespace

int main(int argc, char** argv) {
  // A real device driver that needs no sound card, unless the caller chose one.
  ::setenv("SDL_AUDIODRIVER", "dummy", 0);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  return 0;
}
