// SPDX-License-Identifier: GPL-3.0-or-later
// kestro-cli: Kestro's engine without a window.
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <iostream>
#include <mutex>
#include <thread>

#include "audio/audio_backend.h"
#include "cli/cli_options.h"
#include "cli/cli_view.h"
#include "cli/script_runner.h"
#include "codec/codec_registry.h"
#include "codec/playable_format.h"
#include "engine/engine.h"
#include "export/clip_exporter.h"
#include "library/playlist.h"
#include "library/playlist_file.h"
#include "library/resume_store.h"
#include "platform/replacing_file.h"
#include "platform/signal_watcher.h"
#include "sentences/sentence_analysis.h"
#include "sentences/sentence_list.h"
#include "sentences/sentence_source.h"
#include "sentences/transcript.h"

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

// The plug-ins of Arch/ in the current directory or, when there is none,
// beside the program itself (as installed).
std::string PluginPattern() {
  struct stat st;
  if (::stat("Arch", &st) == 0 && S_ISDIR(st.st_mode)) return "Arch/*.so";
  char self[4096];
  const ssize_t n = ::readlink("/proc/self/exe", self, sizeof(self) - 1);
  if (n <= 0) return "Arch/*.so";
  std::string dir(self, static_cast<size_t>(n));
  dir = dir.substr(0, dir.rfind('/') + 1);
  return dir + "Arch/*.so";
}

// Why path cannot be played, or empty when it can: checked before the engine
// starts, so that every entry that would be skipped is reported by name.
std::string WhyUnplayable(const std::string& path, const CodecRegistry& registry) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0 || ::access(path.c_str(), R_OK) != 0) return "cannot read it";
  if (S_ISDIR(st.st_mode)) return "it is a directory";
  // A FIFO or a device would block the plug-in or feed it for ever.
  if (!S_ISREG(st.st_mode)) return "it is not a regular file";
  std::string extension;
  CodecServer* codec = ExtensionOfPath(path, &extension) ? registry.FindCodec(extension) : nullptr;
  if (codec == nullptr) return "no codec plug-in plays it";
  WaveFormatEx format{};
  if (codec->Open(path.c_str(), &format) == 0) return "it is not a sound file its plug-in can open";
  const uint32_t length = codec->GetLength();
  // A file cut off after its header opens, but gives nothing.
  uint8_t first[4096];
  CodecBlock block{first, sizeof(first), 0, 0, 0, 0};
  const bool decodes = codec->Read(&block, 0) == kReadFilled && block.bytesRead > 0;
  codec->Close();
  std::string why;
  if (!IsPlayableFormat(format, &why)) return "it has a " + why;
  if (length == 0) return "it holds no sound";
  if (!decodes) return "no sound could be decoded from it";
  return "";
}

// Adds the playable entries to the playlist (in the order the playlist gives),
// reporting each one that is skipped. Returns how many were skipped.
int AddPlayable(const std::vector<std::string>& entries, bool sorted, const CodecRegistry& registry,
                Playlist& playlist) {
  int skipped = 0;
  for (const std::string& entry : entries) {
    const std::string why = WhyUnplayable(entry, registry);
    if (!why.empty()) {
      std::cerr << "kestro-cli: skipped " << entry << ": " << why << "\n";
      ++skipped;
    } else if ((sorted ? playlist.InsertSorted(entry) : playlist.Append(entry)) < 0) {
      std::cerr << "kestro-cli: skipped " << entry << ": the path is too long\n";
      ++skipped;
    }
  }
  return skipped;
}

// The entries of a playlist file, as the window would list them.
bool ReadPlaylistFile(const std::string& path, std::vector<std::string>* entries,
                      std::string* why) {
  Playlist loaded;
  if (LoadPlaylist(loaded, path, why) < 0) return false;
  *entries = loaded.Entries();
  return true;
}

// Adds the FILEs to the playlist, reporting and skipping those that cannot be played.
void FillPlaylist(const CliOptions& options, const CodecRegistry& registry, Playlist& playlist) {
  std::vector<std::string> entries;
  if (options.files.empty()) {
    std::string why;
    if (ReadPlaylistFile("Kestro.m3u", &entries, &why)) {
      AddPlayable(entries, true, registry, playlist);
    } else if (::access("Kestro.m3u", F_OK) == 0) {
      std::cerr << "kestro-cli: skipped playlist Kestro.m3u: " << why << "\n";
    }
    return;
  }
  for (const std::string& file : options.files) {
    std::string extension;
    if (ExtensionOfPath(file, &extension) && extension == "m3u") {
      std::string why;
      if (!ReadPlaylistFile(file, &entries, &why)) {
        std::cerr << "kestro-cli: skipped playlist " << file << ": " << why << "\n";
      } else {
        AddPlayable(entries, true, registry, playlist);
      }
    } else {
      AddPlayable({file}, false, registry, playlist);
    }
  }
}

