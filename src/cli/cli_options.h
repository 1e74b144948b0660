// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "audio/audio_backend.h"
#include "engine/engine.h"

// What kestro-cli was asked to do.
struct CliOptions {
  AudioBackend::Kind audio = AudioBackend::Kind::kSystem;
  std::string wavPath;
  std::string programDir;
  std::string recordFrom;
  std::string script;  // a file, "-" for standard input, empty for none
  std::vector<std::string> files;
  bool help = false;
  bool version = false;
  // Full level: what kestro-cli writes is the file's own sound.
  uint32_t volume = 100;
  // The speed slider's position when each item opens, and whether slowing
  // down keeps the pitch.
  uint32_t speed = 0;
  bool keepPitch = false;
  // Automatic mode from the first item on (with the repeat settings given).
  bool autoMode = false;
  // The transcript for every FILE instead of each one's own, or none at all;
  // the pads of its sentences in ms.
  std::string transcript;
  bool noTranscript = false;
  int padBeforeMs = 150;
  int padAfterMs = 250;
  // How automatic mode finds sentences: "pause", "adaptive" or "transcript"
  // (empty: the transcript when there is one, else at pauses), and the
  // adaptive split's settings in ms.
  std::string split;
  int minPauseMs = 300;
  int maxSentenceMs = 15000;
  // Silence after each play of a found sentence, and the dictation pause.
  GapSettings gaps;
  // How --wav, --drill and --clips write their files.
  WavFileWriter::Options output;
  // Each sentence of FILE written as a file into this folder, with the list
  // for Anki; force replaces files there.
  std::string clipsDir;
  bool force = false;
  // Files go on where they were left, and where they are left is kept.
  bool resume = false;
  // Print FILE's sentence list instead of playing it.
  bool listSentences = false;

  // Drill export: FILE read once in automatic mode, everything heard written here.
  std::string drillPath;
  uint32_t count = 3;
  uint32_t vertical = 2;
  float seconds = 2.0f;
  uint32_t percent = 5;
};

// Parses argv; false with error set for anything it does not know.
bool ParseCliOptions(int argc, char** argv, CliOptions* options, std::string* error);

// "off", SECONDS (0.1..60) or FACTORx (0.5..3) as the gap after each play.
bool ParseGap(const std::string& text, GapSettings* gaps);
// "off" or SECONDS (0.1..600) as the pause after a sentence's last play.
bool ParsePauseAfter(const std::string& text, GapSettings* gaps);

// The text of --help.
const char* CliUsage();
