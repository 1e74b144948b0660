// SPDX-License-Identifier: GPL-3.0-or-later
// How the three ways of finding sentences fare on lessons with known pauses:
// espeak-ng speech and tone "sentences", each clean, under pink and brown
// noise, with mains hum, and mastered quietly.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <sstream>

#include "cli_runner.h"
#include "loaded_plugin.h"

namespace {

constexpr int kRate = 22050;
const WaveFormatEx kMono{kWaveFormatPcm, 1, kRate, kRate * 2, 2, 16, 0};

struct Lesson {
  std::vector<double> samples;                    // -1..1
  std::vector<std::pair<double, double>> pauses;  // between the sentences, in seconds
  int sentences = 0;
  int clicks = 0;
};

const char* const kTexts[] = {
    "Good morning everyone.",
    "The train leaves at seven.",
    "Where is the library?",
    "I would like a cup of tea.",
    "Thank you very much.",
    "My brother lives in a small town near the sea.",
    "Please open the window.",
    "We are going to the market tomorrow.",
    "It is raining again.",
    "Can you help me with this?",
    "The museum is closed on Mondays.",
    "She reads a book every night.",
    "How much does it cost?",
    "Turn left at the next corner.",
};
const double kPauses[] = {0.4, 0.7, 1.0, 2.5, 0.5, 1.5, 0.8, 0.6};

// What espeak-ng says, without the quiet it leaves before and after.
std::vector<double> Spoken(const std::string& text) {
  FILE* pipe = ::popen(("espeak-ng --stdout \"" + text + "\"").c_str(), "r");
  std::string wav;
  char buffer[65536];
  for (size_t n; pipe != nullptr && (n = std::fread(buffer, 1, sizeof(buffer), pipe)) > 0;)
    wav.append(buffer, n);
  if (pipe != nullptr) ::pclose(pipe);
  const std::string pcm = WavDataOf(wav);
  std::vector<double> out(pcm.size() / 2);
  for (size_t i = 0; i < out.size(); ++i) {
    int16_t v;
    std::memcpy(&v, pcm.data() + 2 * i, 2);
    out[i] = v / 32768.0;
  }
  auto loud = [](double v) { return std::fabs(v) > 0.01; };
  const auto first = std::find_if(out.begin(), out.end(), loud);
  const auto last = std::find_if(out.rbegin(), out.rend(), loud).base();
  return first < last ? std::vector<double>(first, last) : std::vector<double>();
}

// A tone sentence: syllable-like swells, 10-ms ramps at both ends.
std::vector<double> Tone(double seconds, double hz) {
  std::vector<double> out(static_cast<size_t>(seconds * kRate));
  const size_t ramp = kRate / 100;
  for (size_t i = 0; i < out.size(); ++i) {
    const double t = static_cast<double>(i) / kRate;
    const double edge =
        std::min({1.0, static_cast<double>(i) / ramp, static_cast<double>(out.size() - i) / ramp});
    out[i] = edge * (0.6 + 0.4 * std::sin(2 * M_PI * 4 * t)) * std::sin(2 * M_PI * hz * t);
  }
  return out;
}

Lesson Build(bool speech) {
  Lesson lesson;
  lesson.samples.assign(kRate, 0.0);  // a lead-in of a second
  const int count = speech ? static_cast<int>(std::size(kTexts)) : 12;
  for (int k = 0; k < count; ++k) {
    const std::vector<double> sentence =
        speech ? Spoken(kTexts[k]) : Tone(0.6 + 0.25 * (k % 7), 250 + 40 * k);
    if (sentence.empty()) continue;
    if (lesson.sentences > 0) {
      const double pause = kPauses[k % std::size(kPauses)];
      const double from = static_cast<double>(lesson.samples.size()) / kRate;
      lesson.pauses.push_back({from, from + pause});
      const size_t at = lesson.samples.size();
      lesson.samples.resize(at + static_cast<size_t>(pause * kRate), 0.0);
      // A click of 40 ms in the long pauses is no sentence.
      if (pause >= 2.0) {
        for (size_t i = 0; i < kRate / 25; ++i)
          lesson.samples[at + kRate + i] = 0.3 * std::sin(i * 0.7);
        ++lesson.clicks;
      }
    }
    lesson.samples.insert(lesson.samples.end(), sentence.begin(), sentence.end());
    ++lesson.sentences;
  }
  lesson.samples.resize(lesson.samples.size() + kRate, 0.0);
  return lesson;
}

enum class Variant { kClean, kPinkNoise, kBrownNoise, kHum, kQuiet };

// 16-bit PCM of the lesson as the variant has it, its peak at -1 dBFS
// (-20 dBFS quiet) before any noise.
std::string Pcm(const Lesson& lesson, Variant variant) {
  double peak = 0;
  for (double v : lesson.samples)
    peak = std::max(peak, std::fabs(v));
  const double gain = (variant == Variant::kQuiet ? 0.1 : 0.89) / peak;
  std::vector<double> noise(lesson.samples.size(), 0.0);
  std::mt19937 random(7);
  std::normal_distribution<double> white(0.0, 1.0);
  double b[3] = {}, brown = 0, sum = 0;
  for (size_t i = 0; i < noise.size(); ++i) {
    const double w = white(random), t = static_cast<double>(i) / kRate;
    if (variant == Variant::kPinkNoise) {
      b[0] = 0.99765 * b[0] + w * 0.0990460;
      b[1] = 0.96300 * b[1] + w * 0.2965164;
      b[2] = 0.57000 * b[2] + w * 1.0526913;
      noise[i] = b[0] + b[1] + b[2] + w * 0.1848;
    } else if (variant == Variant::kBrownNoise) {
      brown = 0.995 * brown + w;
      noise[i] = brown;
    } else if (variant == Variant::kHum) {
      noise[i] = std::sin(2 * M_PI * 50 * t) + 0.5 * std::sin(2 * M_PI * 150 * t) +
                 0.3 * std::sin(2 * M_PI * 250 * t);
    }
    sum += noise[i] * noise[i];
  }
  const double rmsDb = variant == Variant::kPinkNoise    ? -30
                       : variant == Variant::kBrownNoise ? -40
                                                         : -35;
  const double noiseGain = sum > 0 ? std::pow(10, rmsDb / 20) / std::sqrt(sum / noise.size()) : 0;
  std::string pcm(lesson.samples.size() * 2, '\0');
  for (size_t i = 0; i < lesson.samples.size(); ++i) {
    const double v = lesson.samples[i] * gain + noise[i] * noiseGain;
    const int16_t s = static_cast<int16_t>(std::clamp(std::lround(v * 32767), -32768L, 32767L));
    std::memcpy(&pcm[2 * i], &s, 2);
  }
  return pcm;
}

struct Listed {
  double start, end;
};

std::vector<Listed> ParseList(const std::string& out) {
  std::vector<Listed> list;
  std::istringstream lines(out);
  std::string line;
  while (std::getline(lines, line)) {
    int number;
    Listed s;
    if (std::sscanf(line.c_str(), "%d\t%lf\t%lf", &number, &s.start, &s.end) == 3)
      list.push_back(s);
  }
  return list;
}

struct Score {
  int hits = 0, found = 0, truth = 0;
  double F1() const { return found + truth == 0 ? 1.0 : 2.0 * hits / (found + truth); }
};

// A boundary between two listed sentences is right when the first's end and
// the second's start both lie in the same true pause (each pause counts once).
Score Boundaries(const std::vector<Listed>& list, const Lesson& lesson) {
  Score score;
  score.truth = static_cast<int>(lesson.pauses.size());
  score.found = std::max(0, static_cast<int>(list.size()) - 1);
  std::vector<bool> taken(lesson.pauses.size(), false);
  constexpr double kSlack = 0.001;  // the list's three decimals
  for (size_t k = 0; k + 1 < list.size(); ++k) {
    for (size_t p = 0; p < lesson.pauses.size(); ++p) {
      const auto [from, to] = lesson.pauses[p];
      auto inside = [&](double t) { return t >= from - kSlack && t <= to + kSlack; };
      if (!taken[p] && inside(list[k].end) && inside(list[k + 1].start)) {
        taken[p] = true;
        ++score.hits;
        break;
      }
    }
  }
  return score;
}

const char* Name(Variant v) {
  static const char* const kNames[] = {"Clean", "PinkNoise", "BrownNoise", "Hum", "Quiet"};
  return kNames[static_cast<int>(v)];
}

class SplitMethods : public ::testing::TestWithParam<std::tuple<bool, Variant>> {
 protected:
  // The lesson written as lesson.qv; its adaptive list.
  std::vector<Listed> ListAdaptive(const Lesson& lesson, Variant variant) {
    WriteFileBytes(cli.File("lesson.qv"), QvFileBytes(kMono, Pcm(lesson, variant)));
    const auto r = cli.Run("--split=adaptive --list-sentences lesson.qv");
    EXPECT_EQ(r.exitCode, 0) << r.err;
    return ParseList(r.out);
  }
  CliRunner cli;
};

TEST_P(SplitMethods, AdaptiveCutsInsideEveryPauseAndThePauseMethodHearsNoSilentSentence) {
  const auto [speech, variant] = GetParam();
  const Lesson lesson = Build(speech);
  ASSERT_GE(lesson.sentences, 10) << "espeak-ng said nothing";
  const std::vector<Listed> list = ListAdaptive(lesson, variant);
  const Score score = Boundaries(list, lesson);
  EXPECT_GE(score.F1(), 0.9) << score.hits << " right of " << score.found << " found, "
                             << score.truth << " true";
  // Neither the first sound nor the last is cut off.
  ASSERT_FALSE(list.empty());
  EXPECT_LE(list.front().start, 1.0);
  EXPECT_GE(list.back().end, static_cast<double>(lesson.samples.size()) / kRate - 1.0);

  // At 0.3 s the pause method finds a sentence only where sound came before
  // the pause: each sentence, each click, a rare gap between two words; the
  // lead-in and the rest of each long pause (some 30 windows of silence
  // here) are no sentences.
  const auto r = cli.Run("--seconds=0.3 --count=1 --drill=drill.wav lesson.qv");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  int found = -1;
  ASSERT_EQ(std::sscanf(r.out.c_str(), "sentences: %d", &found), 1) << r.out;
  EXPECT_LE(found, lesson.sentences + lesson.clicks + 2);
}

INSTANTIATE_TEST_SUITE_P(Lessons, SplitMethods,
                         ::testing::Combine(::testing::Bool(),
                                            ::testing::Values(Variant::kClean, Variant::kPinkNoise,
                                                              Variant::kBrownNoise, Variant::kHum,
                                                              Variant::kQuiet)),
                         [](const auto& info) {
                           return std::string(std::get<0>(info.param) ? "Speech" : "Tones") +
                                  Name(std::get<1>(info.param));
                         });

TEST(SplitMethodsOverall, AdaptiveF1OverEveryVariantIsAtLeast095) {
  CliRunner cli;
  Score total;
  for (bool speech : {true, false}) {
    const Lesson lesson = Build(speech);
    for (Variant v : {Variant::kClean, Variant::kPinkNoise, Variant::kBrownNoise, Variant::kHum,
                      Variant::kQuiet}) {
      WriteFileBytes(cli.File("lesson.qv"), QvFileBytes(kMono, Pcm(lesson, v)));
      const Score s =
          Boundaries(ParseList(cli.Run("--split=adaptive --list-sentences lesson.qv").out), lesson);
      total.hits += s.hits;
      total.found += s.found;
      total.truth += s.truth;
    }
  }
  EXPECT_GE(total.F1(), 0.95) << total.hits << " right of " << total.found << " found, "
                              << total.truth << " true";
}

TEST(SplitMethodsDrill, AnAdaptiveDrillRepeatsExactlyTheSentencesListed) {
  CliRunner cli;
  const Lesson lesson = Build(true);
  const std::string pcm = Pcm(lesson, Variant::kPinkNoise);
  WriteFileBytes(cli.File("lesson.qv"), QvFileBytes(kMono, pcm));
  auto r = cli.Run("--split=adaptive --min-pause=0.35 --list-sentences lesson.qv");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  std::vector<uint32_t> starts, ends;
  // Whole ms in the list: byte positions as the engine computes them.
  auto bytes = [](double seconds) {
    return static_cast<uint32_t>(std::lround(seconds * 1000) * kRate / 1000 * 2);
  };
  for (const Listed& s : ParseList(r.out)) {
    starts.push_back(bytes(s.start));
    ends.push_back(bytes(s.end));
  }
  ASSERT_GE(starts.size(), 10u);
  r = cli.Run("--split=adaptive --min-pause=0.35 --count=2 --drill=drill.wav lesson.qv");
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "sentences: " + std::to_string(starts.size()) + "\n");
  EXPECT_TRUE(BytesEqual(cli.WavData("drill.wav"), DrillOf(pcm, starts, ends, 2)));

  // Without a transcript the list comes only from the analysis; the pause
  // method has none to print. Both say what to try.
  r = cli.Run("--list-sentences lesson.qv");
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_NE(r.err.find("--split=adaptive"), std::string::npos) << r.err;
  r = cli.Run("--split=pause --list-sentences lesson.qv");
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_NE(r.err.find("--split=adaptive"), std::string::npos) << r.err;
  // Silence has no sentence: told, with what to try.
  WriteFileBytes(cli.File("quiet.qv"), QvFileBytes(kMono, std::string(kRate * 6, '\0')));
  r = cli.Run("--split=adaptive --count=1 --drill=quiet.wav quiet.qv");
  EXPECT_EQ(r.out, "sentences: 0\n");
  EXPECT_NE(r.err.find("found no sentence"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("--min-pause"), std::string::npos) << r.err;
}

}  // namespace
