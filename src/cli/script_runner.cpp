// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/script_runner.h"

#include "audio/audio_backend.h"
#include "cli/cli_options.h"
#include "commands/command_table.h"
#include "commands/setting_range.h"
#include "library/playlist.h"

#include <chrono>
#include <cstdio>
#include <istream>
#include <optional>
#include <ostream>
#include <sstream>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

bool ParseInt(const std::string& text, long min, long max, long* value) {
  if (text.empty()) return false;
  char* end = nullptr;
  const long v = std::strtol(text.c_str(), &end, 10);
  if (*end != '\0' || v < min || v > max) return false;
  *value = v;
  return true;
}

bool ParseFloat(const std::string& text, float* value) {
  if (text.empty()) return false;
  char* end = nullptr;
  const float v = std::strtof(text.c_str(), &end);
  if (*end != '\0') return false;
  *value = v;
  return true;
}

}  // namespace

ScriptRunner::ScriptRunner(Engine& e, AudioBackend& a, Playlist& p, std::ostream& o)
    : engine(e), audio(a), playlist(p), out(o) {}

std::string ScriptRunner::Status() const {
  const EngineStatus s = engine.Status();
  char line[200];
  std::snprintf(line, sizeof(line),
                "mode=%s flags=0x%08x item=%d pos=%u length=%u speed=%d rate=%u tempo=%.2f "
                "sentence=%d/%u gap=%d",
                s.mode, s.flags, s.item, s.position, s.length, s.speedPosition, s.outputRate,
                static_cast<double>(s.outputTempo), s.sentence, s.sentenceCount, s.gap ? 1 : 0);
  return line;
}

bool ScriptRunner::WaitUntil(const std::function<bool()>& done, std::string* error,
                             const std::string& what) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(kWaitLimitMs);
  while (!done()) {
    if (Clock::now() > deadline) {
      *error = what + " gave up after 60 s";
      return false;
    }
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  return true;
}

bool ScriptRunner::AwaitServed(uint32_t bits, std::string* error) {
  if (!WaitUntil(
          [&] {
            const EngineStatus s = engine.Status();
            return (s.flags & bits) == 0 && !((bits & ENG_ITEM_CHANGE) && s.openPending);
          },
          error, "waiting for the engine")) {
    return false;
  }
  return Settle(error);
}

bool ScriptRunner::Settle(std::string* error) {
  // The engine sleeps long when nothing asks; each look wakes it for a pass.
  const uint64_t start = engine.Status().passes;
  return WaitUntil(
      [&] {
        if (engine.Status().passes >= start + 2) return true;
        engine.WakeEngine();
        return false;
      },
      error, "waiting for the engine");
}

bool ScriptRunner::WaitSound(int64_t ms, std::string* error) {
  OfflineClock& clock = audio.Clock();
  if (audio.BackendKind() != AudioBackend::Kind::kOffline || !clock.Held() ||
      !engine.SoundRunning()) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    return true;
  }
  // The sound time is used up once a device has been refused a buffer for want
  // of it. A pause in the sound (an item ending, a mode changing) does not end
  // the wait; only sound that has stopped for good does, and its unused time
  // is then dropped, so that nothing plays later, outside a wait.
  const uint64_t grant = clock.Advance(ms * 1000000);
  for (;;) {
    if (!WaitUntil([&] { return clock.RefusedGrant() >= grant || !engine.SoundRunning(); }, error,
                   "wait " + std::to_string(ms))) {
      return false;
    }
    if (clock.RefusedGrant() >= grant) return true;
    // Sound that went on meanwhile (short items pass in a moment) was only
    // between two items or modes.
    const int64_t consumed = clock.Consumed();
    if (!Settle(error)) return false;
    if (!engine.SoundRunning() && clock.Consumed() == consumed && clock.RefusedGrant() < grant) {
      clock.Drain();
      return true;
    }
  }
}

bool ScriptRunner::WaitMode(const std::string& mode, std::string* error) {
  static const char* kModes[] = {"idle",      "reading",      "repeating",
                                 "recording", "playing-back", "comparing"};
  bool known = false;
  for (const char* m : kModes)
    known = known || mode == m;
  if (!known) {
    *error = "unknown mode \"" + mode + "\"";
    return false;
  }
  OfflineClock& clock = audio.Clock();
  if (audio.BackendKind() != AudioBackend::Kind::kOffline || !clock.Held()) {
    return WaitUntil([&] { return mode == engine.Mode(); }, error, "wait-mode " + mode);
  }
  if (mode == engine.Mode()) return true;
  // Sound runs until the mode is reached and stops at that very buffer; the
  // rest of the time granted is dropped. An hour of sound at most.
  const std::string target = mode;
  clock.SetHold([this, target] { return target == engine.Mode(); });
  bool reached = false;
  for (int minute = 0; minute < 60 && !reached; ++minute) {
    const uint64_t grant = clock.Advance(60LL * 1000000000);
    if (!WaitUntil(
            [&] {
              return clock.RefusedGrant() >= grant ||
                     (target == engine.Mode() && !engine.SoundRunning());
            },
            error, "wait-mode " + mode)) {
      break;
    }
    reached = target == engine.Mode();
    if (!reached && !engine.SoundRunning()) {
      // Nothing sounds and the mode has not come: it may still come from the
      // engine itself (an item opening); wait for it in wall-clock time.
      reached = WaitUntil([&] { return target == engine.Mode(); }, error, "wait-mode " + mode);
      break;
    }
  }
  // The time left goes before the hold does, or a device would play it.
  clock.Drain();
  clock.SetHold(nullptr);
  if (!reached && error->empty())
    *error = "wait-mode " + mode + ": not reached in an hour of sound";
  return reached;
}

