// SPDX-License-Identifier: GPL-3.0-or-later
// The adaptive split's analysis of a lesson against plain decoding of it, and
// what the analysis holds. Run from the build tree:
//   bench/adaptive_split_bench [--benchmark_filter=wav]
#include <benchmark/benchmark.h>
#include <dlfcn.h>
#include <sndfile.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "sentences/adaptive_splitter.h"
#include "sentences/sentence_analysis.h"

namespace {

constexpr int kRate = 44100;

// Tone sentences of 1.5..4 s with pauses of 0.3..1.2 s and quiet noise under
// everything, 44.1 kHz stereo.
std::string MakeLesson(const std::string& ext, int format, int minutes) {
  const std::string path = "/tmp/kestro-split-bench-" + std::to_string(minutes) + "min." + ext;
  if (::access(path.c_str(), R_OK) == 0) return path;
  SF_INFO info{};
  info.samplerate = kRate;
  info.channels = 2;
  info.format = format;
  SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
  if (f == nullptr) std::abort();
  std::vector<float> block(2 * kRate);
  uint32_t noise = 1;
  double sentenceLeft = 2.0, pauseLeft = 0;
  int k = 0;
  for (int s = 0; s < minutes * 60; ++s) {
    for (int i = 0; i < kRate; ++i) {
      const double t = s + static_cast<double>(i) / kRate;
      noise = noise * 1664525u + 1013904223u;
      float v = static_cast<float>(static_cast<int32_t>(noise) / 2147483648.0 * 0.003);
      if (sentenceLeft > 0) {
        v += static_cast<float>(0.4 * std::sin(2 * M_PI * (200 + 20 * (k % 9)) * t) *
                                (0.6 + 0.4 * std::sin(2 * M_PI * 4 * t)));
        sentenceLeft -= 1.0 / kRate;
        if (sentenceLeft <= 0) pauseLeft = 0.3 + 0.1 * (k % 10);
      } else if ((pauseLeft -= 1.0 / kRate) <= 0) {
        sentenceLeft = 1.5 + 0.25 * (++k % 11);
      }
      block[2 * i] = v;
      block[2 * i + 1] = v;
    }
    sf_writef_float(f, block.data(), kRate);
  }
  sf_close(f);
  return path;
}

CodecServer* Codec(const std::string& ext) {
  void* module = ::dlopen((std::string(KESTRO_PLUGIN_DIR) + "/" + ext + ".so").c_str(), RTLD_NOW);
  if (module == nullptr) return nullptr;
  auto getServer = reinterpret_cast<GetServerFunction>(::dlsym(module, "GetServer"));
  CodecServer* codec = nullptr;
  getServer(&codec);
  return codec;
}

void Decode(benchmark::State& state, const std::string& ext, int format, int minutes) {
  const std::string lesson = MakeLesson(ext, format, minutes);
  CodecServer* codec = Codec(ext);
  if (codec == nullptr) return state.SkipWithError("plug-in not built");
  std::vector<uint8_t> buffer(64 * 1024);
  for (auto _ : state) {
    WaveFormatEx wf{};
    if (codec->Open(lesson.c_str(), &wf) == 0) return state.SkipWithError("cannot open");
    CodecBlock block{buffer.data(), static_cast<uint32_t>(buffer.size()), 0, 0, 0, 0};
    while (codec->Read(&block, 0) == kReadFilled)
      block.position = block.nextPosition;
    codec->Close();
  }
}

void Analyse(benchmark::State& state, const std::string& ext, int format, int minutes) {
  const std::string lesson = MakeLesson(ext, format, minutes);
  CodecServer* codec = Codec(ext);
  if (codec == nullptr) return state.SkipWithError("plug-in not built");
  const std::atomic<bool> never{false};
  SentenceList list;
  std::string problem;
  for (auto _ : state) {
    if (!SentenceAnalysis::Run(codec, lesson, {}, {}, &list, never, nullptr, &problem))
      return state.SkipWithError(problem.c_str());
  }
  state.counters["sentences"] = static_cast<double>(list.Count());
  // What the analysis keeps while it runs: its splitter, fed the whole sound.
  WaveFormatEx wf{};
  codec->Open(lesson.c_str(), &wf);
  AdaptiveSplitter splitter;
  splitter.Start(wf.nSamplesPerSec, wf.nChannels, {});
  std::vector<uint8_t> buffer(64 * 1024);
  CodecBlock block{buffer.data(), static_cast<uint32_t>(buffer.size()), 0, 0, 0, 0};
  while (codec->Read(&block, 0) == kReadFilled) {
    splitter.Feed(block.data, block.bytesRead);
    block.position = block.nextPosition;
  }
  codec->Close();
  state.counters["held_bytes_per_hour"] =
      static_cast<double>(splitter.MemoryBytes()) * 60 / minutes;
}

BENCHMARK_CAPTURE(Decode, wav60min, "wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 60)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Analyse, wav60min, "wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 60)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Decode, mp3_10min, "mp3", SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III, 10)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Analyse, mp3_10min, "mp3", SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III, 10)
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