// The end of a run, taken once: by the main thread when the work is done, or
// by the signal watcher when Ctrl+C, kill or a logout stops the run.
std::atomic<bool> finishing{false};
std::atomic<int> caught{0};
// Set once the engine exists: stops the threads and finishes the output files.
std::function<void(int)> stopNow;
std::mutex stopNowMutex;

void OnSignal(int signal) {
  caught = signal;
  std::function<void(int)> stop;
  {
    std::lock_guard<std::mutex> lock(stopNowMutex);
    stop = stopNow;
  }
  // The main thread finishing on its own ends with the signal's status.
  if (finishing.exchange(true)) return;
  // Before the engine exists nothing is written yet.
  if (stop) stop(signal);
  std::cout.flush();
  ::_exit(SignalWatcher::ExitStatusFor(signal));
}

// FILE's sentences as the engine would take them, with what read them.
struct FileSentences {
  CodecRegistry registry;
  SentenceList sentences;
  WaveFormatEx format{};
  CodecServer* codec = nullptr;
};

// FILE's sentences from its transcript or the adaptive split: -1 with *file
// filled, else the exit status.
int LoadSentenceList(const CliOptions& options, FileSentences* file) {
  CodecRegistry& registry = file->registry;
  SentenceList* sentences = &file->sentences;
  WaveFormatEx* format = &file->format;
  CodecServer** codec = &file->codec;
  registry.ScanPlugins(PluginPattern().c_str());
  const std::string& path = options.files[0];
  const std::string why = WhyUnplayable(path, registry);
  if (!why.empty()) return Fail(path + ": " + why);
  std::string extension;
  ExtensionOfPath(path, &extension);
  *codec = registry.FindCodec(extension);
  if ((*codec)->Open(path.c_str(), format) == 0) return Fail(path + ": it cannot be opened");
  const uint32_t length = (*codec)->GetLength();
  (*codec)->Close();
  // The engine's rule, with the splits the options give it.
  const SentenceSource source{options.split.empty() || options.split == "transcript",
                              options.split == "adaptive", options.noTranscript,
                              options.transcript};
  const std::string transcript = source.TranscriptFor(path);
  if (!transcript.empty()) {
    std::string note;
    const bool found = sentences->Load(transcript, format->nAvgBytesPerSec, format->nBlockAlign,
                                       length, options.padBeforeMs, options.padAfterMs, &note);
    if (!note.empty()) std::cerr << "kestro-cli: transcript " << transcript << ": " << note << "\n";
    if (!source.Analyses(found)) return found ? -1 : 1;
  }
  if (source.Analyses(false)) {
    const std::atomic<bool> never{false};
    std::string problem;
    if (!SentenceAnalysis::Run(*codec, path, {options.minPauseMs, options.maxSentenceMs},
                               {options.padBeforeMs, options.padAfterMs}, sentences, never, nullptr,
                               &problem))
      return Fail(path + ": " + problem);
    if (sentences->Count() == 0) {
      return Fail(path + ": the adaptive split found no sentence (no pause of " +
                  std::to_string(options.minPauseMs) + " ms above its noise); try a shorter " +
                  "--min-pause");
    }
    return -1;
  }
  if (options.split == "pause") {
    return Fail(
        "the pause method finds sentences only while the sound plays; "
        "--split=adaptive lists the sentences an analysis finds");
  }
  return Fail(path + " has no transcript beside it (NAME.lrc, NAME.srt or NAME.vtt): " +
              "--split=adaptive lists the sentences an analysis of its sound finds");
}

// --list-sentences: the list printed, without playing anything.
int ListSentences(const CliOptions& options) {
  FileSentences file;
  const int status = LoadSentenceList(options, &file);
  if (status >= 0) return status;
  const double rate = file.format.nAvgBytesPerSec;
  const std::vector<Sentence> all = file.sentences.All();
  for (size_t i = 0; i < all.size(); ++i) {
    std::string text = all[i].text;
    for (char& c : text)
      if (c == '\t' || c == '\n' || c == '\r') c = ' ';
    std::printf("%zu\t%.3f\t%.3f\t%s\n", i + 1, all[i].start / rate, all[i].end / rate,
                text.c_str());
  }
  return 0;
}

// --clips=DIR: each sentence as a file of its own, and the list for Anki.
int ExportClips(const CliOptions& options) {
  FileSentences file;
  const int status = LoadSentenceList(options, &file);
  if (status >= 0) return status;
  std::vector<ClipExporter::Span> spans;
  for (const Sentence& s : file.sentences.All())
    spans.push_back({s.start, s.end, s.text});
  std::string error;
  ClipExporter exporter;
  if (!exporter.Export(file.codec, options.files[0], spans, options.clipsDir, options.force,
                       options.output, &error)) {
    std::cerr << "kestro-cli: " << error << "\n";
    return 1;
  }
  std::cout << "clips: " << spans.size() << "\n";
  return 0;
}