ScriptRunner::Line::Line(const std::string& raw, std::string* e) : error(e) {
  std::istringstream words(raw);
  for (std::string word; words >> word;)
    w.push_back(word);
  if (!w.empty()) command = w[0];
}

bool ScriptRunner::Line::Args(size_t n) {
  if (w.size() == n + 1) return true;
  *error = command + " takes " + std::to_string(n) + " argument" + (n == 1 ? "" : "s");
  return false;
}

bool ScriptRunner::Line::Number(size_t i, long min, long max) {
  if (ParseInt(w[i], min, max, &value)) return true;
  *error = command + ": \"" + w[i] + "\" is not a number in " + std::to_string(min) + ".." +
           std::to_string(max);
  return false;
}

bool ScriptRunner::RunLine(const std::string& raw, bool* quit, std::string* error) {
  Line line(raw, error);
  if (line.w.empty() || line.command[0] == '#') return true;
  for (auto run :
       {&ScriptRunner::RunEngineCommand, &ScriptRunner::RunSetting, &ScriptRunner::RunPlace}) {
    if (const std::optional<bool> done = (this->*run)(line)) return *done;
  }
  if (const std::optional<bool> done = RunWait(line, quit)) return *done;
  *error = "unknown command \"" + line.command + "\"";
  return false;
}

std::optional<bool> ScriptRunner::RunEngineCommand(Line& line) {
  const std::string& command = line.command;
  Engine& e = engine;
  // The window's engine commands under their keys.conf names; "prev" and
  // "sentence previous|again|next" as scripts have always written them.
  std::string name = command == "prev" ? "previous" : command;
  size_t arguments = 0;
  if (command == "sentence") {
    if (!line.Args(1)) return false;
    name = line.w[1] == "previous" ? "previous-sentence"
           : line.w[1] == "again"  ? "repeat-sentence"
           : line.w[1] == "next"   ? "next-sentence"
                                   : "";
    if (name.empty()) {
      *line.error = "sentence takes previous, again or next";
      return false;
    }
    arguments = 1;
  }
  // keep-pitch takes on or off here (below); elsewhere it toggles.
  if (const Command* c = CommandNamed(name);
      c != nullptr && c->run != nullptr && c->id != kCmdKeepPitch) {
    if (!line.Args(arguments)) return false;
    // The output finishes whole buffers, so less than one buffer of sound time
    // may be left from earlier waits; a recording starts without it and lasts
    // exactly as long as the waits made while it runs.
    if (c->id == kCmdRecord) audio.Clock().Drain();
    const uint32_t refusedBefore = e.Status().refused;
    c->run(e);
    if (c->served != 0 && !AwaitServed(c->served, line.error)) return false;
    NoteRefusal(command, refusedBefore);
    return true;
  }
  return std::nullopt;
}

