// SPDX-License-Identifier: GPL-3.0-or-later
// The FFmpeg plug-ins beside the ffmpeg command, in one run: decoding a
// 10-minute .m4a and .opus whole, and the seek-and-read an A..B loop repeats
// in the middle of a 60-minute .m4b. Lessons are made once in /tmp from the
// demo's speech. Run from the build tree: bench/ffmpeg_decode_bench
#include <benchmark/benchmark.h>
#include <dlfcn.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "codec/codec_server.h"

namespace {

std::string Lesson(const std::string& name, int minutes, const std::string& options) {
  const std::string path = "/tmp/kestro-bench-" + name;
  if (::access(path.c_str(), R_OK) == 0) return path;
  const std::string command = "ffmpeg -v error -y -stream_loop -1 -i '" KESTRO_SPEECH "' -t " +
                              std::to_string(minutes * 60) + " " + options + " '" + path + "'";
  if (std::system(command.c_str()) != 0) std::abort();
  return path;
}

std::string LessonFor(const std::string& ext) {
  if (ext == "opus") return Lesson("10min.opus", 10, "-c:a libopus -b:a 64k");
  if (ext == "m4b") return Lesson("60min.m4b", 60, "-ac 1 -c:a aac -b:a 64k");
  return Lesson("10min.m4a", 10, "-c:a aac -b:a 128k");
}

class Plugin {
 public:
  explicit Plugin(const std::string& ext)
      : module(::dlopen((std::string(KESTRO_PLUGIN_DIR) + "/" + ext + ".so").c_str(), RTLD_NOW)) {
    if (module == nullptr) std::abort();
    reinterpret_cast<GetServerFunction>(::dlsym(module, "GetServer"))(&codec);
  }
  ~Plugin() { ::dlclose(module); }
  void* module;
  CodecServer* codec = nullptr;
};

void PluginDecodes(benchmark::State& state, const std::string& ext) {
  const std::string lesson = LessonFor(ext);
  Plugin p(ext);
  std::vector<uint8_t> buffer(5000);
  for (auto _ : state) {
    WaveFormatEx wf{};
    if (p.codec->Open(lesson.c_str(), &wf) == 0) std::abort();
    CodecBlock block{buffer.data(), 5000, 0, 0, 0, 0};
    while (p.codec->Read(&block, 0) == kReadFilled)
      block.position = block.nextPosition;
    p.codec->Close();
  }
}

// What the ffmpeg command takes for the same decoding, to raw PCM.
void FfmpegCommandDecodes(benchmark::State& state, const std::string& ext) {
  const std::string command = "ffmpeg -v error -y -i '" + LessonFor(ext) + "' -f s16le /dev/null";
  for (auto _ : state)
    if (std::system(command.c_str()) != 0) std::abort();
}

// A seek to A and the first block from there, A being in turn eight places
// 97.37 s apart from the middle of the book on, anywhere in their segments.
void SeekAndRead(benchmark::State& state) {
  const std::string lesson = LessonFor("m4b");
  Plugin p("m4b");
  WaveFormatEx wf{};
  if (p.codec->Open(lesson.c_str(), &wf) == 0) std::abort();
  const uint32_t middle = p.codec->GetLength() / 2 / wf.nBlockAlign * wf.nBlockAlign;
  std::vector<uint32_t> places;
  for (int i = 0; i < 8; ++i)
    places.push_back(middle +
                     static_cast<uint32_t>(i * 97.37 * wf.nSamplesPerSec) * wf.nBlockAlign);
  std::vector<uint8_t> buffer(5000);
  int turn = 0;
  for (auto _ : state) {
    CodecBlock block{buffer.data(), 5000, 0, places[turn++ % places.size()], 0, 1};
    if (p.codec->Read(&block, 0) != kReadFilled) std::abort();
  }
  p.codec->Close();
}

BENCHMARK_CAPTURE(PluginDecodes, m4a_10min, "m4a")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(FfmpegCommandDecodes, m4a_10min, "m4a")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(PluginDecodes, opus_10min, "opus")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(FfmpegCommandDecodes, opus_10min, "opus")->Unit(benchmark::kMillisecond);
BENCHMARK(SeekAndRead)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
