// SPDX-License-Identifier: GPL-3.0-or-later
// Decoding speed of every codec plug-in, in seconds of sound per second of work.
// Run from the build tree: bench/codec_decode_bench [--benchmark_filter=mp3]
#include <benchmark/benchmark.h>
#include <dlfcn.h>
#include <sndfile.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "codec/codec_server.h"

namespace {

constexpr int kRate = 44100;
constexpr int kSeconds = 60;

std::string MakeLesson(const std::string& ext, int format) {
  const std::string path = "/tmp/kestro-bench-lesson." + ext;
  if (::access(path.c_str(), R_OK) == 0) return path;
  SF_INFO info{};
  info.samplerate = kRate;
  info.channels = 2;
  info.format = format;
  SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
  if (f == nullptr) std::abort();
  std::vector<float> block(2 * kRate);
  for (int s = 0; s < kSeconds; ++s) {
    for (int i = 0; i < kRate; ++i) {
      const double t = s + static_cast<double>(i) / kRate;
      const float v = static_cast<float>(0.4 * std::sin(2 * M_PI * 220 * t) *
                                         (0.5 + 0.5 * std::sin(2 * M_PI * 3 * t)));
      block[2 * i] = v;
      block[2 * i + 1] = 0.5f * v;
    }
    sf_writef_float(f, block.data(), kRate);
  }
  sf_close(f);
  return path;
}

void Decode(benchmark::State& state, const std::string& ext, int format) {
  const std::string lesson = MakeLesson(ext, format);
  void* module = ::dlopen((std::string(KESTRO_PLUGIN_DIR) + "/" + ext + ".so").c_str(), RTLD_NOW);
  if (module == nullptr) {
    state.SkipWithError("plug-in not built");
    return;
  }
  auto getServer = reinterpret_cast<GetServerFunction>(::dlsym(module, "GetServer"));
  CodecServer* codec = nullptr;
  getServer(&codec);
  std::vector<uint8_t> buffer(5000);
  double seconds = 0;
  for (auto _ : state) {
    WaveFormatEx wf{};
    if (codec->Open(lesson.c_str(), &wf) == 0) {
      state.SkipWithError("cannot open");
      break;
    }
    CodecBlock block{buffer.data(), 5000, 0, 0, 0, 0};
    while (codec->Read(&block, 0) == kReadFilled)
      block.position = block.nextPosition;
    seconds += static_cast<double>(codec->GetLength()) / wf.nAvgBytesPerSec;
    codec->Close();
  }
  state.counters["sound_s_per_s"] = benchmark::Counter(seconds, benchmark::Counter::kIsRate);
  ::dlclose(module);
}

BENCHMARK_CAPTURE(Decode, wav, "wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Decode, flac, "flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Decode, ogg, "ogg", SF_FORMAT_OGG | SF_FORMAT_VORBIS)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Decode, mp3, "mp3", SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III)
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
