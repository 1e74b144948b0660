#pragma once

#include <string>
#include <vector>

#include "platform/audio_backend.h"

// What kestro-cli was asked to do.
struct CliOptions {
  AudioBackend::Kind audio = AudioBackend::Kind::kSdl;
  std::string wavPath;
  std::string programDir;
  std::string recordFrom;
  std::string script;  // a file, "-" for standard input, empty for none
  std::vector<std::string> files;
  bool help = false;
};

// Parses argv; false with error set for anything it does not know.
bool ParseCliOptions(int argc, char** argv, CliOptions* options, std::string* error);

// The text of --help.
const char* CliUsage();
