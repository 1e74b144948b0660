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

// A private PulseAudio server for the tests that need a real sound server: its
// own runtime folder in dir, a null sink "out" (whose monitor tells what was
// played) and a pipe source "in" that gives what Feed writes. The process's
// PULSE_SERVER, PULSE_SINK and PULSE_SOURCE lead every client to it.
class PulseServer {
 public:
  explicit PulseServer(const std::string& dir) : dir(dir) {}
  ~PulseServer();

  // Starts the server and waits until it answers; false with why otherwise.
  bool Start(std::string* why);
  // Ends the server at once, as a crash would.
  void Kill();
  // Stops the server (SIGSTOP): it answers nothing more, as a hung one.
  void Freeze();
  // Feeds pcm (44.1 kHz 16-bit stereo) to the source in real time, from its
  // own thread; silence follows.
  void Feed(const std::string& pcm);
  // Starts recording what the sink plays into path (raw 44.1 kHz 16-bit stereo).
  bool CaptureTo(const std::string& path);
  // Ends the capture, so that its file is complete.
  void EndCapture() { capture.End(SIGTERM); }
  // Whether a client plays into the sink now.
  bool SomethingPlays() const;

 private:
  void StopFeeding();

  std::string dir;
  ChildProcess server;
  ChildProcess capture;
  std::thread feeder;
  std::atomic<bool> feeding{false};
};
