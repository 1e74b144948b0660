// kestro: the window. Started in its program folder (Skin/, Arch/, Kestro.m3u).
#include <getopt.h>

#include <QApplication>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/audio_backend.h"
#include "ui/main_dialog.h"

namespace {

const char kUsage[] = R"(Usage: kestro [OPTION...]

Kestro, a repeater for language learners: plays the lessons of its playlist
passage by passage, repeats them, splits them into sentences at their pauses,
records the learner and plays passage and recording in turn.

Started in its program folder: the skin comes from Skin/main.bmp, the codec
plug-ins from Arch/, and the playlist from Kestro.m3u there, which is saved
again at exit; the recording is RecordVM.qv in the same folder.

Options:
  --audio=sdl|offline  sound devices: the sound card through SDL (default), or
                       offline devices that need no sound card
  -h, --help           show this text
  --version            show the version
)";

}  // namespace

int main(int argc, char** argv) {
  static const struct option options[] = {{"audio", required_argument, nullptr, 'a'},
                                          {"help", no_argument, nullptr, 'h'},
                                          {"version", no_argument, nullptr, 'v'},
                                          {nullptr, 0, nullptr, 0}};
  AudioBackend::Kind kind = AudioBackend::Kind::kSdl;
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
    if (c == 'a' && AudioBackend::ParseKind(optarg, &kind)) continue;
    std::fprintf(stderr, "kestro: unknown option or value %s\nTry kestro --help.\n",
                 argv[optind - 1]);
    return 2;
  }
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Kestro"));
  QApplication::setApplicationVersion(QStringLiteral(KESTRO_VERSION));
  AudioBackend audio(kind);
  MainDialog window(audio);
  window.show();
  window.OnInitDialog();
  return app.exec();
}
