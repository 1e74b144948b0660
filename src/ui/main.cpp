// SPDX-License-Identifier: GPL-3.0-or-later
// kestro: the window, in the folder it is started in (Skin/, Arch/, Kestro.m3u).
#include <getopt.h>

#include <QApplication>
#include <QLocale>
#include <QTimer>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "audio/audio_backend.h"
#include "platform/signal_watcher.h"
#include "ui/interface_language.h"
#include "ui/key_bindings.h"
#include "ui/main_dialog.h"
#include "ui/mpris_service.h"
#include "ui/window_scale.h"

namespace {

const char kUsage[] = R"(Usage: kestro [OPTION...] [FILE...]

Kestro, a repeater for language learners: plays the lessons of its playlist
passage by passage, repeats them, splits them into sentences at their pauses,
records the learner and plays passage and recording in turn. FILEs (sound
files or .m3u lists) are added to the playlist and the first of them plays.

Folders: the window works in the folder it is started in. The installed
launcher (bin/kestro) starts it in the learner's folder, $XDG_DATA_HOME/kestro
(~/.local/share/kestro), made on the first start. There the skin comes from
Skin/main.bmp, the codec plug-ins from Arch/ and the playlist from Kestro.m3u,
which is saved again at exit; the learner's recording is RecordVM.qv.

Modes (the buttons under the display): 手动/自动 manual or automatic repeat
(automatic splits the lesson into sentences at its pauses and repeats each),
阅读 read (pressed while reading: marks the start of a passage), 复读 repeat
the passage, 录音 record yourself, 回放 play the recording back, 对比 hear
passage and recording in turn.

Keys: Ctrl+W play, Ctrl+P pause, Ctrl+T stop, Ctrl+L previous, Ctrl+I next,
Ctrl+N open a file, Ctrl+A read/mark, Ctrl+S repeat, Ctrl+D record,
Ctrl+F play back, Ctrl+G compare, Ctrl+M automatic/manual; Esc ends Kestro.
A slider with the focus moves with the arrow keys and Page Up/Page Down.
The right mouse button opens the menus (高级设置: repeat settings, keep pitch).

Options:
  --audio=KIND         sound devices: system (the default) plays through the
                       PulseAudio server (PipeWire's too) when one answers,
                       otherwise through SDL (also when SDL_AUDIODRIVER
                       names a driver); pulse or sdl ask for one of
                       them; offline devices need no sound card
  --no-resume          start every file from its beginning, and keep no
                       places this time (otherwise each file goes on where
                       it was left, with its marks and speed: kept in
                       $XDG_STATE_HOME/kestro/resume.tsv); remembered
                       repeat settings still apply
  --scale=N            draw the window N times its size: 1, 2 or 3, or auto
                       (the screen's scale, rounded to a whole factor: the
                       default); without it, the size chosen in the menu
                       (Advanced › Window size, 高级设置 › 窗口大小; kept in
                       $XDG_CONFIG_HOME/kestro/kestro.conf)
  --lang=LANG          the window's language: zh (Chinese) or en (English);
                       by default Chinese on a Chinese locale (LANGUAGE,
                       LC_ALL, LC_MESSAGES, LANG), English on any other
  -h, --help           show this text
  --version            show the version
)";

// What the command line asks for.
struct StartOptions {
  AudioBackend::Kind kind = AudioBackend::Kind::kSystem;
  bool resume = true;
  int scale = -1;    // not given
  QString language;  // not given: the locale's
};

// -1 to go on; otherwise the exit status (help, version, a bad option).
int ParseOptions(int argc, char** argv, StartOptions* start) {
  static const struct option options[] = {{"audio", required_argument, nullptr, 'a'},
                                          {"no-resume", no_argument, nullptr, 'r'},
                                          {"scale", required_argument, nullptr, 's'},
                                          {"lang", required_argument, nullptr, 'l'},
                                          {"help", no_argument, nullptr, 'h'},
                                          {"version", no_argument, nullptr, 'v'},
                                          {nullptr, 0, nullptr, 0}};
  opterr = 0;
  for (int c; (c = getopt_long(argc, argv, "h", options, nullptr)) != -1;) {
    if (c == 'h') {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (c == 'v') {
      std::printf("kestro %s\n", KESTRO_VERSION);
      return 0;
    }
    if (c == 'a' && AudioBackend::ParseKind(optarg, &start->kind)) continue;
    if (c == 'r') {
      start->resume = false;
      continue;
    }
    if (c == 's' && WindowScale::Parse(optarg, &start->scale)) continue;
    if (c == 'l' && (std::strcmp(optarg, "zh") == 0 || std::strcmp(optarg, "en") == 0)) {
      start->language = QString::fromLatin1(optarg);
      continue;
    }
    std::fprintf(stderr, "kestro: unknown option or value %s\nTry kestro --help.\n",
                 argv[optind - 1]);
    return 2;
  }
  return -1;
}

// The learner's own keys (a foot pedal's), when they have written some.
void BindLearnersKeys(MainDialog& window) {
  KeyBindings keys;
  std::vector<std::string> problems;
  keys.Load(KeyBindings::DefaultPath(), &problems);
  for (const std::string& problem : problems)
    std::fprintf(stderr, "kestro: %s\n", problem.c_str());
  window.BindKeys(keys);
}

}  // namespace

int main(int argc, char** argv) {
  StartOptions start;
  if (const int status = ParseOptions(argc, argv, &start); status >= 0) return status;
  // Ctrl+C, kill and a desktop logout end the window as its close button does.
  std::atomic<MainDialog*> shown{nullptr};
  std::atomic<bool> asked{false};
  SignalWatcher signals;
  signals.Start([&](int) {
    asked = true;
    if (MainDialog* w = shown.load()) {
      QMetaObject::invokeMethod(
          w,
          [w] {
            w->ExitProgram(true);
            QCoreApplication::exit(0);  // also ends a dialog's loop
          },
          Qt::QueuedConnection);
    }
  });
  // Taken before Qt removes its own options from argv.
  const std::vector<std::string> files(argv + optind, argv + argc);
  const std::string scaleFile = WindowScale::DefaultPath();
  std::string problem;
  const int kept = WindowScale::Load(scaleFile, &problem);
  if (!problem.empty()) std::fprintf(stderr, "kestro: %s\n", problem.c_str());
  WindowScale::Apply(start.scale >= 0 ? start.scale : kept);
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Kestro"));
  QApplication::setApplicationVersion(QStringLiteral(KESTRO_VERSION));
  // Chinese is the interface's own language; every other locale gets English.
  InterfaceLanguage words;
  const QString language =
      start.language.isEmpty() ? InterfaceLanguage::ForLocale(QLocale::system()) : start.language;
  if (!words.Install(language))
    std::fprintf(stderr, "kestro: the %s translation is missing\n", qPrintable(language));
  AudioBackend audio(start.kind);
  MainDialog window(audio);
  // --no-resume leaves out places only: remembered settings stay.
  window.SetResumeFile(ResumeStore::DefaultPath(), start.resume);
  window.SetScaleFile(scaleFile, kept);
  window.show();
  window.SetStartFiles(files);
  window.OnInitDialog();
  BindLearnersKeys(window);
  // Media keys and the desktop's sound menu, when there is a session bus.
  MprisService mpris(window);
  if (mpris.Register()) window.SetFollowHook([&mpris] { mpris.Follow(); });
  shown = &window;
  if (asked.load()) {
    window.ExitProgram();
    return 0;
  }
  const int status = app.exec();
  shown = nullptr;
  return status;
}
