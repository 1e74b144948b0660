// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "pcm.h"
#include "temp_dir.h"

// Runs the real kestro-cli in a lesson folder of its own, with the program's
// plug-ins in its Arch/ folder.
class CliRunner {
 public:
  CliRunner();

  struct Result {
    int exitCode = -1;
    std::string out;
    std::string err;
  };
  // Runs kestro-cli with args in the folder, feeding script on standard input
  // when it is not empty (and adding --script=-). env is put before the command.
  Result Run(const std::string& args, const std::string& script = "", const std::string& env = "");

  std::string File(const std::string& name) const { return dir.File(name); }
  // The sound data of a WAV file kestro-cli wrote (the 44-byte header dropped).
  std::string WavData(const std::string& name) const;
  // The sound data of a .qv file.
  std::string QvData(const std::string& name) const;

  TempDir dir;
};

// 16-bit stereo sound that differs at every sample within a buffer and between
// buffers, so that a wrong or lost buffer shows.
std::string LessonPcm(size_t bytes, unsigned seed);

// A lesson of 16-bit stereo sound built from whole 5000-byte buffers: each pair
// is (buffers of speech-like sound, buffers of silence that follow it).
std::string SentenceLesson(const std::vector<std::pair<int, int>>& sentences);

// The drill of a lesson whose sentence k is [starts[k], ends[k]): each
// sentence heard from where reading stood, then count times again.
std::string DrillOf(const std::string& lesson, const std::vector<uint32_t>& starts,
                    const std::vector<uint32_t>& ends, int count);
