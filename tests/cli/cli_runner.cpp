// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli_runner.h"

#include "loaded_plugin.h"

#include <sys/stat.h>
#include <sys/wait.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>

CliRunner::CliRunner() {
  ::mkdir(dir.File("Arch").c_str(), 0755);
  for (const auto& entry : std::filesystem::directory_iterator(KESTRO_STAGE_DIR "/Arch")) {
    CopyFile(entry.path().string(), dir.File("Arch/" + entry.path().filename().string()));
  }
}

CliRunner::Result CliRunner::Run(const std::string& args, const std::string& script,
                                 const std::string& env) {
  std::string command = "cd '" + dir.path() + "' && " + env + " '" KESTRO_STAGE_DIR "/kestro-cli' ";
  if (!script.empty()) {
    WriteFileBytes(dir.File("script.txt"), script);
    command += "--script=- " + args + " < script.txt";
  } else {
    command += args + " < /dev/null";
  }
  command += " > out.txt 2> err.txt";
  Result result;
  const int status = std::system(command.c_str());
  result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  result.out = ReadFileBytes(dir.File("out.txt"));
  result.err = ReadFileBytes(dir.File("err.txt"));
  return result;
}

std::string CliRunner::WavData(const std::string& name) const {
  return WavDataOf(ReadFileBytes(dir.File(name)));
}

std::string CliRunner::QvData(const std::string& name) const {
  const std::string all = ReadFileBytes(dir.File(name));
  return all.size() >= 23 ? all.substr(23) : std::string("<no qv>");
}

std::string LessonPcm(size_t bytes, unsigned seed) {
  std::string pcm(bytes, '\0');
  for (size_t i = 0; i + 1 < bytes; i += 2) {
    const int16_t s = static_cast<int16_t>(((i / 2) * 7919 + seed * 104729) % 60000 - 30000);
    std::memcpy(&pcm[i], &s, 2);
  }
  return pcm;
}

std::string SentenceLesson(const std::vector<std::pair<int, int>>& sentences) {
  std::string pcm;
  size_t frame = 0;
  for (const auto& [speech, pause] : sentences) {
    for (int b = 0; b < speech; ++b) {
      for (int i = 0; i < 1250; ++i, ++frame) {
        // Two partials under a syllable-rate swell: seldom near zero for long.
        const double t = frame / 44100.0;
        const double swell = 0.6 + 0.4 * std::sin(2 * M_PI * 4 * t);
        const double v =
            swell * (0.6 * std::sin(2 * M_PI * 210 * t) + 0.4 * std::sin(2 * M_PI * 630 * t));
        const int16_t s = static_cast<int16_t>(v * 14000);
        pcm.append(reinterpret_cast<const char*>(&s), 2);
        pcm.append(reinterpret_cast<const char*>(&s), 2);
      }
    }
    pcm.append(static_cast<size_t>(pause) * 5000, '\0');
    frame += static_cast<size_t>(pause) * 1250;
  }
  return pcm;
}

std::string DrillOf(const std::string& lesson, const std::vector<uint32_t>& starts,
                    const std::vector<uint32_t>& ends, int count) {
  std::string drill;
  uint32_t read = 0;
  for (size_t k = 0; k < starts.size(); ++k) {
    drill += lesson.substr(read, ends[k] - read);
    for (int i = 0; i < count; ++i)
      drill += lesson.substr(starts[k], ends[k] - starts[k]);
    read = ends[k];
  }
  return drill + lesson.substr(read);
}