// The input the output file would overwrite, or nothing.
std::string InputUnderOutput(const CliOptions& options, const Playlist& playlist) {
  if (options.wavPath.empty()) return "";
  std::vector<std::string> inputs = playlist.Entries();
  inputs.insert(inputs.end(), options.files.begin(), options.files.end());
  inputs.push_back(options.script);
  inputs.push_back(options.recordFrom);
  for (const std::string& input : inputs) {
    if (!input.empty() && SameFile(options.wavPath, input)) return input;
  }
  return "";
}

// The options' settings, before the engine's threads start.
void ConfigureEngine(Engine& engine, const CliOptions& options, ResumeStore& places,
                     AudioBackend& audio) {
  const bool drill = !options.drillPath.empty();
  const bool scripted = !options.script.empty();
  engine.VolumeSlider(static_cast<int>(options.volume));
  engine.SetKeepPitch(options.keepPitch);
  engine.SetStartSpeed(static_cast<int>(options.speed));
  if (options.resume) {
    std::string note;
    if (!places.Load(ResumeStore::DefaultPath(), &note))
      std::cerr << "kestro-cli: " << note << "\n";
    engine.SetResumeStore(&places);
  }
  engine.SetTranscriptFile(options.transcript);
  engine.IgnoreTranscripts(options.noTranscript);
  engine.SetSentencePads(options.padBeforeMs, options.padAfterMs);
  engine.SetGaps(options.gaps);
  engine.SetTranscriptSplit(options.split.empty() || options.split == "transcript");
  engine.SetAdaptiveSplit(options.split == "adaptive", options.minPauseMs, options.maxSentenceMs);

  if (drill || options.autoMode) {
    engine.CommandAutoManual();  // automatic mode on
    engine.ApplySettings(options.count, options.vertical, options.seconds, options.percent);
  }
  if (drill) engine.SetLockstep(true);
  if (scripted) {
    // A script decides when sound time passes, and each finished buffer waits
    // for the engine: a script gives the same result on every run.
    if (options.audio == AudioBackend::Kind::kOffline) {
      audio.Clock().SetHeld(true);
      engine.SetLockstep(true);
    }
  } else {
    engine.PlayListOnce();
    // The stretched sound is pushed out where the queue really ends, which
    // only lockstep knows: unpaced, a late buffer could split the sound.
    if (options.keepPitch && options.audio == AudioBackend::Kind::kOffline)
      engine.SetLockstep(true);
  }
}

int RunScript(Engine& engine, AudioBackend& audio, Playlist& playlist, const CliOptions& options,
              std::ifstream& scriptFile) {
  ScriptRunner runner(engine, audio, playlist, std::cout);
  runner.SetRefusalStream(&std::cerr);
  std::string error;
  const bool ok = options.script == "-" ? runner.RunScript(std::cin, &error)
                                        : runner.RunScript(scriptFile, &error);
  int status = 0;
  if (!ok) {
    std::cerr << "kestro-cli: " << error << "\n";
    status = 1;
  }
  // A command that could not be served has said why; the run fails.
  if (runner.Refused() > 0) status = 1;
  return status;
}

int PlayToEnd(Engine& engine, const Playlist& playlist) {
  // Done when the last entry has ended, or when the engine has stayed idle
  // (every entry failed to open) for a while; opening an item idles it briefly.
  auto idleSince = std::chrono::steady_clock::now();
  while (!engine.Status().listFinished) {
    const auto now = std::chrono::steady_clock::now();
    const EngineStatus status = engine.Status();
    if (status.flags != 0 || status.opening) idleSince = now;
    if (now - idleSince > std::chrono::milliseconds(300)) break;
    engine.AwaitEngineSleep(1000);
  }
  if (engine.Status().itemsHeard == 0) {
    // Nothing could be played at all.
    if (playlist.Count() == 0) {
      std::cerr << "kestro-cli: the playlist is empty\n";
    } else if (engine.Status().itemsOpened == 0) {
      std::cerr << "kestro-cli: nothing could be played: " << engine.LastError() << "\n";
    } else {
      std::cerr << "kestro-cli: nothing could be played: no sound could be decoded\n";
    }
    return 1;
  }
  return 0;
}

void TellSentencesFound(const Engine& engine, const CliOptions& options) {
  const uint32_t found = engine.Status().sentencesFound;
  std::cout << "sentences: " << found << "\n";
  if (found == 0 && options.split == "adaptive") {
    std::cerr << "kestro-cli: no sentence found: no pause of " << options.minPauseMs / 1000.0
              << " s or longer above the lesson's noise; try a shorter --min-pause\n";
  } else if (found == 0) {
    std::cerr << "kestro-cli: no sentence found: no pause of " << options.seconds
              << " s or longer; try a shorter --seconds, --split=adaptive, or give the lesson "
                 "a transcript\n";
  }
}

