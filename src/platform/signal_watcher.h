// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>
#include <thread>

// Turns SIGINT, SIGTERM and SIGHUP into a call on a thread of its own, so that
// Ctrl+C, `kill` and a desktop logout end Kestro through its own exit path
// (recording finished, playlist saved, output file whole) instead of being
// swallowed or killing it half-way. A second signal ends the process at once.
class SignalWatcher {
 public:
  SignalWatcher() = default;
  ~SignalWatcher();
  SignalWatcher(const SignalWatcher&) = delete;
  SignalWatcher& operator=(const SignalWatcher&) = delete;

  // Must run before any other thread starts: the signals are blocked in the
  // calling thread and so in every thread it starts later (SDL's among them),
  // and only the watcher takes them. onSignal gets the signal number.
  void Start(std::function<void(int)> onSignal);

  // 128 + the signal: the exit status a shell expects of a program it ended.
  static int ExitStatusFor(int signal) { return 128 + signal; }

 private:
  std::thread thread;
  int wakeFd = -1;  // written to end the watcher
};
