// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "engine/engine.h"

// Runs kestro-cli's script commands against an engine, doing for each what the
// window's button, menu item or slider does, and waiting until the engine has
// served it. On the offline backend with a held clock, sound time passes only
// while a wait runs.
class ScriptRunner {
 public:
  ScriptRunner(Engine& engine, AudioBackend& audio, Playlist& playlist, std::ostream& out);

  // Runs one line; false with error set for an unknown command, a bad argument
  // or a wait that gave up. Sets quit for "quit".
  bool RunLine(const std::string& line, bool* quit, std::string* error);
  // Runs every line of in; false at the first failing line (error says which).
  bool RunScript(std::istream& in, std::string* error);
  // Where a command that could not be served says why (nowhere by default).
  void SetRefusalStream(std::ostream* stream) { refusals = stream; }
  // How many commands could not be served.
  int Refused() const { return refusedCount; }

  // The status line: mode=... flags=0x... item=... pos=... length=...
  std::string Status() const;

  static constexpr int kWaitLimitMs = 60000;

 private:
  // A line's words, and how its arguments are checked.
  struct Line {
    Line(const std::string& raw, std::string* error);
    // Exactly n arguments.
    bool Args(size_t n);
    // Argument i is a whole number in min..max, then in value.
    bool Number(size_t i, long min, long max);
    std::vector<std::string> w;
    std::string command;
    std::string* error;
    long value = 0;
  };
  // Each runs the line when it is one of its commands (true when it was
  // served, false with the error set) and gives nothing otherwise.
  std::optional<bool> RunEngineCommand(Line& line);
  std::optional<bool> RunSetting(Line& line);
  std::optional<bool> RunPlace(Line& line);
  std::optional<bool> RunWait(Line& line, bool* quit);

  // Waits (wall clock) until the engine has served the given request bits and
  // finished the pass that served them.
  bool AwaitServed(uint32_t bits, std::string* error);
  // Waits until the engine has completed two more passes: whatever was
  // requested before has then been served.
  bool Settle(std::string* error);
  // Lets ms of sound time pass through the running device (or waits ms of
  // wall-clock time when none runs).
  bool WaitSound(int64_t ms, std::string* error);
  bool WaitMode(const std::string& mode, std::string* error);
  // Waits until done() holds, up to the limit.
  bool WaitUntil(const std::function<bool()>& done, std::string* error, const std::string& what);

  Engine& engine;
  AudioBackend& audio;
  Playlist& playlist;
  std::ostream& out;
  // Counts and tells a refusal the engine recorded since refusedBefore.
  void NoteRefusal(const std::string& command, uint32_t refusedBefore);
  std::ostream* refusals = nullptr;
  int refusedCount = 0;
};
