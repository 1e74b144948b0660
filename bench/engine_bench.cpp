// SPDX-License-Identifier: GPL-3.0-or-later
// The engine's inner loops: measuring a block's silence, and decoding a qv file
// through the real plug-in into the block ring on the decode thread.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "audio/audio_backend.h"
#include "bench_lesson.h"
#include "codec/codec_registry.h"
#include "dsp/silence_meter.h"
#include "engine/engine.h"
#include "engine_test_access.h"
#include "library/playlist.h"

namespace {

void MeasureBlock(benchmark::State& state) {
  std::vector<uint8_t> block(5002);
  for (size_t i = 0; i + 1 < block.size(); i += 2) {
    const int16_t s = static_cast<int16_t>((i * 37) % 4000 - 2000);
    std::memcpy(&block[i], &s, 2);
  }
  std::atomic<uint32_t> percent{static_cast<uint32_t>(state.range(0))};
  for (auto _ : state) {
    benchmark::DoNotOptimize(MeasureSilence(block.data(), 5000, 16, percent, 2));
  }
  state.SetBytesProcessed(state.iterations() * 5000);
}
BENCHMARK(MeasureBlock)->Arg(5)->Arg(100);

void DecodeQvIntoRing(benchmark::State& state) {
  const std::string lesson = MakeQvLesson(600);
  CodecRegistry registry;
  registry.ScanPlugins(KESTRO_PLUGIN_DIR "/*.so");
  AudioBackend audio(AudioBackend::Kind::kOffline);
  Playlist playlist;
  Engine engine(audio, registry, playlist, nullptr);
  if (!engine.AllocateBuffers()) {
    state.SkipWithError("no memory");
    return;
  }
  Inside(engine).autoMode() = state.range(0) != 0;  // measuring every block, or not
  Inside(engine).StartDecodeThread();
  double seconds = 0;
  for (auto _ : state) {
    if (!Inside(engine).OpenItem(lesson)) {
      state.SkipWithError("cannot open the lesson");
      break;
    }
    // Take blocks as fast as the decoder delivers them.
    while (!Inside(engine).cursor().Idle()) {
      if (Inside(engine).blockRing().Take(&Inside(engine).currentBlock())) {
        Inside(engine).waker().Notify();  // as the engine thread's Feed does: room for the decoder
      } else {
        Inside(engine).Sleep(1);
      }
    }
    seconds += engine.Status().length / 176400.0;
  }
  state.counters["sound_s_per_s"] = benchmark::Counter(seconds, benchmark::Counter::kIsRate);
}
BENCHMARK(DecodeQvIntoRing)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
