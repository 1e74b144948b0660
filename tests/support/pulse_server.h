// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <sys/types.h>

#include <csignal>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

// A program run by a test, its standard output going to a file; ended with a
// signal and waited for.
class ChildProcess {
 public:
  ChildProcess() = default;
  ~ChildProcess() { End(SIGTERM); }
  // Starts argv[0] (found on PATH), its standard output to outPath and its
  // errors to errPath; false when it cannot be started.
  bool Start(const std::vector<std::string>& argv, const std::string& outPath,
             const std::string& errPath);
  // Sends signal and waits for the program to end.
  void End(int signal);
  bool Running() const { return pid > 0; }
  void Signal(int signal) const {
    if (pid > 0) kill(pid, signal);
  }

 private:
  pid_t pid = -1;
};

// A private sound server for the tests that need a real one: PulseAudio, or
// PipeWire's pulse server (with PipeWire, its session manager and a bus of
// their own beside it). Its own runtime folder in dir, a null sink "out" (whose
// monitor tells what was played) and a pipe source "in" that gives what Feed
// writes. The process's PULSE_SERVER, PULSE_SINK and PULSE_SOURCE lead every
// client to it.
class PulseServer {
 public:
  enum class Kind { kPulseAudio, kPipeWire };
  explicit PulseServer(const std::string& dir, Kind kind = Kind::kPulseAudio)
      : dir(dir), kind(kind) {}
  // The kind's name, for parameterised tests.
  static std::string Name(Kind kind) {
    return kind == Kind::kPulseAudio ? "PulseAudio" : "PipeWire";
  }
  ~PulseServer();

  // Starts the server and waits until it answers; false with why otherwise.
  bool Start(std::string* why);
  // Ends the server at once, as a crash would.
  void Kill();
  // Stops the server (SIGSTOP): it answers nothing more, as a hung one.
  void Freeze();
  // Feeds pcm (44.1 kHz 16-bit stereo) to the source in real time, from its
  // own thread, once the source has given nothing for afterMs (as a device
  // that takes its time to wake); silence follows.
  void Feed(const std::string& pcm, int afterMs = 0);
  // Starts recording what the sink plays into path (raw 44.1 kHz 16-bit stereo).
  bool CaptureTo(const std::string& path);
  // Ends the capture, so that its file is complete.
  void EndCapture() { capture.End(SIGTERM); }
  // Whether a client plays into the sink now.
  bool SomethingPlays() const;

 private:
  void StopFeeding();
  bool StartPulseAudio(std::string* why);
  // PipeWire and its session manager, once; the pulse server is started by Start.
  bool StartPipeWire(std::string* why);
  // Waits until the server answers with the sink and source there.
  bool Answers(std::string* why);

  std::string dir;
  Kind kind;
  ChildProcess bus;
  ChildProcess pipewire;
  ChildProcess sessionManager;
  ChildProcess server;
  ChildProcess capture;
  std::thread feeder;
  std::atomic<bool> feeding{false};
};
