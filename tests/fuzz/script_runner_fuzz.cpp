// SPDX-License-Identifier: GPL-3.0-or-later
// kestro-cli's script language on any text, against one engine on the offline
// devices. Lines that only pass time are left out: they would slow the fuzzer
// without reaching more of the parser.
#include <sstream>
#include <string>

#include "audio/audio_backend.h"
#include "cli/script_runner.h"
#include "codec/codec_registry.h"
#include "engine/engine.h"
#include "library/playlist.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static AudioBackend audio(AudioBackend::Kind::kOffline);
  static CodecRegistry registry;
  static Playlist playlist;
  static Engine* engine = [] {
    auto* e = new Engine(audio, registry, playlist, nullptr);
    e->SetProgramDir("/tmp/");
    if (!e->AllocateBuffers()) std::abort();
    e->StartThreads();
    return e;
  }();
  static std::ostringstream out;
  ScriptRunner runner(*engine, audio, playlist, out);
  std::istringstream text(std::string(reinterpret_cast<const char*>(data), size));
  for (std::string line; std::getline(text, line);) {
    std::istringstream words(line);
    std::string first;
    words >> first;
    if (first.rfind("wait", 0) == 0 || first == "sleep" || first == "quit") continue;
    bool quit = false;
    std::string error;
    runner.RunLine(line, &quit, &error);
    out.str("");
  }
  return 0;
}
