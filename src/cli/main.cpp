// kestro-cli: Kestro's engine without a window.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <thread>

#include "cli/cli_options.h"
#include "cli/script_runner.h"
#include "codec/codec_registry.h"
#include "codec/playlist.h"
#include "codec/playlist_file.h"
#include "engine/engine.h"
#include "platform/audio_backend.h"

namespace {

int Fail(const std::string& message) {
  std::cerr << "kestro-cli: " << message << "\n";
  return 2;
}

std::string CurrentDir() {
  char buffer[4096];
  if (::getcwd(buffer, sizeof(buffer)) == nullptr) return "./";
  std::string dir = buffer;
  if (dir.empty() || dir.back() != '/') dir += '/';
  return dir;
}

// Adds the FILEs to the playlist, reporting and skipping those that cannot be played.
void FillPlaylist(const CliOptions& options, const CodecRegistry& registry, Playlist& playlist) {
  if (options.files.empty()) {
    LoadPlaylist(playlist, "Kestro.m3u");
    return;
  }
  for (const std::string& file : options.files) {
    std::string extension;
    const bool hasExtension = ExtensionOfPath(file, &extension);
    if (hasExtension && extension == "m3u") {
      if (::access(file.c_str(), R_OK) != 0) {
        std::cerr << "kestro-cli: cannot read playlist " << file << ", skipped\n";
      } else {
        LoadPlaylist(playlist, file);
      }
    } else if (::access(file.c_str(), R_OK) != 0) {
      std::cerr << "kestro-cli: cannot read " << file << ", skipped\n";
    } else if (!hasExtension || registry.FindCodec(extension) == nullptr) {
      std::cerr << "kestro-cli: no codec plug-in plays " << file << ", skipped\n";
    } else if (playlist.Append(file) < 0) {
      std::cerr << "kestro-cli: " << file << " is too long a path, skipped\n";
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  CliOptions options;
  std::string error;
  if (!ParseCliOptions(argc, argv, &options, &error)) {
    std::cerr << "kestro-cli: " << error << "\nTry kestro-cli --help.\n";
    return 2;
  }
  if (options.help) {
    std::cout << CliUsage();
    return 0;
  }

  AudioBackend audio(options.audio);
  const bool drill = !options.drillPath.empty();
  if (drill) options.wavPath = options.drillPath;
  if (!options.wavPath.empty() && !audio.SetWavSink(options.wavPath, &error)) return Fail(error);
  if (!options.recordFrom.empty() && !audio.SetInputFile(options.recordFrom, &error)) {
    return Fail(error);
  }
  std::ifstream scriptFile;
  if (!options.script.empty() && options.script != "-") {
    scriptFile.open(options.script);
    if (!scriptFile) return Fail("cannot read script " + options.script);
  }

  CodecRegistry registry;
  registry.ScanPlugins("Arch/*.so");
  Playlist playlist;
  Engine engine(audio, registry, playlist, nullptr);
  engine.programDir = options.programDir.empty() ? CurrentDir() : options.programDir;
  if (engine.programDir.back() != '/') engine.programDir += '/';
  if (!engine.AllocateBuffers()) return Fail("Malloc memory error");
  FillPlaylist(options, registry, playlist);

  const bool scripted = !options.script.empty();
  if (drill) {
    if (playlist.Count() != 1) return Fail("nothing to drill");
    engine.autoMode = true;
    engine.ApplySettings(options.count, options.vertical, options.seconds, options.percent);
    engine.SetLockstep(true);
  }
  if (scripted) {
    // A script decides when sound time passes.
    audio.clock().SetHeld(options.audio == AudioBackend::Kind::kOffline);
  } else {
    // Every entry once, from the first, then stop.
    engine.stopAtListEnd = true;
    engine.playlistIndex = -1;
  }
  engine.StartThreads();

  int status = 0;
  if (scripted) {
    ScriptRunner runner(engine, audio, std::cout);
    const bool ok = options.script == "-" ? runner.RunScript(std::cin, &error)
                                          : runner.RunScript(scriptFile, &error);
    if (!ok) {
      std::cerr << "kestro-cli: " << error << "\n";
      status = 1;
    }
  } else {
    // Done when the last entry has ended, or when the engine has stayed idle
    // (every entry failed to open) for a while; opening an item idles it briefly.
    auto idleSince = std::chrono::steady_clock::now();
    while (!engine.listFinished.load()) {
      const auto now = std::chrono::steady_clock::now();
      if (engine.engineFlags.load() != 0) idleSince = now;
      if (now - idleSince > std::chrono::milliseconds(300)) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    if (engine.itemsOpened.load() == 0) {
      // Nothing could be played at all.
      if (playlist.Count() == 0) {
        std::cerr << "kestro-cli: the playlist is empty\n";
      } else {
        std::cerr << "kestro-cli: nothing could be played: " << engine.LastError() << "\n";
      }
      status = 1;
    }
  }
  engine.Shutdown();
  audio.sink().Close();
  if (drill && status == 0) {
    std::cout << "sentences: " << engine.sentencesFound.load() << "\n";
  }
  return status;
}