std::optional<bool> ScriptRunner::RunSetting(Line& line) {
  const std::string& command = line.command;
  Engine& e = engine;
  if (command == "transcript") {
    if (!line.Args(1)) return false;
    if (line.w[1] != "on" && line.w[1] != "off") {
      *line.error = "transcript takes on or off";
      return false;
    }
    e.SetTranscriptSplit(line.w[1] == "on");
    return true;
  }
  if (command == "gap" || command == "pause-after" || command == "stop-after" ||
      command == "record-in-gap") {
    if (!line.Args(1)) return false;
    GapSettings gaps = e.Gaps();
    const bool ok = command == "gap"           ? ParseGap(line.w[1], &gaps)
                    : command == "pause-after" ? ParsePauseAfter(line.w[1], &gaps)
                                               : (line.w[1] == "on" || line.w[1] == "off");
    if (!ok) {
      *line.error = command == "gap" ? "gap takes off, SECONDS (" + kGapSecondsRange.Text() +
                                           ") or FACTORx (" + kGapFactorRange.Text("x") + ")"
                    : command == "pause-after" ? "pause-after takes off or SECONDS (" +
                                                     kPauseAfterSecondsRange.Text() + ")"
                                               : command + " takes on or off";
      return false;
    }
    if (command == "stop-after") gaps.stopAfterSentence = line.w[1] == "on";
    if (command == "record-in-gap") gaps.recordInGap = line.w[1] == "on";
    e.SetGaps(gaps);
    return true;
  }
  if (command == "keep-pitch") {
    if (!line.Args(1)) return false;
    if (line.w[1] != "on" && line.w[1] != "off") {
      *line.error = "keep-pitch takes on or off";
      return false;
    }
    e.SetKeepPitch(line.w[1] == "on");
    return AwaitServed(ENG_SPEED_REQ, line.error);
  }
  if (command == "settings") {
    // The ranges of the repeat settings dialog.
    if (!line.Args(4)) return false;
    long count, vertical, percent;
    float seconds;
    const auto in = [](const std::string& text, const SettingRange& range, long* value) {
      return ParseInt(text, static_cast<long>(range.min), static_cast<long>(range.max), value);
    };
    if (!in(line.w[1], kRepeatCountRange, &count) ||
        !in(line.w[2], kVerticalPrecisionRange, &vertical) || !ParseFloat(line.w[3], &seconds) ||
        !kHorizontalSecondsRange.Holds(seconds) || !in(line.w[4], kSamplePercentRange, &percent)) {
      *line.error = "settings takes COUNT (" + kRepeatCountRange.Text() + ") VERTICAL (" +
                    kVerticalPrecisionRange.Text() + ") SECONDS (" +
                    kHorizontalSecondsRange.Text() + ") PERCENT (" + kSamplePercentRange.Text() +
                    ")";
      return false;
    }
    e.ApplySettings(static_cast<uint32_t>(count), static_cast<uint32_t>(vertical), seconds,
                    static_cast<uint32_t>(percent));
    return true;
  }
  return std::nullopt;
}

std::optional<bool> ScriptRunner::RunPlace(Line& line) {
  const std::string& command = line.command;
  Engine& e = engine;
  if (command == "open" || command == "select") {
    if (!line.Args(1) || !line.Number(1, 0, 1000000)) return false;
    playlist.Select(static_cast<int>(line.value));
    if (command == "select") return true;
    e.CommandPlayEntry(static_cast<int>(line.value));
    return AwaitServed(ENG_ITEM_CHANGE, line.error);
  }
  if (command == "seek") {
    if (!line.Args(1) || !line.Number(1, 0, Engine::kProgressMax)) return false;
    e.ProgressSlider(static_cast<int>(line.value));
    return AwaitServed(ENG_SEEK_REQ, line.error);
  }
  if (command == "speed" || command == "volume" || command == "balance") {
    if (!line.Args(1) || !line.Number(1, 0, Engine::kSliderMax)) return false;
    const int position = static_cast<int>(line.value);
    if (command == "speed") {
      e.SpeedSlider(position);
      return AwaitServed(ENG_SPEED_REQ, line.error);
    }
    if (command == "volume") {
      e.VolumeSlider(position);
    } else {
      e.BalanceSlider(position);
    }
    return AwaitServed(ENG_VOLUME_REQ, line.error);
  }
  return std::nullopt;
}

std::optional<bool> ScriptRunner::RunWait(Line& line, bool* quit) {
  const std::string& command = line.command;
  if (command == "wait") {
    if (!line.Args(1) || !line.Number(1, 0, 24L * 3600 * 1000)) return false;
    return WaitSound(line.value, line.error);
  }
  if (command == "wait-mode") {
    if (!line.Args(1)) return false;
    return WaitMode(line.w[1], line.error);
  }
  if (command == "sleep") {
    if (!line.Args(1) || !line.Number(1, 0, 24L * 3600 * 1000)) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(line.value));
    return true;
  }
  if (command == "status") {
    if (!line.Args(0)) return false;
    out << Status() << std::endl;
    return true;
  }
  if (command == "quit") {
    if (!line.Args(0)) return false;
    *quit = true;
    return true;
  }
  return std::nullopt;
}

void ScriptRunner::NoteRefusal(const std::string& command, uint32_t refusedBefore) {
  const EngineStatus after = engine.Status();
  if (after.refused == refusedBefore) return;
  ++refusedCount;
  if (refusals != nullptr)
    *refusals << "kestro-cli: " << command << ": " << after.lastRefusal << "\n";
}

bool ScriptRunner::RunScript(std::istream& in, std::string* error) {
  // Start-up first: the first item opens (or the engine goes idle) before the
  // script's first command.
  if (!Settle(error)) return false;
  std::string line;
  int number = 0;
  while (std::getline(in, line)) {
    ++number;
    bool quit = false;
    if (!RunLine(line, &quit, error)) {
      *error = "line " + std::to_string(number) + ": " + *error;
      return false;
    }
    if (quit) break;
  }
  return true;
}
