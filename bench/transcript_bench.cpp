// SPDX-License-Identifier: GPL-3.0-or-later
// What a transcript adds to opening an item: a 2-hour SRT of 2000 cues read,
// fitted to its sound and made into sentences.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "sentences/sentence_list.h"
#include "sentences/transcript.h"

namespace {

std::string TwoHourSrt() {
  const std::string path = "/tmp/kestro-bench-2h.srt";
  std::ofstream out(path, std::ios::binary);
  for (int k = 0; k < 2000; ++k) {
    const int from = k * 3600, to = from + 3000;
    char cue[200];
    std::snprintf(cue, sizeof(cue), "%d\n%02d:%02d:%02d,%03d --> %02d:%02d:%02d,%03d\n", k + 1,
                  from / 3600000, from / 60000 % 60, from / 1000 % 60, from % 1000, to / 3600000,
                  to / 60000 % 60, to / 1000 % 60, to % 1000);
    out << cue << "<i>Sentence</i> number " << k + 1 << ", spoken slowly\nand a second line\n\n";
  }
  return path;
}

void OpenTwoHourSrt(benchmark::State& state) {
  const std::string path = TwoHourSrt();
  SentenceList sentences;
  for (auto _ : state) {
    Transcript t;
    if (!t.Load(path)) state.SkipWithError("no transcript");
    t.Fit(7200000);
    sentences.Set(t.Cues(), 176400, 4, 7200u * 176400u, 150, 250);
    benchmark::DoNotOptimize(sentences.Count());
  }
}
BENCHMARK(OpenTwoHourSrt)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