// The options, and what needs no engine (help, version, a sentence list,
// clips): -1 to go on, otherwise the exit status.
int RunWithoutEngine(int argc, char** argv, CliOptions* options) {
  std::string error;
  if (!ParseCliOptions(argc, argv, options, &error)) {
    std::cerr << "kestro-cli: " << error << "\nTry kestro-cli --help.\n";
    return 2;
  }
  if (options->help) {
    std::cout << CliUsage();
    return 0;
  }
  if (options->version) {
    std::cout << "kestro-cli " KESTRO_VERSION "\n";
    return 0;
  }
  if (options->listSentences) return ListSentences(*options);
  if (!options->clipsDir.empty()) return ExportClips(*options);
  return -1;
}

// False when the file could not be finished (the name keeps what it held).
bool CloseSink(WavFileWriter& sink, bool failed) {
  if (sink.DataBytes() == 0 && failed) {
    // A WAV file with nothing in it helps nobody: the name keeps what it held.
    sink.Discard();
    return true;
  }
  if (sink.Close()) return true;
  // The unfinished file is removed.
  std::cerr << "kestro-cli: " << sink.Error() << " (is the disk full?)\n";
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  // A file-size limit then fails the write like a full disk, which is
  // reported, instead of killing the program in the middle of a recording.
  std::signal(SIGXFSZ, SIG_IGN);
  SignalWatcher signals;
  signals.Start(OnSignal);
  CliOptions options;
  if (const int status = RunWithoutEngine(argc, argv, &options); status >= 0) return status;
  std::string error;

  AudioBackend audio(options.audio);
  const bool drill = !options.drillPath.empty();
  if (drill) options.wavPath = options.drillPath;
  if (!options.recordFrom.empty() && !audio.SetInputFile(options.recordFrom, &error)) {
    return Fail(error);
  }
  std::ifstream scriptFile;
  if (!options.script.empty() && options.script != "-") {
    scriptFile.open(options.script);
    if (!scriptFile) return Fail("cannot read script " + options.script);
  }

  CodecRegistry registry;
  registry.ScanPlugins(PluginPattern().c_str());
  Playlist playlist;
  CliView view(std::cerr);
  ResumeStore places;  // outlives the engine, which keeps places in it
  Engine engine(audio, registry, playlist, &view);
  engine.SetProgramDir(options.programDir.empty() ? CurrentDir() : options.programDir);
  if (!engine.AllocateBuffers()) return Fail("Malloc memory error");
  FillPlaylist(options, registry, playlist);
  const bool scripted = !options.script.empty();
  if (drill && playlist.Count() != 1) {
    std::cerr << "kestro-cli: nothing to drill\n";
    return 1;
  }
  // Held until the threads run: a signal meanwhile waits for it, and so sees
  // the engine as StartThreads left it.
  std::unique_lock<std::mutex> starting(stopNowMutex);
  {
    stopNow = [&](int signal) {
      engine.Shutdown();  // a recording under way is finished and kept
      if (!audio.Sink().Close()) std::cerr << "kestro-cli: " << audio.Sink().Error() << "\n";
      std::cerr << "kestro-cli: stopped by " << ::strsignal(signal) << "\n";
    };
  }
  // An output over an input would destroy the lesson it is made from.
  if (const std::string input = InputUnderOutput(options, playlist); !input.empty()) {
    finishing = true;
    return Fail("the output " + options.wavPath + " is the input " + input +
                "; write it under another name");
  }
  if (!options.wavPath.empty() && !audio.SetWavSink(options.wavPath, &error, options.output)) {
    finishing = true;  // a signal from here on only ends the process
    return Fail(error);
  }
  ConfigureEngine(engine, options, places, audio);
  engine.StartThreads();
  starting.unlock();

  int status = scripted ? RunScript(engine, audio, playlist, options, scriptFile)
                        : PlayToEnd(engine, playlist);
  // A device that would not open, or a recording that could not be stored, is
  // a failure even when the script ran to its end.
  if (status == 0 && engine.Faults() > 0) {
    std::cerr << "kestro-cli: " << engine.LastError() << "\n";
    status = 1;
  }
  // A signal now either finds the run ending already or waits here for ever
  // (the watcher then finishes and exits).
  if (finishing.exchange(true)) {
    for (;;)
      std::this_thread::sleep_for(std::chrono::seconds(1));
  }
  engine.Shutdown();
  if (!CloseSink(audio.Sink(), status != 0)) status = 1;
  if (drill && status == 0) TellSentencesFound(engine, options);
  if (caught.load() != 0) return SignalWatcher::ExitStatusFor(caught.load());
  return status;
}
