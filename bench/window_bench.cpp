// SPDX-License-Identifier: GPL-3.0-or-later
// The window's own costs: from start-up to the first buffer played, and the
// CPU the whole program and the waveform panel alone use while a lesson plays
// in real time (SDL's dummy driver: a real-time device without a sound card).
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QTest>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "ui/main_dialog.h"

namespace {

double CpuSeconds(int who) {
  rusage usage{};
  ::getrusage(who, &usage);
  return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
         (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// A program folder with the skin, the plug-ins and a 60 s lesson of speech-like sound.
std::string ProgramFolder() {
  const std::string dir = "/tmp/kestro-window-bench";
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  std::filesystem::copy(KESTRO_STAGE_DIR "/Arch", dir + "/Arch");
  std::filesystem::copy(KESTRO_STAGE_DIR "/Skin", dir + "/Skin");
  std::ofstream f(dir + "/lesson.qv", std::ios::binary);
  const unsigned char header[23] = {'q', 'v',  'o',  'x',  'a', 1, 0, 2,  0, 0x44, 0xAC, 0,
                                    0,   0x10, 0xB1, 0x02, 0,   4, 0, 16, 0, 0,    0};
  f.write(reinterpret_cast<const char*>(header), sizeof(header));
  for (long i = 0; i < 60L * 44100; ++i) {
    const int16_t v = static_cast<int16_t>(9000 * std::sin(i * 0.031) * std::sin(i * 0.0002));
    f.write(reinterpret_cast<const char*>(&v), 2);
    f.write(reinterpret_cast<const char*>(&v), 2);
  }
  std::ofstream(dir + "/Kestro.m3u") << "#EXTM3U\r\nlesson.qv\r\n";
  return dir;
}

void StartUpToFirstBuffer(benchmark::State& state) {
  const std::string dir = ProgramFolder();
  std::filesystem::current_path(dir);
  for (auto _ : state) {
    AudioBackend audio(AudioBackend::Kind::kSdl);
    QElapsedTimer timer;
    timer.start();
    MainDialog window(audio);
    window.show();
    window.OnInitDialog();
    while (window.EngineOf().Status().position == 0 && timer.elapsed() < 5000)
      QTest::qWait(1);
    state.SetIterationTime(timer.nsecsElapsed() / 1e9);
    window.ExitProgram();
  }
}
BENCHMARK(StartUpToFirstBuffer)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);

void RealTimePlayingCpu(benchmark::State& state) {
  const std::string dir = ProgramFolder();
  std::filesystem::current_path(dir);
  for (auto _ : state) {
    AudioBackend audio(AudioBackend::Kind::kSdl);
    MainDialog window(audio);
    window.show();
    window.OnInitDialog();
    QTest::qWait(1500);  // queues full, the panel drawing
    const double cpu0 = CpuSeconds(RUSAGE_SELF);
    QElapsedTimer timer;
    timer.start();
    QTest::qWait(10000);
    const double wall = timer.nsecsElapsed() / 1e9;
    const double cpu = CpuSeconds(RUSAGE_SELF) - cpu0;
    state.SetIterationTime(wall);
    state.counters["core_percent"] = cpu / wall * 100;
    window.ExitProgram();
  }
}
BENCHMARK(RealTimePlayingCpu)->UseManualTime()->Iterations(1)->Unit(benchmark::kSecond);

void PanelAloneCpu(benchmark::State& state) {
  // The panel drawing a new buffer every 28 ms, as while sound plays.
  for (auto _ : state) {
    WaveformPanel panel;
    panel.resize(194, 104);
    panel.show();
    panel.SetSampleFormat(44100, 16, 2);
    panel.StartDrawThread();
    int16_t buffer[2500];
    for (int i = 0; i < 2500; ++i)
      buffer[i] = static_cast<int16_t>(9000 * std::sin(i * 0.05));
    const double cpu0 = CpuSeconds(RUSAGE_SELF);
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < 5000) {
      panel.ShowBuffer(reinterpret_cast<const uint8_t*>(buffer), sizeof(buffer));
      QTest::qWait(28);
    }
    const double wall = timer.nsecsElapsed() / 1e9;
    state.SetIterationTime(wall);
    state.counters["core_percent"] = (CpuSeconds(RUSAGE_SELF) - cpu0) / wall * 100;
    panel.StopDrawThread();
  }
}
BENCHMARK(PanelAloneCpu)->UseManualTime()->Iterations(1)->Unit(benchmark::kSecond);

// A list of 100,000 entries (in reverse order, the loader's worst case):
// starting the window with it loaded and shown, the engine trying every entry
// (the files are missing) and the list greying them, showing a change (one
// entry deleted), and ending the window with its save, each timed on its own.
void LongPlaylist(benchmark::State& state) {
  const std::string dir = ProgramFolder();
  std::filesystem::current_path(dir);
  std::string list = "#EXTM3U\r\n";
  for (int i = 100000; i > 0; --i)
    list += "/home/learner/courses/book-" + std::to_string(i % 97) + "/lesson-" +
            std::to_string(i) + ".mp3\r\n";
  for (auto _ : state) {
    std::ofstream(dir + "/Kestro.m3u", std::ios::binary) << list;
    AudioBackend audio(AudioBackend::Kind::kOffline);
    QElapsedTimer timer;
    timer.start();
    MainDialog window(audio);
    window.show();
    window.OnInitDialog();
    QTest::qWait(0);
    const double start = timer.nsecsElapsed() / 1e9;
    // The engine tries every entry (none of these files exists) and the list
    // greys each one: until the last is grey.
    timer.restart();
    QListWidget* box = window.PlaylistBox();
    while (!box->item(box->count() - 1)->toolTip().contains(QStringLiteral("无法播放")) &&
           timer.elapsed() < 60000)
      QTest::qWait(1);
    const double walk = timer.nsecsElapsed() / 1e9;
    timer.restart();
    window.PlaylistModel().Remove(500);
    window.RefreshPlaylistBox();
    QTest::qWait(0);
    const double change = timer.nsecsElapsed() / 1e9;
    timer.restart();
    window.ExitProgram();
    const double exit = timer.nsecsElapsed() / 1e9;
    state.SetIterationTime(start + change + exit);
    state.counters["start_s"] = start;
    state.counters["all_tried_s"] = walk;
    state.counters["change_s"] = change;
    state.counters["exit_s"] = exit;
    state.counters["entries"] = window.PlaylistBox()->count();
  }
}
BENCHMARK(LongPlaylist)->UseManualTime()->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace

int main(int argc, char** argv) {
  ::setenv("SDL_AUDIODRIVER", "dummy", 0);
  ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  return 0;
}
